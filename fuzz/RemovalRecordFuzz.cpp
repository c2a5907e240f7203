// The removal record (last-removal.json) that Put Back trusts: every path it
// yields is absolute, standardized and free of NUL bytes, every trashed name
// is a single name, and its date and count are in range (the sanitizers of the
// fuzz build catch any conversion that is not).

#include "FuzzCheck.h"
#include "removal/RemovalLog.h"
#include "support/Paths.h"

#include <string>

using namespace vessora;

namespace {
bool absolutePath(const std::string& p) {
    return p.starts_with('/') && p != "/" && p.find('\0') == std::string::npos && Paths::standardize(p) == p;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto batch = RemovalLog::parse(fuzz::text(data, size));
    if (!batch) return 0;
    FUZZ_CHECK(batch->removedAt.time_since_epoch().count() >= 0);
    FUZZ_CHECK(batch->succeeded <= size_t(INT32_MAX));
    for (const Trash::Entry& item : batch->items) {
        FUZZ_CHECK(absolutePath(item.original));
        FUZZ_CHECK(absolutePath(item.trash));
        FUZZ_CHECK(!item.name.empty() && item.name != "." && item.name != "..");
        FUZZ_CHECK(item.name.find('/') == std::string::npos && item.name.find('\0') == std::string::npos);
        FUZZ_CHECK(Paths::parent(item.location()) == item.trash + "/files");
    }
    return 0;
}
