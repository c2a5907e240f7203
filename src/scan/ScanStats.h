#pragma once
// Progress and the cancel flag shared between one running scan and whoever
// watches it. The counters only grow while the scan runs (a hard link found to
// be met earlier in the walk is taken back at the end).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vessora {

class ScanStats {
public:
    struct Snapshot {
        int64_t files = 0;
        int64_t bytes = 0;
        int64_t unreadable = 0;
        std::string current;
        bool cancelled = false;
    };

    // Guards _files, _bytes, _unreadable and _current.
    mutable std::mutex lock;
    int64_t _files = 0;
    int64_t _bytes = 0;
    int64_t _unreadable = 0;
    std::string _current;
    // Read by every worker before each entry, so it is atomic rather than
    // taken under the lock; setting it is the only way to stop a scan.
    std::atomic<bool> _cancelled{false};

    Snapshot snapshot() const {
        std::lock_guard<std::mutex> guard(lock);
        return {_files, _bytes, _unreadable, _current, _cancelled.load()};
    }
    void cancel() { _cancelled.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return _cancelled.load(std::memory_order_relaxed); }

    void addProgress(int64_t files, int64_t bytes) {
        std::lock_guard<std::mutex> guard(lock);
        _files += files;
        _bytes += bytes;
    }
    void addUnreadable(int64_t count = 1) {
        std::lock_guard<std::mutex> guard(lock);
        _unreadable += count;
    }
    void setCurrent(std::string path) {
        std::lock_guard<std::mutex> guard(lock);
        _current = std::move(path);
    }
};

} // namespace vessora
