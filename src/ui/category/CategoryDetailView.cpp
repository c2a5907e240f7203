#include "ui/category/CategoryDetailView.h"

#include "model/Removals.h"
#include "apps/RunningApps.h"
#include "platform/PlatformTables.h"
#include "removal/RemovalTexts.h"
#include "support/Fmt.h"
#include "support/Paths.h"
#include "ui/category/BackupReviewDialog.h"
#include "ui/cleanup/CleanupTexts.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/RemovalConfirmation.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"
#include "ui/kit/Widgets.h"
#include "ui/kit/Workspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace vessora {

namespace {

// The name of a running application with the bundle identifier, `fallback`
// when its own name cannot be read; nothing when none runs.
std::optional<std::string> runningAppName(const std::string& bundleID, const std::string& fallback) {
    if (!Workspace::instance().isRunning(bundleID)) return std::nullopt;
    for (const auto& app : RunningApps::find(bundleID))
        if (!app.name.empty()) return app.name;
    return fallback;
}

QColor toColor(const Rgb& rgb) { return QColor::fromRgbF(float(rgb.red), float(rgb.green), float(rgb.blue)); }

// A banner is rebuilt only when its text changes.
void placeBanner(QWidget*& banner, QVBoxLayout* layout, int position, const std::optional<std::string>& text,
                 const char* symbol, const QColor& tint, const char* name, QWidget* parent) {
    const QString wanted = text ? Text::fromUtf8(*text) : QString();
    if (banner && banner->property("text").toString() == wanted) return;
    delete banner;
    banner = nullptr;
    if (!text) return;
    banner = Widgets::banner(wanted, symbol, tint, parent);
    banner->setObjectName(name);
    banner->setProperty("text", wanted);
    layout->insertWidget(std::min(position, layout->count()), banner);
}

} // namespace

CategoryDetailView::CategoryDetailView(const Stores& stores, QWidget* parent)
    : SectionView(parent), stores_(stores), selection_(new PathSelection(this)), refresher_(new QTimer(this)) {
    setObjectName("categoryDetail");
    refresher_->setSingleShot(true);
    refresher_->setInterval(0);
    connect(refresher_, &QTimer::timeout, this, &CategoryDetailView::refresh);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    header_ = new ScreenHeader("Category", this);
    page->addWidget(header_);
    modePicker_ = new QComboBox(this);
    modePicker_->setObjectName("categoryDetail.mode");
    modePicker_->setFixedWidth(170);
    modePicker_->setAccessibleName("Removal mode");
    for (const RemovalMode mode : allRemovalModes)
        modePicker_->addItem(Text::fromUtf8(std::string(displayText(mode))), int(mode));
    header_->addAction(modePicker_);
    refresh_ = new QPushButton("Refresh", this);
    Symbols::attach(refresh_, "arrow.clockwise");
    refresh_->setObjectName("categoryDetail.refresh");
    header_->addAction(refresh_);

    stack_ = new QStackedWidget(this);
    page->addWidget(stack_, 1);

    // The empty state for an id no category has.
    auto* unknown = new QWidget(stack_);
    auto* unknownLayout = new QVBoxLayout(unknown);
    unknownLayout->addStretch();
    auto* unknownIcon = new QLabel(unknown);
    unknownIcon->setPixmap(Symbols::icon("questionmark.folder").pixmap(40, 40));
    unknownLayout->addWidget(unknownIcon, 0, Qt::AlignHCenter);
    auto* unknownText =
        Widgets::label("Unknown category", Fonts::font(Fonts::Role::title3, QFont::Medium), false, unknown);
    unknownText->setObjectName("categoryDetail.unknown");
    unknownLayout->addWidget(unknownText, 0, Qt::AlignHCenter);
    unknownLayout->addStretch();
    stack_->addWidget(unknown);

    auto* contentPage = new QWidget(stack_);
    auto* contentLayout = new QVBoxLayout(contentPage);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    auto* scroll = new QScrollArea(contentPage);
    scroll->setObjectName("categoryDetail.scroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 8, 20, 20);
    column->setSpacing(14);

    // The header keeps its natural height; the word-wrapped detail would
    // otherwise ask for the height of a narrow first layout pass.
    auto* headerBox = new QWidget(content);
    headerBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* header = new QHBoxLayout(headerBox);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(12);
    symbol_ = new QLabel(content);
    symbol_->setFixedSize(40, 40);
    symbol_->setAlignment(Qt::AlignCenter);
    header->addWidget(symbol_, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(10);
    title_ = Widgets::label({}, Fonts::font(Fonts::Role::largeTitle, QFont::DemiBold), false, content);
    title_->setObjectName("categoryDetail.title");
    titleRow->addWidget(title_);
    badgeSlot_ = new QWidget(content);
    auto* badgeLayout = new QHBoxLayout(badgeSlot_);
    badgeLayout->setContentsMargins(0, 0, 0, 0);
    titleRow->addWidget(badgeSlot_, 0, Qt::AlignVCenter);
    titleRow->addStretch();
    words->addLayout(titleRow);
    detail_ = Widgets::label({}, Fonts::body(), true, content);
    detail_->setWordWrap(true);
    words->addWidget(detail_);
    words->addStretch();
    header->addLayout(words, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    size_ = Widgets::label({}, Fonts::font(Fonts::Role::title3, QFont::Medium), false, content);
    size_->setObjectName("categoryDetail.size");
    count_ = Widgets::label({}, Fonts::caption(), true, content);
    count_->setObjectName("categoryDetail.count");
    right->addWidget(size_, 0, Qt::AlignRight);
    right->addWidget(count_, 0, Qt::AlignRight);
    right->addStretch();
    header->addLayout(right);
    column->addWidget(headerBox);

    bannerLayout_ = new QVBoxLayout;
    bannerLayout_->setSpacing(10);
    column->addLayout(bannerLayout_);

    entriesCard_ = Widgets::card(content);
    auto* cardLayout = new QVBoxLayout(entriesCard_);
    cardLayout->setContentsMargins(0, 6, 0, 6);
    cardLayout->setSpacing(0);
    auto* selectRow = new QHBoxLayout;
    selectRow->setContentsMargins(12, 0, 12, 0);
    selectAll_ = new LinkButton("Select all", entriesCard_);
    selectAll_->setObjectName("categoryDetail.selectAll");
    selectRow->addWidget(selectAll_);
    selectRow->addStretch();
    cardLayout->addLayout(selectRow);
    list_ = new EntryListView(entriesCard_);
    list_->setObjectName("categoryDetail.entries");
    entries_ = new EntryListModel(
        selection_,
        [this](const std::string& url) {
            const auto category = stores_.categories.find(id_);
            return category && CleanupTexts::removalAllowed(category->category) && Remover::check(url).allowed;
        },
        list_);
    entries_->setBusy([this](const std::string& url) { return stores_.removals.isBeingRemoved(url); });
    list_->setModel(entries_);
    ticker_ = new SpinnerTicker(list_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = list_->indexAt(pos);
        if (!index.isValid()) return;
        const std::string url = index.data(EntryListModel::UrlRole).toByteArray().toStdString();
        auto* menu = new QMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        if (index.data(EntryListModel::IsFolderRole).toBool())
            menu->addAction(EntryRowDelegate::browseHelp(), this, [this, url] {
                stores_.scan.start(url);
                emit sectionRequested(Section::browse());
            });
        menu->addAction(Text::fromUtf8(CleanupTexts::revealInFileBrowser()), this,
                        [url] { Workspace::instance().reveal({url}); });
        menu->popup(list_->viewport()->mapToGlobal(pos));
    });
    cardLayout->addWidget(list_);
    column->addWidget(entriesCard_);
    empty_ = Widgets::label({}, Fonts::body(), true, content);
    empty_->setObjectName("categoryDetail.empty");
    empty_->setContentsMargins(0, 12, 0, 0);
    column->addWidget(empty_);

    // System Data body.
    systemData_ = new QWidget(content);
    systemDataLayout_ = new QVBoxLayout(systemData_);
    systemDataLayout_->setContentsMargins(0, 0, 0, 0);
    systemDataLayout_->setSpacing(8);
    reserve_ = Widgets::label({}, Fonts::callout(), true, systemData_);
    reserve_->setObjectName("categoryDetail.reserve");
    reserve_->setWordWrap(true);
    systemDataLayout_->addWidget(reserve_);
    winsHeading_ = Widgets::label("Known safe wins", Fonts::headline(), false, systemData_);
    winsHeading_->setContentsMargins(0, 4, 0, 0);
    systemDataLayout_->addWidget(winsHeading_);
    winsProgress_ = new QWidget(systemData_);
    auto* progressRow = new QHBoxLayout(winsProgress_);
    progressRow->setContentsMargins(0, 0, 0, 0);
    winsBar_ = new QProgressBar(winsProgress_);
    winsBar_->setRange(0, 1000);
    winsBar_->setTextVisible(false);
    winsBar_->setFixedWidth(160);
    progressRow->addWidget(winsBar_);
    progressRow->addWidget(Widgets::label("Measuring what is inside it", Fonts::callout(), true, winsProgress_));
    progressRow->addStretch();
    systemDataLayout_->addWidget(winsProgress_);
    checkCaches_ = new QPushButton("Check for reclaimable caches", systemData_);
    checkCaches_->setObjectName("categoryDetail.checkCaches");
    systemDataLayout_->addWidget(checkCaches_, 0, Qt::AlignLeft);
    winsNote_ = Widgets::label("These are removed from the Cleanup tab, where each one can be expanded and picked "
                               "through item by item.",
                               Fonts::callout(), true, systemData_);
    winsNote_->setWordWrap(true);
    systemDataLayout_->addWidget(winsNote_);
    snapshots_ = Widgets::label({}, Fonts::callout(), true, systemData_);
    snapshots_->setObjectName("categoryDetail.snapshots");
    snapshots_->setWordWrap(true);
    systemDataLayout_->addWidget(snapshots_);
    column->addWidget(systemData_);
    column->addStretch();
    scroll->setWidget(content);
    contentLayout->addWidget(scroll, 1);

    // Action bar.
    actionBar_ = Widgets::barMaterial(contentPage);
    actionBar_->setObjectName("categoryDetail.actionBar");
    auto* bar = new QVBoxLayout(actionBar_);
    bar->setContentsMargins(20, 10, 20, 10);
    bar->setSpacing(6);
    backupRow_ = new QWidget(actionBar_);
    auto* backupLayout = new QHBoxLayout(backupRow_);
    backupLayout->setContentsMargins(0, 0, 0, 0);
    backupCheck_ = new QCheckBox(backupRow_);
    backupCheck_->setObjectName("categoryDetail.backUpFirst");
    backupLayout->addWidget(backupCheck_);
    backupPath_ = Widgets::label({}, Fonts::caption(), true, backupRow_);
    backupPath_->setObjectName("categoryDetail.backupRoot");
    backupPath_->setMinimumWidth(40);
    backupPath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    backupLayout->addWidget(backupPath_, 1);
    change_ = new LinkButton("Change\u2026", backupRow_);
    change_->setObjectName("categoryDetail.change");
    backupLayout->addWidget(change_);
    bar->addWidget(backupRow_);
    archiveStatus_ = Widgets::label({}, Fonts::caption(), true, actionBar_);
    archiveStatus_->setObjectName("categoryDetail.archiveStatus");
    bar->addWidget(archiveStatus_);
    auto* actionRow = new QHBoxLayout;
    actionRow->setSpacing(12);
    selectedCount_ = Widgets::label({}, Fonts::body(), true, actionBar_);
    selectedCount_->setObjectName("categoryDetail.selectedCount");
    actionRow->addWidget(selectedCount_);
    selectedTotal_ = Widgets::label({}, Fonts::headline(), false, actionBar_);
    selectedTotal_->setObjectName("categoryDetail.selectedTotal");
    actionRow->addWidget(selectedTotal_);
    archiving_ = new QWidget(actionBar_);
    auto* archivingLayout = new QHBoxLayout(archiving_);
    archivingLayout->setContentsMargins(0, 0, 0, 0);
    auto* spinner = new QProgressBar(archiving_);
    spinner->setRange(0, 0);
    spinner->setFixedWidth(60);
    spinner->setMaximumHeight(10);
    archivingLayout->addWidget(spinner);
    auto* archivingText = Widgets::label("Backing up\u2026", Fonts::callout(), true, archiving_);
    archivingText->setObjectName("categoryDetail.backingUp");
    archivingLayout->addWidget(archivingText);
    actionRow->addWidget(archiving_);
    actionRow->addStretch();
    clear_ = new QPushButton("Clear", actionBar_);
    clear_->setObjectName("categoryDetail.clear");
    actionRow->addWidget(clear_);
    action_ = Widgets::prominentButton({}, actionBar_);
    action_->setObjectName("categoryDetail.action");
    actionRow->addWidget(action_);
    bar->addLayout(actionRow);
    contentLayout->addWidget(actionBar_);
    stack_->addWidget(contentPage);

    connect(modePicker_, &QComboBox::activated, this, [this](int index) {
        mode_ = RemovalMode(modePicker_->itemData(index).toInt());
        schedule();
    });
    connect(refresh_, &QPushButton::clicked, this, [this] { stores_.categories.measure(); });
    connect(selectAll_, &QPushButton::clicked, this, [this] {
        if (!selection_->empty()) {
            selection_->clear();
            return;
        }
        // Every entry, whether or not its row can be toggled: the guard
        // refuses the locked ones again at removal, and the result says so.
        // Only entries already being removed are left out.
        if (auto category = stores_.categories.find(id_)) {
            std::erase_if(category->entries,
                          [this](const CleanupEntry& entry) { return stores_.removals.isBeingRemoved(entry.url); });
            selection_->insert(category->entries);
        }
    });
    connect(checkCaches_, &QPushButton::clicked, this, [this] { stores_.cleanup.measure(); });
    connect(backupCheck_, &QCheckBox::toggled, this, [this](bool on) {
        backUpFirst_ = on;
        schedule();
    });
    connect(change_, &QPushButton::clicked, this, [this] { buildFolderChooser()->open(); });
    connect(clear_, &QPushButton::clicked, selection_, &PathSelection::clear);
    connect(action_, &QPushButton::clicked, this, &CategoryDetailView::startRemoval);
    connect(selection_, &PathSelection::changed, this, &CategoryDetailView::schedule);
    for (auto signal : {&MeasuredListSignals::itemsChanged, &MeasuredListSignals::measuringChanged,
                        &MeasuredListSignals::progressChanged}) {
        connect(&stores_.categories, signal, this, &CategoryDetailView::schedule);
        connect(&stores_.cleanup, signal, this, &CategoryDetailView::schedule);
    }
    for (auto signal : {&VolumesStore::snapshotsChanged, &VolumesStore::volumesChanged})
        connect(&stores_.volumes, signal, this, &CategoryDetailView::schedule);
    for (auto signal : {&BackupReview::isArchivingChanged, &BackupReview::archiveStatusChanged,
                        &BackupReview::backupRootChanged, &BackupReview::archiveCategoryChanged})
        connect(&stores_.backup, signal, this, &CategoryDetailView::schedule);
    connect(&stores_.removals, &RemovalQueue::busyChanged, this, &CategoryDetailView::schedule);
    // The alert and the review follow the model whether or not the page is
    // on screen: a backup may finish after the user went elsewhere.
    connect(&stores_.backup, &BackupReview::archiveErrorChanged, this, &CategoryDetailView::showArchiveError);
    connect(&stores_.backup, &BackupReview::pendingDeletionChanged, this, &CategoryDetailView::showReview);
    refresh();
}

void CategoryDetailView::setCategoryId(const std::string& id) {
    id_ = id;
    selection_->clear();
    mode_ = RemovalMode::trash;
    backUpFirst_ = true;
    modePicker_->setCurrentIndex(0);
    const auto category = stores_.categories.find(id);
    delete delegate_;
    EntryRowStyle style;
    style.shareBar = true;
    style.buttons = true;
    style.dividerInset = 34;
    style.tint = category ? toColor(category->category.color()) : QColor(Qt::gray);
    delegate_ = new EntryRowDelegate(style, list_);
    connect(delegate_, &EntryRowDelegate::revealRequested, this,
            [](const std::string& url) { Workspace::instance().reveal({url}); });
    connect(delegate_, &EntryRowDelegate::browseRequested, this, [this](const std::string& url) {
        stores_.scan.start(url);
        emit sectionRequested(Section::browse());
    });
    list_->setRowDelegate(delegate_);
    entries_->setEntries({});
    refresh();
}

BackupReviewDialog* CategoryDetailView::reviewDialog() const { return review_.data(); }

void CategoryDetailView::showSection(const Section& section) {
    if (section.kind == Section::Kind::category) setCategoryId(section.categoryId);
}

void CategoryDetailView::schedule() {
    dirty_ = true;
    if (isVisible()) refresher_->start();
}

void CategoryDetailView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (dirty_) refresh();
}

void CategoryDetailView::refresh() {
    dirty_ = false;
    const auto found = stores_.categories.find(id_);
    refresh_->setEnabled(!stores_.categories.isMeasuring());
    header_->setTitle(found ? Text::fromUtf8(found->category.title) : QString("Category"));
    if (!found) {
        stack_->setCurrentIndex(0);
        modePicker_->hide();
        return;
    }
    stack_->setCurrentIndex(1);
    const MeasuredCategory& category = *found;
    const StorageCategory& definition = category.category;
    const bool allowed = CleanupTexts::removalAllowed(definition);
    const bool required = CleanupTexts::backupRequired(definition);
    const QPalette pal = palette();

    modePicker_->setVisible(allowed && !category.entries.empty());
    symbol_->setPixmap(Symbols::icon(Text::fromUtf8(definition.symbol), Colors::secondary(pal)).pixmap(26, 26));
    title_->setText(Text::fromUtf8(definition.title));
    list_->setAccessibleName(Text::fromUtf8(definition.title + " entries"));
    if (badgeRisk_ != int(definition.risk)) {
        delete badge_;
        badge_ = new RiskBadge(definition.risk, badgeSlot_);
        badgeSlot_->layout()->addWidget(badge_);
        badgeRisk_ = int(definition.risk);
    }
    detail_->setText(Text::fromUtf8(definition.detail));
    size_->setText(Text::fromUtf8(Fmt::bytes(category.size)));
    const bool counted = definition.measurement == CategoryMeasurement::measured && !category.entries.empty();
    count_->setVisible(counted);
    count_->setText(Text::fromUtf8(CleanupTexts::items(category.entries.size())));

    placeBanner(caveat_, bannerLayout_, 0, definition.caveat, "info.circle", Colors::secondary(pal),
                "categoryDetail.caveat", this);
    std::optional<std::string> notes;
    for (const std::string& note : definition.notes) notes = notes ? *notes + "\n" + note : note;
    placeBanner(notes_, bannerLayout_, caveat_ ? 1 : 0, notes, "info.circle", Colors::secondary(pal),
                "categoryDetail.notes", this);
    const bool readOnly = definition.action.kind == CategoryAction::Kind::readOnly;
    placeBanner(readOnly_, bannerLayout_, (caveat_ ? 1 : 0) + (notes_ ? 1 : 0),
                readOnly ? std::optional<std::string>(definition.action.reason) : std::nullopt, "lock",
                Colors::orange(pal), "categoryDetail.readOnly", this);

    entriesCard_->setVisible(!category.entries.empty());
    selectAll_->setVisible(allowed);
    selectAll_->setText(selection_->empty() ? "Select all" : "Deselect all");
    const size_t before = entries_->entries().size();
    entries_->setEntries(category.entries);
    entries_->setDenominator(category.size);
    if (before != category.entries.size()) list_->fitHeight();
    empty_->setVisible(category.entries.empty());
    empty_->setText(stores_.categories.isMeasuring() ? "Measuring." : "Nothing found here.");

    systemData_->setVisible(definition.measurement == CategoryMeasurement::remainder);
    if (definition.measurement == CategoryMeasurement::remainder) updateSystemData(category);

    entries_->busyChanged();
    ticker_->setActive(stores_.removals.removingCount() > 0);

    // A backup made for this category keeps the bar up, with its progress,
    // until it ends; its status belongs to this category alone.
    const bool ours = stores_.backup.archiveCategory() == id_;
    const bool archivingHere = stores_.backup.isArchiving() && ours;
    const auto picked = archivingHere ? stores_.backup.archivingEntries()
                                      : CleanupTexts::selectedEntries(category.entries, selection_->urls());
    actionBar_->setVisible(allowed && (!picked.empty() || archivingHere));
    // Whenever the action backs up first, the folder it backs up to shows,
    // with the way to change it. Only careful categories may skip the backup.
    const bool backsUp = required || backUpFirst_;
    backupRow_->setVisible(definition.risk == CleanupRisk::careful || backsUp);
    backupCheck_->setText(required ? "Back up to a copy first (required here)" : "Back up to a copy first");
    {
        const QSignalBlocker blocker(backupCheck_);
        backupCheck_->setChecked(backsUp);
    }
    backupCheck_->setEnabled(!required && definition.risk == CleanupRisk::careful && !archivingHere);
    change_->setEnabled(!archivingHere);
    clear_->setEnabled(!archivingHere);
    const QString root = Text::fromPath(stores_.backup.backupRoot());
    backupPath_->setToolTip(root);
    backupPath_->setText(
        backupPath_->fontMetrics().elidedText(root, Qt::ElideLeft, std::max(120, backupPath_->width())));
    archiveStatus_->setVisible(ours && stores_.backup.archiveStatus().has_value());
    archiveStatus_->setText(Text::fromUtf8(stores_.backup.archiveStatus().value_or("")));
    selectedCount_->setText(Text::fromUtf8(Fmt::count(int64_t(picked.size())) + " selected"));
    selectedTotal_->setText(Text::fromUtf8(Fmt::bytes(CleanupTexts::total(picked))));
    archiving_->setVisible(archivingHere);
    action_->setText(Text::fromUtf8(CleanupTexts::actionTitle(definition, backUpFirst_, mode_)));
    Widgets::setProminentRed(action_, definition.risk == CleanupRisk::careful);
    // One backup at a time: the button that starts one waits for it to end.
    action_->setEnabled(!stores_.backup.isArchiving() && !stores_.removals.isRemoving());
}

void CategoryDetailView::updateSystemData(const MeasuredCategory& category) {
    const QPalette pal = palette();
    placeBanner(accounting_, systemDataLayout_, 0,
                CleanupTexts::accountingBanner(systemDataAccounted(stores_.categories.items()), category.size), "sum",
                Colors::secondary(pal), "categoryDetail.accounting", systemData_);
    const auto related = CleanupTexts::shownTargets(stores_.cleanup.items());
    const bool measuring = stores_.cleanup.isMeasuring();
    winsHeading_->setVisible(!related.empty() || measuring);
    winsProgress_->setVisible(measuring);
    winsBar_->setValue(int(stores_.cleanup.progress() * 1000));
    checkCaches_->setVisible(!measuring && related.empty());

    // The card of targets is small (one row per target), so plain widgets;
    // it is rebuilt only when what it shows changed.
    QString signature;
    if (!measuring)
        for (const CleanupTarget* target : related)
            signature += Text::fromUtf8(target->id) + ":" + QString::number(CleanupTexts::targetTotal(*target)) + ";";
    if (!winsCard_ || winsCard_->property("signature").toString() != signature) {
        delete winsCard_;
        winsCard_ = nullptr;
        if (!signature.isEmpty()) {
            QFrame* card = Widgets::card(systemData_, 0.07);
            card->setObjectName("categoryDetail.wins");
            card->setProperty("signature", signature);
            auto* rows = new QVBoxLayout(card);
            rows->setContentsMargins(0, 0, 0, 0);
            rows->setSpacing(0);
            for (size_t i = 0; i < related.size(); ++i) {
                const CleanupTarget& target = *related[i];
                if (i > 0) {
                    auto* line = new QHBoxLayout;
                    line->setContentsMargins(40, 0, 0, 0);
                    line->addWidget(Widgets::divider(card));
                    rows->addLayout(line);
                }
                auto* row = new QHBoxLayout;
                row->setContentsMargins(12, 8, 12, 8);
                auto* icon = new QLabel(card);
                icon->setFixedWidth(18);
                icon->setPixmap(Symbols::icon("shippingbox", Colors::secondary(pal)).pixmap(16, 16));
                row->addWidget(icon, 0, Qt::AlignTop);
                auto* words = new QVBoxLayout;
                words->setSpacing(1);
                auto* titleRow = new QHBoxLayout;
                titleRow->addWidget(Widgets::label(Text::fromUtf8(target.title), Fonts::body(), false, card));
                titleRow->addWidget(new RiskBadge(target.risk, card));
                titleRow->addStretch();
                words->addLayout(titleRow);
                auto* detail = Widgets::label(Text::fromUtf8(target.detail), Fonts::caption(), true, card);
                detail->setWordWrap(true);
                words->addWidget(detail);
                row->addLayout(words, 1);
                row->addWidget(Widgets::label(Text::fromUtf8(Fmt::bytes(CleanupTexts::targetTotal(target))),
                                              Fonts::body(), false, card),
                               0, Qt::AlignTop);
                rows->addLayout(row);
            }
            winsCard_ = card;
            systemDataLayout_->insertWidget(systemDataLayout_->indexOf(winsNote_), card);
        }
    }
    winsNote_->setVisible(winsCard_ != nullptr);
    // The file system's reserve counts as used, so it is part of this number.
    const char* reserveSentence = PlatformTables::current().words.rootReserve;
    const auto root = stores_.volumes.rootVolume();
    const bool reserved = reserveSentence && root && root->rootReserve >= 1;
    reserve_->setVisible(reserved);
    if (reserved)
        reserve_->setText(Text::fromUtf8(PlatformTables::format(reserveSentence, Fmt::bytes(root->rootReserve))));
    // Where snapshots are a file system's own, only the startup volume's hold on to its space.
    const char* snapshotsSentence = PlatformTables::current().words.systemDataSnapshots;
    const size_t snapshots =
        std::count_if(stores_.volumes.snapshots().begin(), stores_.volumes.snapshots().end(),
                      [&](const LocalSnapshot& s) { return !snapshotsSentence || (root && s.volume == root->url); });
    snapshots_->setVisible(snapshots > 0);
    snapshots_->setText(
        Text::fromUtf8(snapshotsSentence ? std::string(snapshotsSentence) : CleanupTexts::snapshotsLine(snapshots)));
}

void CategoryDetailView::startRemoval() {
    const auto category = stores_.categories.find(id_);
    if (!category || stores_.backup.isArchiving()) return;
    const CategoryAction& action = category->category.action;
    if (action.kind == CategoryAction::Kind::backupThenRemove) {
        // An app named by the table (Messages) or, where each chat app keeps
        // its own folder, the one whose data is picked.
        std::optional<std::string> app;
        if (action.quitFirst) {
            app = runningAppName(*action.quitFirst, category->category.title);
        } else {
            std::vector<std::string> paths;
            for (const CleanupEntry& entry : CleanupTexts::selectedEntries(category->entries, selection_->urls()))
                paths.push_back(entry.url);
            app = StorageCategories::runningChatApp(paths);
        }
        if (app) {
            auto* box = new QMessageBox(QMessageBox::Warning, Text::fromUtf8(CleanupTexts::quitFirstTitle(*app)),
                                        Text::fromUtf8(CleanupTexts::quitFirstTitle(*app)), QMessageBox::Ok, this);
            box->setObjectName("categoryDetail.quitFirst");
            box->setInformativeText(Text::fromUtf8(CleanupTexts::quitFirstMessage(*app)));
            box->setTextFormat(Qt::PlainText);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
            return;
        }
    }
    buildConfirmation()->open();
}

QMessageBox* CategoryDetailView::buildConfirmation() {
    const auto category = stores_.categories.find(id_);
    const std::vector<CleanupEntry> picked =
        category ? CleanupTexts::selectedEntries(category->entries, selection_->urls()) : std::vector<CleanupEntry>{};
    const StorageCategory definition = category ? category->category : StorageCategory{};
    const bool backup = CleanupTexts::backupRequired(definition) || backUpFirst_;
    auto* box = new QMessageBox(this);
    box->setObjectName("categoryDetail.confirmation");
    box->setIcon(QMessageBox::Warning);
    box->setText(Text::fromUtf8(CleanupTexts::confirmTitle(picked.size(), CleanupTexts::total(picked))));
    // Deleting at once, with no backup and no Trash, says so and is never
    // pressed by Return.
    const bool immediate = !backup && mode_ == RemovalMode::deleteImmediately;
    QString message = Text::fromUtf8(CleanupTexts::confirmMessage(
        definition, backUpFirst_, mode_, Text::fromPath(stores_.backup.backupRoot()).toStdString()));
    if (immediate) message += QLatin1Char('\n') + RemovalConfirmation::deletionWarning();
    box->setInformativeText(message);
    box->setTextFormat(Qt::PlainText);
    const QString goText = Text::fromUtf8(CleanupTexts::actionTitle(definition, backUpFirst_, mode_));
    QPushButton* go = immediate ? new DestructiveButton(goText, box) : new QPushButton(goText, box);
    go->setObjectName("categoryDetail.confirm");
    box->addButton(go, QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    const RemovalMode mode = mode_;
    connect(go, &QPushButton::clicked, this, [this, picked, definition, backup, mode] {
        selection_->clear();
        if (picked.empty()) return;
        if (!backup)
            Removals::removeCategoryEntries(stores_.removals, picked, mode);
        else
            stores_.backup.archiveThenReview(picked, definition.title, stores_.backup.backupRoot(), mode,
                                             definition.id);
    });
    return box;
}

QFileDialog* CategoryDetailView::buildFolderChooser() {
    auto* dialog = new QFileDialog(this);
    dialog->setObjectName("categoryDetail.folderChooser");
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, "Choose");
    dialog->setDirectory(Text::filePath(Paths::parent(stores_.backup.backupRoot())));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) stores_.backup.setBackupRoot(QFile::encodeName(folder).toStdString());
    });
    return dialog;
}

void CategoryDetailView::showArchiveError() {
    const auto& error = stores_.backup.archiveError();
    if (!error || archiveAlert_) return;
    auto* box = new QMessageBox(QMessageBox::Warning, "Backup failed", "Backup failed", QMessageBox::Ok, this);
    box->setObjectName("categoryDetail.backupFailed");
    box->setInformativeText(Text::fromUtf8(*error));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this] { stores_.backup.setArchiveError(std::nullopt); });
    archiveAlert_ = box;
    box->open();
}

void CategoryDetailView::showReview() {
    const auto& pending = stores_.backup.pendingDeletion();
    if (!pending || review_) return;
    auto* dialog = new BackupReviewDialog(&stores_.backup, *pending, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    review_ = dialog;
    dialog->open();
}

} // namespace vessora
