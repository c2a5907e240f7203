// The snapshot tools' files and the quota tool's output: snapper's info.xml
// and configuration, Timeshift's info.json, its folder names and tags, and
// `btrfs qgroup show`. Whatever the bytes, each reader returns what it can
// vouch for or nothing.

#include "FuzzCheck.h"
#include "platform/Btrfs.h"
#include "platform/BtrfsSnapshots.h"

using namespace vessora;

namespace {
bool trimmed(const std::string& text) {
    return text.empty() || (text.find_first_of(" \t\r\n") != 0 && text.find_last_of(" \t\r\n") != text.size() - 1);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);

    if (auto info = BtrfsSnapshots::parseSnapperInfo(in)) {
        FUZZ_CHECK(info->number >= 1);
        FUZZ_CHECK(trimmed(info->type) && trimmed(info->description) && trimmed(info->cleanup));
    }
    if (auto info = BtrfsSnapshots::parseTimeshiftInfo(in)) {
        FUZZ_CHECK(!info->created || *info->created > Date{});
        FUZZ_CHECK(trimmed(info->comments));
        const std::string words = BtrfsSnapshots::tagWords(info->tags);
        FUZZ_CHECK(words.size() <= 47); // all six tags
    }
    for (std::string_view name : {in, in.substr(0, 19)})
        if (BtrfsSnapshots::parseTimeshiftName(name)) FUZZ_CHECK(name.size() == 19 && name[10] == '_');
    const std::string subvolume = BtrfsSnapshots::snapperConfigSubvolume(in);
    FUZZ_CHECK(subvolume.find('\n') == std::string::npos);
    if (BtrfsSnapshots::timeshiftConfigNames(in, "4fdaa4bf-64fa-4269-9a2b-4bd59ccde1bb"))
        FUZZ_CHECK(in.find("backup_device_uuid") != std::string_view::npos);

    const Btrfs::Quotas quotas = Btrfs::parseQgroupShow(in);
    if (quotas.state == Btrfs::QuotaState::off) FUZZ_CHECK(quotas.exclusive.empty());
    for (const auto& [id, bytes] : quotas.exclusive) FUZZ_CHECK(bytes >= 0);
    return 0;
}
