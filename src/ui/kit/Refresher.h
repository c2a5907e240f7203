#pragma once
// Coalesces change signals into one refresh: schedule() arms a 0 ms
// single-shot timer, so the five fields of a scan tick cause one repaint.
// A page that is hidden only marks itself dirty and refreshes when shown.
//
//   refresher_ = new Refresher(this, [this] { refresh(); });
//   connect(&model, &CorvaneModel::categoriesChanged, refresher_, &Refresher::schedule);

#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace vessora {

class Refresher : public QObject {
    Q_OBJECT
public:
    // `page` owns the refresher; while it is hidden, refreshes wait for its
    // next show.
    Refresher(QWidget* page, std::function<void()> refresh);
    bool isPending() const { return timer_.isActive() || dirty_; }

public slots:
    void schedule();
    // Refreshes now (and cancels a scheduled one).
    void flush();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* page_;
    std::function<void()> refresh_;
    QTimer timer_;
    bool dirty_ = false;
};

} // namespace vessora
