#pragma once
#include <mutex>

namespace vessora {

// Counts the finished definitions of one measurement run. Shared by the run's
// tasks; every read and increment holds the lock, and nothing else is locked
// while it is held.
class Counter {
public:
    // Adds one and returns the new value.
    int increment() {
        std::lock_guard guard(lock_);
        return ++value_;
    }
    int value() {
        std::lock_guard guard(lock_);
        return value_;
    }

private:
    std::mutex lock_;
    int value_ = 0;
};

} // namespace vessora
