#include "support/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace vessora {

void parallelFor(size_t count, const std::function<void(size_t)>& body, unsigned threads) {
    if (count == 0) return;
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    const size_t workers = std::min<size_t>(threads, count);
    std::atomic<size_t> next{0};
    auto loop = [&] {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) body(i);
    };
    std::vector<std::thread> pool;
    pool.reserve(workers - 1);
    for (size_t t = 1; t < workers; ++t) pool.emplace_back(loop);
    loop();
    for (auto& t : pool) t.join();
}

} // namespace vessora
