#pragma once
// The small widgets the cleanup, category detail and backup review screens
// are built from: rounded surfaces (a card, a tinted banner, a divider, the
// bar material), plain-text labels in a role font, and the prominent button
// that turns red for a destructive action.

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QPushButton>
#include <QString>

class QLabel;

namespace vessora::Widgets {

QFrame* card(QWidget* parent = nullptr, double outlineAlpha = 0.12);
QWidget* banner(const QString& text, const QString& symbol, const QColor& tint, QWidget* parent = nullptr);
QFrame* divider(QWidget* parent = nullptr);
// A widget on the bar material with a 1 px separator on top.
QWidget* barMaterial(QWidget* parent = nullptr);

// A plain-text label in `font`; a secondary one keeps its tone through
// palette changes (dark mode).
QLabel* label(const QString& text, const QFont& font, bool secondary, QWidget* parent = nullptr);

// An accent button whose "red" property says when it is the destructive kind.
QPushButton* prominentButton(const QString& text, QWidget* parent = nullptr);
void setProminentRed(QPushButton* button, bool red);

} // namespace vessora::Widgets
