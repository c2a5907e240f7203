// Btrfs snapshots on a real file system made for the test: listed with their
// tools' records and quota sizes, and deleted through the privileged helper.

#include "catalog/SnapshotRemoval.h"
#include "platform/Btrfs.h"
#include "platform/BtrfsSnapshots.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "support/Fmt.h"
#include "support/JsonReader.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <cstring>
#include <map>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace vessora;
using test::exists;

namespace {

constexpr int64_t MB = 1 << 20;

// Name, owner, date (ISO 8601, or "recent" for the subvolume's own creation
// time), description and number of subvolumes.
using Listed = std::tuple<std::string, SnapshotOwner, std::string, std::string, size_t>;

class BtrfsSnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::tzset();
        fs_ = std::make_unique<test::LoopBtrfs>(dir_.path());
        if (!fs_->ok()) GTEST_SKIP() << "no Btrfs here: " << fs_->skipReason();
        // Readable by the unprivileged listing too.
        ::chmod(dir_.path().c_str(), 0755);
        m_ = fs_->mountPoint();
        started_ = std::chrono::system_clock::now() - std::chrono::seconds(5);
        test::writeFile(m_ + "/notes", 1000);

        // The system's subvolumes, and snapper's folder for them.
        btrfs({"subvolume", "create", m_ + "/@"});
        btrfs({"subvolume", "create", m_ + "/@home"});
        btrfs({"subvolume", "create", m_ + "/@/.snapshots"});
        test::writeFile(m_ + "/@/base", MB);

        // snapper 1 keeps 3 MB deleted after it was taken.
        test::writeFile(m_ + "/@/old-kernel", 3 * MB);
        snapshot(m_ + "/@", m_ + "/@/.snapshots/1/snapshot", true);
        test::writeText(m_ + "/@/.snapshots/1/info.xml",
                        "<?xml version=\"1.0\"?>\n<snapshot>\n  <type>pre</type>\n  <num>1</num>\n"
                        "  <date>2024-03-01 08:00:00</date>\n  <description>zypp(zypper) &amp; &#x263A;</description>\n"
                        "  <cleanup>number</cleanup>\n</snapshot>\n");
        ::unlink((m_ + "/@/old-kernel").c_str());

        // Timeshift's snapshot of both keeps 2 MB of each.
        test::writeFile(m_ + "/@/cache.bin", 2 * MB);
        test::writeFile(m_ + "/@home/video", 2 * MB);
        const std::string timeshift = m_ + "/timeshift-btrfs/snapshots/2024-02-01_10-00-00";
        snapshot(m_ + "/@", timeshift + "/@", true);
        snapshot(m_ + "/@home", timeshift + "/@home", true);
        test::writeText(timeshift + "/info.json", "{\n  \"id\" : \"2024-02-01_10-00-00\",\n  \"created\" : "
                                                  "\"1706781600\",\n  \"tags\" : \"D W\",\n  \"comments\" : \"\"\n}\n");
        ::unlink((m_ + "/@/cache.bin").c_str());
        ::unlink((m_ + "/@home/video").c_str());

        // snapper 2's record is cut short: a plain read-only snapshot.
        snapshot(m_ + "/@", m_ + "/@/.snapshots/2/snapshot", true);
        test::writeText(m_ + "/@/.snapshots/2/info.xml", "<snapshot><num>2</num><date>2024-0");
        // Timeshift's own snapshots are writable; this record's time does not
        // parse, so the folder's name dates it.
        const std::string older = m_ + "/timeshift-btrfs/snapshots/2024-01-01_00-00-00";
        snapshot(m_ + "/@home", older + "/@home", false);
        test::writeText(older + "/info.json", "{\"created\" : \"soon\", \"comments\" : \"before upgrade\"}");
        // Any other read-only snapshot counts; a writable copy and a
        // read-only subvolume that copies nothing do not.
        snapshot(m_ + "/@home", m_ + "/backups/home-weekly", true);
        snapshot(m_ + "/@home", m_ + "/scratch", false);
        btrfs({"subvolume", "create", m_ + "/frozen"});
        btrfs({"property", "set", m_ + "/frozen", "ro", "true"});
        btrfs({"filesystem", "sync", m_});
    }

    void TearDown() override {
        for (const std::string& point : mounted_) test::unmount(point);
        fs_.reset();
        ::tzset();
    }

    std::string btrfs(const std::vector<std::string>& arguments) {
        std::string output;
        EXPECT_EQ(fs_->btrfs(arguments, &output), 0) << "btrfs " << arguments.front() << ": " << output;
        return output;
    }

    void snapshot(const std::string& from, const std::string& to, bool readOnly) {
        test::makeDirs(to.substr(0, to.rfind('/')));
        std::vector<std::string> arguments{"subvolume", "snapshot"};
        if (readOnly) arguments.push_back("-r");
        arguments.insert(arguments.end(), {from, to});
        btrfs(arguments);
    }

    // The exclusive bytes of each level-0 group as `btrfs qgroup show` prints them.
    std::map<uint64_t, int64_t> qgroupShow() {
        std::map<uint64_t, int64_t> exclusive;
        std::istringstream lines(btrfs({"qgroup", "show", "--raw", m_}));
        for (std::string line; std::getline(lines, line);) {
            unsigned long long id;
            long long referenced, bytes;
            if (std::sscanf(line.c_str(), "0/%llu %lld %lld", &id, &referenced, &bytes) == 3) exclusive[id] = bytes;
        }
        return exclusive;
    }

    std::vector<Listed> summary(const std::vector<LocalSnapshot>& snapshots) {
        std::vector<Listed> out;
        for (const LocalSnapshot& s : snapshots) {
            std::string date = s.date ? Dates::iso8601(*s.date) : "none";
            if (s.date && *s.date >= started_ && *s.date <= std::chrono::system_clock::now()) date = "recent";
            out.push_back({s.name, s.owner, date, s.description, s.subvolumes.size()});
        }
        return out;
    }

    const LocalSnapshot* named(const std::vector<LocalSnapshot>& snapshots, const std::string& name) {
        for (const LocalSnapshot& s : snapshots)
            if (s.name == name) return &s;
        return nullptr;
    }

    test::ScopedEnv zone_{"TZ", "UTC"};
    test::TempDir dir_;
    std::unique_ptr<test::LoopBtrfs> fs_;
    std::string m_;
    Date started_;
    std::vector<std::string> mounted_;
};

} // namespace

TEST_F(BtrfsSnapshotTest, ListsEachToolsSnapshotsNewestFirstWithTheirExclusiveSizes) {
    ScopedTables tables{TableSet::linux};
    const std::vector<Listed> expected{
        {m_ + "/backups/home-weekly", SnapshotOwner::btrfs, "recent", "", 1},
        {m_ + "/@/.snapshots/2/snapshot", SnapshotOwner::btrfs, "recent", "", 1},
        {m_ + "/@/.snapshots/1/snapshot", SnapshotOwner::snapper, "2024-03-01T08:00:00Z", "zypp(zypper) & \u263A", 1},
        {m_ + "/timeshift-btrfs/snapshots/2024-02-01_10-00-00", SnapshotOwner::timeshift, "2024-02-01T10:00:00Z",
         "Daily, Weekly", 2},
        {m_ + "/timeshift-btrfs/snapshots/2024-01-01_00-00-00", SnapshotOwner::timeshift, "2024-01-01T00:00:00Z",
         "before upgrade", 1},
    };

    // Without quotas: no sizes, and the listing says so.
    std::vector<LocalSnapshot> listed = LocalSnapshot::list(m_);
    EXPECT_EQ(summary(listed), expected);
    for (const LocalSnapshot& s : listed)
        EXPECT_EQ(std::tuple(s.quotas, s.exclusiveBytes(), s.volume, s.fileSystem),
                  std::tuple(SnapshotQuotas::off, std::nullopt, m_, Btrfs::fileSystemId(m_)))
            << s.name;
    const LocalSnapshot* snapper = named(listed, m_ + "/@/.snapshots/1/snapshot");
    ASSERT_TRUE(snapper);
    EXPECT_EQ(std::tie(snapper->snapperNumber, snapper->snapperType, snapper->cleanup, snapper->subvolumes[0].topPath),
              std::tuple(1, "pre", "number", "@/.snapshots/1/snapshot"));

    // Btrfs keeps no administrator's reserve, whatever statvfs's two free counts say.
    for (const VolumeInfo& volume : VolumeInfo::current()) EXPECT_TRUE(volume.url != m_ || volume.rootReserve == 0);

    // A user without administrator rights sees the same snapshots.
    const size_t count = listed.size();
    EXPECT_EQ(test::runAsUnprivileged([&] { return BtrfsSnapshots::list(m_).size() == count ? 0 : 1; }), 0)
        << "the unprivileged listing differs";

    // With quotas: each subvolume's exclusive bytes, as the tool counts them.
    btrfs({"quota", "enable", m_});
    btrfs({"quota", "rescan", "-w", m_});
    listed = LocalSnapshot::list(m_);
    EXPECT_EQ(summary(listed), expected);
    const std::map<uint64_t, int64_t> counted = qgroupShow();
    for (const LocalSnapshot& s : listed) {
        EXPECT_EQ(s.quotas, SnapshotQuotas::on) << s.name;
        int64_t sum = 0;
        for (const SnapshotSubvolume& sub : s.subvolumes) {
            ASSERT_TRUE(sub.exclusive && counted.count(sub.id)) << sub.path;
            EXPECT_EQ(*sub.exclusive, counted.at(sub.id)) << sub.path;
            sum += *sub.exclusive;
        }
        EXPECT_EQ(s.exclusiveBytes(), sum) << s.name;
    }
    EXPECT_GE(*named(listed, m_ + "/@/.snapshots/1/snapshot")->exclusiveBytes(), 3 * MB);
    EXPECT_GE(*named(listed, m_ + "/timeshift-btrfs/snapshots/2024-02-01_10-00-00")->exclusiveBytes(), 4 * MB);
    EXPECT_LT(*named(listed, m_ + "/backups/home-weekly")->exclusiveBytes(), MB);

    // The command line lists the same, with the same figures.
    test::ScopedEnv toolTables("VESSORA_TABLES", "linux");
    std::string output;
    ASSERT_EQ(test::runCli({"snapshots", "--json"}, &output), 0) << output;
    const std::optional<JsonValue> document = parseJson(output);
    ASSERT_TRUE(document && document->member("snapshots")) << output;
    std::vector<Listed> fromTool;
    for (const JsonValue& s : document->member("snapshots")->array) {
        if (s.text("volume") != m_) continue;
        const LocalSnapshot* same = named(listed, *s.text("name"));
        ASSERT_TRUE(same) << *s.text("name");
        EXPECT_EQ(s.member("exclusive")->integer(0, INT64_MAX), same->exclusiveBytes()) << same->name;
        EXPECT_EQ(s.text("quotas"), "on");
        EXPECT_EQ(s.text("date"), same->date ? std::optional(Dates::iso8601(*same->date)) : std::nullopt) << same->name;
        fromTool.push_back(summary({*same}).front());
    }
    EXPECT_EQ(fromTool, expected);
}

TEST_F(BtrfsSnapshotTest, TheHelperDeletesOnlyListedReadOnlySnapshots) {
    ScopedTables tables{TableSet::linux};
    btrfs({"quota", "enable", m_});
    btrfs({"quota", "rescan", "-w", m_});
    const std::vector<LocalSnapshot> before = LocalSnapshot::list(m_);
    ASSERT_EQ(before.size(), 5u);
    const LocalSnapshot timeshift = *named(before, m_ + "/timeshift-btrfs/snapshots/2024-02-01_10-00-00");
    const LocalSnapshot snapper = *named(before, m_ + "/@/.snapshots/1/snapshot");
    LocalSnapshot weekly = *named(before, m_ + "/backups/home-weekly");

    // Neither snapper nor Timeshift is installed here: each subvolume goes as
    // `btrfs subvolume delete` removes it, and frees what only it held. The
    // command line first, as a user would run it.
    test::ScopedEnv toolTables("VESSORA_TABLES", "linux");
    const std::string gone = timeshift.name;
    const int64_t held = *timeshift.exclusiveBytes();
    // A committed transaction wakes the cleaner that frees a deleted subvolume's blocks.
    auto available = [&] {
        btrfs({"filesystem", "sync", m_});
        btrfs({"subvolume", "sync", m_});
        btrfs({"filesystem", "sync", m_});
        struct statvfs st {};
        ::statvfs(m_.c_str(), &st);
        return int64_t(st.f_bavail) * int64_t(st.f_frsize);
    };
    const int64_t space = available();
    std::string output;
    EXPECT_EQ(test::runCli({"snapshots", "--delete", gone}, &output, "y\n"), 2) << output;
    ASSERT_EQ(test::runCli({"snapshots", "--delete", gone, "--yes"}, &output), 0) << output;
    EXPECT_EQ(output, "Deleted the snapshot " + gone + ", reclaiming " + Fmt::bytes(held) + ".\n");
    EXPECT_GE(available() - space, held - MB / 2);
    for (const SnapshotSubvolume& sub : timeshift.subvolumes) EXPECT_FALSE(exists(sub.path)) << sub.path;
    EXPECT_EQ(test::runCli({"snapshots", "--delete", gone, "--yes"}, &output), 1);

    test::ShellRunner runner; // the helper run directly: the tests run as root, which is what pkexec grants
    runner.direct = true;
    RemovalResult result = SnapshotRemoval::deleteSnapshot(snapper, m_, runner);
    EXPECT_TRUE(result.failed.empty()) << result.failed.front().reason;
    EXPECT_EQ(std::tie(result.succeeded, result.bytesFreed),
              std::tuple(std::vector<std::string>{snapper.name}, *snapper.exclusiveBytes()));
    EXPECT_FALSE(exists(snapper.name));
    EXPECT_EQ(runner.calls.front(),
              (std::vector<std::string>{"--snapshot", snapper.name, "--file-system", snapper.fileSystem}));
    EXPECT_TRUE(exists(m_ + "/@/.snapshots/1/info.xml"));
    std::vector<LocalSnapshot> after = LocalSnapshot::list(m_);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_TRUE(named(after, weekly.name) && named(after, m_ + "/@/.snapshots/2/snapshot"));

    // The guard, as root: the default subvolume, a writable subvolume, a
    // mounted snapshot and anything the listing does not show stay.
    const LocalSnapshot writable = *named(after, m_ + "/timeshift-btrfs/snapshots/2024-01-01_00-00-00");
    LocalSnapshot scratch = weekly;
    scratch.name = m_ + "/scratch";
    LocalSnapshot outside = weekly;
    outside.name = m_ + "/@";
    btrfs({"subvolume", "set-default", std::to_string(weekly.subvolumes.front().id), m_});
    const LocalSnapshot second = *named(after, m_ + "/@/.snapshots/2/snapshot");
    test::makeDirs(dir_ / "mounted");
    ASSERT_EQ(::mount(fs_->device().c_str(), (dir_ / "mounted").c_str(), "btrfs", MS_RDONLY,
                      ("subvolid=" + std::to_string(second.subvolumes.front().id)).c_str()),
              0)
        << std::strerror(errno);
    mounted_.push_back(dir_ / "mounted");
    const std::vector<std::pair<const LocalSnapshot*, std::string>> refusals{
        {&weekly, weekly.name + " is the file system's default subvolume, the one it starts from, and is never "
                                "deleted."},
        {&writable, writable.name + " is a writable subvolume, not a read-only snapshot, and is never deleted."},
        {&scratch, scratch.name + " is not a snapshot Vessora lists, so nothing was deleted."},
        {&outside, outside.name + " is not a snapshot Vessora lists, so nothing was deleted."},
        {&second, second.name + " is not a snapshot Vessora lists, so nothing was deleted."},
    };
    for (const auto& [snapshot, reason] : refusals) {
        result = SnapshotRemoval::deleteSnapshot(*snapshot, m_, runner);
        EXPECT_EQ(std::tie(result.succeeded, result.failed),
                  std::tuple(std::vector<std::string>{}, std::vector<Failure>{{snapshot->name, reason}}));
    }
    for (const char* stays : {"/backups/home-weekly", "/scratch", "/@/base", "/@/.snapshots/2/snapshot/base",
                              "/timeshift-btrfs/snapshots/2024-01-01_00-00-00/@home"})
        EXPECT_TRUE(exists(m_ + stays)) << stays;
}

TEST(BtrfsSnapshotTools, TheToolManagingASnapshotDeletesIt) {
    test::TempDir dir;
    for (const char* tool : {"snapper", "timeshift"}) ::chmod(test::writeText(dir / tool, "#!/bin/sh\n").c_str(), 0755);
    test::writeText(dir / "configs/root", "# snapper\nFSTYPE=\"btrfs\"\nSUBVOLUME=\"/\"\n");
    test::writeText(dir / "configs/home", "SUBVOLUME=\"/home\"\n");
    test::writeText(dir / "timeshift.json", "{\"backup_device_uuid\" : \"AB12-fs\", \"btrfs_mode\" : \"true\"}");
    SnapshotRemoval::SnapshotTools tools{dir / "snapper", dir / "configs", dir / "timeshift", {dir / "timeshift.json"}};

    LocalSnapshot snapper;
    snapper.owner = SnapshotOwner::snapper;
    snapper.snapperNumber = 42;
    snapper.subvolumes = {{300, "/home/.snapshots/42/snapshot", "@home/.snapshots/42/snapshot", true, {}}};
    LocalSnapshot timeshift;
    timeshift.owner = SnapshotOwner::timeshift;
    timeshift.fileSystem = "ab12-fs";
    timeshift.subvolumes = {{301, "", "timeshift-btrfs/snapshots/2024-01-05_10-00-01/@", false, {}},
                            {302, "", "timeshift-btrfs/snapshots/2024-01-05_10-00-01/@home", false, {}}};
    EXPECT_EQ(SnapshotRemoval::snapshotToolCommand(snapper, tools),
              (std::vector<std::string>{dir / "snapper", "--no-dbus", "--config", "home", "delete", "42"}));
    EXPECT_EQ(
        SnapshotRemoval::snapshotToolCommand(timeshift, tools),
        (std::vector<std::string>{dir / "timeshift", "--delete", "--snapshot", "2024-01-05_10-00-01", "--scripted"}));

    // No configuration covers it, the tool is missing, or another file system is Timeshift's.
    LocalSnapshot unmanaged = snapper;
    unmanaged.subvolumes.front().path = "/data/.snapshots/42/snapshot";
    EXPECT_TRUE(SnapshotRemoval::snapshotToolCommand(unmanaged, tools).empty());
    LocalSnapshot elsewhere = timeshift;
    elsewhere.fileSystem = "cd34-fs";
    EXPECT_TRUE(SnapshotRemoval::snapshotToolCommand(elsewhere, tools).empty());
    tools.snapper = dir / "absent";
    EXPECT_TRUE(SnapshotRemoval::snapshotToolCommand(snapper, tools).empty());
}
