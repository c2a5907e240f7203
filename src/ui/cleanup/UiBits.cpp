#include "ui/cleanup/UiBits.h"

#include "apps/RunningApps.h"

#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

namespace vessora::UiBits {

QFont font(FontRole role, const QFont& base) {
    QFont f = base;
    const double b = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    switch (role) {
    case FontRole::largeTitle: f.setPointSizeF(b * 2.0); f.setWeight(QFont::DemiBold); break;
    case FontRole::title3: f.setPointSizeF(b * 1.15); f.setWeight(QFont::Medium); break;
    case FontRole::headline: f.setWeight(QFont::DemiBold); break;
    case FontRole::body: break;
    case FontRole::callout: f.setPointSizeF(b * 0.92); break;
    case FontRole::caption: f.setPointSizeF(std::max(b * 0.85, 7.0)); break;
    case FontRole::caption2: f.setPointSizeF(std::max(b * 0.77, 7.0)); break;
    case FontRole::monospaced:
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setPointSizeF(std::max(b * 0.85, 7.0));
        break;
    }
    return f;
}

namespace {
bool isDark(const QPalette& p) { return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness(); }
} // namespace

QColor secondary(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(isDark(palette) ? 0.55f : 0.50f);
    return c;
}

QColor separator(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(0.12f);
    return c;
}

QColor green(const QPalette& p) { return isDark(p) ? QColor("#30D158") : QColor("#1A7F37"); }
QColor orange(const QPalette& p) { return isDark(p) ? QColor("#FF9F0A") : QColor("#B35C00"); }
QColor red(const QPalette& p) { return isDark(p) ? QColor("#FF453A") : QColor("#C9302C"); }

QColor riskColor(CleanupRisk risk, const QPalette& palette) {
    switch (risk) {
    case CleanupRisk::safe: return green(palette);
    case CleanupRisk::review: return orange(palette);
    case CleanupRisk::careful: return red(palette);
    }
    return secondary(palette);
}

QIcon symbol(const QString& name, const QColor&, int) {
    static const QMap<QString, QString> names{{"lock", "changes-prevent"},
                                              {"arrow.up.forward.square", "folder-open"},
                                              {"list.bullet.indent", "format-indent-more"}};
    return QIcon::fromTheme(names.value(name, name));
}

void paintShareBar(QPainter* p, const QRect& rect, double fraction, const QColor& fill, const QPalette& palette) {
    p->save();
    p->setRenderHint(QPainter::Antialiasing);
    p->setPen(Qt::NoPen);
    QColor track = secondary(palette);
    track.setAlphaF(0.12f);
    p->setBrush(track);
    const qreal radius = rect.height() / 2.0;
    p->drawRoundedRect(QRectF(rect), radius, radius);
    const qreal width = std::max(2.0, rect.width() * std::min(1.0, std::max(0.0, fraction)));
    p->setBrush(fill);
    p->drawRoundedRect(QRectF(rect.left(), rect.top(), width, rect.height()), radius, radius);
    p->restore();
}

namespace {
class RoundedFrame : public QFrame {
public:
    RoundedFrame(QWidget* parent, double radius, double outlineAlpha) : QFrame(parent), radius_(radius), alpha_(outlineAlpha) {}
    std::function<QColor(const QPalette&)> fill = [](const QPalette& p) { return p.color(QPalette::Base); };
    bool outline = true;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(float(alpha_));
        p.setPen(outline ? QPen(line, 1) : Qt::NoPen);
        p.setBrush(fill(palette()));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius_, radius_);
    }

private:
    double radius_, alpha_;
};
} // namespace

QFrame* card(QWidget* parent, double outlineAlpha) { return new RoundedFrame(parent, 12, outlineAlpha); }

QWidget* banner(const QString& text, const QString& symbolName, const QColor& tint, QWidget* parent) {
    auto* frame = new RoundedFrame(parent, 9, 0);
    frame->outline = false;
    frame->fill = [tint](const QPalette&) {
        QColor c = tint;
        c.setAlphaF(0.08f);
        return c;
    };
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(9);
    auto* icon = new QLabel(frame);
    icon->setPixmap(symbol(symbolName, tint, 16).pixmap(16, 16));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QLabel(text, frame);
    words->setTextFormat(Qt::PlainText);
    words->setWordWrap(true);
    words->setObjectName("banner.text");
    row->addWidget(words, 1);
    return frame;
}

QWidget* riskBadge(CleanupRisk risk, QWidget* parent) {
    static const char* names[] = {"Safe", "Review", "Careful"};
    auto* frame = new RoundedFrame(parent, 6, 0);
    frame->outline = false;
    frame->fill = [risk](const QPalette& p) {
        QColor c = riskColor(risk, p);
        c.setAlphaF(0.16f);
        return c;
    };
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(6, 2, 6, 2);
    auto* text = new QLabel(names[int(risk)], frame);
    QFont f = font(FontRole::caption2, text->font());
    f.setWeight(QFont::DemiBold);
    text->setFont(f);
    QPalette pal = text->palette();
    pal.setColor(QPalette::WindowText, riskColor(risk, pal));
    text->setPalette(pal);
    row->addWidget(text);
    frame->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    frame->setObjectName("riskBadge");
    return frame;
}

QPushButton* linkButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    QPalette pal = b->palette();
    pal.setColor(QPalette::ButtonText, pal.color(QPalette::Link));
    b->setPalette(pal);
    return b;
}

QPushButton* prominentButton(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    setProminentRed(b, false);
    return b;
}

void setProminentRed(QPushButton* b, bool isRed) {
    QPalette pal = b->palette();
    const QColor fill = isRed ? red(pal) : pal.color(QPalette::Highlight);
    pal.setColor(QPalette::Button, fill);
    pal.setColor(QPalette::ButtonText, Qt::white);
    b->setPalette(pal);
    b->setProperty("red", isRed);
}

QLabel* label(const QString& text, FontRole role, bool isSecondary, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font(role, l->font()));
    if (isSecondary) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, secondary(pal));
        l->setPalette(pal);
    }
    return l;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette pal = line->palette();
    pal.setColor(QPalette::WindowText, separator(pal));
    line->setPalette(pal);
    return line;
}

QWidget* barMaterial(QWidget* parent) {
    auto* frame = new RoundedFrame(parent, 0, 0.12);
    frame->outline = false;
    frame->fill = [](const QPalette& p) {
        QColor w = p.color(QPalette::Window), t = p.color(QPalette::WindowText);
        return QColor::fromRgbF(w.redF() * 0.96f + t.redF() * 0.04f, w.greenF() * 0.96f + t.greenF() * 0.04f,
                                w.blueF() * 0.96f + t.blueF() * 0.04f);
    };
    return frame;
}

QString mnemonicSafe(QString text) { return text.replace('&', "&&"); }

Workspace& workspace() {
    static Workspace w{
        [](const std::string& path) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
        },
        [](const std::string& path) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))));
        },
        [](const std::string& bundleID) -> std::optional<std::string> {
            auto running = RunningApps::find(bundleID);
            if (running.empty()) return std::nullopt;
            return running.front().name;
        }};
    return w;
}

} // namespace vessora::UiBits
