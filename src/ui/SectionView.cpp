#include "ui/SectionView.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/ScreenHeader.h"
#include "ui/kit/SecondaryLabel.h"
#include "ui/kit/Symbols.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace vessora {

SectionView::SectionView(QWidget* parent) : QWidget(parent) {}

void SectionView::showSection(const Section&) {}

PlaceholderView::PlaceholderView(const QString& title, const QString& symbol, const QString& text, QWidget* parent)
    : SectionView(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    header_ = new ScreenHeader(title, this);
    layout->addWidget(header_);
    layout->addStretch(1);
    icon_ = new QLabel(this);
    icon_->setAlignment(Qt::AlignCenter);
    icon_->setAccessibleName(text);
    symbol_ = symbol;
    layout->addWidget(icon_);
    updateIcon();
    auto* label = new SecondaryLabel(text, this);
    label->setObjectName(QStringLiteral("placeholder.text"));
    label->setAlignment(Qt::AlignCenter);
    label->setFont(Fonts::title3());
    layout->addSpacing(8);
    layout->addWidget(label);
    layout->addStretch(1);
}

void PlaceholderView::updateIcon() {
    icon_->setPixmap(Symbols::pixmap(symbol_, 48, Colors::tertiary(palette()), devicePixelRatioF()));
}

void PlaceholderView::changeEvent(QEvent* event) {
    SectionView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) updateIcon();
}

void PlaceholderView::showSection(const Section& section) {
    if (followsSection_) header_->setTitle(section.title());
}

} // namespace vessora
