#include "model/Async.h"

#include "support/ThreadPriority.h"

#include <QRunnable>

namespace vessora::Async {

namespace {

// Every job object is built and read under this lock, so the pool thread that
// runs it sees the fields the starting thread wrote (see the header).
std::mutex jobGate;

class Job final : public QRunnable {
public:
    explicit Job(std::function<void()> job) : job_(std::move(job)) { setAutoDelete(true); }
    void run() override {
        // Everything the model runs off the main thread is background work.
        ThreadPriority::lowerCurrentThread();
        std::function<void()> job;
        {
            std::lock_guard guard(jobGate);
            job = std::move(job_);
        }
        job();
    }

private:
    std::function<void()> job_;
};

} // namespace

void start(QThreadPool& pool, std::function<void()> job, int priority) {
    Job* runnable;
    {
        std::lock_guard guard(jobGate);
        runnable = new Job(std::move(job));
    }
    pool.start(runnable, priority);
}

MainQueue::MainQueue(QObject* parent) : QObject(parent) {}

void MainQueue::post(std::function<void()> function) {
    bool schedule;
    {
        std::lock_guard guard(lock_);
        pending_.push_back(std::move(function));
        schedule = !drainScheduled_;
        drainScheduled_ = true;
    }
    // The string form keeps the queued call entirely inside Qt: it carries no
    // payload of ours, only the request to drain.
    if (schedule) QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void MainQueue::drain() {
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard guard(lock_);
            if (pending_.empty()) {
                drainScheduled_ = false;
                return;
            }
            next = std::move(pending_.front());
            pending_.pop_front();
        }
        next();
    }
}

} // namespace vessora::Async
