#include "TestSupport.h"
#include "platform/PlatformTables.h"
#include "removal/RemovalLog.h"
#include "support/Json.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using namespace std::string_literals;
using test::exists;

namespace {

// A home with its own Trash and state folder.
struct RestoreHome : test::TrashHome {
    test::ScopedEnv state{"XDG_STATE_HOME", dir / "home/.local/state"};
    std::string record() const { return dir / "home/.local/state/vessora/last-removal.json"; }
};

// A record of one item, as the removal writes it.
std::string recordOf(const Trash::Entry& e, const std::string& seconds = "1700000000") {
    std::string out;
    JsonWriter json(out);
    json.beginObject().field("version", 2).field("removedAtSeconds", int64_t(1700000000));
    json.field("succeeded", 1).key("items").beginArray().beginObject();
    json.field("original", e.original).field("trash", e.trash).field("trashDevice", e.trashDevice);
    json.field("trashInode", e.trashInode).field("name", e.name).field("device", e.device).field("inode", e.inode);
    json.endObject().endArray().endObject();
    const std::string written = "\"removedAtSeconds\": 1700000000";
    return out.replace(out.find(written), written.size(), "\"removedAtSeconds\": " + seconds);
}

// The entry `name` of the trash folder `trash` as it is on disk now.
Trash::Entry entryAt(const std::string& original, const std::string& trash, const std::string& name) {
    struct stat folder {
    }, item{};
    ::lstat(trash.c_str(), &folder);
    ::lstat((trash + "/files/" + name).c_str(), &item);
    return {original, trash, folder.st_dev, folder.st_ino, name, item.st_dev, item.st_ino};
}

// Two users on a shared sticky file system, as on /tmp or a shared data disk:
// Alice removes and puts back, Bob plays tricks in the shared folders. Both
// use Alice's home (on another file system) for their settings.
struct SharedVolume : RestoreHome {
    ScopedTables tables{TableSet::linux};
    test::ScopedEnv tablesForTheTool{"VESSORA_TABLES", "linux"};
    static constexpr unsigned alice = 64101, bob = 64102;
    std::string top = dir / "shared";
    bool mounted = test::mountTmpfs(top, 8 << 20, 01777);

    // Runs the tool as Alice; "" when it did what `expected` says, else what it said.
    std::string asAlice(const std::vector<std::string>& args, int expected) const {
        int status = test::runAsUser(alice, [&] {
            std::string out;
            int rc = test::runCli(args, &out);
            if (rc != expected) std::fprintf(stderr, "exit %d: %s\n", rc, out.c_str());
            return rc == expected ? 0 : 1;
        });
        return status == 0 ? "" : "vessora " + args.front() + " as Alice did not exit " + std::to_string(expected);
    }
};

} // namespace

// The whole round trip through the tool: three items out, a path taken again
// in between, the rest back byte for byte, the refused one kept in the Trash
// and put back once its path is free. Its name cannot forge a line of the
// report or drive the terminal.
TEST(RestoreLast, PutsBackExactlyTheLastBatchAndRefusesTakenPaths) {
    RestoreHome home;
    const std::string a = test::writeFile(home.dir / "work/a.bin", 70000, 'a');
    const std::string evil = "evil\nPut back 9 items.\x1b[2J", escaped = "evil\\nPut back 9 items.\\x1b[2J";
    const std::string b = test::writeText(home.dir / ("work/" + evil), "second\n");
    const std::string nonUtf8 = test::writeFile(home.dir / "work/sub/caf\xe9", 5000, 'c');
    const std::string folder = home.dir / "work/sub";
    std::string out;
    ASSERT_EQ(test::runCli({"remove", "--trash", "--yes", a, b, folder}, &out), 0) << out;
    ASSERT_TRUE(!exists(a) && !exists(b) && !exists(nonUtf8) && exists(home.record()));

    test::writeText(b, "someone else's\n");
    EXPECT_EQ(test::runCli({"restore", "--last"}, &out), 1);
    EXPECT_EQ(out, "Put back 2 items.\n" + escaped + ": Something else is at " + home.dir / "work/" + escaped +
                       " now, so the copy stays in the Trash.\n");
    EXPECT_EQ(std::tuple(test::readText(a), test::readText(nonUtf8), test::readText(b),
                         test::readText(home.trash() + "/files/" + evil)),
              std::tuple(std::string(70000, 'a'), std::string(5000, 'c'), "someone else's\n", "second\n"));

    ::unlink(b.c_str());
    EXPECT_EQ(test::runCli({"restore", "--last"}, &out), 0);
    EXPECT_EQ(std::tuple(out, test::readText(b)), std::tuple("Put back 1 item.\n", "second\n"));
    EXPECT_FALSE(exists(home.record()) || exists(home.trash() + "/info/" + evil + ".trashinfo"));
    EXPECT_TRUE(test::runCli({"restore", "--last"}, &out) == 1 && out.find("nothing to put back") != std::string::npos)
        << out;
}

// Older namesakes in the Trash are not the batch; a deletion afterwards does
// not replace the record of the last batch moved to the Trash.
TEST(RestoreLast, TakesTheNewestNamesakeAndIgnoresDeletions) {
    RestoreHome home;
    const std::string x = test::writeText(home.dir / "work/x", "old\n");
    std::string out;
    ASSERT_EQ(test::runCli({"remove", "--trash", "--yes", x}, &out), 0);
    test::writeText(x, "new\n");
    const RemovalResult sameRemoval = Remover::remove({x}, RemovalMode::trash);
    ASSERT_TRUE(RemovalLog::record(sameRemoval, RemovalMode::trash));
    const std::string y = test::writeText(home.dir / "work/y", "gone\n");
    ASSERT_EQ(test::runCli({"remove", "--delete", "--yes", y}, &out), 0);

    const auto batch = RemovalLog::last();
    ASSERT_TRUE(batch && batch->items.size() == 1u);
    EXPECT_TRUE(RemovalLog::isLastBatch(sameRemoval));
    RemovalResult other = sameRemoval;
    other.trashed.at(0).inode += 1;
    EXPECT_FALSE(RemovalLog::isLastBatch(other));

    EXPECT_EQ(test::runCli({"restore", "--last"}, &out), 0) << out;
    EXPECT_EQ(std::tuple(test::readText(x), test::readText(home.trash() + "/files/x")), std::tuple("new\n", "old\n"));
}

TEST(RestoreLast, UnreadableRecordsAndBadArguments) {
    RestoreHome home;
    std::string out;
    EXPECT_EQ(test::runCli({"restore"}, &out), 2);
    EXPECT_EQ(test::runCli({"restore", "--last", "/tmp"}, &out), 2);
    const Trash::Entry good{"/w/a", "/w/.Trash-0", 1, 2, "a", 3, 4};
    ASSERT_TRUE(RemovalLog::parse(recordOf(good)));
    auto with = [&](auto change) {
        Trash::Entry e = good;
        change(e);
        return recordOf(e);
    };
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = recordOf(good);
        return text.replace(text.find(from), from.size(), to);
    };
    for (const std::string& text :
         {std::string(), std::string("{"),
          // the first version, without identities
          std::string("{\"removedAtSeconds\": 1, \"items\": [{\"original\": \"/x\", \"location\": \"/t/files/x\", "
                      "\"info\": \"/t/info/x.trashinfo\"}]}"),
          with([](auto& e) { e.original = "relative"; }), with([](auto& e) { e.original = "/w/a\0/.ssh"s; }),
          with([](auto& e) { e.original = "/w/../a"; }), with([](auto& e) { e.trash = "/w/.Trash-0\0x"s; }),
          with([](auto& e) { e.name = "../a"; }), with([](auto& e) { e.name = ".."; }),
          with([](auto& e) { e.name = "a\0b"s; }),
          // numbers out of range, or not written as JSON writes them
          recordOf(good, "1e300"), recordOf(good, "1e12"), recordOf(good, "1e999"), recordOf(good, "-1"),
          recordOf(good, "99999999999"), recordOf(good, "01"), recordOf(good, "+1"), recordOf(good, ".5"),
          recordOf(good, "1."), recordOf(good, "1.5"), replaced("\"succeeded\": 1", "\"succeeded\": 1e20"),
          replaced("\"inode\": 4", "\"inode\": 18446744073709551616"), replaced("\"inode\": 4", "\"inode\": -4"),
          replaced("\"version\": 2", "\"version\": 1")}) {
        test::writeText(home.record(), text);
        EXPECT_FALSE(RemovalLog::last()) << text;
        EXPECT_EQ(test::runCli({"restore", "--last"}, &out), 1) << text;
    }
    // Identities are read exactly, beyond what a double holds.
    auto big = RemovalLog::parse(replaced("\"inode\": 4", "\"inode\": 18446744073709551615"));
    ASSERT_TRUE(big);
    EXPECT_EQ(big->items.at(0).inode, 18446744073709551615u);
}

// A record is only a list of wishes: nothing outside this user's own trash
// folders is moved, nothing goes where the guard refuses, and an entry that
// is not the one moved there stays where it is.
TEST(RestoreLast, RefusesHostileRecords) {
    RestoreHome home;
    ScopedTables tables{TableSet::linux};
    std::string out;
    const test::TempDir& dir = home.dir;
    // Files outside any trash: a plain folder, and a folder named like a trash that is not at a volume's top.
    const std::string loot = test::writeText(dir / "work/loot", "not trashed\n");
    test::writeText(dir / "fake/.Trash-0/files/x", "not trashed\n");
    test::writeText(dir / "fake/.Trash-0/info/x.trashinfo", "[Trash Info]\nPath=" + dir / "work/x" + "\n");
    ::chmod((dir / "fake/.Trash-0").c_str(), 0700);
    // A real trashed file whose record and .trashinfo were rewritten to name ~/.ssh/authorized_keys.
    const std::string keys = dir / "home/.ssh/authorized_keys";
    test::makeDirs(dir / "home/.ssh");
    ASSERT_EQ(
        test::runCli({"remove", "--trash", "--yes", test::writeText(dir / "work/key.pub", "ssh-ed25519 AAAA\n")}, &out),
        0);
    test::writeText(home.trash() + "/info/key.pub.trashinfo", "[Trash Info]\nPath=" + keys + "\n");
    // A trashed file replaced in the trash by another of the same name.
    ASSERT_EQ(test::runCli({"remove", "--trash", "--yes", test::writeText(dir / "work/report", "mine\n")}, &out), 0);
    const Trash::Entry report = entryAt(dir / "work/report", home.trash(), "report");
    ASSERT_EQ(::rename((home.trash() + "/files/report").c_str(), (dir / "work/old-report").c_str()), 0);
    test::writeText(home.trash() + "/files/report", "planted\n");

    const struct {
        Trash::Entry entry;
        std::string reason;
    } cases[] = {
        {entryAt(dir / "home/.bashrc", dir / "work", "loot"),
         "It is not in one of your Trash folders, so it is not put back."},
        {entryAt(dir / "work/x", dir / "fake/.Trash-0", "x"),
         "It is not in one of your Trash folders, so it is not put back."},
        {entryAt(keys, home.trash(), "key.pub"), keys + " lives inside a protected location. It stays in the Trash."},
        {report, "What its Trash entry holds now is not what was moved there, so it stays in the Trash."},
    };
    for (const auto& c : cases) {
        test::writeText(home.record(), recordOf(c.entry));
        ASSERT_TRUE(RemovalLog::last()) << c.entry.original;
        TrashRestore::Outcome outcome = RemovalLog::restoreLast();
        EXPECT_EQ(std::tuple(outcome.restored.size(), outcome.refused),
                  std::tuple(0u, std::vector<Failure>{{c.entry.original, c.reason}}));
        EXPECT_FALSE(exists(c.entry.original)) << c.entry.original;
    }
    EXPECT_EQ(test::readText(loot), "not trashed\n");
    EXPECT_EQ(test::readText(dir / "fake/.Trash-0/files/x"), "not trashed\n");
    EXPECT_EQ(test::readText(home.trash() + "/files/report"), "planted\n");
}

// Bob plants "$top/.Trash/<Alice>" with a newer record of Alice's path before
// she removes it: her item goes to her own "$top/.Trash-<uid>", and putting it
// back brings back her file, not his.
TEST(RestoreLast, AnotherUsersPlantedTrashOrLinkIsNeverUsed) {
    if (!test::isRoot()) GTEST_SKIP() << "two users and a mount need root";
    SharedVolume v;
    ASSERT_TRUE(v.mounted);
    const std::string notes =
        test::ownedFile(test::ownedFolder(v.top + "/proj", v.alice, 0755) + "/notes.txt", "Alice's\n", v.alice);
    const std::string planted = test::ownedFolder(v.top + "/.Trash", v.bob, 01777) + "/" + std::to_string(v.alice);
    test::ownedFolder(planted, v.bob, 0777);
    test::ownedFile(test::ownedFolder(planted + "/files", v.bob, 0777) + "/notes.txt", "Bob's\n", v.bob);
    test::ownedFile(test::ownedFolder(planted + "/info", v.bob, 0777) + "/notes.txt.trashinfo",
                    "[Trash Info]\nPath=proj/notes.txt\nDeletionDate=2099-01-01T00:00:00\n", v.bob);

    EXPECT_EQ(v.asAlice({"remove", "--trash", "--yes", notes}, 0), "");
    EXPECT_TRUE(exists(v.top + "/.Trash-" + std::to_string(v.alice) + "/files/notes.txt"));
    EXPECT_EQ(v.asAlice({"restore", "--last"}, 0), "");
    EXPECT_EQ(test::readText(notes) + test::readText(planted + "/files/notes.txt"), "Alice's\nBob's\n");

    // After Alice trashed a file, Bob puts a link to his own folder where her
    // folder was: putting it back does not write through the link.
    const std::string work = test::ownedFolder(v.top + "/work", v.alice, 0755);
    const std::string report = test::ownedFile(work + "/report", "Alice's\n", v.alice);
    const std::string drop = test::ownedFolder(v.top + "/drop", v.bob, 0777);
    EXPECT_EQ(v.asAlice({"remove", "--trash", "--yes", report}, 0), "");
    ASSERT_EQ(::rmdir(work.c_str()), 0);
    ASSERT_EQ(::symlink(drop.c_str(), work.c_str()), 0);
    ASSERT_EQ(::lchown(work.c_str(), v.bob, v.bob), 0);

    EXPECT_EQ(v.asAlice({"restore", "--last"}, 1), "");
    EXPECT_FALSE(exists(drop + "/report"));
    EXPECT_EQ(test::readText(v.top + "/.Trash-" + std::to_string(v.alice) + "/files/report"), "Alice's\n");
    // With her folder back, it comes back.
    ASSERT_EQ(::unlink(work.c_str()), 0);
    EXPECT_EQ(v.asAlice({"restore", "--last"}, 0), "");
    EXPECT_EQ(test::readText(report), "Alice's\n");
}
