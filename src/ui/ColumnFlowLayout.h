#pragma once
// Items in as many equal columns as fit (each at least `minColumnWidth`),
// filled row by row, with its height following its width. A real layout
// rather than a grid rebuilt on resize, which would loop relayouts.

#include <QLayout>
#include <QList>

namespace vessora {

class ColumnFlowLayout : public QLayout {
    Q_OBJECT
public:
    explicit ColumnFlowLayout(QWidget* parent = nullptr, int minColumnWidth = 150, int columnGap = 12,
                              int rowSpacing = 6);
    ~ColumnFlowLayout() override;

    // max(1, (W + gap) / (column + gap)), the column being the larger of
    // minColumnWidth and the widest item's size hint.
    int columnsFor(int width) const;

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    int arrange(const QRect& rect, bool apply) const;
    QList<QLayoutItem*> items_;
    int minColumnWidth_;
    int columnGap_;
    int rowSpacing_;
};

} // namespace vessora
