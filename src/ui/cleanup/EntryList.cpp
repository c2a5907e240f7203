#include "ui/cleanup/EntryList.h"

#include "support/Fmt.h"
#include "support/Paths.h"
#include "ui/cleanup/CleanupTexts.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/ShareBar.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"

#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <sys/stat.h>

namespace vessora {

// Model.

EntryListModel::EntryListModel(PathSelection* selection, std::function<bool(const std::string&)> selectable,
                               QObject* parent)
    : QAbstractListModel(parent), selection_(selection), selectable_(std::move(selectable)) {
    // Every check box may change with one click on a header: repaint the
    // check column of all rows, which only touches the visible ones.
    connect(selection_, &PathSelection::changed, this, [this] {
        if (!entries_.empty()) emit dataChanged(index(0), index(int(entries_.size()) - 1), {Qt::CheckStateRole});
    });
}

void EntryListModel::setEntries(std::vector<CleanupEntry> entries) {
    const bool samePaths = entries.size() == entries_.size() &&
                           std::equal(entries.begin(), entries.end(), entries_.begin(),
                                      [](const CleanupEntry& a, const CleanupEntry& b) { return a.url == b.url; });
    if (samePaths) {
        entries_ = std::move(entries);
        if (!entries_.empty()) emit dataChanged(index(0), index(int(entries_.size()) - 1));
        return;
    }
    beginResetModel();
    entries_ = std::move(entries);
    selectableCache_.assign(entries_.size(), -1);
    endResetModel();
}

void EntryListModel::setDenominator(int64_t bytes) {
    if (bytes == denominator_) return;
    denominator_ = bytes;
    if (!entries_.empty()) emit dataChanged(index(0), index(int(entries_.size()) - 1), {FractionRole});
}

void EntryListModel::busyChanged() {
    if (!entries_.empty()) emit dataChanged(index(0), index(int(entries_.size()) - 1));
}

bool EntryListModel::isBusy(int row) const {
    return busy_ && row >= 0 && size_t(row) < entries_.size() && busy_(entries_[size_t(row)].url);
}

bool EntryListModel::isSelectable(int row) const {
    if (row < 0 || size_t(row) >= entries_.size()) return false;
    // On its way out already: shown, never chosen again.
    if (isBusy(row)) return false;
    // In use, or removed only by its own tool: shown, never chosen.
    const CleanupEntry& entry = entries_[size_t(row)];
    if (!entry.inUseBy.empty() || entry.readOnly) return false;
    if (!selectable_) return true;
    if (selectableCache_[size_t(row)] < 0)
        selectableCache_[size_t(row)] = selectable_(entries_[size_t(row)].url) ? 1 : 0;
    return selectableCache_[size_t(row)] == 1;
}

int EntryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(entries_.size()); }

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= entries_.size()) return {};
    const CleanupEntry& entry = entries_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return Text::fromPath(Paths::lastComponent(entry.url));
    case Qt::AccessibleTextRole:
        return Text::fromPath(Paths::lastComponent(entry.url)) + ", " + QString::fromStdString(Fmt::bytes(entry.size));
    case Qt::ToolTipRole: return Text::toolTip(Text::fromPath(entry.url));
    case Qt::CheckStateRole: return selection_->contains(entry.url) ? Qt::Checked : Qt::Unchecked;
    case UrlRole: return QByteArray::fromStdString(entry.url);
    case ParentRole: return Text::fromPath(Paths::parent(entry.url));
    case DateRole: return entry.modified ? QString::fromStdString(Fmt::relativeDate(entry.modified)) : QString();
    case SizeRole: return qint64(entry.size);
    case SizeTextRole: return entry.needsAdmin ? QStringLiteral("—") : QString::fromStdString(Fmt::bytes(entry.size));
    case NoteRole: return QString::fromStdString(CleanupTexts::entryNote(entry));
    case SelectableRole: return isSelectable(index.row());
    case BusyRole: return isBusy(index.row());
    case FractionRole: return denominator_ < 1 ? 0.0 : double(entry.size) / double(denominator_);
    case IsFolderRole: {
        struct stat st;
        return ::lstat(entry.url.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    default: return {};
    }
}

bool EntryListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || !isSelectable(index.row())) return false;
    selection_->set(entries_[size_t(index.row())].url, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags EntryListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (isSelectable(index.row())) f |= Qt::ItemIsUserCheckable;
    return f;
}

// Delegate.

namespace {
constexpr int padX = 12;
constexpr int padY = 7;
constexpr int checkSize = 16;
constexpr int buttonSize = 22;
constexpr int sizeSlot = 84;
constexpr int dateSlot = 110;
constexpr int barWidth = 90;
} // namespace

EntryRowDelegate::EntryRowDelegate(EntryRowStyle style, QObject* parent)
    : QStyledItemDelegate(parent), style_(std::move(style)) {}

QString EntryRowDelegate::lockHelp() {
    return "This folder holds other apps' data and is never removed whole. Open it to pick through what is inside.";
}
QString EntryRowDelegate::browseHelp() { return "Open in Browse to see what is inside"; }

int EntryRowDelegate::rowHeight(const QWidget* widget) const {
    const QFont base = widget ? widget->font() : QApplication::font();
    return QFontMetrics(base).height() + QFontMetrics(Fonts::caption()).height() + 2 * padY + 2;
}

QSize EntryRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {200, rowHeight(option.widget)};
}

QRect EntryRowDelegate::checkRect(const QRect& row) const {
    return {row.left() + padX, row.center().y() - checkSize / 2, checkSize, checkSize};
}

QRect EntryRowDelegate::revealRect(const QRect& row) const {
    return {row.right() - padX - buttonSize + 1, row.center().y() - buttonSize / 2, buttonSize, buttonSize};
}

QRect EntryRowDelegate::browseRect(const QRect& row) const { return revealRect(row).translated(-buttonSize - 4, 0); }

EntryRowDelegate::Part EntryRowDelegate::partAt(const QRect& rect, const QPoint& pos, const QModelIndex& index) const {
    if (style_.buttons) {
        if (revealRect(rect).contains(pos)) return Part::reveal;
        if (index.data(EntryListModel::IsFolderRole).toBool() && browseRect(rect).contains(pos)) return Part::browse;
    }
    if (checkRect(rect).adjusted(-4, -4, 4, 4).contains(pos)) return Part::check;
    return Part::none;
}

void EntryRowDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    const QRect r = option.rect;
    const QPalette& pal = option.palette;
    const QWidget* w = option.widget;
    const QFont base = w ? w->font() : QApplication::font();
    const QFont caption = Fonts::caption();
    const QColor primary = pal.color(QPalette::Text);
    const QColor secondary = Colors::secondary(pal);

    if (index.row() > 0) {
        p->setPen(Colors::separator(pal));
        p->drawLine(r.left() + style_.dividerInset, r.top(), r.right(), r.top());
    }
    if (option.state & QStyle::State_HasFocus) {
        QColor focus = pal.color(QPalette::Highlight);
        focus.setAlphaF(0.12f);
        p->fillRect(r.adjusted(0, 1, 0, 0), focus);
    }

    const bool selectable = index.data(EntryListModel::SelectableRole).toBool();
    const bool busy = index.data(EntryListModel::BusyRole).toBool();
    const QRect check = checkRect(r);
    if (busy) {
        // Being removed: a spinner where the box was, the rest dimmed.
        Spinner::paint(*p, QRectF(check), pal);
        p->setOpacity(0.45);
    } else if (selectable) {
        QStyleOptionButton box;
        box.rect = check;
        box.palette = pal;
        box.state = QStyle::State_Enabled |
                    (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
        const QStyle* style = w ? w->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, p, w);
    } else {
        Symbols::icon("lock", secondary).paint(p, check);
    }

    int right = r.right() - padX;
    if (style_.buttons) {
        Symbols::icon("arrow.up.forward.square", pal.color(QPalette::Link))
            .paint(p, revealRect(r).adjusted(3, 3, -3, -3));
        right = revealRect(r).left() - 4;
        if (index.data(EntryListModel::IsFolderRole).toBool())
            Symbols::icon("list.bullet.indent", pal.color(QPalette::Link))
                .paint(p, browseRect(r).adjusted(3, 3, -3, -3));
        right = browseRect(r).left() - 6;
    }
    // Size, right-aligned in a fixed slot so columns line up.
    p->setFont(base);
    p->setPen(primary);
    const QRect sizeRect(right - sizeSlot, r.top(), sizeSlot, r.height());
    p->drawText(sizeRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                index.data(EntryListModel::SizeTextRole).toString());
    right = sizeRect.left() - 10;
    const QString date = index.data(EntryListModel::DateRole).toString();
    if (!date.isEmpty() || style_.shareBar) {
        p->setFont(caption);
        p->setPen(secondary);
        const QRect dateRect(right - dateSlot, r.top(), dateSlot, r.height());
        p->drawText(dateRect, Qt::AlignRight | Qt::AlignVCenter | Qt::TextDontClip,
                    QFontMetrics(caption).elidedText(date, Qt::ElideRight, dateSlot));
        right = dateRect.left() - 10;
    }
    if (style_.shareBar) {
        const QRect bar(right - barWidth, r.center().y() - 3, barWidth, 6);
        ShareBar::paint(*p, QRectF(bar), index.data(EntryListModel::FractionRole).toDouble(), style_.tint,
                        Colors::withAlpha(Colors::secondary(pal), 0.12));
        right = bar.left() - 10;
    }

    const int textLeft = check.right() + 10;
    const int textWidth = std::max(0, right - textLeft);
    const QFontMetrics fm(base), cfm(caption);
    const int top = r.top() + (r.height() - fm.height() - cfm.height()) / 2;
    p->setFont(base);
    p->setPen(primary);
    p->drawText(QRect(textLeft, top, textWidth, fm.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                fm.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, textWidth));
    p->setFont(caption);
    p->setPen(secondary);
    QString below = index.data(EntryListModel::ParentRole).toString();
    if (const QString note = index.data(EntryListModel::NoteRole).toString(); !note.isEmpty()) {
        below = note + QStringLiteral("  ·  ") + below;
        p->setPen(pal.color(QPalette::Text));
    }
    p->drawText(QRect(textLeft, top + fm.height(), textWidth, cfm.height()),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, cfm.elidedText(below, Qt::ElideRight, textWidth));
    p->restore();
}

bool EntryRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease) return event->type() == QEvent::MouseButtonDblClick;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    const std::string url = index.data(EntryListModel::UrlRole).toByteArray().toStdString();
    switch (partAt(option.rect, mouse->position().toPoint(), index)) {
    case Part::reveal: emit revealRequested(url); return true;
    case Part::browse: emit browseRequested(url); return true;
    default: break;
    }
    // A click anywhere else on a selectable row toggles it.
    if (!(model->flags(index) & Qt::ItemIsUserCheckable)) return false;
    const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

bool EntryRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
    if (!event || !view) return false;
    QString text;
    const QPoint pos = event->pos();
    if (style_.buttons && revealRect(option.rect).contains(pos))
        text = QString::fromStdString(CleanupTexts::revealInFileBrowser());
    else if (style_.buttons && index.data(EntryListModel::IsFolderRole).toBool() &&
             browseRect(option.rect).contains(pos))
        text = browseHelp();
    else if (!index.data(EntryListModel::SelectableRole).toBool() && checkRect(option.rect).contains(pos))
        text = index.data(EntryListModel::NoteRole).toString().isEmpty()
                   ? lockHelp()
                   : index.data(EntryListModel::NoteRole).toString();
    else
        text = index.data(Qt::ToolTipRole).toString();
    QToolTip::showText(event->globalPos(), text, view, option.rect);
    return true;
}

// View.

EntryListView::EntryListView(QWidget* parent) : QListView(parent) {
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void EntryListView::setRowDelegate(EntryRowDelegate* delegate) {
    delegate_ = delegate;
    setItemDelegate(delegate);
    fitHeight();
}

void EntryListView::fitHeight() {
    const int rows = model() ? model()->rowCount() : 0;
    const int row = delegate_ ? delegate_->rowHeight(this) : 40;
    // Qt's layouts stop at QLAYOUTSIZE_MAX (about 524,000 pixels), so a list
    // of tens of thousands of rows cannot be laid out at full height inside
    // the page. Such a list gets a window of its own and scrolls inside it.
    const bool windowed = qint64(rows) * row > tallestList;
    setVerticalScrollBarPolicy(windowed ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setFixedHeight(windowed ? windowedHeight : rows * row + 2);
    updateGeometry();
}

QSize EntryListView::sizeHint() const { return {QListView::sizeHint().width(), height()}; }
QSize EntryListView::minimumSizeHint() const { return {100, height()}; }

void EntryListView::wheelEvent(QWheelEvent* event) {
    // A list at full height never scrolls: the page does, so the wheel goes on to it.
    if (verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff && verticalScrollBar()->maximum() > 0)
        QListView::wheelEvent(event);
    else
        event->ignore();
}

void EntryListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && currentIndex().isValid()) {
        const QModelIndex index = currentIndex();
        if (model()->flags(index) & Qt::ItemIsUserCheckable) {
            const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
            model()->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        }
        return;
    }
    QListView::keyPressEvent(event);
}

void EntryListView::changeEvent(QEvent* event) {
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange) fitHeight();
}

} // namespace vessora
