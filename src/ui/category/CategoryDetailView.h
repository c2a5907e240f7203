#pragma once
// One storage category in detail: its entries, its rules (read-only, backup
// required, backup offered) and, for System Data, the arithmetic behind the
// number. `setCategoryId` shows another category and resets the page's state.

#include "model/CorvaneModel.h"
#include "ui/SectionView.h"
#include "ui/cleanup/EntryList.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace vessora {

class BackupReviewDialog;
class SpinnerTicker;

class CategoryDetailView : public SectionView {
    Q_OBJECT
public:
    // What the page shows: a category's entries, the related cleanup
    // targets, the snapshots of the startup volume and the backup flow.
    struct Stores {
        CategoryList& categories;
        CleanupList& cleanup;
        VolumesStore& volumes;
        BackupReview& backup;
        RemovalQueue& removals;
        ScanSession& scan; // where an entry is browsed
    };
    explicit CategoryDetailView(const Stores& stores, QWidget* parent = nullptr);
    void showSection(const Section& section) override;
    ScreenHeader* header() const override { return header_; }

    void setCategoryId(const std::string& id);
    const std::string& categoryId() const { return id_; }

    // View state, for the window and tests.
    PathSelection* selection() const { return selection_; }
    RemovalMode mode() const { return mode_; }
    bool backUpFirst() const { return backUpFirst_; }
    // Builds the confirmation for the current selection (not shown).
    QMessageBox* buildConfirmation();
    // Builds the folder chooser for the backup folder (not shown).
    QFileDialog* buildFolderChooser();
    BackupReviewDialog* reviewDialog() const;

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void schedule();
    void startRemoval();
    void updateSystemData(const MeasuredCategory& category);
    void showArchiveError();
    void showReview();

    Stores stores_;
    std::string id_;
    PathSelection* selection_;
    RemovalMode mode_ = RemovalMode::trash;
    bool backUpFirst_ = true;
    QTimer* refresher_;
    bool dirty_ = true;
    QPointer<QMessageBox> archiveAlert_;
    QPointer<BackupReviewDialog> review_;

    ScreenHeader* header_;
    QStackedWidget* stack_;
    QComboBox* modePicker_;
    QPushButton* refresh_;
    QLabel* symbol_;
    QLabel* title_;
    QWidget* badgeSlot_;
    QWidget* badge_ = nullptr;
    int badgeRisk_ = -1;
    QLabel* detail_;
    QLabel* size_;
    QLabel* count_;
    QWidget* caveat_ = nullptr;
    QWidget* notes_ = nullptr; // user folders the category leaves out, and why
    QWidget* readOnly_ = nullptr;
    QVBoxLayout* bannerLayout_;
    QWidget* entriesCard_;
    QPushButton* selectAll_;
    EntryListView* list_;
    EntryListModel* entries_;
    EntryRowDelegate* delegate_ = nullptr;
    QLabel* empty_;

    QWidget* systemData_;
    QWidget* accounting_ = nullptr;
    QVBoxLayout* systemDataLayout_;
    QLabel* winsHeading_;
    QWidget* winsProgress_;
    QProgressBar* winsBar_;
    QPushButton* checkCaches_;
    QWidget* winsCard_ = nullptr;
    QLabel* winsNote_;
    QLabel* snapshots_;
    QLabel* reserve_;
    SpinnerTicker* ticker_;

    QWidget* actionBar_;
    QWidget* backupRow_;
    QCheckBox* backupCheck_;
    QLabel* backupPath_;
    QPushButton* change_;
    QLabel* archiveStatus_;
    QLabel* selectedCount_;
    QLabel* selectedTotal_;
    QWidget* archiving_;
    QPushButton* clear_;
    QPushButton* action_;
};

} // namespace vessora
