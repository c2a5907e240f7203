#pragma once
// The treemap beside the Browse outline: one level of a folder, each child a
// tile whose area follows its allocated size. At most maxTiles children get
// a tile of their own; the rest share one lump tile.
//
// Ownership: the view holds its folder, the selection and every tiled node
// by shared pointer, so a node removed from the tree or a tree replaced by a
// new scan is never read after it was freed. The lump is not part of the
// tree; it is a member, reused while its contents stay the same, because the
// screen's selection may hold it.

#include "scan/FSNode.h"

#include <QColor>
#include <QRectF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace vessora {

struct TreemapTile {
    FSNode::Ptr node;
    QRectF rect;
    double fraction = 0; // share of the folder's size
};

class TreemapView : public QWidget {
    Q_OBJECT
public:
    explicit TreemapView(QWidget* parent = nullptr);

    // The folder whose children are shown.
    void setNode(FSNode::Ptr node);
    const FSNode::Ptr& node() const { return node_; }
    void setSelection(FSNode::Ptr selection);
    const FSNode::Ptr& selection() const { return selection_; }
    void setMaxTiles(int maxTiles);
    // How long a click on a folder waits for a second click (the platform's
    // double-click interval unless set).
    void setDoubleClickInterval(int milliseconds) { clickTimer_.setInterval(milliseconds); }
    // The tree changed in place (a removal): lay out again.
    void invalidate();
    // Compare mode: a tile's own fill (none: the usual colour), and words
    // on what changed, added to its tooltip and accessible description.
    // Without functions, tiles are drawn and described as usual.
    using Tint = std::function<std::optional<QColor>(const FSNode&)>;
    using Note = std::function<QString(const FSNode&)>;
    void setAnnotation(Tint tint, Note note);
    QString note(const FSNode& node) const { return note_ ? note_(node) : QString(); }

    // The tiles for the current size.
    const std::vector<TreemapTile>& tiles() const;
    int tileAt(QPointF point) const;
    int focusedTile() const { return focusedTile_; }
    void setFocusedTile(int tile);

    // The tiles for `node`'s children inside `rect`. `lump` is reused when it
    // already stands for the same remainder, and replaced otherwise.
    static std::vector<TreemapTile> layoutTiles(const FSNode::Ptr& node, QRectF rect, int maxTiles, FSNode::Ptr& lump);
    // Tiles this small get no label.
    static bool hasLabel(const QRectF& rect) { return rect.width() > 64 && rect.height() > 30; }
    // The label colour on a tile of `fill` drawn over `background`.
    static QColor tileLabelColor(const QColor& fill, const QColor& background);

signals:
    void nodeSelected(const vessora::FSNode::Ptr& node);
    void drilledIn(const vessora::FSNode::Ptr& node);
    void drilledOut();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    void moveFocus(int dx, int dy);
    void tilesChanged() const;

    FSNode::Ptr node_;
    FSNode::Ptr selection_;
    Tint tint_;
    Note note_;
    int maxTiles_ = 80;
    int focusedTile_ = -1;

    mutable FSNode::Ptr lump_;
    mutable std::vector<TreemapTile> tiles_;
    // What the cached tiles were laid out for.
    mutable const FSNode* tilesNode_ = nullptr;
    mutable QSize tilesSize_;
    mutable int64_t tilesNodeSize_ = -1;
    mutable bool tilesValid_ = false;

    QTimer clickTimer_;
    FSNode::Ptr pendingClick_;
    bool swallowRelease_ = false;
};

} // namespace vessora
