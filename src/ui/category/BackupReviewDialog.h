#pragma once
// The review of a finished backup: where it went, what was copied, and the
// choice between keeping both and deleting the originals. Nothing is deleted
// unless "Delete Originals" (or "Delete Permanently") is pressed; closing the
// dialog any other way keeps both.

#include "model/BackupReview.h"

#include <QAbstractListModel>
#include <QDialog>
#include <QStyledItemDelegate>

class QLabel;
class QListView;
class QListView;
class QPushButton;

namespace vessora {

class BackupItemModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { PassesRole = Qt::UserRole + 1, FolderRole, SizeTextRole, CopyRole };
    BackupItemModel(std::vector<ArchivedItem> items, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<ArchivedItem> items_;
};

class BackupItemDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    static QRect revealRect(const QRect& row);

signals:
    void revealRequested(const std::string& path);
};

class BackupReviewDialog : public QDialog {
    Q_OBJECT
public:
    BackupReviewDialog(BackupReview* backup, const PendingRemoval& pending, QWidget* parent = nullptr);

    bool revealed() const { return revealed_; }
    QPushButton* confirmButton() const { return confirm_; }
    QPushButton* keepButton() const { return keep_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void decide(bool deleteOriginals);
    BackupReview* backup_;
    QListView* items_ = nullptr;
    bool revealed_ = false;
    bool decided_ = false;
    QLabel* hint_;
    QPushButton* confirm_;
    QPushButton* keep_;
};

} // namespace vessora
