#pragma once
// An item reached once, for removal: a descriptor of the folder holding it,
// opened without following a link at any component, and the item's name in
// that folder. Every later step (judging, measuring, unlinking, renaming into
// the Trash) works relative to the descriptor, so another process that swaps
// a folder on the way for a link can make the removal fail but never redirect it.

#include "support/ItemIdentity.h"

#include <string>

namespace vessora {

class ItemHandle {
public:
    ItemHandle() = default;
    ItemHandle(ItemHandle&& other) noexcept;
    ItemHandle& operator=(ItemHandle&& other) noexcept;
    ItemHandle(const ItemHandle&) = delete;
    ItemHandle& operator=(const ItemHandle&) = delete;
    ~ItemHandle();

    // Opens `folder`, an absolute path whose every component is a real folder
    // (no link, no "." or ".."), refusing to follow a link anywhere (ELOOP or
    // ENOTDIR then), for the item `name` in it.
    static ItemHandle open(const std::string& folder, const std::string& name);

    bool ok() const { return fd_ >= 0; }
    int error() const { return error_; } // errno when the folder could not be opened
    int folder() const { return fd_; }   // an O_PATH descriptor, usable with the *at calls
    const std::string& name() const { return name_; }
    // The folder's real path, read back from the descriptor when it was opened.
    const std::string& folderPath() const { return folderPath_; }
    std::string path() const;
    // The identity of the item as it stands now, its name not followed when
    // it is a link; unknown (with errno in `error`) when it cannot be read.
    ItemIdentity identity(int* error = nullptr) const;

private:
    int fd_ = -1;
    int error_ = 0;
    std::string name_;
    std::string folderPath_;
};

// An item as it was measured: its path with every folder on the way real (no
// link), the item itself left as it is (a link stays a link), and its
// identity read through a folder opened without following links.
struct IdentifiedItem {
    std::string path;
    ItemIdentity identity; // unknown when the item could not be reached that way
};

// Resolves the folders of `path` once (following links, as the user's path
// meant them) and reads the item's identity. When the folder cannot be
// resolved, the path as given with an unknown identity.
IdentifiedItem identify(const std::string& path);

// The identity of the entry `name` of the folder open at `folderFd`, without
// following it; unknown (errno in `error`) when it cannot be read.
ItemIdentity identityAt(int folderFd, const std::string& name, int* error = nullptr);

// The real path of the folder open at `fd` as the kernel knows it now; empty
// when it cannot be told (or the folder was removed meanwhile).
std::string realPathOf(int fd);

// Opens `folder` (absolute, no "." or ".." components) from "/" one
// component at a time, never following a link: the way used when the kernel
// lacks openat2, and the way Put Back walks to where an item goes back, which
// makes missing folders on the way (`makeMissing`). Returns the descriptor,
// or -1 with errno set (ELOOP when a component is a link).
int openFolderByComponents(const std::string& folder, bool makeMissing = false);

} // namespace vessora
