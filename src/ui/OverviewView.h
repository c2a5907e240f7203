#pragma once
// The first screen: how the startup disk is used. A capacity card (segmented
// bar, legend, purgeable caption), the category list (each row opens its
// category), the other volumes and the local snapshots. It starts only a
// refresh and snapshot deletion; everything else it reads from the model.

#include "platform/LocalSnapshot.h"
#include "platform/VolumeInfo.h"
#include "model/CorvaneModel.h"
#include "ui/SectionView.h"

#include <map>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace vessora {

class Card;
class LegendDot;
struct CapacitySegment;
class CategoryRowButton;
class ColumnFlowLayout;
class ProgressRing;
class Refresher;
class ScreenHeader;
class SecondaryLabel;
class SegmentedCapacityBar;

class OverviewView : public SectionView {
    Q_OBJECT
public:
    OverviewView(VolumesStore& volumes, CategoryList& categories, RemovalQueue& removals, QWidget* parent = nullptr);
    ScreenHeader* header() const override { return header_; }
    // Applies the model's state now instead of on the next turn of the loop.
    void refreshNow();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyPalette();
    void refresh();
    void refreshCapacity();
    void refreshCategories();
    void refreshVolumes();
    void refreshSnapshots();
    QWidget* divider();
    void updateLegend(const std::vector<CapacitySegment>& segments, int64_t free, int64_t reserved);

    VolumesStore& volumes_;
    CategoryList& categories_;
    RemovalQueue& removals_;
    ScreenHeader* header_;
    ProgressRing* ring_;
    QPushButton* refreshButton_;
    Refresher* refresher_ = nullptr;
    QScrollArea* scroll_;

    Card* capacityCard_;
    QLabel* volumeName_;
    SecondaryLabel* usedText_;
    SegmentedCapacityBar* bar_;
    QWidget* legend_;
    ColumnFlowLayout* legendLayout_;
    SecondaryLabel* purgeable_;
    SecondaryLabel* reserve_ = nullptr;
    std::map<std::string, LegendDot*> legendDots_;
    LegendDot* freeDot_ = nullptr;
    LegendDot* reserveDot_ = nullptr;
    int64_t barFree_ = -1;
    int64_t barReserve_ = -1;
    int64_t barTotal_ = -1;

    QWidget* placeholder_;
    Card* categoriesCard_;
    QVBoxLayout* categoryList_;
    std::map<std::string, CategoryRowButton*> categoryRows_;
    std::vector<QWidget*> dividers_;

    Card* volumesCard_;
    std::vector<VolumeInfo> shownVolumes_;
    Card* snapshotsCard_;
    std::vector<LocalSnapshot> shownSnapshots_;
    bool snapshotsShown_ = false;
};

} // namespace vessora
