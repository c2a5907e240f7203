#pragma once
// The freedesktop.org Trash (version 1.0 of its rules, as GLib follows them): items
// of the home folder's file system go to $XDG_DATA_HOME/Trash, items of other
// file systems to that file system's own trash at its top directory. An item
// is only ever renamed, never copied, and a link is trashed as a link.
//
// A file system's trash is shared ground: other users may create "$top/.Trash"
// and anything in it. A trash folder is therefore used only after it was
// opened without following a link and checked (a real folder of this user,
// private), and everything afterwards happens through that descriptor.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace vessora::Trash {

// One item in a trash: where it came from, and the trash folder and the entry
// in its files/ with the identities they had when the item went in, so that
// putting it back acts on exactly that entry.
struct Entry {
    std::string original; // the item's real path before the move
    std::string trash;    // the trash folder (holding files/ and info/)
    uint64_t trashDevice = 0;
    uint64_t trashInode = 0;
    std::string name; // the entry in files/; its record is info/NAME.trashinfo
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string location() const { return trash + "/files/" + name; }
    std::string infoPath() const { return trash + "/info/" + name + ".trashinfo"; }
    friend bool operator==(const Entry&, const Entry&) = default;
};

struct Outcome {
    int error = 0;        // errno of the failure; 0 on success
    std::string reason;   // set when no trash can take the item (not a system error)
    std::string location; // where the item now is, inside the trash's "files" folder
    std::string infoPath; // its ".trashinfo" file
    Entry entry;          // on success: the item as the trash now holds it
    bool ok() const { return error == 0 && reason.empty(); }
};

// Called with the chosen trash folder's path after it was opened and checked
// and before anything is put in it: the point where tests stage races.
using Hook = std::function<void(const std::string& trashFolder)>;

// Moves the entry `name` of the folder open at `folderFd` to the trash of its
// file system and returns where it went. The item is renamed relative to the
// descriptor, and its recorded original location is the folder's real path
// as the descriptor knows it when the move happens (`knownFolder` where
// /proc cannot tell).
Outcome moveToTrash(int folderFd, const std::string& name, const std::string& knownFolder = {},
                    const Hook& afterChoosing = {});

// The same for a path (absolute, standardized), its folder opened as named.
Outcome moveToTrash(const std::string& path);

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash.
std::string homeTrash();

// The trash folder that would receive the item at `path`, creating nothing;
// empty when none is usable.
std::string trashFor(const std::string& path);

// A trash folder of this user, open. Move-only; closes its descriptor.
class Folder {
public:
    Folder() = default;
    // Takes ownership of `fd`.
    Folder(int fd, std::string path, std::string top) : fd_(fd), path_(std::move(path)), top_(std::move(top)) {}
    Folder(Folder&& other) noexcept { *this = std::move(other); }
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }                    // the trash folder (read access)
    const std::string& path() const { return path_; } // as it was opened
    // The file system's top directory the trash belongs to; empty for the home trash.
    const std::string& top() const { return top_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string top_;
};

// Opens the trash folder at `path` only when it is one of this user's and
// passes the checks a trash gets before items go in: the home trash, or
// "$top/.Trash/$uid" (in a real, sticky "$top/.Trash") or "$top/.Trash-$uid",
// where $top is the top directory of its file system, each a real folder of
// this user with mode 0700, reached without following a link. Not ok otherwise.
Folder openOwnTrash(const std::string& path);

// Drops the line of the trashed folder `name` from the trash's directorysizes
// cache, replacing the file atomically.
void forgetDirectorySize(int trashFd, const std::string& name);

// Percent-encodes every byte of `path` except unreserved characters and "/",
// as the "Path=" key of a .trashinfo file wants it.
std::string encodePath(std::string_view path);

// The name an item gets inside the trash: short enough to leave room for
// ".trashinfo" and a counter within NAME_MAX, never empty.
std::string shortenedName(std::string name);

} // namespace vessora::Trash
