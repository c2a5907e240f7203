#include "ui/cleanup/CleanupView.h"

#include "model/CorvaneModel.h"
#include "model/Removals.h"
#include "support/Fmt.h"
#include "ui/cleanup/CleanupTexts.h"
#include "ui/kit/Card.h"
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
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace vessora {

// Card.

TargetCard::TargetCard(PathSelection* selection, QWidget* parent) : QWidget(parent), selection_(selection) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    QFrame* frame = Widgets::card(this);
    outer->addWidget(frame);
    auto* column = new QVBoxLayout(frame);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    check_ = new QCheckBox(frame);
    check_->setObjectName("cleanup.card.check");
    header->addWidget(check_, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    title_ = Widgets::label({}, Fonts::headline(), false, frame);
    titleRow->addWidget(title_);
    badgeSlot_ = new QWidget(frame);
    auto* badgeLayout = new QHBoxLayout(badgeSlot_);
    badgeLayout->setContentsMargins(0, 0, 0, 0);
    titleRow->addWidget(badgeSlot_);
    titleRow->addStretch();
    words->addLayout(titleRow);
    detail_ = Widgets::label({}, Fonts::callout(), true, frame);
    detail_->setWordWrap(true);
    words->addWidget(detail_);
    header->addLayout(words, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    total_ = Widgets::label({}, Fonts::font(Fonts::Role::title3, QFont::Medium), false, frame);
    total_->setAlignment(Qt::AlignRight);
    right->addWidget(total_, 0, Qt::AlignRight);
    expand_ = new LinkButton({}, frame);
    expand_->setObjectName("cleanup.card.expand");
    expand_->setFont(Fonts::caption());
    right->addWidget(expand_, 0, Qt::AlignRight);
    header->addLayout(right);
    column->addLayout(header);

    body_ = new QWidget(frame);
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->addWidget(Widgets::divider(body_));
    list_ = new EntryListView(body_);
    list_->setObjectName("cleanup.card.entries");
    model_ = new EntryListModel(selection_, {}, list_);
    list_->setModel(model_);
    list_->setRowDelegate(new EntryRowDelegate({}, list_));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = list_->indexAt(pos);
        if (!index.isValid()) return;
        QMenu* menu = buildContextMenu(index, this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(list_->viewport()->mapToGlobal(pos));
    });
    bodyLayout->addWidget(list_);
    ticker_ = new SpinnerTicker(list_);
    column->addWidget(body_);
    body_->hide();

    // Whatever changes the box (a click, Space, an assistive tool's Toggle
    // action) changes the selection; syncCheck sets it without signals.
    connect(check_, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            selection_->insert(selectableEntries());
        else
            selection_->remove(selectableEntries());
    });
    connect(expand_, &QPushButton::clicked, this, [this] { emit toggleExpand(id_); });
    connect(selection_, &PathSelection::changed, this, &TargetCard::syncCheck);
}

QMenu* TargetCard::buildContextMenu(const QModelIndex& index, QWidget* parent) {
    auto* menu = new QMenu(parent);
    const std::string url = index.data(EntryListModel::UrlRole).toByteArray().toStdString();
    menu->addAction(Text::fromUtf8(CleanupTexts::revealInFileBrowser()),
                    [url] { Workspace::instance().reveal({url}); });
    return menu;
}

std::vector<CleanupEntry> TargetCard::selectableEntries() const {
    std::vector<CleanupEntry> out;
    for (int row = 0; row < int(model_->entries().size()); ++row)
        if (model_->isSelectable(row)) out.push_back(model_->entries()[size_t(row)]);
    return out;
}

void TargetCard::setSpinning(bool spinning) {
    ticker_->setActive(spinning && !body_->isHidden());
    syncCheck();
}

void TargetCard::syncCheck() {
    const auto entries = selectableEntries();
    check_->setEnabled(!entries.empty());
    bool all = !entries.empty();
    for (const auto& entry : entries) {
        if (!selection_->contains(entry.url)) {
            all = false;
            break;
        }
    }
    // Set without signals: only the user's toggle changes the selection.
    const QSignalBlocker blocker(check_);
    check_->setChecked(all);
}

void TargetCard::update(const CleanupTarget& target, bool expanded) {
    id_ = target.id;
    title_->setText(Text::fromUtf8(target.title));
    check_->setAccessibleName(Text::fromUtf8("Select all of " + target.title));
    list_->setAccessibleName(Text::fromUtf8(target.title + " entries"));
    detail_->setText(Text::fromUtf8(target.detail));
    if (badgeRisk_ != int(target.risk)) {
        delete badge_;
        badge_ = new RiskBadge(target.risk, badgeSlot_);
        badgeSlot_->layout()->addWidget(badge_);
        badgeRisk_ = int(target.risk);
    }
    total_->setText(Text::fromUtf8(Fmt::bytes(CleanupTexts::targetTotal(target))));
    const size_t count = target.entries.size();
    expand_->setText(Text::fromUtf8((expanded ? "Hide " : "Show ") + Fmt::counted(int64_t(count), "item")));
    const size_t before = model_->entries().size();
    model_->setEntries(target.entries);
    if (before != count) list_->fitHeight();
    body_->setVisible(expanded);
    syncCheck();
}

// Page.

CleanupView::CleanupView(CleanupList& cleanup, RemovalQueue& removals, QWidget* parent)
    : SectionView(parent), cleanup_(cleanup), removals_(removals), selection_(new PathSelection(this)),
      refresher_(new QTimer(this)) {
    setObjectName("cleanup");
    refresher_->setSingleShot(true);
    refresher_->setInterval(0);
    connect(refresher_, &QTimer::timeout, this, &CleanupView::refresh);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    header_ = new ScreenHeader("Cleanup", this);
    page->addWidget(header_);
    measure_ = new QPushButton("Measure", this);
    Symbols::attach(measure_, "arrow.clockwise");
    measure_->setObjectName("cleanup.measure");
    header_->addAction(measure_);

    progressRow_ = new QWidget(this);
    auto* progressLayout = new QHBoxLayout(progressRow_);
    progressLayout->setContentsMargins(16, 8, 16, 8);
    progress_ = new QProgressBar(progressRow_);
    progress_->setObjectName("cleanup.progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progressLayout->addWidget(progress_, 1);
    progressLayout->addWidget(Widgets::label("Measuring cleanup targets", Fonts::callout(), true, progressRow_));
    page->addWidget(progressRow_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("cleanup.scroll");
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 8, 20, 20);
    column->setSpacing(12);
    column->addWidget(Widgets::label("Cleanup", Fonts::font(Fonts::Role::largeTitle, QFont::DemiBold), false, content));
    auto* intro = Widgets::label(Text::fromUtf8(CleanupTexts::cleanupIntro()), Fonts::body(), true, content);
    intro->setWordWrap(true);
    column->addWidget(intro);
    cardsLayout_ = new QVBoxLayout;
    cardsLayout_->setSpacing(12);
    column->addLayout(cardsLayout_);
    empty_ = Widgets::label("Nothing found. Run a scan to measure.", Fonts::body(), true, content);
    empty_->setObjectName("cleanup.empty");
    column->addWidget(empty_);
    column->addStretch();
    scroll_->setWidget(content);
    page->addWidget(scroll_, 1);

    QWidget* bar = Widgets::barMaterial(this);
    bar->setObjectName("cleanup.actionBar");
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(20, 10, 20, 10);
    auto* left = new QVBoxLayout;
    left->setSpacing(0);
    found_ = Widgets::label({}, Fonts::callout(), false, bar);
    found_->setObjectName("cleanup.found");
    across_ = Widgets::label({}, Fonts::caption(), true, bar);
    across_->setObjectName("cleanup.across");
    left->addWidget(found_);
    left->addWidget(across_);
    barLayout->addLayout(left);
    barLayout->addStretch();
    clear_ = new LinkButton("Clear Selection", bar);
    clear_->setObjectName("cleanup.clearSelection");
    barLayout->addWidget(clear_);
    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    selectedTotal_ = Widgets::label({}, Fonts::headline(), false, bar);
    selectedTotal_->setObjectName("cleanup.selectedTotal");
    selectedTotal_->setAlignment(Qt::AlignRight);
    selectedCount_ = Widgets::label({}, Fonts::caption(), true, bar);
    selectedCount_->setObjectName("cleanup.selectedCount");
    selectedCount_->setAlignment(Qt::AlignRight);
    right->addWidget(selectedTotal_);
    right->addWidget(selectedCount_);
    barLayout->addLayout(right);
    remove_ = Widgets::prominentButton("Remove Selected", bar);
    remove_->setObjectName("cleanup.removeSelected");
    barLayout->addWidget(remove_);
    page->addWidget(bar);

    connect(measure_, &QPushButton::clicked, this, [this] { cleanup_.measure(); });
    connect(clear_, &QPushButton::clicked, selection_, &PathSelection::clear);
    connect(remove_, &QPushButton::clicked, this, &CleanupView::confirmRemoval);
    connect(selection_, &PathSelection::changed, this, &CleanupView::schedule);
    for (auto signal : {&MeasuredListSignals::itemsChanged, &MeasuredListSignals::measuringChanged,
                        &MeasuredListSignals::progressChanged})
        connect(&cleanup_, signal, this, &CleanupView::schedule);
    connect(&removals_, &RemovalQueue::busyChanged, this, &CleanupView::schedule);
    refresh();
}

void CleanupView::schedule() {
    dirty_ = true;
    if (isVisible()) refresher_->start();
}

void CleanupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (dirty_) refresh();
    const auto& targets = cleanup_.items();
    const bool anyScanned = std::any_of(targets.begin(), targets.end(), [](const auto& t) { return t.scanned; });
    if (!anyScanned && !cleanup_.isMeasuring()) cleanup_.measure();
}

std::vector<TargetCard*> CleanupView::cards() const {
    std::vector<TargetCard*> ordered;
    for (int i = 0; i < cardsLayout_->count(); ++i)
        if (auto* card = qobject_cast<TargetCard*>(cardsLayout_->itemAt(i)->widget())) ordered.push_back(card);
    return ordered;
}

void CleanupView::refresh() {
    dirty_ = false;
    const bool measuring = cleanup_.isMeasuring();
    measure_->setEnabled(!measuring);
    progressRow_->setVisible(measuring);
    progress_->setValue(int(cleanup_.progress() * 1000));

    const auto& targets = cleanup_.items();
    const auto shown = CleanupTexts::shownTargets(targets);
    // Cards live as long as their target is shown, and are put in order in
    // place, so scroll position and focus survive a new measurement.
    std::set<std::string> shownIds;
    for (const CleanupTarget* target : shown) shownIds.insert(target->id);
    for (auto it = cards_.begin(); it != cards_.end();) {
        if (shownIds.count(it->first)) {
            ++it;
            continue;
        }
        cardsLayout_->removeWidget(it->second);
        it->second->deleteLater();
        it = cards_.erase(it);
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        const CleanupTarget& target = *shown[i];
        TargetCard*& card = cards_[target.id];
        if (!card) {
            card = new TargetCard(selection_, scroll_->widget());
            card->entryModel()->setBusy([this](const std::string& path) { return removals_.isBeingRemoved(path); });
            connect(card, &TargetCard::toggleExpand, this, [this](const std::string& id) {
                if (!expanded_.erase(id)) expanded_.insert(id);
                refresh();
            });
        }
        card->update(target, expanded_.count(target.id) > 0);
        // Entries on their way out turn busy, and back when their result is in.
        card->entryModel()->busyChanged();
        card->setSpinning(removals_.removingCount() > 0);
        if (cardsLayout_->indexOf(card) != int(i)) {
            cardsLayout_->removeWidget(card);
            cardsLayout_->insertWidget(int(i), card);
        }
    }

    int64_t found = 0;
    for (const auto& target : targets) found += CleanupTexts::targetTotal(target);
    empty_->setVisible(!measuring && found <= 0);
    found_->setText(Text::fromUtf8(Fmt::bytes(found) + " found"));
    size_t withEntries = 0;
    for (const auto& target : targets) withEntries += target.entries.empty() ? 0 : 1;
    across_->setText(Text::fromUtf8(CleanupTexts::categoriesLine(withEntries)));

    const auto picked = CleanupTexts::selectedEntries(targets, selection_->urls());
    clear_->setVisible(!selection_->empty());
    selectedTotal_->setText(Text::fromUtf8(Fmt::bytes(CleanupTexts::total(picked))));
    selectedCount_->setText(Text::fromUtf8(Fmt::count(int64_t(picked.size())) + " selected"));
    remove_->setEnabled(!picked.empty() && !removals_.isRemoving());
}

QMessageBox* CleanupView::buildConfirmation() {
    const auto picked = CleanupTexts::selectedEntries(cleanup_.items(), selection_->urls());
    QPointer<CleanupView> self(this);
    return RemovalConfirmation::build(this, "cleanup.confirmation",
                                      Text::fromUtf8(CleanupTexts::removeSelectedTitle(picked.size())),
                                      Text::fromUtf8(CleanupTexts::removeSelectedMessage(CleanupTexts::total(picked))),
                                      [self, picked](RemovalMode mode) {
                                          if (!self) return;
                                          // The selection is emptied first: the removal publishes its result
                                          // and the window's alert may open before this returns.
                                          self->selection_->clear();
                                          Removals::removeCleanupEntries(self->removals_, picked, mode);
                                      });
}

void CleanupView::confirmRemoval() {
    if (CleanupTexts::selectedEntries(cleanup_.items(), selection_->urls()).empty()) return;
    buildConfirmation()->open();
}

} // namespace vessora
