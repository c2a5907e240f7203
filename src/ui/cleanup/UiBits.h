#pragma once
// The kit services the cleanup, category detail and backup review screens
// use, in the shapes these screens want: fonts by role, colours, symbols,
// the small widgets, and the workspace (reveal, open, running applications).

#include "platform/CleanupEntry.h"

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QPalette>
#include <QPushButton>
#include <QRect>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QPainter;

namespace vessora::UiBits {

enum class FontRole { largeTitle, title3, headline, body, callout, caption, caption2, monospaced };
QFont font(FontRole role, const QFont& base);
inline QFont captionFont(const QFont& base) { return font(FontRole::caption, base); }

QColor secondary(const QPalette& palette);
QColor separator(const QPalette& palette);
QColor green(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor red(const QPalette& palette);
QColor riskColor(CleanupRisk risk, const QPalette& palette);

QIcon symbol(const QString& name, const QColor& tint, int size);
inline QIcon symbol(const char* name, const QColor& tint, int size) {
    return symbol(QString::fromLatin1(name), tint, size);
}
void paintShareBar(QPainter* painter, const QRect& rect, double fraction, const QColor& fill, const QPalette& palette);

// Widgets.
QFrame* card(QWidget* parent = nullptr, double outlineAlpha = 0.12);
QWidget* banner(const QString& text, const QString& symbol, const QColor& tint, QWidget* parent = nullptr);
QWidget* riskBadge(CleanupRisk risk, QWidget* parent = nullptr);
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
QPushButton* prominentButton(const QString& text, QWidget* parent = nullptr);
void setProminentRed(QPushButton* button, bool red);
QLabel* label(const QString& text, FontRole role, bool secondary, QWidget* parent = nullptr);
QFrame* divider(QWidget* parent = nullptr);
// A widget on the bar material with a 1 px separator on top.
QWidget* barMaterial(QWidget* parent = nullptr);
// Escapes "&" for button and action texts built from file names.
QString mnemonicSafe(QString text);

// The workspace (the kit's, which tests replace).
void reveal(const std::string& path);
void open(const std::string& path);
// The name of a running application with the bundle identifier, `fallback`
// when its own name cannot be read; nothing when none runs.
std::optional<std::string> runningApp(const std::string& bundleID, const std::string& fallback);

} // namespace vessora::UiBits
