#pragma once
// What every fuzz target shares: a property check that holds in every build
// (assert() would vanish under NDEBUG) and reports which property broke.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace fuzz {

inline std::string_view text(const uint8_t* data, size_t size) { return {reinterpret_cast<const char*>(data), size}; }

// The input cut at its first line feed: two independent strings for targets
// that take two (the second is empty when there is no line feed).
inline std::pair<std::string_view, std::string_view> halves(std::string_view in) {
    size_t cut = in.find('\n');
    if (cut == std::string_view::npos) return {in, {}};
    return {in.substr(0, cut), in.substr(cut + 1)};
}

// Takes a fixed-size number off the front of the input (zero-padded when short).
template <typename T> T take(std::string_view& in) {
    T value{};
    unsigned char bytes[sizeof(T)] = {};
    for (size_t i = 0; i < sizeof(T) && !in.empty(); ++i) {
        bytes[i] = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
    }
    __builtin_memcpy(&value, bytes, sizeof(T));
    return value;
}

} // namespace fuzz
