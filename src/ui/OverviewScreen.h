#pragma once
// The first screen: how the startup disk is used.

#include "ui/SectionPage.h"

namespace vessora {

class ScreenHeader;

class OverviewScreen : public SectionPage {
    Q_OBJECT
public:
    explicit OverviewScreen(const ScreenContext& context, QWidget* parent = nullptr);
    ScreenHeader* header() const override { return header_; }

private:
    ScreenHeader* header_;
};

} // namespace vessora
