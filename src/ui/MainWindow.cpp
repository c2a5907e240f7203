#include "ui/MainWindow.h"

#include "model/CorvaneModel.h"
#include "support/Fmt.h"
#include "ui/OverviewView.h"
#include "removal/RemovalLog.h"
#include "ui/ResultAlert.h"
#include "ui/apps/AppsView.h"
#include "ui/browse/BrowseView.h"
#include "ui/category/CategoryDetailView.h"
#include "ui/cleanup/CleanupView.h"
#include "ui/SidebarModel.h"
#include "ui/UpdateDialog.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"
#include "ui/kit/Workspace.h"
#include "update/Updater.h"

#include <algorithm>

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace vessora {

namespace {
const QString fullDiskAccessUrl =
    QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
}

MainWindow::MainWindow(CorvaneModel& model, Updater& updater, QWidget* parent)
    : QMainWindow(parent), model_(model), updater_(updater) {
    setObjectName(QStringLiteral("mainWindow"));
    setMinimumSize(1000, 640);
    resize(1180, 760);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("window.split"));
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(1);
    QWidget* sidebar = buildSidebar();
    splitter->addWidget(sidebar);

    stack_ = new QStackedWidget(splitter);
    stack_->setObjectName(QStringLiteral("window.detail"));
    splitter->addWidget(stack_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    // Wide enough for the longest section title beside a size ("Other users
    // & shared  12.35 GB"), within the sidebar's bounds.
    const int sidebarWidth = std::clamp(SidebarDelegate::widthFor(sidebar_), 215, 260);
    splitter->setSizes({sidebarWidth, 1180 - sidebarWidth});
    setCentralWidget(splitter);

    // Each page is handed the stores it shows. The category page is given
    // every category section except "applications", through showSection,
    // before it is shown.
    CorvaneModel& m = model_;
    addPage(QStringLiteral("overview"), new OverviewView(m.volumes(), m.categories(), m.removals(), stack_));
    addPage(QStringLiteral("browse"), new BrowseView(m.scan(), m.history(), m.removals(), stack_));
    addPage(QStringLiteral("cleanup"), new CleanupView(m.cleanup(), m.removals(), stack_));
    addPage(QStringLiteral("apps"), new AppsView(m.apps(), m.removals(), stack_));
    addPage(
        QStringLiteral("category"),
        new CategoryDetailView({m.categories(), m.cleanup(), m.volumes(), m.backup(), m.removals(), m.scan()}, stack_));
    auto* unknown = new PlaceholderView(QStringLiteral("Unknown category"), QStringLiteral("questionmark.folder"),
                                        QStringLiteral("Unknown category"), stack_);
    unknown->setObjectName(QStringLiteral("unknown.placeholder"));
    addPage(QStringLiteral("unknown"), unknown);

    buildMenus();

    connect(&m.volumes(), &VolumesStore::hasFullDiskAccessChanged, this, &MainWindow::updateFooter);
    connect(&m.removals(), &RemovalQueue::totalsChanged, this, &MainWindow::updateFooter);
    connect(&m.removals(), &RemovalQueue::lastResultChanged, this, &MainWindow::onLastResultChanged);
    connect(&m.removals(), &RemovalQueue::busyChanged, this, &MainWindow::updateFooter);
    connect(&m.removals(), &RemovalQueue::putBackFinished, this, &MainWindow::showPutBack);
    connect(&updater_, &Updater::stateChanged, this, [this](const UpdateState& state) {
        if (state.kind() == UpdateState::Kind::available) showUpdateSheet();
    });
    connect(&updater_, &Updater::quittingForUpdate, this, &QWidget::close);

    updateFooter();
    selectSection(Section::overview());
}

MainWindow::~MainWindow() = default;

UpdateDialog* MainWindow::updateSheet() const { return updateSheet_; }
QMessageBox* MainWindow::resultAlert() const { return resultAlert_; }

void MainWindow::buildMenus() {
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    rescanAction_ = view->addAction(QStringLiteral("Rescan"));
    rescanAction_->setObjectName(QStringLiteral("window.rescan"));
    // Ctrl+R (Cmd+R on macOS); QKeySequence::Refresh would be F5 here.
    rescanAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    rescanAction_->setShortcutContext(Qt::ApplicationShortcut);
    connect(rescanAction_, &QAction::triggered, this, [this] { model_.scan().start(); });
    // Ctrl+1 to Ctrl+3 reach the first three sections from the keyboard.
    view->addSeparator();
    const std::pair<QString, Section> sections[] = {{QStringLiteral("Overview"), Section::overview()},
                                                    {QStringLiteral("Browse"), Section::browse()},
                                                    {QStringLiteral("Cleanup"), Section::cleanup()}};
    int key = Qt::Key_1;
    for (const auto& [title, section] : sections) {
        QAction* go = view->addAction(title);
        go->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(key++)));
        go->setShortcutContext(Qt::ApplicationShortcut);
        connect(go, &QAction::triggered, this, [this, section] { selectSection(section); });
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    checkForUpdatesAction_ = help->addAction(QStringLiteral("Check for Updates\u2026"));
    checkForUpdatesAction_->setObjectName(QStringLiteral("window.checkForUpdates"));
    checkForUpdatesAction_->setMenuRole(QAction::ApplicationSpecificRole);
    connect(checkForUpdatesAction_, &QAction::triggered, this, [this] {
        updater_.check(false);
        showUpdateSheet();
    });
    QAction* about = help->addAction(QStringLiteral("About Vessora"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        auto* box = new QMessageBox(
            QMessageBox::Information, QStringLiteral("About Vessora"),
            QStringLiteral("Vessora %1 (build %2)").arg(updater_.currentVersion()).arg(updater_.currentBuild()),
            QMessageBox::Ok, this);
        box->setInformativeText(
            QStringLiteral("Shows where the space on your disk goes and helps you take it back safely."));
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
}

QWidget* MainWindow::buildSidebar() {
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("window.sidebarColumn"));
    column->setMinimumWidth(190);
    column->setMaximumWidth(260);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sidebarModel_ = new SidebarModel(model_.categories(), this);
    sidebar_ = new QTreeView(column);
    sidebar_->setObjectName(QStringLiteral("window.sidebar"));
    sidebar_->setAccessibleName(QStringLiteral("Sections"));
    sidebar_->setModel(sidebarModel_);
    sidebar_->setItemDelegate(new SidebarDelegate(sidebar_));
    sidebar_->setHeaderHidden(true);
    sidebar_->setRootIsDecorated(false);
    sidebar_->setIndentation(0);
    sidebar_->setUniformRowHeights(false);
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setSelectionMode(QAbstractItemView::SingleSelection);
    sidebar_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sidebar_->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(sidebar_, 1);
    connect(sidebar_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
        if (auto section = sidebarModel_->sectionAt(current); section && !(*section == section_))
            selectSection(*section);
    });
    // A row selected without moving the current one (an assistive tool's
    // select action) opens its section too.
    connect(sidebar_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                if (selected.indexes().size() != 1) return;
                if (auto section = sidebarModel_->sectionAt(selected.indexes().front());
                    section && !(*section == section_))
                    selectSection(*section);
            });

    footer_ = new QWidget(column);
    footer_->setObjectName(QStringLiteral("window.footer"));
    auto* footerLayout = new QVBoxLayout(footer_);
    footerLayout->setContentsMargins(12, 8, 12, 10);
    footerLayout->setSpacing(8);
    accessButton_ = new LinkButton(QStringLiteral("Grant Full Disk Access"), footer_);
    accessButton_->setObjectName(QStringLiteral("window.grantAccess"));
    accessButton_->setSymbol(QStringLiteral("lock.shield"));
    accessButton_->setFont(Fonts::callout());
    connect(accessButton_, &QPushButton::clicked, this, [] { Workspace::instance().openUrl(QUrl(fullDiskAccessUrl)); });
    accessNote_ =
        new SecondaryLabel(QStringLiteral("Without it, containers, Mail and Messages read as empty."), footer_);
    accessNote_->setFont(Fonts::caption2());
    accessNote_->setWordWrap(true);
    reclaimed_ = new QWidget(footer_);
    reclaimed_->setObjectName(QStringLiteral("window.reclaimed"));
    auto* reclaimedLayout = new QHBoxLayout(reclaimed_);
    reclaimedLayout->setContentsMargins(0, 0, 0, 0);
    reclaimedLayout->setSpacing(6);
    reclaimedIcon_ = new QLabel(reclaimed_);
    reclaimedLabel_ = new SecondaryLabel({}, reclaimed_);
    reclaimedLabel_->setTone(SecondaryLabel::Tone::green);
    reclaimedLabel_->setFont(Fonts::callout());
    reclaimedLayout->addWidget(reclaimedIcon_);
    reclaimedLayout->addWidget(reclaimedLabel_, 1);
    // While removals run: a spinner and how many items they take away.
    removing_ = new QWidget(footer_);
    removing_->setObjectName(QStringLiteral("window.removing"));
    auto* removingLayout = new QHBoxLayout(removing_);
    removingLayout->setContentsMargins(0, 0, 0, 0);
    removingLayout->setSpacing(6);
    removingLayout->addWidget(new Spinner(14, removing_));
    removingLabel_ = new SecondaryLabel({}, removing_);
    removingLabel_->setObjectName(QStringLiteral("window.removingText"));
    removingLabel_->setFont(Fonts::callout());
    removingLayout->addWidget(removingLabel_, 1);
    footerLayout->addWidget(accessButton_, 0, Qt::AlignLeft);
    footerLayout->addWidget(accessNote_);
    footerLayout->addWidget(removing_);
    // Kept apart from "Reclaimed": a move to the Trash frees nothing yet.
    movedToTrashLabel_ = new SecondaryLabel({}, footer_);
    movedToTrashLabel_->setObjectName(QStringLiteral("window.movedToTrash"));
    movedToTrashLabel_->setFont(Fonts::caption());
    footerLayout->addWidget(reclaimed_);
    footerLayout->addWidget(movedToTrashLabel_);
    layout->addWidget(footer_);
    return column;
}

void MainWindow::addPage(const QString& key, SectionView* page) {
    pages_[key] = page;
    stack_->addWidget(page);
    connect(page, &SectionView::sectionRequested, this, &MainWindow::selectSection);
    if (ScreenHeader* header = page->header())
        connect(header, &ScreenHeader::titleChanged, this, &MainWindow::updateWindowTitle);
}

SectionView* MainWindow::pageFor(const Section& section) const {
    switch (section.kind) {
    case Section::Kind::overview: return pages_.at(QStringLiteral("overview"));
    case Section::Kind::browse: return pages_.at(QStringLiteral("browse"));
    case Section::Kind::cleanup: return pages_.at(QStringLiteral("cleanup"));
    case Section::Kind::category:
        if (section.categoryId == "applications") return pages_.at(QStringLiteral("apps"));
        if (model_.categories().find(section.categoryId)) return pages_.at(QStringLiteral("category"));
        return pages_.at(QStringLiteral("unknown"));
    }
    return pages_.at(QStringLiteral("unknown"));
}

SectionView* MainWindow::currentPage() const { return static_cast<SectionView*>(stack_->currentWidget()); }

void MainWindow::selectSection(const Section& section) {
    section_ = section;
    SectionView* page = pageFor(section);
    page->showSection(section);
    stack_->setCurrentWidget(page);
    const QModelIndex row = sidebarModel_->indexOf(section);
    QItemSelectionModel* selection = sidebar_->selectionModel();
    if (row.isValid() && (selection->currentIndex() != row || !selection->isSelected(row)))
        selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    else if (!row.isValid())
        selection->clearSelection();
    updateWindowTitle();
    emit sectionChanged(section_);
}

void MainWindow::updateWindowTitle() {
    SectionView* page = currentPage();
    const QString title = page && page->header() ? page->header()->title() : section_.title();
    setWindowTitle(title + QStringLiteral(" \u2014 Vessora"));
}

void MainWindow::updateFooter() {
    const bool showAccess = !model_.volumes().hasFullDiskAccess();
    accessButton_->setVisible(showAccess);
    accessNote_->setVisible(showAccess);
    const int64_t freed = model_.removals().totalFreedThisSession();
    reclaimed_->setVisible(freed >= 1);
    if (freed >= 1) {
        reclaimedLabel_->setText(QStringLiteral("Reclaimed ") + Text::fromUtf8(Fmt::bytes(freed)));
        const int size = reclaimedLabel_->fontMetrics().height();
        reclaimedIcon_->setPixmap(
            Symbols::pixmap(QStringLiteral("arrow.down.circle"), size, Colors::green(palette()), devicePixelRatioF()));
    }
    const size_t removing = model_.removals().removingCount();
    removing_->setVisible(removing > 0);
    if (removing > 0)
        removingLabel_->setText(
            QStringLiteral("Removing %1\u2026").arg(Text::fromUtf8(Fmt::counted(int64_t(removing), "item"))));
    const int64_t moved = model_.removals().totalMovedToTrashThisSession();
    movedToTrashLabel_->setVisible(moved >= 1);
    if (moved >= 1) movedToTrashLabel_->setText(QStringLiteral("Moved to Trash ") + Text::fromUtf8(Fmt::bytes(moved)));
    footer_->setVisible(showAccess || freed >= 1 || moved >= 1 || removing > 0);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Should no paint ever arrive (a window mapped minimised), start anyway.
    if (!started_) QTimer::singleShot(1000, this, &MainWindow::startUp);
}

bool MainWindow::event(QEvent* event) {
    const bool result = QMainWindow::event(event);
    // Start-up work waits for the first frame: queued from the first paint,
    // it runs once the whole window has been drawn, so the first frame never
    // competes with the measurement for the main thread.
    if (event->type() == QEvent::Paint && !started_) QTimer::singleShot(0, this, &MainWindow::startUp);
    return result;
}

void MainWindow::startUp() {
    if (started_) return;
    started_ = true;
    updater_.check(true);
    if (!model_.categories().lastMeasured()) model_.categories().measure();
    emit started();
}

void MainWindow::showUpdateSheet() {
    if (!updateSheet_) {
        updateSheet_ = new UpdateDialog(updater_, this);
        updateSheet_->setAttribute(Qt::WA_DeleteOnClose);
    }
    if (!updateSheet_->isVisible()) updateSheet_->open();
    updateSheet_->raise();
}

void MainWindow::onLastResultChanged() {
    const uint64_t generation = ++resultGeneration_;
    const auto& result = model_.removals().lastResult();
    if (!result || !resultAlertContent(*result)) return;
    // A new result never closes an alert the user has not answered yet (it
    // may offer to authenticate or to put back): it waits its turn.
    pendingResults_.push_back({*result, generation});
    if (!resultAlert_) showNextResult();
}

void MainWindow::showNextResult() {
    if (resultAlert_ || pendingResults_.empty()) return;
    const RemovalResult shown = std::move(pendingResults_.front().first);
    const uint64_t generation = pendingResults_.front().second;
    pendingResults_.pop_front();
    const RemovalResult* result = &shown;
    const auto content = resultAlertContent(*result);
    if (!content) return showNextResult();

    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("window.resultAlert"));
    box->setIcon(content->buttons == ResultAlertContent::Buttons::ok && result->failed.empty()
                     ? QMessageBox::Information
                     : QMessageBox::Warning);
    box->setWindowTitle(content->title);
    box->setText(content->title);
    box->setInformativeText(content->message());
    // After both texts: a file name like "<b>a&b" is shown as it is.
    box->setTextFormat(Qt::PlainText);
    QPushButton* authenticate = nullptr;
    if (content->buttons == ResultAlertContent::Buttons::authenticateOrSkip) {
        authenticate = box->addButton(QStringLiteral("Authenticate and remove"), QMessageBox::AcceptRole);
        QPushButton* skip = box->addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
        box->setDefaultButton(authenticate);
        box->setEscapeButton(skip);
    } else {
        QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    // A removal to the Trash can be undone from its own alert.
    QPushButton* putBack = nullptr;
    if (RemovalLog::isLastBatch(*result)) putBack = box->addButton(QStringLiteral("Put Back"), QMessageBox::ActionRole);
    const std::vector<std::string> needsAdmin = result->needsAdmin;
    connect(box, &QMessageBox::finished, this, [this, box, authenticate, putBack, needsAdmin, generation, shown] {
        const bool escalate = authenticate && box->clickedButton() == authenticate;
        const bool restore = putBack && box->clickedButton() == putBack;
        if (resultAlert_ == box) resultAlert_ = nullptr;
        box->deleteLater();
        // Only this alert's own result is cleared; a newer one keeps its alert.
        if (generation == resultGeneration_) model_.removals().setLastResult(std::nullopt);
        // The escalation publishes a result of its own; it runs after this
        // alert is gone so that dismissing this one cannot wipe that one.
        if (escalate)
            QTimer::singleShot(0, &model_.removals(),
                               [removals = &model_.removals(), needsAdmin] { removals->escalate(needsAdmin); });
        if (restore) model_.removals().putBack(shown);
        // The next waiting result, once this box has gone.
        QTimer::singleShot(0, this, &MainWindow::showNextResult);
    });
    resultAlert_ = box;
    box->open();
}

void MainWindow::showPutBack(const TrashRestore::Outcome& outcome) {
    QStringList lines;
    for (const std::string& line : RemovalLog::describe(outcome)) lines << QString::fromStdString(line);
    auto* box = new QMessageBox(this);
    box->setObjectName(QStringLiteral("window.putBackAlert"));
    box->setIcon(outcome.refused.empty() ? QMessageBox::Information : QMessageBox::Warning);
    box->setText(lines.takeFirst());
    box->setInformativeText(lines.join(QLatin1Char('\n')));
    box->setTextFormat(Qt::PlainText);
    box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace vessora
