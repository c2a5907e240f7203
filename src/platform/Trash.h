#pragma once
// The freedesktop.org Trash (version 1.0 of its rules, as GLib follows them): items
// of the home folder's file system go to $XDG_DATA_HOME/Trash, items of other
// file systems to that file system's own trash at its top directory. An item
// is only ever renamed, never copied, and a link is trashed as a link.

#include <string>
#include <string_view>

namespace vessora::Trash {

struct Outcome {
    int error = 0;        // errno of the failure; 0 on success
    std::string reason;   // set when no trash can take the item (not a system error)
    std::string location; // where the item now is, inside the trash's "files" folder
    std::string infoPath; // its ".trashinfo" file
    bool ok() const { return error == 0 && reason.empty(); }
};

// Moves the entry `name` of the folder open at `folderFd` to the trash of its
// file system and returns where it went. The item is renamed relative to the
// descriptor, and its recorded original location is the folder's real path
// as the descriptor knows it when the move happens (`knownFolder` where
// /proc cannot tell).
Outcome moveToTrash(int folderFd, const std::string& name, const std::string& knownFolder = {});

// The same for a path (absolute, standardized), its folder opened as named.
Outcome moveToTrash(const std::string& path);

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::string homeTrash();

// The trash folder that would receive the item at `path`, creating nothing;
// empty when none is usable.
std::string trashFor(const std::string& path);

// Percent-encodes every byte of `path` except unreserved characters and "/",
// as the "Path=" key of a .trashinfo file wants it.
std::string encodePath(std::string_view path);

// The name an item gets inside the trash: short enough to leave room for
// ".trashinfo" and a counter within NAME_MAX, never empty.
std::string shortenedName(std::string name);

} // namespace vessora::Trash
