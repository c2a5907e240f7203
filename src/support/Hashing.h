#pragma once
// Hash helpers for value records that are kept in sets.

#include "support/Date.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace vessora::detail {

inline void hashCombine(size_t& seed, size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

// An absent date hashes apart from every present one: present dates hash odd,
// the absent one to 0.
inline size_t hashOptionalDate(const std::optional<Date>& date) {
    return date ? std::hash<Date::rep>{}(date->time_since_epoch().count()) << 1 | 1 : 0;
}

} // namespace vessora::detail
