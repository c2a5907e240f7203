#pragma once
// Immediate, unrecoverable removal that can never be redirected: the tree is
// walked through directory descriptors opened with O_NOFOLLOW, so a symbolic
// link is removed as a link and a directory swapped for a link while the walk
// runs is never entered.

#include <functional>
#include <string>

namespace vessora::SafeDelete {

struct Outcome {
    int error = 0;      // errno of the first failure; 0 when everything went
    std::string reason; // set when the failure is ours rather than the system's
    bool ok() const { return error == 0; }
};

// Removes the item at `path` and, when it is a real directory, everything
// below it, bottom-up. Stops at the first failure. A directory on another file
// system (a mount point inside the tree) is never entered. `beforeEnteringDirectory`
// is called with a directory's path after it was seen as a directory and before
// it is opened; it lets tests stage the race between the two steps.
Outcome removeItem(const std::string& path,
                   const std::function<void(const std::string&)>& beforeEnteringDirectory = {});

} // namespace vessora::SafeDelete
