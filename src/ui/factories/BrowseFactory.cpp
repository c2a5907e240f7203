#include "ui/ScreenFactories.h"

namespace vessora {

SectionPage* makeBrowsePage(const ScreenContext& context, QWidget* parent) {
    auto* page = new PlaceholderPage(context, QStringLiteral("Browse"), QStringLiteral("list.bullet.indent"),
                                     QStringLiteral("Coming soon"), parent);
    page->setObjectName(QStringLiteral("browse.placeholder"));
    return page;
}

} // namespace vessora
