#pragma once
// Colours by role. Each is read from the palette it is given (a widget's
// palette() normally), so a palette change (dark mode) is followed by simply
// repainting; widgets that set palettes of their own re-apply them on
// QEvent::PaletteChange.

#include "support/Palette.h"

#include <QColor>
#include <QPalette>

#include <optional>

namespace vessora {

enum class ColorScheme { light, dark };

namespace Colors {

bool isDark(const QPalette& palette);

QColor primary(const QPalette& palette);
// Text in a lighter weight than primary, still readable on every background
// (WindowText at the alpha that keeps the minimum contrast).
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor background(const QPalette& palette); // controls and text (Base)
QColor barMaterial(const QPalette& palette);
QColor separator(const QPalette& palette, double alpha = 0.12);
QColor link(const QPalette& palette);
// Text tones with enough contrast on every background of the palette.
QColor green(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor red(const QPalette& palette);
// The same colour at `alpha` (fills use 0.16).
QColor withAlpha(QColor color, double alpha);

// Contrast. Every text is drawn at least `minimumContrast` to 1 against what
// it is drawn on, in both schemes (WCAG 2 contrast ratio of the opaque
// colours, 1 to 21).
inline constexpr double minimumContrast = 4.5;
double contrast(const QColor& a, const QColor& b);
// `color` drawn over the opaque `background`, as one opaque colour.
QColor over(const QColor& color, const QColor& background);
// `text` itself when it is readable on `background`; otherwise the same hue
// moved towards black (on light backgrounds) or white (on dark ones) until it
// is. Opaque.
QColor readable(const QColor& text, const QColor& background, double ratio = minimumContrast);
// Of the backgrounds text is drawn on (Window, Base, Button and the bar
// material), the one closest to the text colours: the darkest in a light
// scheme, the lightest in a dark one.
QColor closestBackground(const QPalette& palette);
// The face a push button is drawn with (the style lightens the palette's
// Button colour), the one of its faces text has the least contrast on.
QColor buttonFace(const QPalette& palette, QPalette::ColorGroup group = QPalette::Active);
// Black or white, whichever reads better on `fill` (treemap tiles).
QColor labelOn(const QColor& fill);
// An engine colour (category, name ramp); not changed by the theme.
QColor fromRgb(const Rgb& rgb);

// Fusion's palettes, light and dark, used when a scheme is forced and when the
// desktop asks for dark but the platform palette is light.
QPalette lightPalette();
QPalette darkPalette();

// The scheme asked for by VESSORA_COLOR_SCHEME ("light" or "dark"), if any.
std::optional<ColorScheme> schemeFromEnvironment();
// The desktop's preference over the settings portal (org.freedesktop.appearance
// color-scheme, 1 = dark); nothing when there is no portal.
std::optional<ColorScheme> schemeFromPortal();

// Sets the application palette for `scheme`; without one, follows the
// environment variable, then the portal, and otherwise leaves the platform's
// palette. Call after QApplication exists and the style is set.
void applyScheme(std::optional<ColorScheme> scheme = std::nullopt);
// Watches the settings portal and switches between the platform's palette and
// the dark one when the desktop's preference changes. Only when no scheme was
// forced (by argument or VESSORA_COLOR_SCHEME).
void followDesktopScheme();

} // namespace Colors
} // namespace vessora
