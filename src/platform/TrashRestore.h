#pragma once
// Putting trashed items back where they came from. An item is put back only
// from one of this user's own trash folders, only when the trash folder and
// the entry in it are still the very ones it went into, and only by a rename
// that never replaces anything into a folder reached without following a link.

#include "platform/Trash.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::TrashRestore {

struct Refusal {
    std::string path; // the original path
    std::string reason;
    friend bool operator==(const Refusal&, const Refusal&) = default;
};

struct Outcome {
    std::vector<std::string> restored; // original paths now back in place, in the order given
    std::vector<Refusal> refused;      // items left in the Trash, with why
};

// The original path the text of a .trashinfo file records, absolute and
// standardized. A relative Path= counts from `top`, the top directory of the
// file system whose trash holds the file; `top` is empty for the home trash,
// where only absolute paths are valid. Nothing when the text is not a valid
// record: no Path= in its [Trash Info] group, a malformed escape, a NUL, a
// "." or ".." component, or nothing but "/".
std::optional<std::string> parseInfoPath(std::string_view contents, const std::string& top);

// The guard for a place an item is to be put back: the reason it is refused,
// or nothing when it is allowed.
using DestinationGuard = std::function<std::optional<std::string>(const std::string& path)>;

// Moves each item back to its original path, creating missing parent folders.
// Refused: the trash folder is not one of this user's or is not the one the
// item went into, the entry in it is gone or another, its info file no longer
// names that path, the guard refuses the path, a folder on the way back is a
// link, something is at the path again, or the rename fails.
Outcome restore(const std::vector<Trash::Entry>& items, const DestinationGuard& guard);

} // namespace vessora::TrashRestore
