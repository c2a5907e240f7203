#include "ui/cleanup/UiBits.h"

#include "apps/RunningApps.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/ProminentButton.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/ShareBar.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Workspace.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace vessora::UiBits {

QFont font(FontRole role, const QFont&) {
    switch (role) {
    case FontRole::largeTitle: return Fonts::font(Fonts::Role::largeTitle, QFont::DemiBold);
    case FontRole::title3: return Fonts::font(Fonts::Role::title3, QFont::Medium);
    case FontRole::headline: return Fonts::headline();
    case FontRole::body: return Fonts::body();
    case FontRole::callout: return Fonts::callout();
    case FontRole::caption: return Fonts::caption();
    case FontRole::caption2: return Fonts::caption2();
    case FontRole::monospaced: return Fonts::monospaced();
    }
    return Fonts::body();
}

QColor secondary(const QPalette& palette) { return Colors::secondary(palette); }
QColor separator(const QPalette& palette) { return Colors::separator(palette); }
QColor green(const QPalette& p) { return Colors::green(p); }
QColor orange(const QPalette& p) { return Colors::orange(p); }
QColor red(const QPalette& p) { return Colors::red(p); }
QColor riskColor(CleanupRisk risk, const QPalette& palette) { return RiskBadge::color(risk, palette); }

QIcon symbol(const QString& name, const QColor& tint, int) {
    return tint.isValid() ? Symbols::icon(name, tint) : Symbols::icon(name);
}

void paintShareBar(QPainter* p, const QRect& rect, double fraction, const QColor& fill, const QPalette& palette) {
    ShareBar::paint(*p, QRectF(rect), fraction, fill, Colors::withAlpha(Colors::secondary(palette), 0.12));
}

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

QWidget* riskBadge(CleanupRisk risk, QWidget* parent) { return new RiskBadge(risk, parent); }

QPushButton* linkButton(const QString& text, QWidget* parent) { return new LinkButton(text, parent); }

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

QLabel* label(const QString& text, FontRole role, bool isSecondary, QWidget* parent) {
    // A secondary label keeps its tone through palette changes (dark mode).
    QLabel* l = isSecondary ? new SecondaryLabel(text, parent) : new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font(role, l->font()));
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

QString mnemonicSafe(QString text) { return text.replace('&', "&&"); }

void reveal(const std::string& path) { Workspace::instance().reveal({path}); }
void open(const std::string& path) { Workspace::instance().openPath(path); }

std::optional<std::string> runningApp(const std::string& bundleID, const std::string& fallback) {
    if (!Workspace::instance().isRunning(bundleID)) return std::nullopt;
    for (const auto& app : RunningApps::find(bundleID))
        if (!app.name.empty()) return app.name;
    return fallback;
}

} // namespace vessora::UiBits
