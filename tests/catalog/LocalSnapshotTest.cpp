#include "catalog/LocalSnapshot.h"

#include "TestSupport.h"

#include <ctime>
#include <gtest/gtest.h>

using namespace vessora;

namespace {
// Pins the local time zone for one test; mktime reads TZ through tzset.
class LocalZone {
public:
    explicit LocalZone(const char* zone) : env_("TZ", zone) { ::tzset(); }
    ~LocalZone() { ::tzset(); }

private:
    test::ScopedEnv env_;
};
} // namespace

TEST(LocalSnapshot, ParsesToolOutputNewestFirstInTheLocalZone) {
    LocalZone zone("America/New_York");
    const std::string output = "Snapshots for disk /:\n"
                               "com.apple.TimeMachine.2024-05-01-093015.local\n"
                               "  \tcom.apple.TimeMachine.2024-05-02-101500.local \n"
                               "\n"
                               "com.apple.TimeMachine.yesterday.local\n"
                               "com.apple.TimeMachine.2024-02-30-101500.local\n"
                               "com.apple.TimeMachine.2023-12-24-180000\n"
                               "com.apple.timemachine.2024-06-01-101500.local\n";
    std::vector<std::pair<std::string, std::string>> parsed;
    for (const LocalSnapshot& s : LocalSnapshot::parseList(output))
        parsed.emplace_back(s.name, s.date ? Dates::iso8601(*s.date) : "undated");
    // Local times (EDT, then EST) newest first, the suffix optional; undated
    // ones (no 30 February either) last in printed order.
    EXPECT_EQ(parsed, (std::vector<std::pair<std::string, std::string>>{
                          {"com.apple.TimeMachine.2024-05-02-101500.local", "2024-05-02T14:15:00Z"},
                          {"com.apple.TimeMachine.2024-05-01-093015.local", "2024-05-01T13:30:15Z"},
                          {"com.apple.TimeMachine.2023-12-24-180000", "2023-12-24T23:00:00Z"},
                          {"com.apple.TimeMachine.yesterday.local", "undated"},
                          {"com.apple.TimeMachine.2024-02-30-101500.local", "undated"}}));
}

TEST(LocalSnapshot, StampFormIsStrict) {
    LocalZone zone("UTC");
    EXPECT_TRUE(LocalSnapshot::parseStamp("2024-05-01-093015"));
    for (const char* bad :
         {"", "2024-05-01", "2024-05-01-0930", "2024-05-01-093015x", "2024-13-01-093015", "2024-05-01-243015",
          "2024-05-01-096015", "24-05-01-093015", "2024/05/01-093015", "2024-05-01-0930 5"})
        EXPECT_FALSE(LocalSnapshot::parseStamp(bad)) << bad;
}

TEST(LocalSnapshot, WithoutTheToolTheListIsEmpty) {
    if (test::exists("/usr/bin/tmutil")) GTEST_SKIP() << "this machine has a snapshot tool";
    EXPECT_TRUE(LocalSnapshot::list("/").empty());
    EXPECT_TRUE(LocalSnapshot::parseList("").empty());
}
