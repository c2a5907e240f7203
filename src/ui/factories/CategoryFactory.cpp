#include "ui/ScreenFactories.h"
#include "ui/category/CategoryDetailPage.h"

namespace vessora {

SectionPage* makeCategoryPage(const ScreenContext& context, QWidget* parent) {
    return new CategoryDetailPage(context, parent);
}

} // namespace vessora
