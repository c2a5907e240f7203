#pragma once
// One factory per page of the window's detail stack that a screen of its own
// fills in. Each is defined in its own file under src/ui/factories/, so a
// screen replaces exactly one line without touching the window (see
// SectionPage.h). The category page is given every category section except
// "applications", through showSection, before it is shown.

#include "ui/SectionPage.h"

namespace vessora {

SectionPage* makeBrowsePage(const ScreenContext& context, QWidget* parent);
SectionPage* makeCleanupPage(const ScreenContext& context, QWidget* parent);
SectionPage* makeAppsPage(const ScreenContext& context, QWidget* parent);
SectionPage* makeCategoryPage(const ScreenContext& context, QWidget* parent);

} // namespace vessora
