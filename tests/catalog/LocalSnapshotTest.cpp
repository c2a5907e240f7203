#include "catalog/LocalSnapshot.h"

#include "TestSupport.h"

#include <ctime>
#include <gtest/gtest.h>
#include <unordered_set>

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
    std::vector<LocalSnapshot> snapshots = LocalSnapshot::parseList(output);
    ASSERT_EQ(snapshots.size(), 5u);
    EXPECT_EQ(snapshots[0].name, "com.apple.TimeMachine.2024-05-02-101500.local");
    ASSERT_TRUE(snapshots[0].date);
    EXPECT_EQ(Dates::iso8601(*snapshots[0].date), "2024-05-02T14:15:00Z"); // 10:15 EDT
    EXPECT_EQ(snapshots[1].name, "com.apple.TimeMachine.2024-05-01-093015.local");
    EXPECT_EQ(Dates::iso8601(*snapshots[1].date), "2024-05-01T13:30:15Z");
    EXPECT_EQ(snapshots[2].name, "com.apple.TimeMachine.2023-12-24-180000") << "the suffix is optional";
    EXPECT_EQ(Dates::iso8601(*snapshots[2].date), "2023-12-24T23:00:00Z"); // 18:00 EST
    // Undated ones last, in printed order.
    EXPECT_EQ(snapshots[3].name, "com.apple.TimeMachine.yesterday.local");
    EXPECT_FALSE(snapshots[3].date);
    EXPECT_EQ(snapshots[4].name, "com.apple.TimeMachine.2024-02-30-101500.local");
    EXPECT_FALSE(snapshots[4].date) << "no 30 February";

    std::unordered_set<LocalSnapshot> set(snapshots.begin(), snapshots.end());
    EXPECT_EQ(set.size(), 5u);
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
