#pragma once
#include <cstddef>
#include <functional>

namespace vessora {

// Runs body(i) once for every i in [0, count) on up to `threads` threads (0:
// one per core) and returns when all have finished. Indices are handed out in
// order, so earlier items start first.
void parallelFor(size_t count, const std::function<void(size_t)>& body, unsigned threads = 0);

} // namespace vessora
