#include "ui/browse/BrowseView.h"

#include "scan/ScanHistory.h"
#include "support/Fmt.h"
#include "ui/browse/ChangeText.h"
#include "ui/browse/CompareWidgets.h"
#include "ui/browse/NodeRowDelegate.h"
#include "ui/browse/OutlineModel.h"
#include "ui/browse/TreemapView.h"
#include "ui/kit/Colors.h"
#include "ui/kit/ElidedLabel.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/LinkButton.h"
#include "ui/kit/Refresher.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/RemovalConfirmation.h"
#include "ui/kit/Text.h"
#include "ui/kit/Workspace.h"

#include <QApplication>
#include <QKeyEvent>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace vessora {

namespace {

constexpr int kScanningPage = 0, kIdlePage = 1, kContentPage = 2;
constexpr int kCrumbWidth = 160, kShownCrumbs = 3;

QString text(const std::string& utf8) { return Text::fromUtf8(utf8); }

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

// A symbol followed by a plain-text label; returns the box, the label out.
QWidget* symbolLabel(const QString& symbol, QLabel*& label, QWidget* parent, SecondaryLabel::Tone tone,
                     const QFont& font = Fonts::callout()) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* icon = new QLabel(box);
    auto* secondary = new SecondaryLabel(QString(), box);
    secondary->setTone(tone);
    secondary->setFont(font);
    secondary->setTextFormat(Qt::PlainText);
    const QColor tint = tone == SecondaryLabel::Tone::orange    ? Colors::orange(box->palette())
                        : tone == SecondaryLabel::Tone::primary ? Colors::primary(box->palette())
                                                                : Colors::secondary(box->palette());
    icon->setPixmap(Symbols::pixmap(symbol, 14, tint, box->devicePixelRatioF()));
    row->addWidget(icon);
    row->addWidget(secondary);
    label = secondary;
    return box;
}

} // namespace

BrowseView::BrowseView(ScanSession& scan, HistoryStore& history, RemovalQueue& removals, QWidget* parent)
    : SectionView(parent), scan_(scan), history_(history), removals_(removals) {
    setObjectName(QStringLiteral("browse"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new ScreenHeader(QStringLiteral("Browse"), this);
    layout->addWidget(header_);
    layout->addWidget(buildControlBar());
    layout->addWidget(divider(this));
    states_ = new QStackedWidget(this);
    states_->addWidget(buildScanningState());
    states_->addWidget(buildIdleState());
    states_->addWidget(buildContent());
    layout->addWidget(states_, 1);

    refresher_ = new Refresher(this, [this] { refresh(); });
    // The scan tick's counters are coalesced into one refresh; the switch
    // between scanning, idle and content happens at once.
    for (auto signal : {&ScanSession::progressChanged, &ScanSession::scanRootPathChanged})
        connect(&scan_, signal, refresher_, &Refresher::schedule);
    connect(&scan_, &ScanSession::isScanningChanged, this, &BrowseView::refresh);
    // Tree edits are applied at once, not coalesced: the outline must hear of
    // a change before any view reads the changed tree.
    connect(&scan_, &ScanSession::treeChanged, this, &BrowseView::treeChanged);
    connect(&scan_, &ScanSession::treeNodesAboutToBeRemoved, this, &BrowseView::nodesAboutToBeRemoved);
    connect(&scan_, &ScanSession::treeNodesRemoved, this, &BrowseView::nodesRemoved);
    connect(&scan_, &ScanSession::treeChildrenAboutToBeReplaced, this, &BrowseView::childrenAboutToBeReplaced);
    connect(&scan_, &ScanSession::treeChildrenReplaced, this, &BrowseView::childrenReplaced);
    for (auto signal : {&RemovalQueue::busyChanged, &RemovalQueue::rescanningChanged})
        connect(&removals_, signal, this, &BrowseView::busyChanged);
    connect(&history_, &HistoryStore::comparisonChanged, this, &BrowseView::comparisonChanged);
    for (auto signal : {&HistoryStore::isLoadingScanChanged, &HistoryStore::shownScanChanged})
        connect(&history_, signal, this, &BrowseView::refreshCompareBar);
    connect(&history_, &HistoryStore::scanFileErrorChanged, this, &BrowseView::showScanFileError);

    // The picker starts at home whatever the root path holds.
    presetPicker_->setCurrentIndex(0);
    treeChanged();
    refresh();
}

QWidget* BrowseView::buildControlBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(14, 9, 14, 9);
    row->setSpacing(10);

    presetPicker_ = new QComboBox(bar);
    presetPicker_->setObjectName(QStringLiteral("browse.preset"));
    presetPicker_->setFixedWidth(180);
    presetPicker_->setAccessibleName(QStringLiteral("Scan location"));
    for (ScanRootPreset preset : ScanRootPresets::all())
        presetPicker_->addItem(text(ScanRootPresets::displayName(preset)), int(preset));
    connect(presetPicker_, &QComboBox::activated, this, [this](int index) {
        const int value = presetPicker_->itemData(index).toInt();
        if (value < 0) return; // the chosen folder, already the root path
        preset_ = ScanRootPreset(value);
        scan_.setScanRootPath(ScanRootPresets::path(preset_));
    });
    row->addWidget(presetPicker_);

    auto* choose = new QPushButton(QStringLiteral("Choose Folder"), bar);
    choose->setObjectName(QStringLiteral("browse.chooseFolder"));
    Symbols::attach(choose, QStringLiteral("folder"));
    connect(choose, &QPushButton::clicked, this, &BrowseView::chooseFolder);
    row->addWidget(choose);

    rootPath_ = new ElidedLabel(Qt::ElideLeft, bar);
    rootPath_->setObjectName(QStringLiteral("browse.rootPath"));
    rootPath_->setSecondary(true);
    rootPath_->setFont(Fonts::callout());
    row->addWidget(rootPath_, 1);

    compareButton_ = new QPushButton(Symbols::icon(QStringLiteral("clock.arrow.circlepath")),
                                     QStringLiteral("Compare with\u2026"), bar);
    compareButton_->setObjectName(QStringLiteral("browse.compare"));
    compareButton_->setAccessibleName(QStringLiteral("Compare with an earlier scan"));
    compareMenu_ = new QMenu(compareButton_);
    compareMenu_->setObjectName(QStringLiteral("browse.compareMenu"));
    compareMenu_->setToolTipsVisible(true);
    connect(compareMenu_, &QMenu::aboutToShow, this, &BrowseView::rebuildCompareMenu);
    compareButton_->setMenu(compareMenu_);
    row->addWidget(compareButton_);

    scanButton_ = new QPushButton(QStringLiteral("Scan"), bar);
    scanButton_->setObjectName(QStringLiteral("browse.scanButton"));
    Symbols::attach(scanButton_, QStringLiteral("magnifyingglass"));
    // Return and Enter scan from the location controls only: elsewhere on the
    // page they act on what has focus (the outline opens its row). A focused
    // button other than Scan is pressed instead, and while the scan runs
    // (Scan hidden) nothing happens.
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(QKeySequence(key), bar, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
            if (focused && focused != scanButton_) return focused->click();
            if (scanButton_->isVisible() && scanButton_->isEnabled()) scanButton_->click();
        });
    }
    connect(scanButton_, &QPushButton::clicked, this, &BrowseView::scan);
    row->addWidget(scanButton_);

    stopButton_ = new QPushButton(QStringLiteral("Stop"), bar);
    stopButton_->setObjectName(QStringLiteral("browse.stopButton"));
    connect(stopButton_, &QPushButton::clicked, this, [this] { scan_.cancel(); });
    row->addWidget(stopButton_);
    return bar;
}

QWidget* BrowseView::buildScanningState() {
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(14);
    column->addStretch(1);
    auto* spinner = new Spinner(32, page);
    column->addWidget(spinner, 0, Qt::AlignHCenter);
    scanCounts_ = new QLabel(page);
    scanCounts_->setObjectName(QStringLiteral("browse.scanCounts"));
    scanCounts_->setTextFormat(Qt::PlainText);
    scanCounts_->setFont(Fonts::font(Fonts::Role::title3, QFont::Medium));
    column->addWidget(scanCounts_, 0, Qt::AlignHCenter);
    scanPath_ = new ElidedLabel(Qt::ElideMiddle, page);
    scanPath_->setObjectName(QStringLiteral("browse.scanPath"));
    scanPath_->setSecondary(true);
    scanPath_->setFont(Fonts::caption());
    scanPath_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    scanPath_->setMaximumWidth(520);
    column->addWidget(scanPath_, 0, Qt::AlignHCenter);
    scanUnreadable_ =
        symbolLabel(QStringLiteral("lock"), scanUnreadableText_, page, SecondaryLabel::Tone::orange, Fonts::caption());
    column->addWidget(scanUnreadable_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return page;
}

QWidget* BrowseView::buildIdleState() {
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(8);
    column->addStretch(1);
    auto* icon = new QLabel(page);
    icon->setPixmap(
        Symbols::pixmap(QStringLiteral("internaldrive"), 48, Colors::secondary(palette()), devicePixelRatioF()));
    column->addWidget(icon, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("Pick a location and scan."), page);
    title->setFont(Fonts::title3());
    column->addWidget(title, 0, Qt::AlignHCenter);
    auto* note = new SecondaryLabel(
        QStringLiteral("Sizes are measured in allocated blocks, so they match what deleting actually frees."), page);
    note->setFont(Fonts::caption());
    column->addWidget(note, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return page;
}

QWidget* BrowseView::buildContent() {
    auto* page = new QWidget(this);
    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->setContentsMargins(0, 0, 0, 0);
    pageColumn->setSpacing(0);
    compareBar_ = new QWidget(page);
    compareBar_->setObjectName(QStringLiteral("browse.compareBar"));
    auto* compareRow = new QHBoxLayout(compareBar_);
    compareRow->setContentsMargins(12, 6, 12, 6);
    compareRow->setSpacing(10);
    auto* compareIcon = new QLabel(compareBar_);
    compareIcon->setPixmap(Symbols::pixmap(QStringLiteral("clock.arrow.circlepath"), 14, Colors::secondary(palette()),
                                           devicePixelRatioF()));
    compareRow->addWidget(compareIcon);
    compareText_ = new QLabel(compareBar_);
    compareText_->setObjectName(QStringLiteral("browse.compareText"));
    compareText_->setTextFormat(Qt::PlainText);
    compareText_->setFont(Fonts::callout());
    compareText_->setWordWrap(true);
    compareRow->addWidget(compareText_, 1);
    stopComparing_ = new QPushButton(QStringLiteral("Stop Comparing"), compareBar_);
    stopComparing_->setObjectName(QStringLiteral("browse.stopComparing"));
    connect(stopComparing_, &QPushButton::clicked, this, [this] { history_.stopComparing(); });
    compareRow->addWidget(stopComparing_);
    pageColumn->addWidget(compareBar_);
    pageColumn->addWidget(divider(page));
    compareBar_->hide();

    auto* split = new QSplitter(Qt::Horizontal, page);
    split->setObjectName(QStringLiteral("browse.split"));
    split->setChildrenCollapsible(false);

    auto* left = new QWidget(split);
    left->setMinimumWidth(420);
    auto* leftColumn = new QVBoxLayout(left);
    leftColumn->setContentsMargins(0, 0, 0, 0);
    leftColumn->setSpacing(0);
    outlineModel_ = new OutlineModel(this);
    outlineModel_->setBusy([this](const FSNode& node) {
        if (removals_.removingCount() == 0 && removals_.rescanningCount() == 0) return OutlineModel::idle;
        const std::string path = node.path();
        if (removals_.isBeingRemoved(path)) return OutlineModel::removing;
        if (node.isDirectory() && removals_.isRescanning(path)) return OutlineModel::rescanning;
        return OutlineModel::idle;
    });
    outline_ = new QTreeView(left);
    outline_->setObjectName(QStringLiteral("browse.outline"));
    // What keeps a million rows smooth: fixed row heights, no animation, one
    // column, no header sizing to contents.
    outline_->setUniformRowHeights(true);
    outline_->setAnimated(false);
    outline_->setHeaderHidden(true);
    outline_->setFrameShape(QFrame::NoFrame);
    outline_->setItemDelegate(new NodeRowDelegate(outline_));
    outline_->setItemDelegateForColumn(1, new ChangeDelegate(outline_));
    outline_->setModel(outlineModel_);
    outline_->setSelectionMode(QAbstractItemView::SingleSelection);
    outline_->setContextMenuPolicy(Qt::CustomContextMenu);
    outline_->setAccessibleName(QStringLiteral("Folder outline"));
    outlineTicker_ = new SpinnerTicker(outline_);
    connect(outline_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { setSelection(outlineModel_->nodeRef(current)); });
    connect(outline_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const FSNode::Ptr node = outlineModel_->nodeRef(outline_->indexAt(at));
        if (!node) return;
        QMenu* menu = buildContextMenu(node, outline_);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(outline_->viewport()->mapToGlobal(at));
    });
    // Return and Enter open the current row (QTreeView would only emit
    // activated); double clicks keep their own expand and collapse.
    outline_->installEventFilter(this);
    auto* remove = new QShortcut(QKeySequence::Delete, outline_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        const FSNode::Ptr node = outlineModel_->nodeRef(outline_->currentIndex());
        if (node && !node->isAggregate) askToRemove(node);
    });
    leftColumn->addWidget(outline_, 1);
    leftColumn->addWidget(divider(left));

    auto* summary = new QWidget(left);
    summary->setObjectName(QStringLiteral("browse.summary"));
    auto* summaryRow = new QHBoxLayout(summary);
    summaryRow->setContentsMargins(12, 7, 12, 7);
    summaryRow->setSpacing(14);
    summaryRow->addWidget(
        symbolLabel(QStringLiteral("internaldrive"), summarySize_, summary, SecondaryLabel::Tone::primary));
    summaryRow->addWidget(symbolLabel(QStringLiteral("doc"), summaryFiles_, summary, SecondaryLabel::Tone::primary));
    summaryRow->addWidget(
        symbolLabel(QStringLiteral("folder"), summaryFolders_, summary, SecondaryLabel::Tone::primary));
    summaryUnreadable_ =
        symbolLabel(QStringLiteral("lock"), summaryUnreadableText_, summary, SecondaryLabel::Tone::orange);
    summaryRow->addWidget(summaryUnreadable_);
    summaryRow->addStretch(1);
    summaryElapsed_ = new SecondaryLabel(QString(), summary);
    summaryElapsed_->setFont(Fonts::callout());
    summaryRow->addWidget(summaryElapsed_);
    leftColumn->addWidget(summary);

    auto* right = new QWidget(split);
    right->setMinimumWidth(320);
    auto* rightColumn = new QVBoxLayout(right);
    rightColumn->setContentsMargins(0, 0, 0, 0);
    rightColumn->setSpacing(0);
    auto* crumbs = new QWidget(right);
    crumbs->setObjectName(QStringLiteral("browse.breadcrumb"));
    auto* crumbRow = new QHBoxLayout(crumbs);
    crumbRow->setContentsMargins(12, 7, 12, 7);
    crumbRow->setSpacing(4);
    breadcrumb_ = new QHBoxLayout();
    breadcrumb_->setSpacing(4);
    crumbRow->addLayout(breadcrumb_);
    crumbRow->addStretch(1);
    breadcrumbSize_ = new SecondaryLabel(QString(), crumbs);
    breadcrumbSize_->setFont(Fonts::callout());
    crumbRow->addWidget(breadcrumbSize_);
    rightColumn->addWidget(crumbs);
    rightColumn->addWidget(divider(right));

    auto* treemapBox = new QWidget(right);
    auto* treemapPad = new QVBoxLayout(treemapBox);
    treemapPad->setContentsMargins(8, 8, 8, 8);
    treemap_ = new TreemapView(treemapBox);
    treemap_->setMaxTiles(80);
    treemapPad->addWidget(treemap_);
    rightColumn->addWidget(treemapBox, 1);
    legend_ = new ChangeLegend(right);
    legend_->hide();
    rightColumn->addWidget(legend_);
    connect(treemap_, &TreemapView::nodeSelected, this, [this](const FSNode::Ptr& node) {
        setSelection(node);
        selectInOutline(node);
    });
    connect(treemap_, &TreemapView::drilledIn, this, &BrowseView::setFocusNode);
    connect(treemap_, &TreemapView::drilledOut, this, [this] {
        if (!focus_) return;
        FSNode* up = focus_->parent();
        setFocusNode(up && up != outlineModel_->root().get() ? refOf(up) : nullptr);
    });

    detailDivider_ = divider(right);
    rightColumn->addWidget(detailDivider_);
    rightColumn->addWidget(buildDetailPanel());
    auto* reveal = detail_->findChild<QPushButton*>(QStringLiteral("browse.detailReveal"));
    auto* copy = detail_->findChild<QPushButton*>(QStringLiteral("browse.detailCopyPath"));
    setTabOrder(treemap_, reveal);
    setTabOrder(reveal, detailRemove_);
    setTabOrder(detailRemove_, copy);

    split->addWidget(left);
    split->addWidget(right);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    pageColumn->addWidget(split, 1);
    return page;
}

QWidget* BrowseView::buildDetailPanel() {
    detail_ = new QWidget(this);
    detail_->setObjectName(QStringLiteral("browse.detail"));
    auto* column = new QVBoxLayout(detail_);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(4);
    detailName_ = new ElidedLabel(Qt::ElideRight, detail_);
    detailName_->setObjectName(QStringLiteral("browse.detailName"));
    detailName_->setFont(Fonts::headline());
    column->addWidget(detailName_);
    detailPath_ = new SecondaryLabel(QString(), detail_);
    detailPath_->setObjectName(QStringLiteral("browse.detailPath"));
    detailPath_->setFont(Fonts::caption());
    detailPath_->setTextFormat(Qt::PlainText);
    detailPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    detailPath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    detail_->installEventFilter(this);
    column->addWidget(detailPath_);

    auto* numbers = new QHBoxLayout();
    numbers->setSpacing(14);
    detailSize_ = new QLabel(detail_);
    detailSize_->setFont(Fonts::callout());
    detailSize_->setTextFormat(Qt::PlainText);
    detailFiles_ = new SecondaryLabel(QString(), detail_);
    detailFiles_->setFont(Fonts::callout());
    detailLogical_ = new SecondaryLabel(QString(), detail_);
    detailLogical_->setObjectName(QStringLiteral("browse.detailLogical"));
    detailLogical_->setFont(Fonts::callout());
    numbers->addWidget(detailSize_);
    numbers->addWidget(detailFiles_);
    numbers->addWidget(detailLogical_);
    numbers->addStretch(1);
    column->addLayout(numbers);
    detailCompare_ = new SecondaryLabel(QString(), detail_);
    detailCompare_->setObjectName(QStringLiteral("browse.detailCompare"));
    detailCompare_->setFont(Fonts::callout());
    detailCompare_->setTextFormat(Qt::PlainText);
    detailCompare_->setWordWrap(true);
    column->addWidget(detailCompare_);

    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(0, 2, 0, 0);
    auto* reveal = new QPushButton(QStringLiteral("Reveal"), detail_);
    detailReveal_ = reveal;
    reveal->setObjectName(QStringLiteral("browse.detailReveal"));
    connect(reveal, &QPushButton::clicked, this, [this] { this->reveal(selection_); });
    detailRemove_ = new QPushButton(QStringLiteral("Remove..."), detail_);
    detailRemove_->setObjectName(QStringLiteral("browse.detailRemove"));
    connect(detailRemove_, &QPushButton::clicked, this, [this] { askToRemove(selection_); });
    detailRescan_ = new QPushButton(QStringLiteral("Rescan This Folder"), detail_);
    detailRescan_->setObjectName(QStringLiteral("browse.detailRescan"));
    connect(detailRescan_, &QPushButton::clicked, this, [this] { rescan(selection_); });
    auto* copy = new QPushButton(QStringLiteral("Copy Path"), detail_);
    copy->setObjectName(QStringLiteral("browse.detailCopyPath"));
    connect(copy, &QPushButton::clicked, this, [this] {
        if (selection_) QApplication::clipboard()->setText(Text::filePath(selection_->path()));
    });
    buttons->addWidget(reveal);
    buttons->addWidget(detailRemove_);
    buttons->addWidget(copy);
    buttons->addStretch(1);
    column->addLayout(buttons);
    // On a line of its own: beside the others it would not fit the panel's
    // narrowest width.
    auto* folderButtons = new QHBoxLayout();
    folderButtons->setContentsMargins(0, 0, 0, 0);
    folderButtons->addWidget(detailRescan_);
    folderButtons->addStretch(1);
    column->addLayout(folderButtons);
    return detail_;
}

void BrowseView::openRow(const QModelIndex& index) {
    const FSNode::Ptr node = outlineModel_->nodeRef(index);
    if (!node || !node->isDirectory() || node->isAggregate) return;
    outline_->expand(index);
    setFocusNode(node);
}

bool BrowseView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == outline_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            openRow(outline_->currentIndex());
            return true;
        }
    }
    // The path's two lines are cut for the panel's width.
    if (watched == detail_ && event->type() == QEvent::Resize) refreshDetail();
    return SectionView::eventFilter(watched, event);
}

FSNode::Ptr BrowseView::currentNode() const { return focus_ ? focus_ : outlineModel_->root(); }

FSNode::Ptr BrowseView::refOf(FSNode* node) const {
    if (!node) return nullptr;
    if (node == outlineModel_->root().get()) return outlineModel_->root();
    return outlineModel_->nodeRef(outlineModel_->indexOf(node));
}

bool BrowseView::isInTree(const FSNode* node) const {
    const FSNode* root = outlineModel_->root().get();
    for (; node; node = node->parent())
        if (node == root) return true;
    return false;
}

void BrowseView::setSelection(FSNode::Ptr node) {
    if (node == selection_) return;
    selection_ = std::move(node);
    treemap_->setSelection(selection_);
    refreshDetail();
}

void BrowseView::setFocusNode(FSNode::Ptr node) {
    if (node && node == outlineModel_->root()) node = nullptr;
    focus_ = std::move(node);
    treemap_->setNode(currentNode());
    rebuildBreadcrumb();
}

void BrowseView::selectInOutline(const FSNode::Ptr& node) {
    const QSignalBlocker blocker(outline_->selectionModel());
    const QModelIndex index = node ? outlineModel_->indexOf(node.get()) : QModelIndex();
    if (!index.isValid()) {
        outline_->selectionModel()->clearSelection();
        outline_->viewport()->update();
        return;
    }
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) outline_->expand(up);
    outline_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    outline_->scrollTo(index);
    outline_->viewport()->update();
}

FSNode::Ptr BrowseView::findInTree(const FSNode::Ptr& node) const {
    const FSNode::Ptr& root = outlineModel_->root();
    if (!node || !root) return nullptr;
    const std::string path = node->path(), rootPath = root->path();
    if (path == rootPath) return node->isAggregate ? nullptr : root;
    const std::string prefix = rootPath == "/" ? rootPath : rootPath + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return nullptr;
    FSNode::Ptr at = root;
    size_t from = prefix.size();
    while (at && from <= path.size()) {
        const size_t slash = std::min(path.find('/', from), path.size());
        const std::string_view name(path.data() + from, slash - from);
        FSNode::Ptr next;
        for (const auto& child : at->children())
            if (!child->isAggregate && child->name() == name) next = child;
        at = next;
        from = slash + 1;
        if (slash == path.size()) break;
    }
    if (at && node->isAggregate) {
        // A lump is found through its folder.
        FSNode::Ptr lump;
        for (const auto& child : at->children())
            if (child->isAggregate) lump = child;
        return lump;
    }
    return at;
}

void BrowseView::treeChanged() {
    const FSNode::Ptr& tree = scan_.tree();
    if (tree == outlineModel_->root()) {
        // The same tree, changed in place.
        treemap_->invalidate();
        refresh();
        return;
    }
    if (!tree) {
        // A scan is starting: selection and focus wait for the new tree.
        outlineModel_->setRoot(nullptr);
        treemap_->setNode(nullptr);
        refresh();
        return;
    }
    outlineModel_->setRoot(tree);
    // What the old tree held is looked up in the new one; what it no longer
    // has is dropped, so nothing of a released tree stays referenced.
    FSNode::Ptr selection = findInTree(selection_);
    FSNode::Ptr focus = findInTree(focus_);
    if (focus && !focus->isDirectory()) focus = nullptr;
    selection_ = nullptr;
    setFocusNode(focus);
    setSelection(selection);
    selectInOutline(selection_);
    comparisonChanged();
    refresh();
}

void BrowseView::nodesAboutToBeRemoved(const FSNode::Ptr& parent, const std::vector<int>& rows) {
    if (!parent || !isInTree(parent.get())) return;
    // Where the focus goes if it, or a folder above it, is among the rows.
    for (int row : rows) {
        if (row < 0 || row >= int(parent->children().size())) continue;
        const FSNode* leaving = parent->children()[size_t(row)].get();
        for (const FSNode* at = focus_.get(); at; at = at->parent())
            if (at == leaving) focusFallback_ = parent;
    }
    outlineModel_->nodesAboutToBeRemoved(parent, rows);
}

void BrowseView::nodesRemoved(const FSNode::Ptr& parent) {
    outlineModel_->nodesRemoved(parent);
    if (focusFallback_ && (!focus_ || !isInTree(focus_.get()))) {
        // The nearest folder above the old focus that is still in the tree.
        FSNode::Ptr fallback = std::exchange(focusFallback_, nullptr);
        while (fallback && !isInTree(fallback.get())) fallback = refOf(fallback->parent());
        setFocusNode(fallback);
    } else {
        focusFallback_ = nullptr;
    }
    if (focus_ && !isInTree(focus_.get())) setFocusNode(nullptr);
    // A removed selection (or one inside a removed folder) goes; the
    // treemap's lump is not in the tree but stays valid while its folder is.
    if (selection_ && !isInTree(selection_.get()) &&
        !(selection_->isAggregate && selection_ == treemap_->selection() && isInTree(currentNode().get())))
        setSelection(nullptr);
    treemap_->invalidate();
    rebuildBreadcrumb();
    refreshDetail();
    refreshSummary();
}

QMenu* BrowseView::buildContextMenu(const FSNode::Ptr& node, QWidget* parent) {
    auto* menu = new QMenu(parent);
    if (!node) return menu;
    if (isGone(node)) {
        menu->addAction(QStringLiteral("Gone since the earlier scan"))->setEnabled(false);
        return menu;
    }
    if (node->isAggregate) {
        menu->addAction(QStringLiteral("Reveal Containing Folder"), this, [this, node] { reveal(node); });
        return menu;
    }
    menu->addAction(QStringLiteral("Show in Files"), this, [this, node] { reveal(node); });
    if (node->isDirectory())
        menu->addAction(QStringLiteral("Focus Treemap Here"), this, [this, node] { setFocusNode(node); });
    if (canRescan(node)) {
        QAction* again = menu->addAction(QStringLiteral("Rescan This Folder"), this, [this, node] { rescan(node); });
        again->setObjectName(QStringLiteral("browse.rescanFolder"));
        again->setEnabled(!removals_.isRescanning(node->path()));
    }
    if (!canRemove(node)) return menu;
    menu->addSeparator();
    QAction* remove = menu->addAction(QStringLiteral("Remove..."), this, [this, node] { askToRemove(node); });
    remove->setObjectName(QStringLiteral("browse.remove"));
    // A node on its way out is not offered again.
    remove->setEnabled(!removals_.isBeingRemoved(node->path()));
    return menu;
}

void BrowseView::reveal(const FSNode::Ptr& node) {
    if (node) Workspace::instance().reveal({node->path()});
}

bool BrowseView::canRescan(const FSNode::Ptr& node) const {
    return node && node->isDirectory() && !node->isAggregate && !node->isNotDescended && !scan_.isScanning() &&
           !isGone(node) && !scan_.isShowingSavedScan();
}

bool BrowseView::isGone(const FSNode::Ptr& node) const { return node && outlineModel_->isGone(*node); }

bool BrowseView::canRemove(const FSNode::Ptr& node) const {
    return node && !node->isAggregate && !isGone(node) && !scan_.isShowingSavedScan();
}

void BrowseView::rescan(const FSNode::Ptr& node) {
    if (!canRescan(node)) return;
    scan_.rescanFolder(node);
}

void BrowseView::busyChanged() {
    outlineTicker_->setActive(removals_.removingCount() > 0 || removals_.rescanningCount() > 0);
    refreshDetail();
}

void BrowseView::childrenAboutToBeReplaced(const FSNode::Ptr& folder) {
    if (!folder || !isInTree(folder.get())) return;
    // What lies inside the folder is about to be replaced by new nodes:
    // selection and focus are found again by path afterwards.
    auto inside = [&](const FSNode::Ptr& node) {
        for (const FSNode* at = node ? node->parent() : nullptr; at; at = at->parent())
            if (at == folder.get()) return true;
        return false;
    };
    if (inside(selection_)) pendingSelection_ = selection_;
    if (inside(focus_)) pendingFocus_ = focus_;
    const QModelIndex index = outlineModel_->indexOf(folder.get());
    folderWasExpanded_ = index.isValid() && outline_->isExpanded(index);
    outlineModel_->childrenAboutToBeReplaced(folder);
}

void BrowseView::childrenReplaced(const FSNode::Ptr& folder) {
    outlineModel_->childrenReplaced(folder);
    if (!folder || !isInTree(folder.get())) return;
    if (folderWasExpanded_) outline_->expand(outlineModel_->indexOf(folder.get()));
    folderWasExpanded_ = false;
    // The same path in the new subtree; a focus that is gone falls back to
    // the nearest folder above it that is still there.
    if (FSNode::Ptr old = std::exchange(pendingFocus_, nullptr)) {
        FSNode::Ptr found = findInTree(old);
        if (!found || !found->isDirectory()) found = folder;
        setFocusNode(found);
    }
    if (FSNode::Ptr old = std::exchange(pendingSelection_, nullptr)) {
        selection_ = nullptr;
        setSelection(findInTree(old));
    }
    selectInOutline(selection_);
    treemap_->invalidate();
    rebuildBreadcrumb();
    refreshDetail();
    refreshSummary();
}

void BrowseView::askToRemove(const FSNode::Ptr& node) {
    if (!canRemove(node) || removals_.isBeingRemoved(node->path())) return;
    if (confirmation_) confirmation_->close();
    confirmRemoval_ = node;
    const QString title = QStringLiteral("Remove ") + Text::fromPath(node->name()) + QLatin1Char('?');
    const QString message = Text::fromPath(node->path()) + QLatin1Char('\n') + text(Fmt::bytes(node->size)) +
                            QStringLiteral(", ") + text(Fmt::counted(node->fileCount + node->dirCount, "item"));
    QPointer<BrowseView> self(this);
    auto* box = RemovalConfirmation::build(this, QStringLiteral("browse.confirmRemoval"), title, message,
                                           [self, node](RemovalMode mode) {
                                               if (!self) return;
                                               self->removalMode_ = mode;
                                               if (self->selection_ == node) self->setSelection(nullptr);
                                               self->scan_.removeNodes({node}, mode);
                                           });
    confirmation_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (confirmation_ == box) confirmRemoval_ = nullptr;
    });
    box->open();
}

void BrowseView::scan() {
    if (scan_.isScanning()) return;
    setSelection(nullptr);
    setFocusNode(nullptr);
    scan_.start();
}

void BrowseView::chooseFolder() {
    if (chooser_) {
        chooser_->raise();
        return;
    }
    auto* dialog = new QFileDialog(this, QStringLiteral("Choose Folder"), Text::filePath(scan_.scanRootPath()));
    chooser_ = dialog;
    dialog->setObjectName(QStringLiteral("browse.folderChooser"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        if (file.isEmpty()) return;
        startScanOf(QFile::encodeName(file).toStdString());
    });
    dialog->open();
}

void BrowseView::startScanOf(const std::string& path) {
    scan_.setScanRootPath(path);
    setSelection(nullptr);
    setFocusNode(nullptr);
    scan_.start(path);
}

void BrowseView::refresh() {
    const bool scanning = scan_.isScanning();
    scanButton_->setVisible(!scanning);
    stopButton_->setVisible(scanning);
    compareButton_->setEnabled(!scanning);
    rootPath_->setText(Text::fromPath(scan_.scanRootPath()));
    syncPicker();
    states_->setCurrentIndex(scanning ? kScanningPage : scan_.tree() ? kContentPage : kIdlePage);
    if (scanning) {
        scanCounts_->setText(text(Fmt::counted(scan_.progress().files, "file")) + QStringLiteral(", ") +
                             text(Fmt::bytes(scan_.progress().bytes)));
        scanPath_->setText(Text::fromPath(scan_.progress().currentPath));
        scanUnreadable_->setVisible(scan_.progress().unreadable > 0);
        scanUnreadableText_->setText(text(Fmt::counted(scan_.progress().unreadable, "unreadable location")));
    }
    refreshSummary();
    rebuildBreadcrumb();
    refreshDetail();
    refreshCompareBar();
}

void BrowseView::syncPicker() {
    // The picker names where the next scan goes: the preset whose folder that
    // is, or else the chosen folder as an extra last item.
    const std::string& root = scan_.scanRootPath();
    int match = -1;
    for (int i = 0; i < presetPicker_->count(); ++i) {
        const int value = presetPicker_->itemData(i).toInt();
        if (value >= 0 && ScanRootPresets::path(ScanRootPreset(value)) == root) match = i;
    }
    const int last = presetPicker_->count() - 1;
    const bool hasChosen = presetPicker_->itemData(last).toInt() < 0;
    if (match >= 0) {
        if (hasChosen) presetPicker_->removeItem(last);
        presetPicker_->setCurrentIndex(match);
        return;
    }
    const QString name = Text::fileName(root);
    if (!hasChosen) presetPicker_->addItem(name, -1);
    const int chosen = presetPicker_->count() - 1;
    presetPicker_->setItemText(chosen, name);
    presetPicker_->setItemData(chosen, Text::fromPath(root), Qt::ToolTipRole);
    presetPicker_->setCurrentIndex(chosen);
}

void BrowseView::refreshSummary() {
    const FSNode::Ptr& root = outlineModel_->root();
    if (!root) return;
    summarySize_->setText(text(Fmt::bytes(root->size)));
    summaryFiles_->setText(text(Fmt::counted(root->fileCount, "file")));
    summaryFolders_->setText(text(Fmt::counted(root->dirCount, "folder")));
    summaryUnreadable_->setVisible(scan_.progress().unreadable > 0);
    summaryUnreadableText_->setText(text(Fmt::count(scan_.progress().unreadable)) + QStringLiteral(" unreadable"));
    summaryElapsed_->setText(QString::asprintf("%.1fs", scan_.progress().elapsed));
}

void BrowseView::rebuildBreadcrumb() {
    while (QLayoutItem* item = breadcrumb_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const FSNode::Ptr& root = outlineModel_->root();
    if (!root) return;
    // Tab goes outline, breadcrumb, treemap, detail panel: the order they are read in.
    QWidget* previous = outline_;
    auto crumb = [this, &previous](const FSNode::Ptr& node, const FSNode::Ptr& target) {
        const QString name = Text::fromPath(node->name());
        auto* button = new LinkButton(QString(), this);
        button->setText(Text::escapeMnemonic(button->fontMetrics().elidedText(name, Qt::ElideMiddle, kCrumbWidth)));
        button->setToolTip(name);
        button->setAccessibleName(name);
        connect(button, &QPushButton::clicked, this, [this, target] { setFocusNode(target); });
        breadcrumb_->addWidget(button);
        setTabOrder(previous, button);
        previous = button;
    };
    auto chevron = [this] {
        auto* label = new QLabel(this);
        label->setPixmap(
            Symbols::pixmap(QStringLiteral("chevron.right"), 10, Colors::secondary(palette()), devicePixelRatioF()));
        breadcrumb_->addWidget(label);
    };
    crumb(root, nullptr);
    std::vector<FSNode::Ptr> chain;
    for (FSNode::Ptr at = focus_; at && at != root;) {
        chain.push_back(at);
        FSNode* up = at->parent();
        if (!up || up == root.get()) break;
        at = refOf(up);
    }
    std::reverse(chain.begin(), chain.end());
    // A deep chain keeps its last crumbs; the ones before fold into "…".
    size_t first = 0;
    if (chain.size() > size_t(kShownCrumbs)) {
        first = chain.size() - kShownCrumbs;
        chevron();
        auto* more = new SecondaryLabel(QStringLiteral("…"), this);
        breadcrumb_->addWidget(more);
    }
    for (size_t i = first; i < chain.size(); ++i) {
        chevron();
        crumb(chain[i], chain[i]);
    }
    setTabOrder(previous, treemap_);
    breadcrumbSize_->setText(text(Fmt::bytes(currentNode() ? currentNode()->size : 0)));
}

void BrowseView::refreshDetail() {
    const bool shown = selection_ != nullptr;
    detail_->setVisible(shown);
    detailDivider_->setVisible(shown);
    if (!shown) return;
    const FSNode& node = *selection_;
    detailName_->setText(Text::fromPath(node.name()));
    const QString path = Text::fromPath(node.path());
    // Two lines at most, cut in the middle. A path has no spaces to wrap
    // at, so the break between the lines is placed here.
    const QFontMetrics metrics = detailPath_->fontMetrics();
    const int width = std::max(100, detail_->width() - 24);
    const QString cut = metrics.elidedText(path, Qt::ElideMiddle, 2 * width - metrics.averageCharWidth() * 2);
    int split = int(cut.size());
    while (split > 0 && metrics.horizontalAdvance(cut.left(split)) > width) --split;
    detailPath_->setText(split >= cut.size() ? cut : cut.left(split) + QLatin1Char('\n') + cut.mid(split));
    detailPath_->setToolTip(path);
    detailSize_->setText(text(Fmt::bytes(node.size)));
    detailFiles_->setVisible(node.isDirectory());
    detailFiles_->setText(text(Fmt::counted(node.fileCount, "file")));
    const bool logical = node.logicalSize >= 1 && node.logicalSize != node.size;
    detailLogical_->setVisible(logical);
    detailLogical_->setText(QStringLiteral("logical ") + text(Fmt::bytes(node.logicalSize)));
    detailRemove_->setVisible(canRemove(selection_));
    detailRemove_->setEnabled(!removals_.isBeingRemoved(node.path()));
    detailReveal_->setVisible(!isGone(selection_));
    refreshDetailComparison();
    detailRescan_->setVisible(canRescan(selection_));
    detailRescan_->setEnabled(!removals_.isRescanning(node.path()));
}

} // namespace vessora
