#pragma once
// Taking removed items out of the model's lists. Removals and measurements
// share these rules, so that a list pruned after a removal and a measurement
// result pruned on its way in end up alike.

#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "model/AppRow.h"

#include <set>
#include <string>
#include <vector>

namespace vessora::Pruning {

// The paths a removal took away, each without a trailing separator.
using Removed = std::set<std::string>;

// A folder matches whichever way its path was written: with or without a
// trailing separator.
inline std::string comparable(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

inline bool contains(const Removed& removed, const std::string& path) {
    return !removed.empty() && removed.count(comparable(path)) > 0;
}

inline void add(Removed& removed, const std::vector<std::string>& paths) {
    for (const auto& path : paths) removed.insert(comparable(path));
}

// Drops the items whose path was removed, keeping the order of the others;
// true when any went.
template <class T, class Path> bool prune(std::vector<T>& items, const Removed& removed, Path path) {
    if (removed.empty()) return false;
    return std::erase_if(items, [&](const T& item) { return contains(removed, path(item)); }) > 0;
}

inline bool prune(std::vector<CleanupEntry>& entries, const Removed& removed) {
    return prune(entries, removed, [](const CleanupEntry& entry) { return entry.url; });
}

inline bool prune(CleanupTarget& target, const Removed& removed) { return prune(target.entries, removed); }

// A category that lost entries takes the sum of the rest as its size.
inline bool prune(MeasuredCategory& category, const Removed& removed) {
    if (!prune(category.entries, removed)) return false;
    int64_t size = 0;
    for (const auto& entry : category.entries) size += entry.size;
    category.size = size;
    return true;
}

inline bool prune(AppRow& row, const Removed& removed) {
    return prune(row.leftovers, removed, [](const LeftoverItem& item) { return item.url; });
}

} // namespace vessora::Pruning
