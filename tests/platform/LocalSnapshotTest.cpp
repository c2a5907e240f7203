#include "platform/Btrfs.h"
#include "platform/BtrfsSnapshots.h"
#include "platform/LocalSnapshot.h"

#include "TestSupport.h"

#include <ctime>
#include <gtest/gtest.h>
#include <map>

using namespace vessora;

namespace {
// Pins the local time zone for one test; mktime reads TZ through tzset.
struct LocalZone : test::ScopedEnv {
    explicit LocalZone(const char* zone) : ScopedEnv("TZ", zone) { ::tzset(); }
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
    // The stamp's form is strict.
    EXPECT_TRUE(LocalSnapshot::parseStamp("2024-05-01-093015"));
    for (const char* bad :
         {"", "2024-05-01", "2024-05-01-0930", "2024-05-01-093015x", "2024-13-01-093015", "2024-05-01-243015",
          "2024-05-01-096015", "24-05-01-093015", "2024/05/01-093015", "2024-05-01-0930 5"})
        EXPECT_FALSE(LocalSnapshot::parseStamp(bad)) << bad;
}

// The tools' records are outside input: what does not parse gives nothing
// (the snapshot then counts as a plain one), and odd values are left out.
TEST(BtrfsSnapshotRecords, ReadWhatTheToolsWroteAndNothingElse) {
    LocalZone zone("UTC");
    using BtrfsSnapshots::parseSnapperInfo;
    auto info = parseSnapperInfo("<snapshot><type>post</type><num> 7 </num><date>2024-02-29 23:59:59</date>"
                                 "<description>a &lt;b&gt; &#65;&#x42; &amp;c &bogus; &#0;</description></snapshot>");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->number, 7);
    EXPECT_EQ(Dates::iso8601(*info->date), "2024-02-29T23:59:59Z");
    EXPECT_EQ(info->description, "a <b> AB &c &bogus; &#0;");
    EXPECT_EQ(info->type, "post");
    for (const char* bad : {"", "<snapshot><num>0</num></snapshot>", "<snapshot><num>-3</num></snapshot>",
                            "<snapshot><num>7", "<num>7</num>", "<snapshot><num>99999999999999999999</num></snapshot>"})
        EXPECT_FALSE(parseSnapperInfo(bad)) << bad;
    EXPECT_FALSE(parseSnapperInfo("<snapshot><num>3</num><date>2023-02-29 10:00:00</date></snapshot>")->date);

    using BtrfsSnapshots::parseTimeshiftInfo;
    EXPECT_EQ(Dates::iso8601(*parseTimeshiftInfo("{\"created\": \"1706781600\"}")->created), "2024-02-01T10:00:00Z");
    EXPECT_EQ(Dates::iso8601(*parseTimeshiftInfo("{\"created\": 1706781600}")->created), "2024-02-01T10:00:00Z");
    for (const char* odd : {"{\"created\": \"soon\"}", "{\"created\": -5}", "{\"created\": 1e300}", "{}"})
        EXPECT_FALSE(parseTimeshiftInfo(odd)->created) << odd;
    for (const char* bad : {"", "[1]", "{\"created\": ", "\"x\""}) EXPECT_FALSE(parseTimeshiftInfo(bad)) << bad;
    EXPECT_EQ(Dates::iso8601(*BtrfsSnapshots::parseTimeshiftName("2024-01-05_10-00-01")), "2024-01-05T10:00:01Z");
    EXPECT_FALSE(BtrfsSnapshots::parseTimeshiftName("2024-01-05 10-00-01"));
    EXPECT_EQ(BtrfsSnapshots::tagWords("D O x"), "On demand, Daily");

    const Btrfs::Quotas counted = Btrfs::parseQgroupShow("Qgroupid Referenced Exclusive Path\n0/5 16384 16384 <top>\n"
                                                         "0/259 35667968 31473664 snap\n1/7 1 1\n0/x 1 1\n");
    EXPECT_EQ(counted.state, Btrfs::QuotaState::on);
    EXPECT_EQ(counted.exclusive, (std::map<uint64_t, int64_t>{{5, 16384}, {259, 31473664}}));
    EXPECT_EQ(Btrfs::parseQgroupShow("0/5 1 1\nWARNING: qgroup data inconsistent, rescan recommended\n").state,
              Btrfs::QuotaState::stale);
    EXPECT_EQ(Btrfs::parseQgroupShow("ERROR: can't list qgroups: quotas not enabled\n").state, Btrfs::QuotaState::off);
}
