#pragma once
// The Apps screen: the installed applications with what each occupies in its
// bundle and elsewhere, the selected one's leftovers grouped by how sure the
// match is, and uninstalling it with the leftovers the user ticks.
//
// View state: the selected app's identity (its path), the ticked leftover
// paths, whether the app itself goes, and the filter text. The selection is
// kept by identity: filtering or a reload that drops the row from view clears
// the detail, and the row comes back selected, with its ticks, when it shows
// again. The detail reads the model's rows, never the filtered list.

#include "model/CorvaneModel.h"
#include "ui/SectionView.h"

#include <QPointer>

#include <optional>
#include <string>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace vessora {

class AppFilterProxy;
class AppIcons;
class AppListModel;
class AppRowDelegate;
class ElidedLabel;
class LeftoverGroup;
class NumberLabel;
class PathSelection;
class Refresher;
class SecondaryLabel;
class Spinner;

class AppsView : public SectionView {
    Q_OBJECT
public:
    AppsView(AppList& apps, RemovalQueue& removals, QWidget* parent = nullptr);
    ~AppsView() override;
    ScreenHeader* header() const override { return header_; }

    // View state, for the window and tests.
    const std::optional<std::string>& selectedAppID() const { return selectedAppID_; }
    PathSelection* selection() const { return selection_; }
    bool includeBundle() const { return includeBundle_; }
    // The selected row when it is listed and shown (not filtered out).
    std::optional<AppRow> shownApp() const;
    // Selects the app as a click on its row would; false when it is not shown.
    bool selectApp(const std::string& url);
    AppFilterProxy* proxy() const { return proxy_; }
    AppIcons* icons() const { return icons_; }
    // Builds the uninstall confirmation for the selected app (not shown).
    QMessageBox* buildConfirmation();

public slots:
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* buildListPane();
    QWidget* buildDetailPane();
    QWidget* buildUninstallBar(QWidget* parent);
    void userSelectionChanged();
    // Shows the selected app's row selected in the list, without that counting as a user's choice.
    void restoreListSelection();
    void setSelectedApp(std::optional<std::string> url);
    void updateDetail();
    void updateHeaderIcon();
    // The symbols drawn in the palette's colours, again after a palette change.
    void updateSymbols();
    void updateUninstallBar(const AppRow& row);
    void updateFooter();
    void updateSpinnerTimer();
    void checkRunning();
    void uninstallWith(RemovalMode mode);

    AppList& apps_;
    RemovalQueue& removals_;
    ScreenHeader* header_ = nullptr;
    Refresher* refresher_ = nullptr;
    AppIcons* icons_ = nullptr;
    PathSelection* selection_ = nullptr;

    std::optional<std::string> selectedAppID_;
    bool includeBundle_ = true;
    bool running_ = false;
    // The selected row was not analysed when chosen: its exact leftovers are
    // ticked once they are known, as they would have been at selection.
    bool defaultsPending_ = false;
    bool restoring_ = false;
    // The switch changed while a load ran (which ignores a second call):
    // load again once it ends, so the list matches the switch.
    bool reloadWhenIdle_ = false;

    // Toolbar and list pane.
    QCheckBox* includeSystem_ = nullptr;
    QPushButton* rescan_ = nullptr;
    QSplitter* split_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QAction* filterIcon_ = nullptr;
    QLabel* noneIcon_ = nullptr;
    QWidget* progressRow_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QListView* list_ = nullptr;
    AppListModel* listModel_ = nullptr;
    AppFilterProxy* proxy_ = nullptr;
    AppRowDelegate* delegate_ = nullptr;
    QLabel* footerCount_ = nullptr;
    NumberLabel* footerTotal_ = nullptr;
    QTimer* spinnerTimer_ = nullptr;

    // Detail pane.
    QStackedWidget* detail_ = nullptr;
    QLabel* emptyIcon_ = nullptr;
    QLabel* icon_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* version_ = nullptr;
    QWidget* storeBadge_ = nullptr;
    QWidget* runningBadge_ = nullptr;
    SecondaryLabel* lastOpened_ = nullptr;
    QLabel* total_ = nullptr;
    SecondaryLabel* breakdown_ = nullptr;
    QStackedWidget* leftoverState_ = nullptr;
    LeftoverGroup* exactGroup_ = nullptr;
    LeftoverGroup* likelyGroup_ = nullptr;
    SecondaryLabel* notice_ = nullptr;
    // A distribution package's way out: its page in the software centre, or
    // the command that removes it when nothing opens that page.
    QWidget* packageRow_ = nullptr;
    QPushButton* openSoftware_ = nullptr;
    QLabel* removeCommand_ = nullptr;
    QPushButton* copyCommand_ = nullptr;
    bool softwareFailed_ = false; // opening the software centre failed: show the command
    QCheckBox* bundleSwitch_ = nullptr;
    NumberLabel* freed_ = nullptr;
    QPushButton* uninstall_ = nullptr;
    QPointer<QMessageBox> confirmation_;
};

} // namespace vessora
