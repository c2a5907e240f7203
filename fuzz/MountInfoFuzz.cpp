// Mount table lines: any text parses without harm, and fields the kernel
// escapes (space, tab, line feed, backslash as \ooo) come back byte for byte.

#include "FuzzCheck.h"
#include "platform/VolumeInfo.h"

#include <string>
#include <vector>

using namespace vessora;

namespace {
// The kernel's own escaping of a mount table field.
std::string escape(std::string_view field) {
    std::string out;
    for (char c : field) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            unsigned char u = static_cast<unsigned char>(c);
            out += '\\';
            out += char('0' + (u >> 6));
            out += char('0' + ((u >> 3) & 7));
            out += char('0' + (u & 7));
        } else {
            out += c;
        }
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);

    for (const MountEntry& entry : MountTable::parse(in)) {
        FUZZ_CHECK(!entry.deviceId.empty() && entry.deviceId.find(' ') == std::string::npos);
        (void)VolumeInfo::isBrowsable(entry);
    }

    // Four fields separated by NUL bytes (which no mount table holds).
    std::vector<std::string> fields;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t cut = in.find('\0', start);
        if (cut == std::string_view::npos) break;
        fields.emplace_back(in.substr(start, cut - start));
        start = cut + 1;
    }
    fields.emplace_back(in.substr(std::min(start, in.size())));
    fields.resize(4);
    std::string root = "/" + fields[0], mountPoint = "/" + fields[1];
    std::string type = fields[2].empty() ? "ext4" : fields[2], source = fields[3].empty() ? "none" : fields[3];
    std::string line = "36 35 98:0 " + escape(root) + " " + escape(mountPoint) + " rw,noatime master:1 - " +
                       escape(type) + " " + escape(source) + " rw,errors=continue\n";
    auto entries = MountTable::parse(line);
    FUZZ_CHECK(entries.size() == 1);
    FUZZ_CHECK(entries[0].deviceId == "98:0");
    FUZZ_CHECK(entries[0].root == root && entries[0].mountPoint == mountPoint);
    FUZZ_CHECK(entries[0].fsType == type && entries[0].source == source);
    return 0;
}
