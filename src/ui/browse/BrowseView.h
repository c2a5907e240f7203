#pragma once
// The Browse screen: pick a folder, scan it, explore the tree as an outline
// beside a treemap, read a node's details, show it in the file manager and
// remove it.
//
// Node lifetime: selection, focus and the node of an open confirmation are
// held by shared pointer, so none of them is ever read after its tree let go
// of it. A removal that takes out the focused folder (or one above it) moves
// the focus to the nearest folder still in the tree; a new tree re-finds the
// selection and focus by path and drops whatever it no longer holds.
//
// Compare mode ("Compare with…"): the model's comparison with an earlier scan
// annotates the shown tree: the outline gains a Change column and rows for
// what is gone, the treemap colours tiles by change, the detail panel tells
// both sizes. Removing works as ever; what is gone cannot be removed, nor
// anything of a scan opened from a file.

#include "model/CorvaneModel.h"
#include "scan/ScanRootPreset.h"
#include "ui/SectionView.h"

#include <QPointer>

class QComboBox;
class QFileDialog;
class QHBoxLayout;
class QLabel;
class QMenu;
class QMessageBox;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTreeView;
class QWidget;

namespace vessora {

class ElidedLabel;
class OutlineModel;
class Refresher;
class ScreenHeader;
class SpinnerTicker;
class TreemapView;

class BrowseView : public SectionView {
    Q_OBJECT
public:
    BrowseView(ScanSession& scan, HistoryStore& history, RemovalQueue& removals, QWidget* parent = nullptr);
    ScreenHeader* header() const override { return header_; }

    const FSNode::Ptr& selection() const { return selection_; }
    const FSNode::Ptr& focus() const { return focus_; }
    const FSNode::Ptr& confirmRemoval() const { return confirmRemoval_; }
    ScanRootPreset preset() const { return preset_; }
    // The folder the treemap shows: the focus, else the tree's root.
    FSNode::Ptr currentNode() const;

    void setSelection(FSNode::Ptr node);
    // Not setFocus: that would hide QWidget's keyboard focus.
    void setFocusNode(FSNode::Ptr node);

    // The row's context menu, built but not shown (the caller pops it up).
    QMenu* buildContextMenu(const FSNode::Ptr& node, QWidget* parent);
    // Opens the removal confirmation for `node` (window-modal, not waited for).
    void askToRemove(const FSNode::Ptr& node);
    void reveal(const FSNode::Ptr& node);
    // "Rescan This Folder": scans the folder again and splices it in.
    void rescan(const FSNode::Ptr& node);
    bool canRescan(const FSNode::Ptr& node) const;

    // The Scan button's action: clears selection and focus, scans the root path.
    void scan();
    // Opens the folder chooser at the root path.
    void chooseFolder();

    // The "Compare with…" menu as it would open now (rebuilt on each showing).
    QMenu* compareMenu() const { return compareMenu_; }
    void rebuildCompareMenu();
    // Opens the file chooser of "Open Scan…".
    void chooseScanFile();
    // A placeholder for what is gone since the compared scan.
    bool isGone(const FSNode::Ptr& node) const;
    bool canRemove(const FSNode::Ptr& node) const;

    OutlineModel* outlineModel() const { return outlineModel_; }
    QTreeView* outline() const { return outline_; }
    TreemapView* treemap() const { return treemap_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Return on an outline row: a folder is expanded and shown in the treemap.
    void openRow(const QModelIndex& index);
    // Shows the root path in the location picker (a preset, or the chosen folder).
    void syncPicker();
    QWidget* buildControlBar();
    QWidget* buildScanningState();
    QWidget* buildIdleState();
    QWidget* buildContent();
    QWidget* buildDetailPanel();

    void refresh();
    void treeChanged();
    void nodesAboutToBeRemoved(const FSNode::Ptr& parent, const std::vector<int>& rows);
    void nodesRemoved(const FSNode::Ptr& parent);
    void childrenAboutToBeReplaced(const FSNode::Ptr& folder);
    void childrenReplaced(const FSNode::Ptr& folder);
    void busyChanged();
    void comparisonChanged();
    void refreshCompareBar();
    void refreshDetailComparison();
    void askToForgetHistory();
    void showScanFileError();
    // The folders expanded in the outline, and expanding them again after a reset.
    std::vector<FSNode::Ptr> expandedFolders() const;
    void expandAgain(const std::vector<FSNode::Ptr>& folders);
    void rebuildBreadcrumb();
    void refreshDetail();
    void refreshSummary();
    void selectInOutline(const FSNode::Ptr& node);
    void startScanOf(const std::string& path);
    // The node of the shown tree with `node`'s path, or null.
    FSNode::Ptr findInTree(const FSNode::Ptr& node) const;
    bool isInTree(const FSNode* node) const;
    FSNode::Ptr refOf(FSNode* node) const;

    FSNode::Ptr selection_;
    FSNode::Ptr focus_;
    FSNode::Ptr confirmRemoval_;
    ScanRootPreset preset_ = ScanRootPreset::home;
    RemovalMode removalMode_ = RemovalMode::trash;
    // Where the focus goes when a removal under way takes it out.
    FSNode::Ptr focusFallback_;
    // Selection and focus inside a folder being scanned again, found again
    // by path once its new children are in; whether the folder was open.
    FSNode::Ptr pendingSelection_, pendingFocus_;
    bool folderWasExpanded_ = false;

    ScreenHeader* header_ = nullptr;
    ScanSession& scan_;
    HistoryStore& history_;
    RemovalQueue& removals_;
    Refresher* refresher_ = nullptr;
    QComboBox* presetPicker_ = nullptr;
    ElidedLabel* rootPath_ = nullptr;
    QPushButton* scanButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* compareButton_ = nullptr;
    QMenu* compareMenu_ = nullptr;
    QWidget* compareBar_ = nullptr;
    QLabel* compareText_ = nullptr;
    QPushButton* stopComparing_ = nullptr;
    QWidget* legend_ = nullptr;
    QLabel* detailCompare_ = nullptr;
    QPushButton* detailReveal_ = nullptr;
    QStackedWidget* states_ = nullptr;
    QLabel* scanCounts_ = nullptr;
    ElidedLabel* scanPath_ = nullptr;
    QWidget* scanUnreadable_ = nullptr;
    QLabel* scanUnreadableText_ = nullptr;

    OutlineModel* outlineModel_ = nullptr;
    QTreeView* outline_ = nullptr;
    QLabel* summarySize_ = nullptr;
    QLabel* summaryFiles_ = nullptr;
    QLabel* summaryFolders_ = nullptr;
    QWidget* summaryUnreadable_ = nullptr;
    QLabel* summaryUnreadableText_ = nullptr;
    QLabel* summaryElapsed_ = nullptr;

    QHBoxLayout* breadcrumb_ = nullptr;
    QLabel* breadcrumbSize_ = nullptr;
    TreemapView* treemap_ = nullptr;
    QWidget* detail_ = nullptr;
    QWidget* detailDivider_ = nullptr;
    ElidedLabel* detailName_ = nullptr;
    QLabel* detailPath_ = nullptr;
    QLabel* detailSize_ = nullptr;
    QLabel* detailFiles_ = nullptr;
    QLabel* detailLogical_ = nullptr;
    QPushButton* detailRemove_ = nullptr;
    QPushButton* detailRescan_ = nullptr;
    SpinnerTicker* outlineTicker_ = nullptr;

    QPointer<QFileDialog> chooser_;
    QPointer<QFileDialog> scanChooser_;
    QPointer<QMessageBox> scanFileAlert_;
    QPointer<QMessageBox> confirmation_;
};

} // namespace vessora
