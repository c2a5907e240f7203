#include "ui/kit/ScreenHeader.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace vessora {

ScreenHeader::ScreenHeader(const QString& title, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("screenHeader"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 8, 12, 8);
    layout->setSpacing(8);
    title_ = new QLabel(this);
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(Fonts::font(Fonts::Role::title3, QFont::DemiBold));
    layout->addWidget(title_);
    leading_ = new QHBoxLayout;
    leading_->setSpacing(8);
    layout->addLayout(leading_);
    layout->addStretch(1);
    trailing_ = new QHBoxLayout;
    trailing_->setSpacing(8);
    layout->addLayout(trailing_);
    setMinimumHeight(44);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setTitle(title);
}

void ScreenHeader::setTitle(const QString& title) {
    if (title == title_->text()) return;
    title_->setText(title);
    setAccessibleName(title);
    emit titleChanged(title);
}

QString ScreenHeader::title() const { return title_->text(); }

void ScreenHeader::addAction(QWidget* widget) { trailing_->addWidget(widget); }

void ScreenHeader::addLeading(QWidget* widget) { leading_->addWidget(widget); }

void ScreenHeader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Colors::barMaterial(palette()));
    painter.fillRect(QRect(0, height() - 1, width(), 1), Colors::separator(palette()));
}

} // namespace vessora
