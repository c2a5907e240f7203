// The Path= of a .trashinfo file: what comes out is an absolute, standardized
// path without a NUL, and a relative record never reaches above the top of the
// file system whose trash holds it (nor is taken at all in the home trash).

#include "FuzzCheck.h"
#include "platform/TrashRestore.h"
#include "support/Paths.h"

#include <string>

using namespace vessora;

namespace {
void checkPath(const std::optional<std::string>& path) {
    if (!path) return;
    FUZZ_CHECK(path->starts_with('/') && *path != "/");
    FUZZ_CHECK(path->find('\0') == std::string::npos);
    FUZZ_CHECK(Paths::standardize(*path) == *path);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);
    const auto home = TrashRestore::parseInfoPath(in, "");
    const auto first = TrashRestore::parseInfoPath(in, "/mnt/a");
    const auto second = TrashRestore::parseInfoPath(in, "/srv/b/c");
    for (const auto& path : {home, first, second}) checkPath(path);
    // Either the record is absolute (the top changes nothing) or it is
    // relative: then strictly below each top, and refused in the home trash.
    FUZZ_CHECK(first.has_value() == second.has_value());
    if (first && *first != *second) {
        FUZZ_CHECK(!home);
        FUZZ_CHECK(first->starts_with("/mnt/a/") && second->starts_with("/srv/b/c/"));
        FUZZ_CHECK(first->substr(7) == second->substr(9));
    } else if (first) {
        FUZZ_CHECK(home == first);
    } else {
        FUZZ_CHECK(!home);
    }
    return 0;
}
