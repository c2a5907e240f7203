#include "ui/CategoryRowButton.h"

#include "support/Fmt.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"

#include <QPainter>
#include <QStringList>
#include <QStyleOptionFocusRect>

namespace vessora {

namespace {
constexpr int padX = 14, padY = 9, iconFrame = 26, gap = 12, sizeSlot = 84, chevron = 10;
}

CategoryRowButton::CategoryRowButton(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    spinner_ = new Spinner(14, this);
    spinner_->hide();
}

void CategoryRowButton::setCategory(const MeasuredCategory& category) {
    const bool same = category.id() == category_.id() && category.size == category_.size &&
                      category.measured == category_.measured && category.category.title == category_.category.title &&
                      category.category.notes == category_.category.notes;
    const bool taller = category.category.notes.empty() != category_.category.notes.empty();
    category_ = category;
    setObjectName(QStringLiteral("overview.category.") + Text::fromUtf8(category.id()));
    const QString title = Text::fromUtf8(category.category.title);
    setAccessibleName(category.measured ? title + QStringLiteral(", ") + sizeText() : title);
    const QString notes = notesText();
    setAccessibleDescription(Text::fromUtf8(category.category.detail) +
                             (notes.isEmpty() ? QString() : QStringLiteral(" ") + notes));
    setToolTip(notes);
    spinner_->setVisible(!category.measured);
    if (taller) updateGeometry();
    if (!same) update();
}

QString CategoryRowButton::notesText() const {
    QStringList notes;
    for (const std::string& note : category_.category.notes) notes << Text::fromUtf8(note);
    return notes.join(QLatin1Char(' '));
}

QString CategoryRowButton::sizeText() const { return Text::fromUtf8(Fmt::bytes(category_.size)); }

QSize CategoryRowButton::sizeHint() const {
    const int captions = category_.category.notes.empty() ? 1 : 2;
    const int lines = QFontMetrics(Fonts::body()).height() + captions * (1 + QFontMetrics(Fonts::caption()).height());
    return {400, std::max(iconFrame, lines) + 2 * padY};
}

QSize CategoryRowButton::minimumSizeHint() const { return {200, sizeHint().height()}; }

void CategoryRowButton::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    const int right = width() - padX - chevron - gap;
    spinner_->move(right - spinner_->width(), (height() - spinner_->height()) / 2);
}

void CategoryRowButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& p = palette();
    if (underMouse() || isDown()) painter.fillRect(rect(), Colors::withAlpha(Colors::primary(p), isDown() ? 0.09 : 0.05));

    const QColor secondary = Colors::secondary(p);
    const QRect iconRect(padX, (height() - iconFrame) / 2, iconFrame, iconFrame);
    const QPixmap icon = Symbols::pixmap(Text::fromUtf8(category_.category.symbol), 15, secondary, devicePixelRatioF());
    painter.drawPixmap(iconRect.center().x() - 7, iconRect.center().y() - 7, icon);

    const int trailing = width() - padX - chevron - gap - sizeSlot;
    const int textLeft = iconRect.right() + 1 + gap;
    const QFont titleFont = Fonts::body(), detailFont = Fonts::caption();
    const QFontMetrics tm(titleFont), dm(detailFont);
    const QString notes = notesText();
    const int block = tm.height() + 1 + dm.height() + (notes.isEmpty() ? 0 : 1 + dm.height());
    const int top = (height() - block) / 2;
    const int textWidth = std::max(0, trailing - gap - textLeft);
    painter.setFont(titleFont);
    painter.setPen(Colors::primary(p));
    painter.drawText(QRect(textLeft, top, textWidth, tm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     tm.elidedText(Text::fromUtf8(category_.category.title), Qt::ElideRight, textWidth));
    painter.setFont(detailFont);
    painter.setPen(secondary);
    painter.drawText(QRect(textLeft, top + tm.height() + 1, textWidth, dm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     dm.elidedText(Text::fromUtf8(category_.category.detail), Qt::ElideRight, textWidth));
    if (!notes.isEmpty())
        painter.drawText(QRect(textLeft, top + tm.height() + 2 + dm.height(), textWidth, dm.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, dm.elidedText(notes, Qt::ElideRight, textWidth));

    if (category_.measured) {
        painter.setPen(Colors::primary(p));
        TabularText::draw(painter, QRectF(trailing, 0, sizeSlot, height()), Qt::AlignRight | Qt::AlignVCenter,
                          sizeText(), Fonts::callout());
    }
    const QPixmap chevronIcon =
        Symbols::pixmap(QStringLiteral("chevron.right"), chevron, Colors::tertiary(p), devicePixelRatioF());
    painter.drawPixmap(width() - padX - chevron, (height() - chevron) / 2, chevronIcon);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

} // namespace vessora
