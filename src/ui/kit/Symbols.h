#pragma once
// System symbol names ("chart.pie", "folder", ...) turned into icons. Each
// symbol has freedesktop candidates tried in the icon theme (name-symbolic,
// then name), then our own bundled monochrome drawing, then the style's
// built-in pixmap, and last a painted Unicode glyph, so no icon is ever blank.
// Monochrome results can be tinted; coloured theme icons are drawn as they are.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QAbstractButton;

namespace vessora::Symbols {

enum class Source { theme, bundled, style, glyph };

// Points Qt at the icon theme: Adwaita when the platform names none (or only
// hicolor, as under Xvfb and offscreen), Adwaita as the fallback theme, and
// the XDG icon folders as search paths (offscreen leaves them empty). Call once
// after QApplication exists; tests call it again after changing the theme.
void setUpIconTheme();
// Forgets resolved icons and tinted pixmaps (after a theme change).
void clearCache();

QIcon icon(const QString& symbol);
// The icon with monochrome variants filled with `tint`, for buttons whose
// text colour the icon should follow (re-made on palette changes).
QIcon icon(const QString& symbol, const QColor& tint);
// The icon at `size` device-independent pixels; monochrome icons are filled
// with `tint` (an invalid colour leaves them as they are).
QPixmap pixmap(const QString& symbol, int size, const QColor& tint = {}, qreal devicePixelRatio = 1.0);
// Gives `button` the symbol drawn in its own text colour (ButtonText, and the
// disabled text colour when disabled), again whenever its palette changes, so
// the symbol follows light and dark like the button's text.
void attach(QAbstractButton* button, const QString& symbol);
// Where `symbol` was found.
Source source(const QString& symbol);
// Every symbol with an entry in the table.
QStringList knownSymbols();

} // namespace vessora::Symbols
