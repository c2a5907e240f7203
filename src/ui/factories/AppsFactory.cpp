#include "ui/ScreenFactories.h"

namespace vessora {

SectionPage* makeAppsPage(const ScreenContext& context, QWidget* parent) {
    auto* page = new PlaceholderPage(context, QStringLiteral("Applications"), QStringLiteral("app.badge"),
                                     QStringLiteral("Coming soon"), parent);
    page->setObjectName(QStringLiteral("apps.placeholder"));
    return page;
}

} // namespace vessora
