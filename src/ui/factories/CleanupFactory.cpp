#include "ui/ScreenFactories.h"
#include "ui/cleanup/CleanupPage.h"

namespace vessora {

SectionPage* makeCleanupPage(const ScreenContext& context, QWidget* parent) { return new CleanupPage(context, parent); }

} // namespace vessora
