#pragma once
// One row of the Overview's category list: the category's symbol, title and
// detail (and a line of notes on user folders it leaves out), its size (or a
// spinner until measured) and a chevron. A plain button: clicking it, Space or
// Return opens the category.

#include "catalog/StorageCategories.h"

#include <QAbstractButton>

namespace vessora {

class Spinner;

class CategoryRowButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CategoryRowButton(QWidget* parent = nullptr);
    void setCategory(const MeasuredCategory& category);
    const MeasuredCategory& category() const { return category_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString sizeText() const;
    QString notesText() const; // the category's notes on left-out folders, one line
    MeasuredCategory category_;
    Spinner* spinner_;
};

} // namespace vessora
