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
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor background(const QPalette& palette); // controls and text (Base)
QColor barMaterial(const QPalette& palette);
QColor separator(const QPalette& palette, double alpha = 0.12);
QColor link(const QPalette& palette);
// Text tones with enough contrast on the palette's background.
QColor green(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor red(const QPalette& palette);
// The same colour at `alpha` (fills use 0.16).
QColor withAlpha(QColor color, double alpha);
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
