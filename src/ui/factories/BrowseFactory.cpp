#include "ui/ScreenFactories.h"
#include "ui/browse/BrowseView.h"

namespace vessora {

SectionPage* makeBrowsePage(const ScreenContext& context, QWidget* parent) { return new BrowseView(context, parent); }

} // namespace vessora
