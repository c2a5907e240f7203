#include "ui/ScreenFactories.h"

namespace vessora {

SectionPage* makeCleanupPage(const ScreenContext& context, QWidget* parent) {
    auto* page = new PlaceholderPage(context, QStringLiteral("Cleanup"), QStringLiteral("sparkles"),
                                     QStringLiteral("Coming soon"), parent);
    page->setObjectName(QStringLiteral("cleanup.placeholder"));
    return page;
}

} // namespace vessora
