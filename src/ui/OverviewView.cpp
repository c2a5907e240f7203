#include "ui/OverviewView.h"

#include "platform/PlatformTables.h"

#include "model/CorvaneModel.h"
#include "support/Fmt.h"
#include "ui/CategoryRowButton.h"
#include "ui/ColumnFlowLayout.h"
#include "ui/SegmentedCapacityBar.h"
#include "ui/SnapshotDeletion.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Refresher.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"

#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace vessora {

namespace {

QString bytes(int64_t n) { return Text::fromUtf8(Fmt::bytes(n)); }

// A separator line that starts `inset` pixels in.
class Divider : public QWidget {
public:
    Divider(int inset, QWidget* parent) : QWidget(parent), inset_(inset) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(inset_, 0, width() - inset_, 1), Colors::separator(palette()));
    }

private:
    int inset_;
};

QLabel* symbolLabel(const QString& symbol, int size, int frame, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedWidth(frame);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(Symbols::pixmap(symbol, size, Colors::secondary(parent->palette()), parent->devicePixelRatioF()));
    return label;
}

QString snapshotDateText(const LocalSnapshot& snapshot) {
    if (!snapshot.date) return Text::fromUtf8(snapshot.name);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(snapshot.date->time_since_epoch()).count();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms);
    const QLocale locale;
    return locale.toString(when.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(", ") +
           locale.toString(when.time(), QLocale::ShortFormat);
}

} // namespace

OverviewView::OverviewView(VolumesStore& volumes, CategoryList& categories, RemovalQueue& removals, QWidget* parent)
    : SectionView(parent), volumes_(volumes), categories_(categories), removals_(removals) {
    setObjectName(QStringLiteral("overview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    header_ = new ScreenHeader(QStringLiteral("Overview"), this);
    ring_ = new ProgressRing(16, header_);
    ring_->setObjectName(QStringLiteral("overview.progress"));
    ring_->setAccessibleName(QStringLiteral("Measuring categories"));
    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), header_);
    refreshButton_->setObjectName(QStringLiteral("overview.refresh"));
    refreshButton_->setAccessibleName(QStringLiteral("Refresh"));
    Symbols::attach(refreshButton_, QStringLiteral("arrow.clockwise"));
    connect(refreshButton_, &QPushButton::clicked, this, [this] {
        volumes_.refresh();
        categories_.measure();
    });
    header_->addAction(ring_);
    header_->addAction(refreshButton_);
    layout->addWidget(header_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("overview.scroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll_);
    content->setAutoFillBackground(false);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    auto* column = new QWidget(content);
    column->setMaximumWidth(900);
    row->addWidget(column, 1);
    row->addStretch(0);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(20);
    scroll_->setWidget(content);
    scroll_->viewport()->setAutoFillBackground(false);
    content->setAttribute(Qt::WA_TranslucentBackground, false);
    layout->addWidget(scroll_, 1);

    // The capacity card.
    capacityCard_ = new Card({}, {}, column);
    capacityCard_->setObjectName(QStringLiteral("overview.capacity"));
    auto* capacityHeader = new QHBoxLayout;
    volumeName_ = new QLabel(capacityCard_);
    volumeName_->setObjectName(QStringLiteral("overview.volumeName"));
    volumeName_->setTextFormat(Qt::PlainText);
    volumeName_->setFont(Fonts::font(Fonts::Role::title, QFont::DemiBold));
    usedText_ = new SecondaryLabel({}, capacityCard_);
    usedText_->setObjectName(QStringLiteral("overview.used"));
    // Bottom-aligned with the descents evened out, so both sit on one baseline.
    usedText_->setContentsMargins(
        0, 0, 0, std::max(0, QFontMetrics(volumeName_->font()).descent() - QFontMetrics(usedText_->font()).descent()));
    capacityHeader->addWidget(volumeName_, 0, Qt::AlignBottom);
    capacityHeader->addStretch(1);
    capacityHeader->addWidget(usedText_, 0, Qt::AlignBottom);
    capacityCard_->contentLayout()->setSpacing(12);
    capacityCard_->contentLayout()->addLayout(capacityHeader);
    bar_ = new SegmentedCapacityBar(capacityCard_);
    capacityCard_->contentLayout()->addWidget(bar_);
    legend_ = new QWidget(capacityCard_);
    legend_->setObjectName(QStringLiteral("overview.legend"));
    legendLayout_ = new ColumnFlowLayout(legend_, 150, 12, 6);
    capacityCard_->contentLayout()->addWidget(legend_);
    reserve_ = new SecondaryLabel({}, capacityCard_);
    reserve_->setObjectName(QStringLiteral("overview.reserve"));
    reserve_->setFont(Fonts::caption());
    reserve_->setWordWrap(true);
    capacityCard_->contentLayout()->addWidget(reserve_);
    purgeable_ = new SecondaryLabel({}, capacityCard_);
    purgeable_->setObjectName(QStringLiteral("overview.purgeable"));
    purgeable_->setFont(Fonts::caption());
    purgeable_->setWordWrap(true);
    capacityCard_->contentLayout()->addWidget(purgeable_);
    stack->addWidget(capacityCard_);

    // The measuring placeholder, or the category list.
    placeholder_ = new QWidget(column);
    placeholder_->setObjectName(QStringLiteral("overview.measuring"));
    auto* placeholderLayout = new QHBoxLayout(placeholder_);
    placeholderLayout->setContentsMargins(0, 8, 0, 8);
    placeholderLayout->setSpacing(8);
    placeholderLayout->addWidget(new Spinner(16, placeholder_));
    placeholderLayout->addWidget(
        new SecondaryLabel(QStringLiteral("Measuring categories on this computer"), placeholder_));
    placeholderLayout->addStretch(1);
    stack->addWidget(placeholder_);

    categoriesCard_ = new Card({}, {}, column);
    categoriesCard_->setObjectName(QStringLiteral("overview.categories"));
    categoriesCard_->layout()->setContentsMargins(0, 4, 0, 4);
    categoriesCard_->layout()->setSpacing(0);
    categoryList_ = categoriesCard_->contentLayout();
    categoryList_->setSpacing(0);
    stack->addWidget(categoriesCard_);

    volumesCard_ = new Card(QStringLiteral("Other volumes"),
                            QStringLiteral("Categories above describe the startup disk only."), column);
    volumesCard_->setObjectName(QStringLiteral("overview.volumes"));
    stack->addWidget(volumesCard_);
    snapshotsCard_ = new Card(Text::fromUtf8(PlatformTables::current().words.snapshotsTitle), {}, column);
    snapshotsCard_->setObjectName(QStringLiteral("overview.snapshots"));
    stack->addWidget(snapshotsCard_);
    stack->addStretch(1);

    refresher_ = new Refresher(this, [this] { refresh(); });
    for (auto signal : {&VolumesStore::volumesChanged, &VolumesStore::snapshotsChanged})
        connect(&volumes_, signal, refresher_, &Refresher::schedule);
    for (auto signal : {&MeasuredListSignals::itemsChanged, &MeasuredListSignals::measuringChanged,
                        &MeasuredListSignals::progressChanged})
        connect(&categories_, signal, refresher_, &Refresher::schedule);
    applyPalette();
    refresher_->flush();
}

void OverviewView::refreshNow() { refresher_->flush(); }

void OverviewView::changeEvent(QEvent* event) {
    SectionView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && refresher_) applyPalette();
}

void OverviewView::applyPalette() {
    // Rows with tinted symbols are made again in the new colours.
    shownVolumes_.clear();
    snapshotsShown_ = false;
    barFree_ = -1; // the Free dot's colour follows the palette
    volumesCard_->contentLayout()->invalidate();
    refresher_->schedule();
}

void OverviewView::refresh() {
    const bool measuring = categories_.isMeasuring();
    ring_->setVisible(measuring);
    ring_->setValue(categories_.progress());
    refreshButton_->setEnabled(!measuring);
    refreshCapacity();
    refreshCategories();
    refreshVolumes();
    refreshSnapshots();
}

void OverviewView::refreshCapacity() {
    const auto root = volumes_.rootVolume();
    capacityCard_->setVisible(root.has_value());
    if (!root) return;
    const int64_t total = root->totalCapacity, free = root->trueFree, available = root->availableForImportantUsage;
    volumeName_->setText(Text::fromUtf8(root->name));
    usedText_->setText(bytes(total - free) + QStringLiteral(" of ") + bytes(total) + QStringLiteral(" used"));

    std::vector<const MeasuredCategory*> visible;
    for (const auto& category : categories_.items())
        if (category.size > 0) visible.push_back(&category);
    std::stable_sort(visible.begin(), visible.end(), [](auto* a, auto* b) { return a->size > b->size; });
    std::vector<CapacitySegment> segments;
    for (const auto* category : visible)
        segments.push_back({category->id(), Text::fromUtf8(category->category.title),
                            Colors::fromRgb(category->category.color()), category->size});
    // The administrator's reserve is drawn apart, between the categories and Free.
    const int64_t reserve = std::max<int64_t>(0, root->rootReserve);
    if (segments != bar_->segments() || free != barFree_ || total != barTotal_ || reserve != barReserve_) {
        bar_->setData(segments, free, total, reserve);
        barFree_ = free;
        barTotal_ = total;
        barReserve_ = reserve;
        updateLegend(segments, free, reserve);
    }

    // The file system's reserve counts as used but is no category's: said apart.
    const char* reserveSentence = PlatformTables::current().words.rootReserve;
    reserve_->setVisible(reserveSentence && root->rootReserve >= 1);
    if (reserveSentence && root->rootReserve >= 1)
        reserve_->setText(Text::fromUtf8(PlatformTables::format(reserveSentence, Fmt::bytes(root->rootReserve))));

    // Where the system gives nothing back under pressure, nothing is purgeable.
    const char* purgeableSentence = PlatformTables::current().words.purgeableCaption;
    const int64_t purgeable = available - free;
    purgeable_->setVisible(purgeableSentence && purgeable >= 1);
    if (purgeableSentence && purgeable >= 1)
        purgeable_->setText(Text::fromUtf8(PlatformTables::format(purgeableSentence, Fmt::bytes(purgeable))));
}

void OverviewView::updateLegend(const std::vector<CapacitySegment>& segments, int64_t free, int64_t reserved) {
    // Dots are kept by category and re-ordered, so a measurement tick changes
    // texts rather than making widgets.
    while (QLayoutItem* item = legendLayout_->takeAt(0)) delete item;
    std::map<std::string, LegendDot*> kept;
    for (const auto& segment : segments) {
        LegendDot* dot = legendDots_.count(segment.id) ? legendDots_[segment.id] : nullptr;
        if (dot)
            legendDots_.erase(segment.id);
        else
            dot = new LegendDot(segment.color, segment.label, {}, legend_);
        dot->setColor(segment.color);
        dot->setValue(bytes(segment.bytes));
        legendLayout_->addWidget(dot);
        kept[segment.id] = dot;
    }
    for (auto& [id, dot] : legendDots_) delete dot;
    legendDots_ = std::move(kept);
    if (reserved >= 1 && !reserveDot_) {
        reserveDot_ = new LegendDot({}, SegmentedCapacityBar::reserveLabel(), {}, legend_);
        reserveDot_->setObjectName(QStringLiteral("overview.legend.reserve"));
        reserveDot_->setHatched(true);
    }
    if (reserveDot_) {
        reserveDot_->setVisible(reserved >= 1);
        reserveDot_->setValue(bytes(reserved));
        if (reserved >= 1) legendLayout_->addWidget(reserveDot_);
    }
    if (!freeDot_) {
        freeDot_ = new LegendDot({}, QStringLiteral("Free"), {}, legend_);
        freeDot_->setObjectName(QStringLiteral("overview.legend.free"));
    }
    freeDot_->setColor(Colors::withAlpha(Colors::secondary(palette()), 0.3));
    freeDot_->setValue(bytes(free));
    legendLayout_->addWidget(freeDot_);
}

QWidget* OverviewView::divider() {
    auto* line = new Divider(48, categoriesCard_);
    dividers_.push_back(line);
    return line;
}

void OverviewView::refreshCategories() {
    std::vector<const MeasuredCategory*> visible;
    // A category with notes stays listed at 0 bytes: they say where its folders went.
    for (const auto& category : categories_.items())
        if (category.size > 0 || !category.category.notes.empty()) visible.push_back(&category);
    std::stable_sort(visible.begin(), visible.end(), [](auto* a, auto* b) { return a->size > b->size; });

    const bool showPlaceholder = categories_.isMeasuring() && visible.empty();
    placeholder_->setVisible(showPlaceholder);
    categoriesCard_->setVisible(!showPlaceholder && !visible.empty());

    // Rows are kept by id and only re-ordered, so focus and hover survive.
    while (QLayoutItem* item = categoryList_->takeAt(0)) delete item;
    for (auto& [id, row] : categoryRows_) row->hide();
    for (QWidget* line : dividers_) line->hide();
    size_t dividerIndex = 0;
    for (size_t i = 0; i < visible.size(); ++i) {
        const MeasuredCategory& category = *visible[i];
        CategoryRowButton*& row = categoryRows_[category.id()];
        if (!row) {
            row = new CategoryRowButton(categoriesCard_);
            const std::string id = category.id();
            connect(row, &QAbstractButton::clicked, this, [this, id] { emit sectionRequested(Section::category(id)); });
        }
        row->setCategory(category);
        if (i > 0) {
            QWidget* line = dividerIndex < dividers_.size() ? dividers_[dividerIndex] : divider();
            ++dividerIndex;
            categoryList_->addWidget(line);
            line->show();
        }
        categoryList_->addWidget(row);
        row->show();
    }
}

void OverviewView::refreshVolumes() {
    std::vector<VolumeInfo> others;
    const auto& volumes = volumes_.volumes();
    const VolumeInfo* startup = VolumeInfo::startupDisk(volumes);
    for (const auto& volume : volumes)
        if (&volume != startup) others.push_back(volume);
    volumesCard_->setVisible(!others.empty());
    if (!others.empty() && others == shownVolumes_) return;
    shownVolumes_ = others;
    QVBoxLayout* list = volumesCard_->contentLayout();
    while (QLayoutItem* item = list->takeAt(0)) {
        if (item->layout())
            while (QLayoutItem* child = item->layout()->takeAt(0)) {
                delete child->widget();
                delete child;
            }
        delete item->widget();
        delete item;
    }
    for (const auto& volume : others) {
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(
            symbolLabel(volume.isInternal ? QStringLiteral("internaldrive") : QStringLiteral("externaldrive"), 16, 20,
                        volumesCard_));
        auto* name = new QLabel(Text::fromUtf8(volume.name), volumesCard_);
        name->setTextFormat(Qt::PlainText);
        line->addWidget(name);
        line->addStretch(1);
        auto* used = new NumberLabel(volumesCard_);
        used->setFont(font());
        used->setText(bytes(volume.totalCapacity - volume.trueFree) + QStringLiteral(" of ") +
                      bytes(volume.totalCapacity));
        line->addWidget(used);
        list->addLayout(line);
    }
}

void OverviewView::refreshSnapshots() {
    const auto& snapshots = volumes_.snapshots();
    snapshotsCard_->setVisible(!snapshots.empty());
    if (snapshotsShown_ && snapshots == shownSnapshots_) return;
    snapshotsShown_ = true;
    shownSnapshots_ = snapshots;
    const Words& words = PlatformTables::current().words;
    const size_t n = snapshots.size();
    snapshotsCard_->setTitle(Text::fromUtf8(words.snapshotsTitle));
    snapshotsCard_->setSubtitle(Text::fromUtf8(Fmt::counted(int64_t(n), "snapshot") + ". " + words.snapshotsSubtitle));
    QVBoxLayout* list = snapshotsCard_->contentLayout();
    while (QLayoutItem* item = list->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    std::vector<std::string> notes; // once per volume whose quota counts are off or out of date
    for (const auto& snapshot : snapshots) {
        auto* rowWidget = new QWidget(snapshotsCard_);
        rowWidget->setObjectName(QStringLiteral("overview.snapshot"));
        auto* line = new QHBoxLayout(rowWidget);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(10);
        line->addWidget(symbolLabel(QStringLiteral("clock.arrow.circlepath"), 16, 20, rowWidget));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* date = new QLabel(snapshotDateText(snapshot), rowWidget);
        date->setTextFormat(Qt::PlainText);
        date->setToolTip(Text::fromUtf8(snapshot.name));
        // The relative date, then who made it and why.
        QString detail = Text::fromUtf8(Fmt::relativeDate(snapshot.date));
        if (snapshot.owner != SnapshotOwner::timeMachine) {
            detail += QStringLiteral(" · ") + Text::fromUtf8(std::string(ownerName(snapshot.owner)));
            // A snapshot no tool describes is told apart by where it is.
            const std::string& what = snapshot.description.empty() ? snapshot.name : snapshot.description;
            if (!what.empty()) detail += QStringLiteral(" · ") + Text::fromUtf8(what).simplified();
        }
        auto* relative = new SecondaryLabel(detail, rowWidget);
        relative->setObjectName(QStringLiteral("overview.snapshot.detail"));
        relative->setFont(Fonts::caption());
        texts->addWidget(date);
        texts->addWidget(relative);
        line->addLayout(texts);
        line->addStretch(1);
        if (const auto held = snapshot.exclusiveBytes()) {
            auto* size = new NumberLabel(rowWidget);
            size->setObjectName(QStringLiteral("overview.snapshot.size"));
            size->setFont(font());
            size->setText(bytes(*held));
            line->addWidget(size);
        }
        auto* remove = new QPushButton(QStringLiteral("Delete"), rowWidget);
        remove->setFlat(true);
        remove->setObjectName(QStringLiteral("overview.snapshot.delete"));
        remove->setAccessibleName(QStringLiteral("Delete snapshot ") + snapshotDateText(snapshot));
        connect(remove, &QPushButton::clicked, this, [this, remove, snapshot] {
            remove->setEnabled(false);
            deleteLocalSnapshot(volumes_, removals_, snapshot, remove, [remove](bool deleted) {
                // On failure the row stays as it was (the result alert says
                // why); on success the refreshed list no longer holds it.
                if (!deleted) remove->setEnabled(true);
            });
        });
        line->addWidget(remove);
        list->addWidget(rowWidget);

        const char* note = snapshot.owner == SnapshotOwner::timeMachine ? nullptr
                           : snapshot.quotas == SnapshotQuotas::off     ? words.snapshotsNoQuotas
                           : snapshot.quotas == SnapshotQuotas::stale   ? words.snapshotsStaleQuotas
                                                                        : nullptr;
        if (note) {
            std::string text = PlatformTables::format(note, snapshot.volume);
            if (std::find(notes.begin(), notes.end(), text) == notes.end()) notes.push_back(std::move(text));
        }
    }
    if (words.snapshotsCaption) notes.insert(notes.begin(), words.snapshotsCaption);
    for (const std::string& note : notes) {
        auto* caption = new SecondaryLabel(Text::fromUtf8(note), snapshotsCard_);
        caption->setObjectName(QStringLiteral("overview.snapshots.caption"));
        caption->setFont(Fonts::caption());
        caption->setWordWrap(true);
        list->addWidget(caption);
    }
}

} // namespace vessora
