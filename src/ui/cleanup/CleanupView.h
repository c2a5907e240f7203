#pragma once
// The Cleanup section: one card per measured cleanup target, entries picked
// one by one or a whole target at a time, and removal after a confirmation.
// The selection is the page's own; the model keeps none of it.

#include "catalog/CleanupCatalog.h"
#include "model/CorvaneModel.h"
#include "ui/SectionView.h"
#include "ui/cleanup/EntryList.h"

#include <QWidget>

#include <map>
#include <set>

class QCheckBox;
class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace vessora {

class SpinnerTicker;

// One target: header with the whole-target check box, and its entries when expanded.
class TargetCard : public QWidget {
    Q_OBJECT
public:
    TargetCard(PathSelection* selection, QWidget* parent = nullptr);
    void update(const CleanupTarget& target, bool expanded);
    const std::string& targetId() const { return id_; }
    QCheckBox* checkBox() const { return check_; }
    EntryListView* list() const { return list_; }
    EntryListModel* entryModel() const { return model_; }
    QPushButton* expandButton() const { return expand_; }
    // The context menu of a row, built without showing it.
    QMenu* buildContextMenu(const QModelIndex& index, QWidget* parent);
    // Turns the spinners of entries being removed while some removal runs.
    void setSpinning(bool spinning);

signals:
    void toggleExpand(const std::string& id);

private:
    void syncCheck();
    std::vector<CleanupEntry> selectableEntries() const;
    std::string id_;
    PathSelection* selection_;
    QCheckBox* check_;
    QLabel* title_;
    QWidget* badge_ = nullptr;
    QWidget* badgeSlot_;
    int badgeRisk_ = -1;
    QLabel* detail_;
    QLabel* total_;
    QPushButton* expand_;
    QWidget* body_;
    EntryListView* list_;
    EntryListModel* model_;
    SpinnerTicker* ticker_;
};

class CleanupView : public SectionView {
    Q_OBJECT
public:
    CleanupView(CleanupList& cleanup, RemovalQueue& removals, QWidget* parent = nullptr);
    ScreenHeader* header() const override { return header_; }

    // Builds the removal confirmation for the current selection (not shown).
    QMessageBox* buildConfirmation();
    PathSelection* selection() const { return selection_; }
    // The cards in display order.
    std::vector<TargetCard*> cards() const;

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void schedule();
    void confirmRemoval();

    CleanupList& cleanup_;
    RemovalQueue& removals_;
    PathSelection* selection_;
    std::set<std::string> expanded_;
    std::map<std::string, TargetCard*> cards_;
    QTimer* refresher_;
    bool dirty_ = true;

    ScreenHeader* header_;
    QPushButton* measure_;
    QWidget* progressRow_;
    QProgressBar* progress_;
    QScrollArea* scroll_;
    QVBoxLayout* cardsLayout_;
    QLabel* empty_;
    QLabel* found_;
    QLabel* across_;
    QPushButton* clear_;
    QLabel* selectedTotal_;
    QLabel* selectedCount_;
    QPushButton* remove_;
};

} // namespace vessora
