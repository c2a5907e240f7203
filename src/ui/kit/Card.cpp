#include "ui/kit/Card.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace vessora {

namespace {

QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void paintRounded(QWidget* widget, const QColor& fill, const QColor& border, qreal radius) {
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(border.alpha() > 0 ? QPen(border, 1) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(r, radius, radius);
}

} // namespace

Card::Card(const QString& title, const QString& subtitle, QWidget* parent) : QFrame(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(18, 18, 18, 18);
    outer->setSpacing(12);
    auto* header = new QVBoxLayout;
    header->setSpacing(3);
    title_ = plainLabel(this);
    title_->setFont(Fonts::font(Fonts::Role::title3, QFont::DemiBold));
    subtitle_ = new SecondaryLabel({}, this);
    subtitle_->setFont(Fonts::callout());
    subtitle_->setWordWrap(true);
    header->addWidget(title_);
    header->addWidget(subtitle_);
    outer->addLayout(header);
    content_ = new QVBoxLayout;
    content_->setSpacing(8);
    outer->addLayout(content_);
    setTitle(title);
    setSubtitle(subtitle);
}

void Card::setTitle(const QString& title) {
    title_->setText(title);
    title_->setVisible(!title.isEmpty());
    setAccessibleName(title);
}

void Card::setSubtitle(const QString& subtitle) {
    subtitle_->setText(subtitle);
    subtitle_->setVisible(!subtitle.isEmpty());
}

QString Card::title() const { return title_->text(); }
QString Card::subtitle() const { return subtitle_->text(); }

void Card::setRadius(qreal radius) {
    radius_ = radius;
    update();
}

void Card::setBorderAlpha(qreal alpha) {
    borderAlpha_ = alpha;
    update();
}

void Card::paintEvent(QPaintEvent*) {
    const QPalette p = palette();
    paintRounded(this, Colors::background(p), Colors::separator(p, borderAlpha_), radius_);
}

Banner::Banner(const QString& symbol, const QString& text, Tone tone, QWidget* parent)
    : QFrame(parent), symbol_(symbol), tone_(tone) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(10);
    icon_ = new QLabel(this);
    icon_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    icon_->setFixedWidth(20);
    label_ = plainLabel(this);
    label_->setWordWrap(true);
    label_->setFont(Fonts::callout());
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(label_, 1);
    setText(text);
    updateIcon();
}

void Banner::setText(const QString& text) {
    label_->setText(text);
    setAccessibleName(text);
}

QString Banner::text() const { return label_->text(); }

void Banner::setTone(Tone tone) {
    tone_ = tone;
    updateIcon();
    update();
}

void Banner::setSymbol(const QString& symbol) {
    symbol_ = symbol;
    updateIcon();
}

QColor Banner::tint() const {
    switch (tone_) {
    case Tone::info: return Colors::accent(palette());
    case Tone::warning: return Colors::orange(palette());
    case Tone::danger: return Colors::red(palette());
    case Tone::success: return Colors::green(palette());
    }
    return Colors::accent(palette());
}

void Banner::updateIcon() { icon_->setPixmap(Symbols::pixmap(symbol_, 16, tint(), devicePixelRatioF())); }

void Banner::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) updateIcon();
}

void Banner::paintEvent(QPaintEvent*) {
    paintRounded(this, Colors::withAlpha(tint(), 0.08), Colors::withAlpha(tint(), 0.20), 9);
}

RiskBadge::RiskBadge(CleanupRisk risk, QWidget* parent) : QWidget(parent), risk_(risk) {
    setFont(Fonts::caption2());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text(risk));
}

void RiskBadge::setRisk(CleanupRisk risk) {
    risk_ = risk;
    setAccessibleName(text(risk));
    updateGeometry();
    update();
}

QString RiskBadge::text(CleanupRisk risk) {
    switch (risk) {
    case CleanupRisk::safe: return QStringLiteral("Safe");
    case CleanupRisk::review: return QStringLiteral("Review");
    case CleanupRisk::careful: return QStringLiteral("Careful");
    }
    return {};
}

QColor RiskBadge::color(CleanupRisk risk, const QPalette& palette) {
    switch (risk) {
    case CleanupRisk::safe: return Colors::green(palette);
    case CleanupRisk::review: return Colors::orange(palette);
    case CleanupRisk::careful: return Colors::red(palette);
    }
    return Colors::secondary(palette);
}

QSize RiskBadge::sizeHint() const {
    QFontMetrics m(font());
    return {m.horizontalAdvance(text(risk_)) + 14, m.height() + 4};
}

void RiskBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor c = color(risk_, palette());
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Colors::withAlpha(c, 0.16));
    painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    painter.setPen(c);
    painter.drawText(rect(), Qt::AlignCenter, text(risk_));
}

LegendDot::LegendDot(const QColor& color, const QString& label, const QString& value, QWidget* parent)
    : QWidget(parent), color_(color) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(15, 0, 0, 0); // room for the painted square
    layout->setSpacing(6);
    label_ = new SecondaryLabel({}, this);
    value_ = new NumberLabel(this);
    value_->setFont(font());
    value_->setSecondary(false);
    value_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    layout->addWidget(label_);
    layout->addWidget(value_);
    layout->addStretch(1);
    label_->setText(label);
    setValue(value);
}

void LegendDot::setColor(const QColor& color) {
    color_ = color;
    update();
}

void LegendDot::setValue(const QString& value) {
    value_->setText(value);
    setAccessibleName(label_->text() + QStringLiteral(": ") + value);
}

QString LegendDot::label() const { return label_->text(); }
QString LegendDot::value() const { return value_->text(); }

void LegendDot::setHatched(bool hatched) {
    hatched_ = hatched;
    update();
}

void LegendDot::paintHatch(QPainter& painter, const QRectF& rect, const QPalette& palette) {
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.fillRect(rect, Colors::withAlpha(Colors::primary(palette), 0.08));
    // Lines rising to the right, 4 pixels apart, in the text colour faded.
    painter.setPen(QPen(Colors::withAlpha(Colors::primary(palette), 0.45), 1.2));
    for (qreal x = rect.left() - rect.height(); x < rect.right(); x += 4)
        painter.drawLine(QPointF(x, rect.bottom()), QPointF(x + rect.height(), rect.top()));
    painter.restore();
}

void LegendDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF square(0, (height() - 9) / 2.0, 9, 9);
    if (hatched_) {
        QPainterPath rounded;
        rounded.addRoundedRect(square, 2, 2);
        painter.setClipPath(rounded);
        paintHatch(painter, square, palette());
        return;
    }
    painter.setBrush(color_);
    painter.drawRoundedRect(square, 2, 2);
}

} // namespace vessora
