#include "ui/apps/LeftoverList.h"

#include "platform/PlatformTables.h"
#include "support/Fmt.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"
#include "ui/kit/Workspace.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolTip>
#include <QVBoxLayout>

namespace vessora {

namespace {
constexpr int checkSize = 16;
constexpr int sizeSlot = 84;
constexpr int lockSize = 14;
constexpr int margin = 12;
} // namespace

// Model.

LeftoverListModel::LeftoverListModel(PathSelection* selection, QObject* parent)
    : QAbstractListModel(parent), selection_(selection) {
    connect(selection_, &PathSelection::changed, this, [this] {
        if (!items_.empty()) emit dataChanged(index(0), index(int(items_.size()) - 1), {Qt::CheckStateRole});
    });
}

void LeftoverListModel::setItems(std::vector<LeftoverItem> items) {
    if (items == items_) return;
    bool samePaths = items.size() == items_.size();
    for (size_t i = 0; samePaths && i < items.size(); ++i) samePaths = items[i].url == items_[i].url;
    if (samePaths) {
        items_ = std::move(items);
        emit dataChanged(index(0), index(int(items_.size()) - 1));
        return;
    }
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

void LeftoverListModel::busyChanged() {
    if (!items_.empty()) emit dataChanged(index(0), index(int(items_.size()) - 1));
}

bool LeftoverListModel::isBusy(int row) const {
    return busy_ && row >= 0 && size_t(row) < items_.size() && busy_(items_[size_t(row)].url);
}

std::vector<LeftoverItem> LeftoverListModel::choosableItems() const {
    std::vector<LeftoverItem> out;
    for (size_t i = 0; i < items_.size(); ++i)
        if (!isBusy(int(i))) out.push_back(items_[i]);
    return out;
}

int LeftoverListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(items_.size()); }

QVariant LeftoverListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(items_.size())) return {};
    const LeftoverItem& item = items_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return Text::fileName(item.url);
    case Qt::CheckStateRole: return selection_->contains(item.url) ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole: return Text::fromPath(item.url);
    case UrlRole: return QByteArray::fromStdString(item.url);
    case PathRole: return Text::fromPath(item.url);
    case CategoryRole: return Text::fromUtf8(item.category);
    case SizeTextRole: return Text::fromUtf8(Fmt::bytes(item.size));
    case AdminRole: return item.requiresAdmin;
    case BusyRole: return isBusy(index.row());
    case Qt::AccessibleTextRole:
        return Text::fileName(item.url) + ", " + Text::fromUtf8(item.category) + ", " +
               Text::fromUtf8(Fmt::bytes(item.size)) +
               (item.requiresAdmin ? ", " + LeftoverRowDelegate::lockHelp() : "");
    default: return {};
    }
}

bool LeftoverListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= int(items_.size()) || isBusy(index.row()))
        return false;
    selection_->set(items_[size_t(index.row())].url, value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags LeftoverListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // On its way out already: shown, never ticked again.
    if (isBusy(index.row())) return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

// Delegate.

QString LeftoverRowDelegate::lockHelp() {
    return QStringLiteral("Owned by the system. Removing it asks for your password.");
}

QRect LeftoverRowDelegate::lockRect(const QRect& row) const {
    return {row.right() - margin - sizeSlot - 6 - lockSize, row.center().y() - lockSize / 2, lockSize, lockSize};
}

void LeftoverRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    opt.text.clear();
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    painter->save();
    const QPalette& pal = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor primary = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
    const QColor secondary = selected ? primary : Colors::secondary(pal);
    const QRect r = option.rect;

    QStyleOptionButton check;
    check.rect = QRect(r.left() + margin, r.center().y() - checkSize / 2, checkSize, checkSize);
    check.state = QStyle::State_Enabled |
                  (index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On : QStyle::State_Off);
    check.palette = pal;
    if (index.data(LeftoverListModel::BusyRole).toBool()) {
        // Being removed: a spinner where the box was, the rest dimmed.
        Spinner::paint(*painter, QRectF(check.rect), pal);
        painter->setOpacity(0.45);
    } else {
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, painter, widget);
    }

    const QRect sizeRect(r.right() - margin - sizeSlot + 1, r.top(), sizeSlot, r.height());
    painter->setPen(primary);
    TabularText::draw(*painter, sizeRect, Qt::AlignRight | Qt::AlignVCenter,
                      index.data(LeftoverListModel::SizeTextRole).toString(), Fonts::callout());
    const bool admin = index.data(LeftoverListModel::AdminRole).toBool();
    if (admin)
        painter->drawPixmap(lockRect(r), Symbols::pixmap(QStringLiteral("lock.fill"), lockSize, secondary,
                                                         painter->device()->devicePixelRatioF()));

    const int left = check.rect.right() + 10;
    const int right = (admin ? lockRect(r).left() : sizeRect.left()) - 8;
    const QFont nameFont = Fonts::body(), categoryFont = Fonts::caption2(), pathFont = Fonts::caption();
    const QFontMetrics nameMetrics(nameFont), categoryMetrics(categoryFont), pathMetrics(pathFont);
    int y = r.center().y() - (nameMetrics.height() + pathMetrics.height() + 1) / 2;
    const QString category = index.data(LeftoverListModel::CategoryRole).toString();
    const int categoryWidth = std::min(categoryMetrics.horizontalAdvance(category), (right - left) / 2);
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                right - left - categoryWidth - 8);
    painter->setFont(nameFont);
    painter->drawText(QRect(left, y, right - left, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter, name);
    painter->setFont(categoryFont);
    painter->setPen(secondary);
    const int categoryLeft = left + nameMetrics.horizontalAdvance(name) + 8;
    painter->drawText(QRect(categoryLeft, y, right - categoryLeft, nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      categoryMetrics.elidedText(category, Qt::ElideRight, right - categoryLeft));
    y += nameMetrics.height() + 1;
    painter->setFont(pathFont);
    painter->drawText(
        QRect(left, y, right - left, pathMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
        pathMetrics.elidedText(index.data(LeftoverListModel::PathRole).toString(), Qt::ElideMiddle, right - left));
    painter->restore();
}

QSize LeftoverRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {300, rowHeight}; }

bool LeftoverRowDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem&,
                                      const QModelIndex& index) {
    // A click anywhere on the row toggles it, as the checkbox alone is a small target.
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        return model->setData(index, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }
    return event->type() == QEvent::MouseButtonDblClick;
}

bool LeftoverRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && index.data(LeftoverListModel::AdminRole).toBool() &&
        lockRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), lockHelp(), view, lockRect(option.rect));
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

// View.

LeftoverListView::LeftoverListView(QWidget* parent) : QListView(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new LeftoverRowDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = indexAt(pos);
        if (!index.isValid()) return;
        QMenu* menu = buildContextMenu(index, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(viewport()->mapToGlobal(pos));
    });
}

QMenu* LeftoverListView::buildContextMenu(const QModelIndex& index, QWidget* parent) {
    auto* menu = new QMenu(parent);
    const std::string url = index.data(LeftoverListModel::UrlRole).toByteArray().toStdString();
    menu->addAction(Text::fromUtf8(PlatformTables::current().words.revealInFiles),
                    [url] { Workspace::instance().reveal({url}); });
    return menu;
}

void LeftoverListView::fitHeight() {
    const int rows = model() ? model()->rowCount() : 0;
    setFixedHeight(rows * LeftoverRowDelegate::rowHeight + 2 * frameWidth());
}

void LeftoverListView::wheelEvent(QWheelEvent* event) {
    // The list never scrolls itself: the pane's scroll area does.
    event->ignore();
}

void LeftoverListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && currentIndex().isValid()) {
        const bool on = currentIndex().data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model()->setData(currentIndex(), on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        return;
    }
    if (event->key() == Qt::Key_Menu && currentIndex().isValid()) {
        QMenu* menu = buildContextMenu(currentIndex(), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(viewport()->mapToGlobal(visualRect(currentIndex()).center()));
        return;
    }
    QListView::keyPressEvent(event);
}

void LeftoverListView::paintEvent(QPaintEvent* event) {
    QListView::paintEvent(event);
    // Hairlines between rows, inset past the checkbox.
    QPainter painter(viewport());
    painter.setPen(Colors::separator(palette(), 0.07));
    for (int row = 1; row < (model() ? model()->rowCount() : 0); ++row) {
        const int y = row * LeftoverRowDelegate::rowHeight;
        painter.drawLine(margin + checkSize + 10, y, viewport()->width() - margin, y);
    }
}

// Group.

LeftoverGroup::LeftoverGroup(const QString& title, const QString& note, PathSelection* selection, QWidget* parent)
    : QWidget(parent), selection_(selection) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* head = new QHBoxLayout;
    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("apps.group.title"));
    titleLabel->setFont(Fonts::headline());
    titleLabel->setTextFormat(Qt::PlainText);
    head->addWidget(titleLabel);
    head->addStretch(1);
    toggle_ = new LinkButton(QStringLiteral("Select All"), this);
    toggle_->setObjectName(QStringLiteral("apps.group.toggle"));
    head->addWidget(toggle_);
    column->addLayout(head);
    auto* noteLabel = new SecondaryLabel(note, this);
    noteLabel->setFont(Fonts::caption());
    noteLabel->setWordWrap(true);
    column->addWidget(noteLabel);
    column->addSpacing(2);

    auto* panel = new Card({}, {}, this);
    panel->setRadius(8);
    panel->setBorderAlpha(0.07);
    panel->contentLayout()->setContentsMargins(0, 0, 0, 0);
    panel->layout()->setContentsMargins(0, 2, 0, 2);
    list_ = new LeftoverListView(panel);
    list_->setObjectName(QStringLiteral("apps.group.list"));
    model_ = new LeftoverListModel(selection_, list_);
    list_->setModel(model_);
    ticker_ = new SpinnerTicker(list_);
    panel->contentLayout()->addWidget(list_);
    column->addWidget(panel);

    connect(toggle_, &QPushButton::clicked, this, [this] {
        const auto choosable = model_->choosableItems();
        if (selection_->containsAll(choosable))
            selection_->remove(choosable);
        else
            selection_->insert(choosable);
    });
    connect(selection_, &PathSelection::changed, this, &LeftoverGroup::syncToggle);
    setVisible(false);
}

const std::vector<LeftoverItem>& LeftoverGroup::items() const { return model_->items(); }

void LeftoverGroup::setItems(std::vector<LeftoverItem> items) {
    const size_t before = model_->items().size();
    model_->setItems(std::move(items));
    if (before != model_->items().size() || list_->height() == 0) list_->fitHeight();
    setVisible(!model_->items().empty());
    syncToggle();
}

void LeftoverGroup::busyChanged(bool spinning) {
    model_->busyChanged();
    ticker_->setActive(spinning);
    syncToggle();
}

void LeftoverGroup::syncToggle() {
    const auto choosable = model_->choosableItems();
    toggle_->setText(selection_->containsAll(choosable) && !choosable.empty() ? QStringLiteral("Deselect All")
                                                                              : QStringLiteral("Select All"));
}

} // namespace vessora
