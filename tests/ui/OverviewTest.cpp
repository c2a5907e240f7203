// The Overview: the bar's width rule, what a 0-byte category and a 0-byte
// volume show, the purgeable caption, snapshot subtitles, the measuring
// placeholder, and the bar's painted colours.

#include "UiTestSupport.h"
#include "platform/PlatformTables.h"
#include "ui/ColumnFlowLayout.h"
#include "ui/OverviewView.h"
#include "ui/SegmentedCapacityBar.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/TabularText.h"

#include <set>

namespace vessora::test {
namespace {

TEST(CapacitySegmentWidths, WorkedExamplesAndDegenerateBars) {
    auto near = [](const std::vector<double>& got, const std::vector<double>& want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << i;
    };
    near(capacitySegmentWidths(600, {1'000'000'000, 1'000}, 100'000'000'000, 3), {6, 3});
    near(capacitySegmentWidths(100, std::vector<int64_t>(40, 1), 100'000'000'000, 3),
         std::vector<double>(40, 3.0 * 61 / 120));
    near(capacitySegmentWidths(600, {5, 7}, 0, 3), {0, 0});
    // More segments than pixels: the room after the gaps is 0, never negative.
    near(capacitySegmentWidths(10, std::vector<int64_t>(20, 1), 100, 3), std::vector<double>(20, 0.0));
}

TEST(ColumnFlowLayout, ColumnsOfAtLeast150OrTheWidestItem) {
    QWidget host;
    auto* layout = new ColumnFlowLayout(&host, 150, 12, 6);
    auto add = [&](int width) {
        auto* item = new QWidget;
        item->setFixedSize(width, 10);
        layout->addWidget(item);
    };
    add(40);
    for (auto [width, columns] : {std::pair{100, 1}, {311, 1}, {312, 2}, {800, 5}})
        EXPECT_EQ(layout->columnsFor(width), columns);
    add(250);
    EXPECT_EQ(layout->columnsFor(800), 3);
    // Four items in two columns make two rows of 10 with 6 between.
    add(40);
    add(40);
    EXPECT_EQ(layout->heightForWidth(600), 10 + 6 + 10);
}

class OverviewTest : public UiTest {
protected:
    void SetUp() override {
        screen->resize(900, 800);
        screen->show();
    }
    template <class T = QWidget> T* find(const char* name) { return screen->findChild<T*>(QString::fromLatin1(name)); }
    std::unique_ptr<CorvaneModel> model = makeModel();
    std::unique_ptr<OverviewView> screen =
        std::make_unique<OverviewView>(model->volumes(), model->categories(), model->removals());
};

TEST_F(OverviewTest, ZeroByteCategoryIsAbsentAndBarPaintsCategoryColours) {
    model->categories().setItems({measuredCategory("documents", 30'000'000'000), measuredCategory("music", 0),
                                  measuredCategory("photos", 20'000'000'000)});
    screen->refreshNow();
    auto* bar = find<SegmentedCapacityBar>("overview.capacityBar");
    ASSERT_EQ(bar->segments().size(), 2u);
    EXPECT_EQ(std::tuple(bar->segments()[0].id, bar->segments()[1].id), std::tuple("documents", "photos"));
    EXPECT_EQ(visibleOf(screen.get(), {"overview.category.music", "overview.category.documents"}),
              "overview.category.documents");
    EXPECT_EQ(find("overview.legend")->findChildren<LegendDot*>().size(), 3); // two categories and Free

    const QImage image = bar->grab().toImage();
    for (size_t i : {0, 1})
        EXPECT_EQ(image.pixelColor(bar->segmentRects()[i].center().toPoint()).rgb(),
                  Colors::fromRgb(measuredCategory(bar->segments()[i].id, 1).category.color()).rgb());
    // 40 of 100 GB free: the free part starts after the two segments.
    EXPECT_NEAR(bar->freeRect().width(), bar->width() * 0.5 - 2, 1.5);

    // A category that left its only folder out stays listed, saying why.
    MeasuredCategory music = measuredCategory("music", 0);
    music.category.notes = {"Music (/mnt/media/Music) is on another disk, so it is not counted here."};
    model->categories().setItems({measuredCategory("documents", 30'000'000'000), music});
    screen->refreshNow();
    ASSERT_TRUE(find("overview.category.music") && find("overview.category.music")->isVisible());
    const QString description = find("overview.category.music")->accessibleDescription();
    EXPECT_TRUE(description.endsWith(QString::fromStdString(music.category.notes[0])));
    EXPECT_EQ(bar->segments().size(), 1u);
}

TEST_F(OverviewTest, TheAdministratorsReserveIsItsOwnHatchedSegmentBeforeFree) {
    ScopedTables tables{TableSet::linux};
    VolumeInfo volume = rootVolume(100'000'000'000, 40'000'000'000);
    volume.rootReserve = 5'000'000'000;
    volumes = {volume};
    model->volumes().refresh();
    model->categories().setItems({measuredCategory("documents", 55'000'000'000)});
    screen->refreshNow();
    auto* bar = find<SegmentedCapacityBar>("overview.capacityBar");
    EXPECT_EQ(bar->reservedBytes(), 5'000'000'000);
    const QRectF documents = bar->segmentRects().at(0), reserve = bar->reserveRect(), free = bar->freeRect();
    EXPECT_NEAR(reserve.width(), bar->width() * 0.05, 1.5);
    EXPECT_TRUE(documents.right() < reserve.left() && reserve.right() < free.left());
    EXPECT_NEAR(free.width(), bar->width() * 0.4 - 2, 1.5);
    // Hatched: the stripes and the gaps between them differ along the segment.
    const QImage image = bar->grab().toImage();
    std::set<QRgb> colours;
    for (int x = int(reserve.left()) + 1; x < int(reserve.right()); ++x)
        colours.insert(image.pixelColor(x, int(reserve.center().y())).rgb());
    EXPECT_GT(colours.size(), 2u);
    auto* dot = find<LegendDot>("overview.legend.reserve");
    ASSERT_TRUE(dot);
    EXPECT_EQ(std::tuple(dot->isHatched(), dot->label()), std::tuple(true, "Reserved for the administrator"));
    EXPECT_TRUE(find<QLabel>("overview.reserve")->text().startsWith(QStringLiteral("5 GB is reserved")));
}

TEST_F(OverviewTest, EmptyVolumeAndPurgeableCaption) {
    // The caption shows on macOS only: Linux gives nothing back under pressure.
    for (const TableSet set : {TableSet::macos, TableSet::linux}) {
        ScopedTables tables{set};
        for (const auto& [volume, caption] :
             {std::pair{rootVolume(0, 0), false}, {rootVolume(100, 40, 40), false}, {rootVolume(100, 40, 41), true}}) {
            volumes = {volume};
            model->volumes().refresh();
            model->categories().setItems({measuredCategory("documents", 30)});
            screen->refreshNow();
            EXPECT_EQ(find("overview.purgeable")->isVisible(), caption && set == TableSet::macos);
            auto* bar = find<SegmentedCapacityBar>("overview.capacityBar");
            if (volume.totalCapacity == 0) {
                EXPECT_EQ(bar->segmentRects().front().width(), 0);
                EXPECT_EQ(bar->freeRect().width(), bar->width() - 1);
            }
        }
    }
}

TEST_F(OverviewTest, SnapshotSubtitleCountsAndPlaceholderWhileMeasuring) {
    // One snapshot is counted in the singular; the Btrfs card below counts three.
    CorvaneModelTestAccess::setSnapshots(*model, {{"com.apple.TimeMachine.2024-01-01-120000.local", std::nullopt}});
    screen->refreshNow();
    EXPECT_TRUE(find<Card>("overview.snapshots")->subtitle().startsWith("1 snapshot. "));
    EXPECT_EQ(find("overview.snapshots")->findChildren<QPushButton*>().size(), 1);

    CorvaneModelTestAccess::setMeasuringCategories(*model, true);
    screen->refreshNow();
    const QStringList placeholderOrList{"overview.measuring", "overview.categories"};
    EXPECT_EQ(visibleOf(screen.get(), placeholderOrList), "overview.measuring");
    EXPECT_FALSE(find<QPushButton>("overview.refresh")->isEnabled());
    model->categories().setItems({measuredCategory("documents", 30)});
    screen->refreshNow();
    EXPECT_EQ(visibleOf(screen.get(), placeholderOrList), "overview.categories");
    CorvaneModelTestAccess::setMeasuringCategories(*model, false);
    screen->refreshNow();
    EXPECT_TRUE(find<QPushButton>("overview.refresh")->isEnabled());
}

// On Linux the card lists Btrfs snapshots: who made each and why, what it
// holds where quotas count it, and once per volume how to have it counted.
TEST_F(OverviewTest, BtrfsSnapshotsShowTheirToolSizeAndTheQuotaHint) {
    ScopedTables tables{TableSet::linux};
    volumes = {rootVolume(100, 40, 45)};
    model->volumes().refresh();
    LocalSnapshot counted{"/.snapshots/41/snapshot", std::nullopt};
    counted.owner = SnapshotOwner::snapper;
    counted.description = "zypp(zypper)\nupdate";
    counted.volume = "/";
    counted.quotas = SnapshotQuotas::on;
    counted.subvolumes = {{259, counted.name, "@/.snapshots/41/snapshot", true, 31'473'664}};
    LocalSnapshot uncounted{"/data/backups/weekly", std::nullopt};
    uncounted.owner = SnapshotOwner::btrfs;
    uncounted.volume = "/data";
    uncounted.subvolumes = {{300, uncounted.name, "backups/weekly", true, std::nullopt}};
    LocalSnapshot alsoUncounted = uncounted;
    alsoUncounted.name = "/data/backups/daily";
    CorvaneModelTestAccess::setSnapshots(*model, {counted, uncounted, alsoUncounted});
    screen->refreshNow();

    auto* card = find<Card>("overview.snapshots");
    EXPECT_EQ(card->title(), QStringLiteral("Btrfs snapshots"));
    EXPECT_TRUE(card->subtitle().startsWith(QStringLiteral("3 snapshots. ")));
    const auto rows = card->findChildren<QWidget*>(QStringLiteral("overview.snapshot"));
    ASSERT_EQ(rows.size(), 3);
    EXPECT_TRUE(
        rows[0]->findChild<QLabel*>("overview.snapshot.detail")->text().endsWith(" · snapper · zypp(zypper) update"));
    EXPECT_EQ(rows[0]->findChild<NumberLabel*>("overview.snapshot.size")->text(), "31.5 MB");
    EXPECT_FALSE(rows[1]->findChild<NumberLabel*>("overview.snapshot.size"));
    const auto captions = card->findChildren<QLabel*>("overview.snapshots.caption");
    ASSERT_EQ(captions.size(), 1);
    EXPECT_TRUE(captions[0]->text().contains("`btrfs quota enable /data`"));
}

} // namespace
} // namespace vessora::test
