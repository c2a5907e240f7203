#pragma once
// The one window: a sidebar of sections with a footer, and a stack of pages
// that live for the whole run. It also reports every removal result in an
// alert and presents the update sheet.

#include "platform/TrashRestore.h"
#include "removal/Remover.h"
#include "ui/Section.h"
#include "ui/SectionView.h"

#include <QMainWindow>
#include <QPointer>

#include <deque>
#include <map>
#include <utility>

class QAction;
class QLabel;
class QMessageBox;
class QStackedWidget;
class QTreeView;

namespace vessora {

class CorvaneModel;
class LinkButton;
class SecondaryLabel;
class SidebarModel;
class Updater;
class UpdateDialog;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(CorvaneModel& model, Updater& updater, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows `section`'s page and selects its sidebar row.
    void selectSection(const Section& section);
    const Section& currentSection() const { return section_; }
    SectionView* currentPage() const;

    // The update sheet, opened (window-modal) when not open yet.
    void showUpdateSheet();
    UpdateDialog* updateSheet() const;
    // The open result alert, if any.
    QMessageBox* resultAlert() const;

    QAction* rescanAction() const { return rescanAction_; }
    QAction* checkForUpdatesAction() const { return checkForUpdatesAction_; }
    QTreeView* sidebar() const { return sidebar_; }

signals:
    void sectionChanged(const vessora::Section& section);
    // After the start-up work (update check, first measurement) was started.
    void started();

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void startUp();
    void buildMenus();
    QWidget* buildSidebar();
    void addPage(const QString& key, SectionView* page);
    SectionView* pageFor(const Section& section) const;
    void updateFooter();
    void updateWindowTitle();
    void onLastResultChanged();
    // Shows the oldest waiting result, when no result alert is open.
    void showNextResult();
    // Says what a Put Back brought back.
    void showPutBack(const TrashRestore::Outcome& outcome);

    CorvaneModel& model_;
    Updater& updater_;
    Section section_;
    bool started_ = false;

    SidebarModel* sidebarModel_;
    QTreeView* sidebar_;
    QWidget* footer_;
    LinkButton* accessButton_;
    SecondaryLabel* accessNote_;
    QWidget* removing_;
    SecondaryLabel* removingLabel_;
    QWidget* reclaimed_;
    QLabel* reclaimedIcon_;
    SecondaryLabel* reclaimedLabel_;
    SecondaryLabel* movedToTrashLabel_;
    QStackedWidget* stack_;
    std::map<QString, SectionView*> pages_;

    QAction* rescanAction_ = nullptr;
    QAction* checkForUpdatesAction_ = nullptr;
    QPointer<UpdateDialog> updateSheet_;
    QPointer<QMessageBox> resultAlert_;
    // Counts published results, so an alert clears only its own result and
    // two equal results each get an alert.
    uint64_t resultGeneration_ = 0;
    // Results waiting for the open alert to be answered, with their generation.
    std::deque<std::pair<RemovalResult, uint64_t>> pendingResults_;
};

} // namespace vessora
