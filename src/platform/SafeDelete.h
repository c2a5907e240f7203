#pragma once
// Immediate, unrecoverable removal that can never be redirected: the tree is
// walked through directory descriptors opened with O_NOFOLLOW, so a symbolic
// link is removed as a link and a directory swapped for a link while the walk
// runs is never entered. It never enters another mount, and it holds a bounded
// number of descriptors however deep the tree goes.

#include "support/ItemIdentity.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vessora::SafeDelete {

struct Outcome {
    int error = 0;            // errno of the first failure; 0 when everything went
    std::string reason;       // set when the failure is ours rather than the system's
    int64_t bytesRemoved = 0; // allocated bytes that went, even when the removal stopped midway
    int64_t entriesRemoved = 0;
    bool changed = false; // the entry was not the object expected: nothing was touched
    bool ok() const { return error == 0; }
    bool partial() const { return error != 0 && entriesRemoved > 0; }
};

using Hook = std::function<void(const std::string& path)>;

// Removes the entry `name` of the folder open at `folderFd` and, when it is a
// real directory, everything below it, bottom-up. Stops at the first failure.
// `displayPath` names the item in reasons. `beforeEnteringDirectory` is called
// with a directory's path after it was seen as a directory and before it is
// opened; it lets tests stage the race between the two steps. With a known
// `expected` identity the entry must be that object (a directory is checked
// again once open, so the walk below it is bound to it); otherwise nothing
// is touched and the outcome says it changed.
Outcome removeAt(int folderFd, const std::string& name, const std::string& displayPath,
                 const Hook& beforeEnteringDirectory = {}, const ItemIdentity& expected = {});

// The same for a path, its folder opened as the path names it.
Outcome removeItem(const std::string& path, const Hook& beforeEnteringDirectory = {});

} // namespace vessora::SafeDelete
