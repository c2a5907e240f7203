#pragma once
// Finding items again in the freedesktop.org Trash and putting them back where
// they came from. Restoring is a rename that never replaces anything: when the
// original path has been taken again, the trashed copy stays where it is.

#include <optional>
#include <string>
#include <vector>

namespace vessora::TrashRestore {

// One trashed item: where it came from and where it now lies.
struct TrashedItem {
    std::string original; // absolute path before it was trashed
    std::string location; // inside a trash's "files" folder
    std::string infoPath; // its ".trashinfo" file
    friend bool operator==(const TrashedItem&, const TrashedItem&) = default;
};

struct Refusal {
    std::string path; // the original path
    std::string reason;
    friend bool operator==(const Refusal&, const Refusal&) = default;
};

struct Outcome {
    std::vector<std::string> restored; // original paths now back in place, in the order given
    std::vector<Refusal> refused;      // items left in the Trash, with why
};

// The trash folders an item that lived at `original` may have gone to: the
// home trash when its folder is on the home file system, else the folder's
// file-system trashes ($top/.Trash/$uid, $top/.Trash-$uid). Existing ones only.
std::vector<std::string> candidateTrashes(const std::string& original);

// The most recently trashed item whose .trashinfo names `original`, searched
// in candidateTrashes; its location must still exist. Absent when none.
std::optional<TrashedItem> findNewest(const std::string& original);

// The original path a .trashinfo file records, made absolute for a trash at
// `trashFolder` (relative paths count from the file system's top directory);
// empty when the file is not a valid one.
std::string recordedPath(const std::string& infoPath, const std::string& trashFolder);

// Moves each item back to its original path, creating missing parent folders.
// Refused: the original path exists again, the item or its info file is gone
// or no longer names that path, or the rename fails.
Outcome restore(const std::vector<TrashedItem>& items);

} // namespace vessora::TrashRestore
