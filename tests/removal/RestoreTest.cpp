#include "TestSupport.h"
#include "platform/TrashHome.h"
#include "removal/RemovalLog.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vessora;
using test::exists;

namespace {

int runTool(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv{VESSORA_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runProgram(argv, output);
}

// A home with its own Trash and state folder.
struct RestoreHome : test::TrashHome {
    test::ScopedEnv state{"XDG_STATE_HOME", dir / "home/.local/state"};
    std::string record() const { return dir / "home/.local/state/vessora/last-removal.json"; }
};

} // namespace

// The whole round trip through the tool: three items out, a path taken again
// in between, the rest back byte for byte, the refused one kept in the Trash
// and put back once its path is free.
TEST(RestoreLast, PutsBackExactlyTheLastBatchAndRefusesTakenPaths) {
    RestoreHome home;
    const std::string a = test::writeFile(home.dir / "work/a.bin", 70000, 'a');
    const std::string b = test::writeText(home.dir / "work/b.txt", "second\n");
    const std::string nonUtf8 = test::writeFile(home.dir / "work/sub/caf\xe9", 5000, 'c');
    const std::string folder = home.dir / "work/sub";
    std::string out;
    ASSERT_EQ(runTool({"remove", "--trash", "--yes", a, b, folder}, &out), 0) << out;
    ASSERT_FALSE(exists(a) || exists(b) || exists(nonUtf8));
    ASSERT_TRUE(exists(home.record()));

    test::writeText(b, "someone else's\n");
    EXPECT_EQ(runTool({"restore", "--last"}, &out), 1);
    EXPECT_EQ(out, "Put back 2 items.\nb.txt: Something else is at " + b + " now, so the copy stays in the Trash.\n");
    EXPECT_EQ(test::readText(a), std::string(70000, 'a'));
    EXPECT_EQ(test::readText(nonUtf8), std::string(5000, 'c'));
    EXPECT_EQ(test::readText(b), "someone else's\n");
    EXPECT_EQ(test::readText(home.trash() + "/files/b.txt"), "second\n");

    ::unlink(b.c_str());
    EXPECT_EQ(runTool({"restore", "--last"}, &out), 0);
    EXPECT_EQ(out, "Put back 1 item.\n");
    EXPECT_EQ(test::readText(b), "second\n");
    EXPECT_FALSE(exists(home.record()));
    EXPECT_FALSE(exists(home.trash() + "/info/b.txt.trashinfo"));
    EXPECT_EQ(runTool({"restore", "--last"}, &out), 1);
    EXPECT_NE(out.find("nothing to put back"), std::string::npos);
}

// Older namesakes in the Trash are not the batch; a deletion afterwards does
// not replace the record of the last batch moved to the Trash.
TEST(RestoreLast, TakesTheNewestNamesakeAndIgnoresDeletions) {
    RestoreHome home;
    const std::string x = test::writeText(home.dir / "work/x", "old\n");
    std::string out;
    ASSERT_EQ(runTool({"remove", "--trash", "--yes", x}, &out), 0);
    test::writeText(x, "new\n");
    ASSERT_EQ(runTool({"remove", "--trash", "--yes", x}, &out), 0);
    const std::string y = test::writeText(home.dir / "work/y", "gone\n");
    ASSERT_EQ(runTool({"remove", "--delete", "--yes", y}, &out), 0);

    const auto batch = RemovalLog::last();
    ASSERT_TRUE(batch);
    ASSERT_EQ(batch->items.size(), 1u);
    RemovalResult sameRemoval, other;
    sameRemoval.succeeded = {x};
    other.succeeded = {y};
    sameRemoval.bytesFreed = other.bytesFreed = 4096;
    EXPECT_TRUE(RemovalLog::isLastBatch(sameRemoval));
    EXPECT_FALSE(RemovalLog::isLastBatch(other));

    EXPECT_EQ(runTool({"restore", "--last"}, &out), 0) << out;
    EXPECT_EQ(test::readText(x), "new\n");
    EXPECT_EQ(test::readText(home.trash() + "/files/x"), "old\n");
}

TEST(RestoreLast, UnreadableRecordsAndBadArguments) {
    RestoreHome home;
    std::string out;
    EXPECT_EQ(runTool({"restore"}, &out), 2);
    EXPECT_EQ(runTool({"restore", "--last", "/tmp"}, &out), 2);
    for (const char* text : {"", "{", "{\"removedAtSeconds\": 1, \"items\": [{\"original\": \"relative\", "
                                     "\"location\": \"/x\", \"info\": \"/y\"}]}"}) {
        test::writeText(home.record(), text);
        EXPECT_FALSE(RemovalLog::last()) << text;
        EXPECT_EQ(runTool({"restore", "--last"}, &out), 1) << text;
    }
}

// A file system of its own has its own trash, whose records are relative to its top.
TEST(RestoreLast, PutsBackFromAFileSystemTrash) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting needs root";
    RestoreHome home;
    const std::string mount = home.dir / "volume";
    ASSERT_TRUE(test::mountTmpfs(mount, 8 << 20));
    const std::string file = test::writeFile(mount + "/docs/report", 9000, 'r');
    std::string out;
    ASSERT_EQ(runTool({"remove", "--trash", "--yes", file}, &out), 0) << out;
    EXPECT_TRUE(exists(mount + "/.Trash-0/files/report"));
    EXPECT_EQ(runTool({"restore", "--last"}, &out), 0) << out;
    EXPECT_EQ(test::readText(file), std::string(9000, 'r'));
    test::unmount(mount);
}

// A name cannot forge a line of restore's report or drive the terminal.
TEST(RestoreLast, NamesInTheReportAreEscaped) {
    RestoreHome home;
    const std::string evil = test::writeText(home.dir / "work/evil\nPut back 9 items.\x1b[2J", "mine\n");
    std::string out;
    ASSERT_EQ(runTool({"remove", "--trash", "--yes", evil}, &out), 0) << out;
    test::writeText(evil, "taken\n");
    EXPECT_EQ(runTool({"restore", "--last"}, &out), 1);
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
    EXPECT_NE(out.find("evil\\nPut back 9 items.\\x1b[2J: Something else is at"), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}
