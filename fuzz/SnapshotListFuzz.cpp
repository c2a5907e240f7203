// The snapshot tool's listing: only trimmed snapshot lines come out, newest
// first with the undated last, and a stamp that parses names the same day.

#include "FuzzCheck.h"
#include "platform/LocalSnapshot.h"

#include <cstdio>
#include <ctime>

using namespace vessora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);

    auto snapshots = LocalSnapshot::parseList(in);
    for (size_t i = 0; i < snapshots.size(); ++i) {
        const std::string& name = snapshots[i].name;
        FUZZ_CHECK(name.starts_with("com.apple.TimeMachine."));
        FUZZ_CHECK(name.find('\n') == std::string::npos);
        FUZZ_CHECK(!name.ends_with(' ') && !name.ends_with('\t'));
        if (i > 0 && snapshots[i].date) {
            FUZZ_CHECK(snapshots[i - 1].date);
            FUZZ_CHECK(*snapshots[i - 1].date >= *snapshots[i].date);
        }
    }

    for (std::string_view stamp : {in, in.substr(0, 17)}) {
        auto date = LocalSnapshot::parseStamp(stamp);
        if (!date) continue;
        FUZZ_CHECK(stamp.size() == 17);
        // Read back in the same zone: the same day (a gap in the zone's clock
        // may move the hour, never the day).
        std::time_t t = std::chrono::system_clock::to_time_t(*date);
        std::tm tm{};
        FUZZ_CHECK(localtime_r(&t, &tm));
        char day[48];
        std::snprintf(day, sizeof day, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        FUZZ_CHECK(stamp.substr(0, 10) == day);
    }
    return 0;
}
