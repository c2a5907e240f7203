#include "ui/kit/Refresher.h"

#include <QEvent>
#include <QWidget>

namespace vessora {

Refresher::Refresher(QWidget* page, std::function<void()> refresh)
    : QObject(page), page_(page), refresh_(std::move(refresh)) {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] {
        // Hidden by its stack (not merely in a window not shown yet, as in
        // tests): wait for the page's next show.
        if (page_->isVisibleTo(page_->window()))
            flush();
        else
            dirty_ = true;
    });
    page_->installEventFilter(this);
}

void Refresher::schedule() { timer_.start(); }

void Refresher::flush() {
    timer_.stop();
    dirty_ = false;
    refresh_();
}

bool Refresher::eventFilter(QObject* watched, QEvent* event) {
    if (watched == page_ && (event->type() == QEvent::Show || event->type() == QEvent::ShowToParent) && dirty_) flush();
    return QObject::eventFilter(watched, event);
}

} // namespace vessora
