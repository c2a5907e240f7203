#include "ui/ScreenFactories.h"

namespace vessora {

SectionPage* makeCategoryPage(const ScreenContext& context, QWidget* parent) {
    auto* page = new PlaceholderPage(context, QStringLiteral("Category"), QStringLiteral("folder"),
                                     QStringLiteral("Coming soon"), parent);
    page->setObjectName(QStringLiteral("category.placeholder"));
    page->setFollowsSection(true);
    return page;
}

} // namespace vessora
