#include "ui/OverviewScreen.h"

#include "ui/kit/ScreenHeader.h"

#include <QVBoxLayout>

namespace vessora {

OverviewScreen::OverviewScreen(const ScreenContext& context, QWidget* parent) : SectionPage(context, parent) {
    setObjectName(QStringLiteral("overview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    header_ = new ScreenHeader(QStringLiteral("Overview"), this);
    layout->addWidget(header_);
    layout->addStretch(1);
}

} // namespace vessora
