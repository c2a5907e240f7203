#include "ui/ScreenFactories.h"
#include "ui/apps/AppsPage.h"

namespace vessora {

SectionPage* makeAppsPage(const ScreenContext& context, QWidget* parent) { return new AppsPage(context, parent); }

} // namespace vessora
