#include "ui/kit/Widgets.h"

#include "ui/kit/Colors.h"
#include "ui/kit/ProminentButton.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <functional>

namespace vessora::Widgets {

namespace {
// A rounded rectangle in any tint; the screens' cards, banners and bars.
class RoundedFrame : public QFrame {
public:
    RoundedFrame(QWidget* parent, double radius, double outlineAlpha)
        : QFrame(parent), radius_(radius), alpha_(outlineAlpha) {}
    std::function<QColor(const QPalette&)> fill = [](const QPalette& p) { return Colors::background(p); };
    bool outline = true;
    bool topLine = false;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(outline ? QPen(Colors::separator(palette(), alpha_), 1) : Qt::NoPen);
        p.setBrush(fill(palette()));
        if (radius_ > 0)
            p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
        else
            p.fillRect(rect(), fill(palette()));
        if (topLine) {
            p.setPen(QPen(Colors::separator(palette()), 1));
            p.drawLine(QPointF(0, 0.5), QPointF(width(), 0.5));
        }
    }

private:
    double radius_, alpha_;
};
} // namespace

QFrame* card(QWidget* parent, double outlineAlpha) { return new RoundedFrame(parent, 12, outlineAlpha); }

QWidget* banner(const QString& text, const QString& symbolName, const QColor& tint, QWidget* parent) {
    auto* frame = new RoundedFrame(parent, 9, 0);
    frame->outline = false;
    frame->fill = [tint](const QPalette&) { return Colors::withAlpha(tint, 0.08); };
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(9);
    auto* icon = new QLabel(frame);
    icon->setPixmap(Symbols::pixmap(symbolName, 16, tint, frame->devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QLabel(text, frame);
    words->setTextFormat(Qt::PlainText);
    words->setWordWrap(true);
    words->setObjectName("banner.text");
    row->addWidget(words, 1);
    return frame;
}

QPushButton* prominentButton(const QString& text, QWidget* parent) {
    auto* b = new ProminentButton(text, ProminentButton::Kind::accent, parent);
    b->setProperty("red", false);
    return b;
}

void setProminentRed(QPushButton* b, bool isRed) {
    if (auto* prominent = qobject_cast<ProminentButton*>(b))
        prominent->setKind(isRed ? ProminentButton::Kind::destructive : ProminentButton::Kind::accent);
    b->setProperty("red", isRed);
}

QLabel* label(const QString& text, const QFont& font, bool isSecondary, QWidget* parent) {
    QLabel* l = isSecondary ? new SecondaryLabel(text, parent) : new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    return l;
}

QFrame* divider(QWidget* parent) {
    auto* line = new RoundedFrame(parent, 0, 0);
    line->outline = false;
    line->fill = [](const QPalette& p) { return Colors::separator(p); };
    line->setFixedHeight(1);
    return line;
}

QWidget* barMaterial(QWidget* parent) {
    auto* frame = new RoundedFrame(parent, 0, 0);
    frame->outline = false;
    frame->topLine = true;
    frame->fill = [](const QPalette& p) { return Colors::barMaterial(p); };
    return frame;
}

} // namespace vessora::Widgets
