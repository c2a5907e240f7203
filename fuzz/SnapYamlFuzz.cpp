// A snap's meta/snap.yaml: any text is read without an exception escaping,
// and a snap that is read has a name and a type.

#include "FuzzCheck.h"
#include "apps/Snaps.h"

#include <string>

using namespace vessora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Snaps::Snap snap;
    snap.name = "folder-name";
    const bool read = Snaps::parseYaml(std::string(fuzz::text(data, size)), snap);
    if (read) FUZZ_CHECK(!snap.type.empty() && !snap.name.empty());
    (void)snap.isSystem();
    return 0;
}
