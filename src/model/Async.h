#pragma once
// Background work for the model: run a job on a Qt thread pool, and hand a
// function back to the thread that owns a MainQueue (the main thread).
//
// Both hand-offs pass their payload through a std::mutex of ours rather than
// only through Qt's queues. Qt's own locks are futex based and invisible to
// ThreadSanitizer, so a payload handed over by Qt alone would look like a race;
// with the mutex the ordering is explicit and checked.

#include <QObject>
#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace vessora::Async {

// Runs `job` once on one of `pool`'s threads. Returns at once.
void start(QThreadPool& pool, std::function<void()> job, int priority = 0);

// A queue of functions that run, in the order they were posted, on the thread
// the queue lives on. post() may be called from any thread; the functions run
// from that thread's event loop. Functions still queued when the queue is
// destroyed are dropped without running.
class MainQueue : public QObject {
    Q_OBJECT
public:
    explicit MainQueue(QObject* parent = nullptr);
    void post(std::function<void()> function);

private:
    Q_INVOKABLE void drain();

    std::mutex lock_;
    std::deque<std::function<void()>> pending_;
    bool drainScheduled_ = false; // guarded by lock_
};

// Results of a fan-out, taken in the order the children finished. Children
// push from pool threads; one consumer pops, blocking until a result is there.
template <class T> class CompletionQueue {
public:
    void push(T value) {
        {
            std::lock_guard guard(lock_);
            items_.push_back(std::move(value));
        }
        ready_.notify_one();
    }
    T pop() {
        std::unique_lock guard(lock_);
        ready_.wait(guard, [this] { return !items_.empty(); });
        T value = std::move(items_.front());
        items_.pop_front();
        return value;
    }

private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<T> items_;
};

} // namespace vessora::Async
