#include "ui/browse/TreemapView.h"

#include "support/Palette.h"
#include "ui/browse/SizeText.h"
#include "ui/browse/Squarify.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Text.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace vessora {

namespace {

QString tileName(const FSNode& node) { return Text::fromPath(node.name()); }

std::string lumpName(size_t count) { return Fmt::counted(int64_t(count), "smaller item"); }

// One tile to assistive technology: a list item named after its node.
class TileAccessible : public QAccessibleInterface {
public:
    TileAccessible(TreemapView* view, int tile) : view_(view), tile_(tile) {}
    bool isValid() const override { return view_ && tile_ < int(view_->tiles().size()); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        const TreemapTile& tile = view_->tiles()[size_t(tile_)];
        if (t == QAccessible::Name) return tileName(*tile.node);
        if (t == QAccessible::Description) {
            const QString described =
                sizeText(tile.node->size) + QStringLiteral(", %1%").arg(std::lround(tile.fraction * 100));
            const QString note = view_->note(*tile.node);
            return note.isEmpty() ? described : described + QStringLiteral(", ") + note;
        }
        return {};
    }
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect local = view_->tiles()[size_t(tile_)].rect.toAlignedRect();
        return QRect(view_->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (isValid()) {
            state.selected = view_->tiles()[size_t(tile_)].node == view_->selection();
            state.focused = view_->hasFocus() && view_->focusedTile() == tile_;
        }
        return state;
    }

private:
    QPointer<TreemapView> view_;
    int tile_;
};

// The treemap as a list whose children are its tiles.
class TreemapAccessible : public QAccessibleWidget {
public:
    explicit TreemapAccessible(TreemapView* view) : QAccessibleWidget(view, QAccessible::List) {}
    TreemapView* view() const { return static_cast<TreemapView*>(widget()); }
    int childCount() const override { return int(view()->tiles().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        return tileInterface(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < childCount(); ++i)
            if (tileInterface(i) == child) return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const int tile = view()->tileAt(view()->mapFromGlobal(QPoint(x, y)));
        return tile < 0 ? nullptr : tileInterface(tile);
    }
    QAccessibleInterface* focusChild() const override {
        const int tile = view()->focusedTile();
        return tile < 0 || tile >= childCount() ? nullptr : tileInterface(tile);
    }

    // Tile interfaces are registered once per tile and released by the view
    // when its tiles change (see TreemapView::tilesChanged).
    QAccessibleInterface* tileInterface(int index) const {
        auto& ids = tileIds[view()];
        if (int(ids.size()) <= index) ids.resize(size_t(index) + 1, 0);
        if (!ids[size_t(index)])
            ids[size_t(index)] = QAccessible::registerAccessibleInterface(new TileAccessible(view(), index));
        return QAccessible::accessibleInterface(ids[size_t(index)]);
    }

    static inline QHash<const TreemapView*, std::vector<QAccessible::Id>> tileIds;
};

QAccessibleInterface* treemapAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("vessora::TreemapView") && object && object->isWidgetType())
        return new TreemapAccessible(static_cast<TreemapView*>(object));
    return nullptr;
}

void releaseTileInterfaces(const TreemapView* view) {
    auto it = TreemapAccessible::tileIds.find(view);
    if (it == TreemapAccessible::tileIds.end()) return;
    for (QAccessible::Id id : *it)
        if (id) QAccessible::deleteAccessibleInterface(id);
    TreemapAccessible::tileIds.erase(it);
}

} // namespace

TreemapView::TreemapView(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(treemapAccessibleFactory), true);
    Q_UNUSED(factoryInstalled);
    setObjectName(QStringLiteral("treemap"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setMinimumSize(40, 40);
    setAccessibleName(QStringLiteral("Treemap"));
    clickTimer_.setSingleShot(true);
    clickTimer_.setInterval(QApplication::doubleClickInterval());
    connect(&clickTimer_, &QTimer::timeout, this, [this] {
        // No second click came: the folder is selected after all.
        if (FSNode::Ptr node = std::exchange(pendingClick_, nullptr)) emit nodeSelected(node);
    });
    connect(this, &QObject::destroyed, [self = static_cast<const TreemapView*>(this)] { releaseTileInterfaces(self); });
}

void TreemapView::setNode(FSNode::Ptr node) {
    if (node == node_) return;
    const FSNode::Ptr left = std::exchange(node_, std::move(node));
    focusedTile_ = -1;
    pendingClick_ = nullptr;
    clickTimer_.stop();
    invalidate();
    // With the keyboard in the treemap a tile keeps focus: after going up,
    // the folder just left; otherwise the first tile.
    if (!hasFocus()) return;
    const auto& all = tiles();
    int tile = all.empty() ? -1 : 0;
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].node == left) tile = int(i);
    if (tile >= 0) setFocusedTile(tile);
}

void TreemapView::setSelection(FSNode::Ptr selection) {
    if (selection == selection_) return;
    selection_ = std::move(selection);
    update();
}

void TreemapView::setAnnotation(Tint tint, Note note) {
    tint_ = std::move(tint);
    note_ = std::move(note);
    update();
}

void TreemapView::setMaxTiles(int maxTiles) {
    maxTiles_ = std::max(0, maxTiles);
    invalidate();
}

void TreemapView::invalidate() {
    tilesValid_ = false;
    tilesChanged();
    update();
}

void TreemapView::tilesChanged() const { releaseTileInterfaces(this); }

const std::vector<TreemapTile>& TreemapView::tiles() const {
    const int64_t nodeSize = node_ ? node_->size : -1;
    if (!tilesValid_ || tilesNode_ != node_.get() || tilesSize_ != size() || tilesNodeSize_ != nodeSize) {
        tiles_ = layoutTiles(node_, QRectF(QPointF(0, 0), QSizeF(size())), maxTiles_, lump_);
        tilesNode_ = node_.get();
        tilesSize_ = size();
        tilesNodeSize_ = nodeSize;
        if (tilesValid_) tilesChanged();
        tilesValid_ = true;
        if (focusedTile_ >= int(tiles_.size())) const_cast<TreemapView*>(this)->focusedTile_ = -1;
    }
    return tiles_;
}

std::vector<TreemapTile> TreemapView::layoutTiles(const FSNode::Ptr& node, QRectF rect, int maxTiles,
                                                  FSNode::Ptr& lump) {
    std::vector<TreemapTile> result;
    if (!node || !(rect.width() > 4.0) || !(rect.height() > 4.0)) return result;

    // Children arrive sorted from the scan and stay so through removals;
    // the sort below only runs when that no longer holds.
    std::vector<const FSNode::Ptr*> shown;
    for (const auto& child : node->children())
        if (child->size > 0) shown.push_back(&child);
    if (shown.empty()) return result;
    auto larger = [](const FSNode::Ptr* a, const FSNode::Ptr* b) { return (*a)->size > (*b)->size; };
    if (!std::is_sorted(shown.begin(), shown.end(), larger)) std::stable_sort(shown.begin(), shown.end(), larger);

    const size_t k = std::min(shown.size(), size_t(std::max(0, maxTiles)));
    std::vector<std::pair<FSNode::Ptr, double>> items;
    items.reserve(k + 1);
    for (size_t i = 0; i < k; ++i) items.emplace_back(*shown[i], double((*shown[i])->size));
    if (shown.size() > k) {
        int64_t rest = 0;
        for (size_t i = k; i < shown.size(); ++i) rest += (*shown[i])->size;
        const std::string name = lumpName(shown.size() - k);
        const std::string path = node->path();
        if (!lump || lump->size != rest || lump->name() != name || lump->path() != path) {
            lump = FSNode::make(name, path, false);
            lump->isAggregate = true;
            lump->size = rest;
        }
        if (rest >= 1) items.emplace_back(lump, double(rest));
    }

    const LayoutRect bounds{rect.x(), rect.y(), rect.width(), rect.height()};
    for (auto& [tileNode, r] : Squarify::layout(items, bounds)) {
        if (r.w < 1.0 || r.h < 1.0) continue;
        const double fraction = node->size >= 1 ? double(tileNode->size) / double(node->size) : 0.0;
        result.push_back({tileNode, QRectF(r.x, r.y, r.w, r.h), fraction});
    }
    return result;
}

int TreemapView::tileAt(QPointF point) const {
    const auto& all = tiles();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].rect.contains(point)) return int(i);
    return -1;
}

void TreemapView::setFocusedTile(int tile) {
    if (tile < 0 || tile >= int(tiles().size()) || tile == focusedTile_) return;
    focusedTile_ = tile;
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(tile);
        QAccessible::updateAccessibility(&event);
    }
}

QColor TreemapView::tileLabelColor(const QColor& fill, const QColor& background) {
    return Colors::labelOn(Colors::over(fill, background));
}

void TreemapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 8, 8);
    painter.setClipPath(clip);
    painter.fillRect(rect(), Colors::background(pal));

    const QFont nameFont = Fonts::font(Fonts::Role::caption, QFont::Medium);
    const QFont sizeFont = Fonts::caption2();
    const QFontMetricsF nameMetrics(nameFont), sizeMetrics(sizeFont);

    const auto& all = tiles();
    for (size_t i = 0; i < all.size(); ++i) {
        const TreemapTile& tile = all[i];
        const FSNode& n = *tile.node;
        QColor base =
            n.isAggregate ? Colors::withAlpha(Colors::secondary(pal), 0.35) : Colors::fromRgb(Palette::color(n.name()));
        if (!n.isAggregate) base.setAlphaF(n.isDirectory() ? 0.85f : 0.55f);
        if (tint_)
            if (const std::optional<QColor> tint = tint_(n)) base = *tint;
        const bool selected = selection_ && tile.node == selection_;
        // Borders sit inside the tile: the rect is inset by half the pen.
        const double pen = selected ? 2.0 : 0.5;
        const QRectF inner = tile.rect.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
        painter.setPen(QPen(selected ? Colors::primary(pal) : QColor(0, 0, 0, int(0.15 * 255)), pen));
        painter.setBrush(base);
        painter.drawRoundedRect(inner, 3, 3);

        if (hasLabel(tile.rect)) {
            const QRectF text = tile.rect.adjusted(5, 5, -5, -5);
            const QString name = nameMetrics.elidedText(tileName(n), Qt::ElideRight, text.width());
            const QString size = sizeText(n.size);
            const QPointF namePos(text.left(), text.top() + nameMetrics.ascent());
            const QPointF sizePos(text.left(), text.top() + nameMetrics.height() + sizeMetrics.ascent());
            // Black or white, whichever reads at least 4.5 to 1 on this tile.
            painter.setPen(tileLabelColor(base, Colors::background(pal)));
            painter.setFont(nameFont);
            painter.drawText(namePos, name);
            painter.setFont(sizeFont);
            if (sizePos.y() <= text.bottom() + 2) painter.drawText(sizePos, size);
        }
    }

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Colors::accent(pal), 2));
        if (focusedTile_ >= 0 && focusedTile_ < int(all.size()))
            painter.drawRoundedRect(all[size_t(focusedTile_)].rect.adjusted(1, 1, -1, -1), 3, 3);
        else
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
    }
}

void TreemapView::mousePressEvent(QMouseEvent* event) {
    swallowRelease_ = false;
    QWidget::mousePressEvent(event);
}

void TreemapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    // The release that ends a double click has been dealt with.
    if (std::exchange(swallowRelease_, false)) return;
    const int tile = tileAt(event->position());
    if (tile < 0) return;
    setFocusedTile(tile);
    const FSNode::Ptr& node = tiles()[size_t(tile)].node;
    if (!node->isDirectory()) {
        clickTimer_.stop();
        pendingClick_ = nullptr;
        emit nodeSelected(node);
        return;
    }
    // A folder waits: a second click drills in instead of selecting.
    pendingClick_ = node;
    clickTimer_.start();
}

void TreemapView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    swallowRelease_ = true;
    const int tile = tileAt(event->position());
    if (tile < 0) return;
    const FSNode::Ptr node = tiles()[size_t(tile)].node;
    // The double click is recognised first: the first click's pending
    // selection is dropped. On a file the first click already selected it.
    clickTimer_.stop();
    pendingClick_ = nullptr;
    if (node->isDirectory()) emit drilledIn(node);
}

void TreemapView::keyPressEvent(QKeyEvent* event) {
    const auto& all = tiles();
    const int current = focusedTile_ >= 0 && focusedTile_ < int(all.size()) ? focusedTile_ : -1;
    switch (event->key()) {
    case Qt::Key_Left: moveFocus(-1, 0); return;
    case Qt::Key_Right: moveFocus(1, 0); return;
    case Qt::Key_Up: moveFocus(0, -1); return;
    case Qt::Key_Down: moveFocus(0, 1); return;
    case Qt::Key_Space:
        if (current >= 0) emit nodeSelected(all[size_t(current)].node);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (current >= 0 && all[size_t(current)].node->isDirectory()) emit drilledIn(all[size_t(current)].node);
        return;
    case Qt::Key_Backspace: emit drilledOut(); return;
    default: QWidget::keyPressEvent(event);
    }
}

void TreemapView::moveFocus(int dx, int dy) {
    const auto& all = tiles();
    if (all.empty()) return;
    if (focusedTile_ < 0 || focusedTile_ >= int(all.size())) {
        setFocusedTile(0);
        return;
    }
    const QRectF from = all[size_t(focusedTile_)].rect;
    const QPointF centre = from.center();
    int best = -1;
    double bestScore = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (int(i) == focusedTile_) continue;
        const QRectF& to = all[i].rect;
        // Only tiles lying wholly beyond the current tile's edge count; the
        // nearest wins, with sideways distance weighing double.
        double along, across;
        if (dx > 0)
            along = to.left() - from.right(), across = std::abs(to.center().y() - centre.y());
        else if (dx < 0)
            along = from.left() - to.right(), across = std::abs(to.center().y() - centre.y());
        else if (dy > 0)
            along = to.top() - from.bottom(), across = std::abs(to.center().x() - centre.x());
        else
            along = from.top() - to.bottom(), across = std::abs(to.center().x() - centre.x());
        if (along < -0.5) continue;
        const double score = std::max(0.0, along) + 2 * across;
        if (best < 0 || score < bestScore) best = int(i), bestScore = score;
    }
    if (best >= 0) setFocusedTile(best);
}

void TreemapView::focusInEvent(QFocusEvent* event) {
    if (focusedTile_ < 0 && !tiles().empty()) focusedTile_ = 0;
    update();
    QWidget::focusInEvent(event);
}

void TreemapView::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

bool TreemapView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        // The treemap's own keys win over window shortcuts (Return scans
        // everywhere else on the page).
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
        case Qt::Key_Backspace:
            if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
                event->accept();
                return true;
            }
            break;
        default: break;
        }
    }
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int tile = tileAt(help->pos());
        if (tile < 0) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        const TreemapTile& t = tiles()[size_t(tile)];
        QString tip = tileName(*t.node) + QLatin1Char('\n') + sizeText(t.node->size);
        if (const QString extra = note(*t.node); !extra.isEmpty()) tip += QLatin1Char('\n') + extra;
        QToolTip::showText(help->globalPos(), tip, this, t.rect.toAlignedRect());
        return true;
    }
    return QWidget::event(event);
}

} // namespace vessora
