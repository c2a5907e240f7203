#include "ui/apps/AppsView.h"

#include "model/Removals.h"
#include "platform/PlatformTables.h"
#include "support/Fmt.h"
#include "ui/apps/AppFilter.h"
#include "ui/apps/AppIcons.h"
#include "ui/apps/AppList.h"
#include "ui/apps/AppsTexts.h"
#include "ui/apps/LeftoverList.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/ProminentButton.h"
#include "ui/kit/Refresher.h"
#include "ui/kit/RemovalConfirmation.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"
#include "ui/kit/Workspace.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace vessora {

namespace {

QLabel* plainLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

QString likelyNote() {
    const bool mac = PlatformTables::current().set == TableSet::macos;
    return QStringLiteral(
               "Matched on name only, so check these before removing. Another app or %1 itself may own them.")
        .arg(mac ? QStringLiteral("macOS") : QStringLiteral("the system"));
}

// A capsule with a symbol and a word ("App Store", "Running").
class Badge : public QWidget {
public:
    Badge(const QString& symbol, const QString& text, bool accent, QWidget* parent)
        : QWidget(parent), symbol_(symbol), text_(text), accent_(accent) {
        setFont(Fonts::caption2());
        setAccessibleName(text);
    }
    void setText(const QString& text) {
        text_ = text;
        setAccessibleName(text);
        updateGeometry();
        update();
    }
    const QString& text() const { return text_; }
    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text_) + metrics.height() + 16, metrics.height() + 6};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor tint = accent_ ? Colors::green(palette()) : Colors::accent(palette());
        painter.setPen(Qt::NoPen);
        painter.setBrush(Colors::withAlpha(tint, 0.16));
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        const int glyph = QFontMetrics(font()).height() - 2;
        painter.drawPixmap(QRect(7, (height() - glyph) / 2, glyph, glyph),
                           Symbols::pixmap(symbol_, glyph, tint, devicePixelRatioF()));
        painter.setPen(
            Colors::readable(tint, Colors::over(Colors::withAlpha(tint, 0.16), Colors::closestBackground(palette()))));
        painter.setFont(font());
        painter.drawText(rect().adjusted(glyph + 10, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextDontClip,
                         text_);
    }

private:
    QString symbol_;
    QString text_;
    bool accent_;
};

// The uninstall bar's backdrop: the bar material with a hairline on top.
class BarFrame : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Colors::barMaterial(palette()));
        painter.fillRect(QRect(0, 0, width(), 1), Colors::separator(palette()));
    }
};

} // namespace

AppsView::AppsView(AppList& apps, RemovalQueue& removals, QWidget* parent)
    : SectionView(parent), apps_(apps), removals_(removals) {
    setObjectName(QStringLiteral("apps.page"));
    icons_ = new AppIcons(this);
    selection_ = new PathSelection(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new ScreenHeader(QStringLiteral("Applications"), this);
    includeSystem_ = new QCheckBox(Text::fromUtf8(PlatformTables::current().words.includeSystemApps), header_);
    includeSystem_->setObjectName(QStringLiteral("apps.includeSystem"));
    header_->addAction(includeSystem_);
    rescan_ = new QPushButton(QStringLiteral("Rescan"), header_);
    rescan_->setObjectName(QStringLiteral("apps.rescan"));
    Symbols::attach(rescan_, QStringLiteral("arrow.clockwise"));
    header_->addAction(rescan_);
    layout->addWidget(header_);

    split_ = new QSplitter(Qt::Horizontal, this);
    split_->setObjectName(QStringLiteral("apps.split"));
    split_->setChildrenCollapsible(false);
    split_->addWidget(buildListPane());
    split_->addWidget(buildDetailPane());
    split_->setStretchFactor(0, 2);
    split_->setStretchFactor(1, 3);
    layout->addWidget(split_, 1);

    refresher_ = new Refresher(this, [this] { refresh(); });
    for (auto signal : {&MeasuredListSignals::itemsChanged, &MeasuredListSignals::measuringChanged,
                        &MeasuredListSignals::progressChanged})
        connect(&apps_, signal, refresher_, &Refresher::schedule);
    connect(&apps_, &AppList::includeSystemAppsChanged, refresher_, &Refresher::schedule);
    connect(&removals_, &RemovalQueue::busyChanged, refresher_, &Refresher::schedule);

    // toggled, not clicked: an assistive tool's Toggle action counts too. The
    // page sets both boxes under signal blockers.
    connect(includeSystem_, &QCheckBox::toggled, this, [this](bool on) {
        apps_.setIncludeSystemApps(on);
        if (apps_.isMeasuring())
            reloadWhenIdle_ = true;
        else
            apps_.measure();
    });
    connect(rescan_, &QPushButton::clicked, this, [this] { apps_.measure(); });
    connect(selection_, &PathSelection::changed, this, [this] {
        if (auto row = shownApp()) updateUninstallBar(*row);
    });
    connect(icons_, &AppIcons::ready, this, [this](const QString& url) {
        if (selectedAppID_ && Text::filePath(*selectedAppID_) == url) updateHeaderIcon();
    });
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        filter_->setFocus(Qt::ShortcutFocusReason);
        filter_->selectAll();
    });
    setTabOrder(includeSystem_, rescan_);
    setTabOrder(rescan_, filter_);
    setTabOrder(filter_, list_);
    setTabOrder(list_, exactGroup_->toggleButton());
    setTabOrder(exactGroup_->toggleButton(), exactGroup_->list());
    setTabOrder(exactGroup_->list(), likelyGroup_->toggleButton());
    setTabOrder(likelyGroup_->toggleButton(), likelyGroup_->list());
    setTabOrder(likelyGroup_->list(), bundleSwitch_);
    setTabOrder(bundleSwitch_, uninstall_);
    updateSymbols();
    refresh();
}

AppsView::~AppsView() = default;

void AppsView::updateSymbols() {
    const QPalette p = palette();
    filterIcon_->setIcon(Symbols::icon(QStringLiteral("magnifyingglass"), Colors::secondary(p)));
    noneIcon_->setPixmap(
        Symbols::pixmap(QStringLiteral("checkmark.circle"), 16, Colors::green(p), devicePixelRatioF()));
    emptyIcon_->setPixmap(Symbols::pixmap(QStringLiteral("app.dashed"), 40, Colors::tertiary(p), devicePixelRatioF()));
}

void AppsView::changeEvent(QEvent* event) {
    SectionView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && noneIcon_) updateSymbols();
}

QWidget* AppsView::buildListPane() {
    auto* pane = new QWidget(this);
    pane->setMinimumWidth(380);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(12, 10, 8, 8);
    column->setSpacing(8);

    filter_ = new QLineEdit(pane);
    filter_->setObjectName(QStringLiteral("apps.filter"));
    filter_->setPlaceholderText(QStringLiteral("Filter apps"));
    filter_->setAccessibleName(QStringLiteral("Filter apps"));
    filter_->setClearButtonEnabled(true);
    filterIcon_ = filter_->addAction(QIcon(), QLineEdit::LeadingPosition);
    filterIcon_->setText(QStringLiteral("Filter"));
    // The line edit's own icon buttons are named for assistive tools: the
    // magnifier and the clear button.
    for (QToolButton* button : filter_->findChildren<QToolButton*>()) {
        const bool clear = button->defaultAction() && button->defaultAction() != filterIcon_;
        button->setAccessibleName(clear ? QStringLiteral("Clear filter") : QStringLiteral("Filter"));
        if (!clear) button->setFocusPolicy(Qt::NoFocus);
    }
    column->addWidget(filter_);

    progressRow_ = new QWidget(pane);
    auto* progressLayout = new QVBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(3);
    progress_ = new QProgressBar(progressRow_);
    progress_->setObjectName(QStringLiteral("apps.progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(6);
    progressLabel_ = new SecondaryLabel({}, progressRow_);
    progressLabel_->setObjectName(QStringLiteral("apps.progressLabel"));
    progressLabel_->setFont(Fonts::caption());
    progressLayout->addWidget(progress_);
    progressLayout->addWidget(progressLabel_);
    column->addWidget(progressRow_);

    list_ = new QListView(pane);
    list_->setObjectName(QStringLiteral("apps.list"));
    list_->setAccessibleName(QStringLiteral("Applications"));
    listModel_ = new AppListModel(icons_, list_);
    proxy_ = new AppFilterProxy(list_);
    proxy_->setSourceModel(listModel_);
    list_->setModel(proxy_);
    delegate_ = new AppRowDelegate(list_);
    list_->setItemDelegate(delegate_);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFrameShape(QFrame::StyledPanel);
    column->addWidget(list_, 1);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &AppsView::userSelectionChanged);

    auto* footer = new QHBoxLayout;
    footerCount_ = new SecondaryLabel({}, pane);
    footerCount_->setObjectName(QStringLiteral("apps.footerCount"));
    footerCount_->setFont(Fonts::caption());
    footerTotal_ = new NumberLabel(pane);
    footerTotal_->setObjectName(QStringLiteral("apps.footerTotal"));
    footerTotal_->setFont(Fonts::caption());
    footer->addWidget(footerCount_);
    footer->addStretch(1);
    footer->addWidget(footerTotal_);
    column->addLayout(footer);

    spinnerTimer_ = new QTimer(this);
    spinnerTimer_->setInterval(80);
    connect(spinnerTimer_, &QTimer::timeout, this, [this] {
        delegate_->advance();
        list_->viewport()->update();
    });

    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
        restoring_ = true;
        proxy_->setSearch(text);
        restoreListSelection();
        restoring_ = false;
        updateFooter();
        updateDetail();
    });
    return pane;
}

QWidget* AppsView::buildDetailPane() {
    detail_ = new QStackedWidget(this);
    detail_->setObjectName(QStringLiteral("apps.detail"));
    detail_->setMinimumWidth(380);

    // Nothing selected.
    auto* empty = new QWidget(detail_);
    auto* emptyColumn = new QVBoxLayout(empty);
    emptyColumn->addStretch(1);
    emptyIcon_ = new QLabel(empty);
    emptyIcon_->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(emptyIcon_);
    auto* emptyTitle = plainLabel(QStringLiteral("Select an app"), Fonts::title3(), empty);
    emptyTitle->setAlignment(Qt::AlignCenter);
    emptyColumn->addWidget(emptyTitle);
    auto* emptyNote = new SecondaryLabel(Text::fromUtf8(PlatformTables::current().words.appsEmptyNote), empty);
    emptyNote->setFont(Fonts::callout());
    emptyNote->setAlignment(Qt::AlignCenter);
    emptyNote->setWordWrap(true);
    emptyColumn->addWidget(emptyNote);
    emptyColumn->addStretch(1);
    detail_->addWidget(empty);

    // One app.
    auto* page = new QWidget(detail_);
    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->setContentsMargins(0, 0, 0, 0);
    pageColumn->setSpacing(0);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName(QStringLiteral("apps.detailScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(18, 16, 18, 16);
    column->setSpacing(16);

    auto* head = new QHBoxLayout;
    head->setSpacing(12);
    icon_ = new QLabel(content);
    icon_->setFixedSize(56, 56);
    head->addWidget(icon_, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    name_ = plainLabel({}, Fonts::font(Fonts::Role::title3, QFont::DemiBold), content);
    name_->setObjectName(QStringLiteral("apps.name"));
    name_->setWordWrap(true);
    words->addWidget(name_);
    auto* badges = new QHBoxLayout;
    badges->setSpacing(6);
    version_ = new SecondaryLabel({}, content);
    version_->setObjectName(QStringLiteral("apps.version"));
    version_->setFont(Fonts::callout());
    badges->addWidget(version_);
    storeBadge_ = new Badge(QStringLiteral("bag"), {}, false, content);
    storeBadge_->setObjectName(QStringLiteral("apps.storeBadge"));
    badges->addWidget(storeBadge_);
    runningBadge_ = new Badge(QStringLiteral("play.circle"), QStringLiteral("Running"), true, content);
    runningBadge_->setObjectName(QStringLiteral("apps.runningBadge"));
    badges->addWidget(runningBadge_);
    badges->addStretch(1);
    words->addLayout(badges);
    lastOpened_ = new SecondaryLabel({}, content);
    lastOpened_->setObjectName(QStringLiteral("apps.lastOpened"));
    lastOpened_->setFont(Fonts::caption());
    words->addWidget(lastOpened_);
    head->addLayout(words, 1);
    auto* sizes = new QVBoxLayout;
    sizes->setSpacing(1);
    total_ = plainLabel({}, Fonts::font(Fonts::Role::title3, QFont::Medium), content);
    total_->setObjectName(QStringLiteral("apps.total"));
    total_->setAlignment(Qt::AlignRight);
    sizes->addWidget(total_, 0, Qt::AlignRight);
    auto* caption = new SecondaryLabel(QStringLiteral("total footprint"), content);
    caption->setFont(Fonts::caption());
    sizes->addWidget(caption, 0, Qt::AlignRight);
    breakdown_ = new SecondaryLabel({}, content);
    breakdown_->setObjectName(QStringLiteral("apps.breakdown"));
    breakdown_->setFont(Fonts::caption());
    sizes->addWidget(breakdown_, 0, Qt::AlignRight);
    head->addLayout(sizes);
    column->addLayout(head);

    leftoverState_ = new QStackedWidget(content);
    leftoverState_->setObjectName(QStringLiteral("apps.leftoverState"));
    auto* measuring = new QWidget(leftoverState_);
    auto* measuringRow = new QHBoxLayout(measuring);
    measuringRow->setContentsMargins(0, 0, 0, 0);
    measuringRow->addWidget(new Spinner(14, measuring));
    measuringRow->addWidget(new SecondaryLabel(QStringLiteral("Measuring..."), measuring));
    measuringRow->addStretch(1);
    leftoverState_->addWidget(measuring);
    auto* none = new QWidget(leftoverState_);
    auto* noneRow = new QHBoxLayout(none);
    noneRow->setContentsMargins(0, 0, 0, 0);
    noneIcon_ = new QLabel(none);
    noneRow->addWidget(noneIcon_);
    noneRow->addWidget(new SecondaryLabel(Text::fromUtf8(PlatformTables::current().words.noLeftovers), none));
    noneRow->addStretch(1);
    leftoverState_->addWidget(none);
    auto* groups = new QWidget(leftoverState_);
    auto* groupColumn = new QVBoxLayout(groups);
    groupColumn->setContentsMargins(0, 0, 0, 0);
    groupColumn->setSpacing(18);
    exactGroup_ = new LeftoverGroup(QStringLiteral("Definitely this app"),
                                    Text::fromUtf8(PlatformTables::current().words.exactMatchNote), selection_, groups);
    exactGroup_->setObjectName(QStringLiteral("apps.exactGroup"));
    likelyGroup_ = new LeftoverGroup(QStringLiteral("Possibly this app"), likelyNote(), selection_, groups);
    likelyGroup_->setObjectName(QStringLiteral("apps.likelyGroup"));
    for (LeftoverGroup* group : {exactGroup_, likelyGroup_})
        group->setBusy([this](const std::string& url) { return removals_.isBeingRemoved(url); });
    groupColumn->addWidget(exactGroup_);
    groupColumn->addWidget(likelyGroup_);
    leftoverState_->addWidget(groups);
    column->addWidget(leftoverState_);
    column->addStretch(1);
    scroll->setWidget(content);
    pageColumn->addWidget(scroll, 1);
    pageColumn->addWidget(buildUninstallBar(page));
    detail_->addWidget(page);
    return detail_;
}

QWidget* AppsView::buildUninstallBar(QWidget* parent) {
    auto* bar = new BarFrame(parent);
    bar->setObjectName(QStringLiteral("apps.uninstallBar"));
    auto* column = new QVBoxLayout(bar);
    column->setContentsMargins(18, 10, 18, 10);
    column->setSpacing(6);
    notice_ = new SecondaryLabel({}, bar);
    notice_->setObjectName(QStringLiteral("apps.notice"));
    notice_->setFont(Fonts::caption());
    notice_->setWordWrap(true);
    column->addWidget(notice_);
    packageRow_ = new QWidget(bar);
    packageRow_->setObjectName(QStringLiteral("apps.packageRow"));
    auto* packageLayout = new QHBoxLayout(packageRow_);
    packageLayout->setContentsMargins(0, 0, 0, 0);
    packageLayout->setSpacing(8);
    auto* openSoftware = new LinkButton(QStringLiteral("Open in Software"), packageRow_);
    openSoftware->setObjectName(QStringLiteral("apps.openSoftware"));
    openSoftware->setSymbol(QStringLiteral("bag"));
    openSoftware_ = openSoftware;
    packageLayout->addWidget(openSoftware_);
    removeCommand_ = new QLabel(packageRow_);
    removeCommand_->setObjectName(QStringLiteral("apps.removeCommand"));
    removeCommand_->setTextFormat(Qt::PlainText);
    removeCommand_->setFont(Fonts::monospaced());
    removeCommand_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    removeCommand_->setFocusPolicy(Qt::StrongFocus);
    packageLayout->addWidget(removeCommand_);
    copyCommand_ = new LinkButton(QStringLiteral("Copy"), packageRow_);
    copyCommand_->setObjectName(QStringLiteral("apps.copyCommand"));
    copyCommand_->setAccessibleName(QStringLiteral("Copy the command"));
    packageLayout->addWidget(copyCommand_);
    packageLayout->addStretch(1);
    column->addWidget(packageRow_);
    connect(openSoftware_, &QPushButton::clicked, this, [this] {
        const auto row = shownApp();
        const auto url = row ? AppsTexts::softwareUrl(row->app) : std::nullopt;
        if (!url) return;
        if (!Workspace::instance().openUrl(QUrl(Text::fromUtf8(*url)))) {
            // Nothing opened it after all: the command is the way out.
            softwareFailed_ = true;
            updateUninstallBar(*row);
        }
    });
    connect(copyCommand_, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(removeCommand_->text()); });
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    bundleSwitch_ = new QCheckBox(QStringLiteral("Remove the app itself"), bar);
    bundleSwitch_->setObjectName(QStringLiteral("apps.includeBundle"));
    row->addWidget(bundleSwitch_);
    row->addStretch(1);
    auto* freedColumn = new QVBoxLayout;
    freedColumn->setSpacing(0);
    freed_ = new NumberLabel(bar);
    freed_->setObjectName(QStringLiteral("apps.freed"));
    freed_->setSecondary(false);
    freed_->setFont(Fonts::headline());
    freedColumn->addWidget(freed_, 0, Qt::AlignRight);
    auto* freedCaption = new SecondaryLabel(QStringLiteral("will be freed"), bar);
    freedCaption->setFont(Fonts::caption2());
    freedColumn->addWidget(freedCaption, 0, Qt::AlignRight);
    row->addLayout(freedColumn);
    uninstall_ = new ProminentButton(QStringLiteral("Uninstall"), ProminentButton::Kind::accent, bar);
    uninstall_->setObjectName(QStringLiteral("apps.uninstall"));
    row->addWidget(uninstall_);
    column->addLayout(row);

    connect(bundleSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        includeBundle_ = on;
        if (auto row = shownApp()) updateUninstallBar(*row);
    });
    connect(uninstall_, &QPushButton::clicked, this, [this] {
        if (QMessageBox* box = buildConfirmation()) box->open();
    });
    return bar;
}

std::optional<AppRow> AppsView::shownApp() const {
    if (!selectedAppID_) return std::nullopt;
    const int row = listModel_->rowOf(*selectedAppID_);
    if (row < 0 || !proxy_->mapFromSource(listModel_->index(row)).isValid()) return std::nullopt;
    return listModel_->rows()[size_t(row)];
}

bool AppsView::selectApp(const std::string& url) {
    const int row = listModel_->rowOf(url);
    const QModelIndex index = row < 0 ? QModelIndex() : proxy_->mapFromSource(listModel_->index(row));
    if (!index.isValid()) return false;
    list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    list_->scrollTo(index);
    return true;
}

void AppsView::userSelectionChanged() {
    if (restoring_) return;
    const QModelIndexList picked = list_->selectionModel()->selectedIndexes();
    if (picked.isEmpty()) {
        setSelectedApp(std::nullopt);
        return;
    }
    setSelectedApp(picked.front().data(AppListModel::UrlRole).toByteArray().toStdString());
}

void AppsView::setSelectedApp(std::optional<std::string> url) {
    if (url == selectedAppID_) return;
    selectedAppID_ = std::move(url);
    // A new selection starts from the sure matches, with the app itself.
    std::set<std::string> ticked;
    defaultsPending_ = false;
    if (selectedAppID_) {
        const int row = listModel_->rowOf(*selectedAppID_);
        if (row >= 0) {
            const AppRow& app = listModel_->rows()[size_t(row)];
            for (const auto& item : app.exactLeftovers()) ticked.insert(item.url);
            defaultsPending_ = !app.analyzed;
        }
    }
    includeBundle_ = true;
    softwareFailed_ = false;
    selection_->assign(std::move(ticked));
    checkRunning();
    updateDetail();
}

void AppsView::restoreListSelection() {
    const int row = selectedAppID_ ? listModel_->rowOf(*selectedAppID_) : -1;
    const QModelIndex index = row < 0 ? QModelIndex() : proxy_->mapFromSource(listModel_->index(row));
    QItemSelectionModel* selection = list_->selectionModel();
    if (index.isValid()) {
        // Re-selected after a reset or a filter change: bring it into view too.
        if (!selection->isSelected(index)) {
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
            list_->scrollTo(index);
        }
    } else if (selection->hasSelection()) {
        selection->clear();
    }
}

void AppsView::checkRunning() {
    running_ = false;
    const auto row = selectedAppID_ ? listModel_->rowOf(*selectedAppID_) : -1;
    if (row < 0) return;
    const auto& id = listModel_->rows()[size_t(row)].app.bundleID;
    running_ = id && !id->empty() && Workspace::instance().isRunning(*id);
}

void AppsView::refresh() {
    if (reloadWhenIdle_ && !apps_.isMeasuring()) {
        reloadWhenIdle_ = false;
        apps_.measure();
    }
    const auto& apps = apps_.items();
    restoring_ = true;
    listModel_->setRows(apps);
    // An app that is gone (uninstalled, or no longer listed) is no longer selected.
    if (selectedAppID_ && listModel_->rowOf(*selectedAppID_) < 0) {
        selectedAppID_.reset();
        defaultsPending_ = false;
        selection_->assign({});
    }
    restoreListSelection();
    restoring_ = false;

    if (defaultsPending_ && selectedAppID_) {
        const AppRow& row = listModel_->rows()[size_t(listModel_->rowOf(*selectedAppID_))];
        if (row.analyzed) {
            defaultsPending_ = false;
            std::set<std::string> ticked;
            for (const auto& item : row.exactLeftovers()) ticked.insert(item.url);
            selection_->assign(std::move(ticked));
        }
    }

    {
        const QSignalBlocker blocker(includeSystem_);
        includeSystem_->setChecked(apps_.includeSystemApps());
    }
    const bool loading = apps_.isMeasuring();
    progressRow_->setVisible(loading);
    progress_->setValue(int(apps_.progress() * 1000));
    progressLabel_->setText(Text::fromUtf8("Measuring " + Fmt::counted(int64_t(apps.size()), "app")));
    updateFooter();
    updateSpinnerTimer();
    updateDetail();
}

void AppsView::updateFooter() {
    int64_t total = 0;
    const int shown = proxy_->rowCount();
    for (int i = 0; i < shown; ++i) {
        const int row = proxy_->mapToSource(proxy_->index(i, 0)).row();
        total += listModel_->rows()[size_t(row)].totalSize();
    }
    footerCount_->setText(Text::fromUtf8(Fmt::counted(shown, "app")));
    footerTotal_->setText(Text::fromUtf8(Fmt::bytes(total)));
}

void AppsView::updateSpinnerTimer() {
    const bool spin = isVisible() && !Spinner::isFrozen() && listModel_->anyUnanalysed();
    if (spin && !spinnerTimer_->isActive()) spinnerTimer_->start();
    if (!spin) spinnerTimer_->stop();
}

void AppsView::updateHeaderIcon() {
    const auto row = shownApp();
    if (!row) return;
    const QIcon own = icons_->icon(row->app);
    // The generic symbol is drawn at the size asked for; a tinted icon would stay at its own smaller size.
    icon_->setPixmap(icons_->hasOwnIcon(row->app) ? own.pixmap(QSize(56, 56), devicePixelRatioF())
                                                  : Symbols::pixmap(QStringLiteral("app.fill"), 48,
                                                                    Colors::secondary(palette()), devicePixelRatioF()));
}

void AppsView::updateDetail() {
    const auto shown = shownApp();
    if (!shown) {
        detail_->setCurrentIndex(0);
        if (confirmation_) confirmation_->reject();
        return;
    }
    const AppRow& row = *shown;
    const InstalledApp& app = row.app;
    detail_->setCurrentIndex(1);
    updateHeaderIcon();
    name_->setText(Text::fromName(app.name));
    version_->setText(app.version ? Text::fromUtf8("Version " + *app.version) : QString());
    version_->setVisible(app.version.has_value());
    const auto badge = AppsTexts::sourceBadge(app);
    static_cast<Badge*>(storeBadge_)->setText(badge ? Text::fromUtf8(*badge) : QString());
    storeBadge_->setVisible(badge.has_value());
    runningBadge_->setVisible(running_);
    lastOpened_->setText(app.lastUsed ? Text::fromUtf8("Last opened " + Fmt::relativeDate(app.lastUsed)) : QString());
    lastOpened_->setVisible(app.lastUsed.has_value());
    total_->setText(Text::fromUtf8(Fmt::bytes(row.totalSize())));
    breakdown_->setText(Text::fromUtf8(Fmt::bytes(row.bundleSize) + PlatformTables::current().words.appPart + ", " +
                                       Fmt::bytes(AppsTexts::leftoverBytes(row)) + " elsewhere"));

    if (!row.analyzed) {
        leftoverState_->setCurrentIndex(0);
    } else if (row.leftovers.empty()) {
        leftoverState_->setCurrentIndex(1);
    } else {
        leftoverState_->setCurrentIndex(2);
    }
    exactGroup_->setItems(row.exactLeftovers());
    likelyGroup_->setItems(row.likelyLeftovers());
    exactGroup_->busyChanged(removals_.removingCount() > 0);
    likelyGroup_->busyChanged(removals_.removingCount() > 0);
    updateUninstallBar(row);
}

void AppsView::updateUninstallBar(const AppRow& row) {
    const auto notice = AppsTexts::notice(row.app, running_);
    notice_->setText(notice ? Text::fromUtf8(*notice) : QString());
    notice_->setVisible(notice.has_value());
    const auto software = AppsTexts::softwareUrl(row.app);
    const auto command = AppsTexts::packageRemoveCommand(row.app);
    const bool canOpen =
        software && !softwareFailed_ && Workspace::instance().canOpenScheme(QStringLiteral("appstream"));
    openSoftware_->setVisible(canOpen);
    removeCommand_->setText(command ? Text::fromUtf8(*command) : QString());
    removeCommand_->setAccessibleName(
        command ? QStringLiteral("Command that removes the package: ") + Text::fromUtf8(*command) : QString());
    removeCommand_->setVisible(!canOpen && command);
    copyCommand_->setVisible(!canOpen && command);
    packageRow_->setVisible(canOpen || command);
    const bool removable = AppsTexts::bundleRemovable(row.app);
    bundleSwitch_->setEnabled(removable);
    {
        const QSignalBlocker blocker(bundleSwitch_);
        bundleSwitch_->setChecked(includeBundle_);
    }
    freed_->setText(Text::fromUtf8(Fmt::bytes(AppsTexts::selectedTotal(row, selection_->urls(), includeBundle_))));
    // Not while a removal runs: the rows it prunes are still listed until it ends.
    uninstall_->setEnabled(AppsTexts::canUninstall(row, selection_->urls(), includeBundle_) && !removals_.isRemoving());
}

QMessageBox* AppsView::buildConfirmation() {
    const auto shown = shownApp();
    if (!shown) return nullptr;
    // The app the question is about; the selection may move while it is open.
    const std::string url = shown->app.url;
    QPointer<AppsView> self(this);
    auto* box = RemovalConfirmation::build(
        this, QStringLiteral("apps.confirmation"),
        QStringLiteral("Uninstall ") + Text::fromName(shown->app.name) + QLatin1Char('?'),
        Text::fromUtf8(AppsTexts::uninstallSummary(*shown, selection_->urls(), includeBundle_)),
        [self, url](RemovalMode mode) {
            if (self && self->selectedAppID_ && *self->selectedAppID_ == url) self->uninstallWith(mode);
        });
    confirmation_ = box;
    return box;
}

void AppsView::uninstallWith(RemovalMode mode) {
    const auto shown = shownApp();
    if (!shown) return;
    const auto leftovers = AppsTexts::chosenLeftovers(*shown, selection_->urls());
    const bool withBundle = includeBundle_ && AppsTexts::bundleRemovable(shown->app);
    Removals::uninstall(removals_, *shown, leftovers, withBundle, mode);
    selection_->assign({});
    // The row leaves the list when the model has removed the app; refresh
    // then clears the selection.
}

void AppsView::showEvent(QShowEvent* event) {
    SectionView::showEvent(event);
    if (apps_.items().empty() && !apps_.isMeasuring()) apps_.measure();
    checkRunning();
    updateSpinnerTimer();
    updateDetail();
}

void AppsView::hideEvent(QHideEvent* event) {
    SectionView::hideEvent(event);
    spinnerTimer_->stop();
}

} // namespace vessora
