#include "platform/Trash.h"
#include "platform/TrashRestore.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

namespace {

std::string infoKey(const std::string& infoPath, const std::string& key) {
    std::ifstream in(infoPath);
    std::string line;
    while (std::getline(in, line))
        if (line.starts_with(key + "=")) return line.substr(key.size() + 1);
    return {};
}

std::string trashList() {
    std::string output;
    test::runProgram({"trash-list"}, &output);
    return output;
}

// Restores the only item trashed from `folder` through trash-restore's prompt.
int trashRestore(const std::string& folder) {
    std::string output;
    return test::runProgram({"trash-restore", folder}, &output, "0\n");
}

} // namespace

TEST(Trash, HomeTrashRoundTripWithAwkwardNames) {
    test::TrashHome home;
    const std::vector<std::string> names = {"with space", "100% sure", "p%20q", "new\nline", "ünïcode"};
    for (size_t i = 0; i < names.size(); ++i) {
        // Each item has a folder of its own so trash-restore offers exactly one.
        const std::string folder = home.dir / ("work" + std::to_string(i));
        const std::string item = folder + "/" + names[i];
        test::writeFile(item, 3000 + i, char('a' + i));
        const std::string before = test::readText(item);

        Trash::Outcome outcome = Trash::moveToTrash(item);
        ASSERT_TRUE(outcome.ok()) << outcome.error << outcome.reason;
        EXPECT_FALSE(exists(item));
        EXPECT_EQ(std::tie(outcome.location, outcome.infoPath),
                  std::tuple(home.trash() + "/files/" + names[i], home.trash() + "/info/" + names[i] + ".trashinfo"));
        EXPECT_EQ(test::readText(outcome.location), before);
        EXPECT_EQ(TrashRestore::parseInfoPath(test::readText(outcome.infoPath), ""), item);
        EXPECT_TRUE(infoKey(outcome.infoPath, "DeletionDate").size() == 19u &&
                    trashList().find(item) != std::string::npos)
            << names[i];

        EXPECT_EQ(trashRestore(folder), 0);
        ASSERT_TRUE(exists(item)) << names[i];
        EXPECT_EQ(std::tuple(test::readText(item), exists(outcome.location)), std::tuple(before, false));
    }
}

// trash-cli decodes Path= with Python's lossy UTF-8 decoding, so it shows and
// restores invalid bytes as U+FFFD; the trash itself must keep them exactly.
TEST(Trash, InvalidUtf8LongAndRepeatedNamesFoldersLinksAndSizes) {
    test::TrashHome home;
    const std::string item = home.dir / "work/bad\xff\xfe name";
    test::writeFile(item, 100);
    Trash::Outcome outcome = Trash::moveToTrash(item);
    ASSERT_TRUE(outcome.ok());
    EXPECT_NE(infoKey(outcome.infoPath, "Path").find("bad%FF%FE%20name"), std::string::npos);
    EXPECT_EQ(TrashRestore::parseInfoPath(test::readText(outcome.infoPath), ""), item);
    EXPECT_NE(trashList().find(home.dir / "work/bad\xef\xbf\xbd\xef\xbf\xbd name"), std::string::npos);
    ASSERT_EQ(::rename(outcome.location.c_str(), item.c_str()), 0);
    EXPECT_EQ(test::readText(item), std::string(100, 'x'));
    // A long name is shortened in the trash, never to nothing, whatever its bytes.
    for (const std::string& name : {std::string(250, '\x80'), std::string(240, 'a') + std::string(10, '\xbf'),
                                    std::string(232, 'a') + "\xe2\x82\xac" + std::string(15, 'b')}) {
        const std::string shortened = Trash::shortenedName(name);
        EXPECT_TRUE(!shortened.empty() && shortened.size() <= 233 && name.starts_with(shortened));
        Trash::Outcome longOne = Trash::moveToTrash(test::writeFile(home.dir / ("work/" + name), 10));
        EXPECT_TRUE(longOne.ok() && exists(longOne.location) && longOne.location.ends_with("/" + shortened));
    }
    EXPECT_EQ(Trash::shortenedName(std::string(232, 'a') + "\xe2\x82\xac"), std::string(232, 'a'));

    // The same name twice, a link and a folder.
    test::writeFile(home.dir / "a/item", 10);
    test::writeFile(home.dir / "b/item", 20);
    Trash::Outcome first = Trash::moveToTrash(home.dir / "a/item");
    Trash::Outcome second = Trash::moveToTrash(home.dir / "b/item");
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(std::tuple(test::readText(first.location).size(), test::readText(second.location).size()),
              std::tuple(10u, 20u));

    // A link goes as a link; its target stays where it is.
    test::writeFile(home.dir / "target/kept", 50);
    ASSERT_EQ(::symlink((home.dir / "target").c_str(), (home.dir / "a/link").c_str()), 0);
    Trash::Outcome link = Trash::moveToTrash(home.dir / "a/link");
    ASSERT_TRUE(link.ok());
    EXPECT_TRUE(std::filesystem::is_symlink(link.location) && exists(home.dir / "target/kept"));

    // A trashed folder gets its line in directorysizes.
    test::writeFile(home.dir / "a/folder/x", 8192);
    Trash::Outcome folder = Trash::moveToTrash(home.dir / "a/folder");
    ASSERT_TRUE(folder.ok());
    struct stat info;
    ASSERT_EQ(::stat(folder.infoPath.c_str(), &info), 0);
    std::ifstream sizes(home.trash() + "/directorysizes");
    int64_t size = 0, mtime = 0;
    std::string name;
    sizes >> size >> mtime >> name;
    EXPECT_EQ(std::tie(name, mtime, size),
              std::tuple("folder", int64_t(info.st_mtime),
                         test::allocatedSize(folder.location) + test::allocatedSize(folder.location + "/x")));
}

TEST(Trash, OtherFileSystemUsesItsOwnTrash) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    test::TrashHome home;
    const std::string volume = home.dir / "volume";
    ASSERT_TRUE(test::mountTmpfs(volume, 4 << 20));
    const std::string item = volume + "/sub/odd name %\n";
    test::writeFile(item, 2000, 'v');
    // Something that is not our directory where our trash would go: a clear failure, nothing moved.
    test::writeText(volume + "/.Trash-0", "not a folder");
    EXPECT_EQ(Trash::moveToTrash(item).reason,
              item + " cannot be moved to the Trash: no trash folder can be used on its volume.");
    EXPECT_TRUE(exists(item));
    ASSERT_EQ(::unlink((volume + "/.Trash-0").c_str()), 0);

    EXPECT_EQ(Trash::trashFor(item), volume + "/.Trash-0");
    Trash::Outcome outcome = Trash::moveToTrash(item);
    ASSERT_TRUE(outcome.ok()) << outcome.error << outcome.reason;
    EXPECT_EQ(outcome.location, volume + "/.Trash-0/files/odd name %\n");
    EXPECT_EQ(infoKey(outcome.infoPath, "Path"), "sub/odd%20name%20%25%0A");
    EXPECT_TRUE(!exists(home.trash() + "/files") && trashList().find(item) != std::string::npos) << trashList();
    EXPECT_EQ(trashRestore(volume + "/sub"), 0);
    EXPECT_EQ(test::readText(item), std::string(2000, 'v'));

    // A shared sticky .Trash is used through the user's own folder in it.
    ASSERT_EQ(::mkdir((volume + "/.Trash").c_str(), 01777), 0);
    ::chmod((volume + "/.Trash").c_str(), 01777);
    Trash::Outcome shared = Trash::moveToTrash(item);
    ASSERT_TRUE(shared.ok());
    EXPECT_EQ(shared.location, volume + "/.Trash/0/files/odd name %\n");

    // A read-only volume is a permission matter, never a silent delete.
    test::writeFile(volume + "/later", 10);
    ASSERT_TRUE(test::remountReadOnly(volume));
    EXPECT_EQ(Trash::moveToTrash(volume + "/later").error, EROFS);
    EXPECT_TRUE(exists(volume + "/later"));
    test::unmount(volume);
}

// What a .trashinfo may name: an absolute path, or in a file system's own
// trash a path below its top; never a NUL, a "." or ".." component, or a
// relative path in the home trash.
TEST(Trash, InfoPathsNameOnlyPlacesBelowTheirTop) {
    const std::string top = "/mnt/disk";
    const struct {
        const char* text;
        const char* home;   // in the home trash ("" when refused)
        const char* volume; // in the trash of the file system at `top`
    } cases[] = {
        {"[Trash Info]\nPath=/home/u/a%20b\nDeletionDate=2024-01-01T00:00:00\n", "/home/u/a b", "/home/u/a b"},
        {"[Trash Info]\r\nPath=docs/r%C3%A9sum%C3%A9\r\n", "", "/mnt/disk/docs/r\xc3\xa9sum\xc3\xa9"},
        {"[Other]\nPath=/x\n[Trash Info]\nPath=/y\nPath=/z\n", "/y", "/y"},
        {"Path=/x\n", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrashRestore::parseInfoPath(c.text, "").value_or(""), c.home) << c.text;
        EXPECT_EQ(TrashRestore::parseInfoPath(c.text, top).value_or(""), c.volume) << c.text;
    }
    for (const char* path : {"../../etc/passwd", "docs/../../etc/passwd", "/home/u/../../etc/passwd", "%2E%2E/etc",
                             "./a", "/home/u/a%00/.ssh", "a%00", "/a%2", "", "/"}) {
        const std::string text = "[Trash Info]\nPath=" + std::string(path) + "\n";
        EXPECT_FALSE(TrashRestore::parseInfoPath(text, "") || TrashRestore::parseInfoPath(text, top)) << path;
    }
}

// "$top/.Trash/$uid" is used only in a real sticky "$top/.Trash" and only when
// it is a real folder of this user with mode 0700; otherwise "$top/.Trash-$uid",
// which must pass the same checks or nothing is moved.
TEST(Trash, FileSystemTrashIsChosenStrictly) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    test::TrashHome home;
    const unsigned other = 64102;
    const std::string volume = home.dir / "volume";
    ASSERT_TRUE(test::mountTmpfs(volume, 4 << 20, 01777));
    auto folder = [](const std::string& p, unsigned mode, unsigned owner = 0) {
        return !test::ownedFolder(p, owner, mode).empty();
    };
    auto link = [](const std::string& t, const std::string& p) { return ::symlink(t.c_str(), p.c_str()) == 0; };
    const std::string shared = volume + "/.Trash", mine = shared + "/0", own = volume + "/.Trash-0";
    const std::string refused = " cannot be moved to the Trash: no trash folder can be used on its volume.";
    const struct {
        const char* what;
        std::function<bool()> setUp;
        std::string expected; // the trash used, or the refusal
    } cases[] = {
        {"a sticky .Trash", [&] { return folder(shared, 01777); }, mine},
        {"a .Trash without the sticky bit", [&] { return folder(shared, 0777); }, own},
        {"a link to a sticky folder", [&] { return folder(volume + "/elsewhere", 01777) && link("elsewhere", shared); },
         own},
        {"$uid owned by another user", [&] { return folder(shared, 01777) && folder(mine, 0700, other); }, own},
        {"$uid open to others", [&] { return folder(shared, 01777) && folder(mine, 0755); }, own},
        {"$uid a link to a private folder",
         [&] { return folder(shared, 01777) && folder(volume + "/private", 0700) && link("../private", mine); }, own},
        {".Trash-$uid owned by another user", [&] { return folder(own, 0700, other); }, refused},
        {".Trash-$uid open to others", [&] { return folder(own, 0777); }, refused},
        {".Trash-$uid a link", [&] { return folder(volume + "/private", 0700) && link("private", own); }, refused},
    };
    for (const auto& c : cases) {
        for (const char* name : {".Trash", ".Trash-0", "elsewhere", "private"}) {
            const std::string path = volume + "/" + name;
            if (exists(path)) std::filesystem::remove_all(path);
        }
        ASSERT_TRUE(c.setUp()) << c.what;
        const std::string item = test::writeFile(volume + "/item", 100);
        Trash::Outcome outcome = Trash::moveToTrash(item);
        if (c.expected == refused) {
            EXPECT_EQ(std::tuple(outcome.reason, exists(item)), std::tuple(item + refused, true)) << c.what;
        } else {
            EXPECT_TRUE(outcome.ok()) << c.what << ": " << outcome.reason << outcome.error;
            EXPECT_EQ(std::tie(outcome.entry.trash, outcome.location),
                      std::tuple(c.expected, c.expected + "/files/item"))
                << c.what;
            EXPECT_TRUE(exists(c.expected + "/files/item")) << c.what;
        }
    }
    test::unmount(volume);
}

// Bob owns the shared "$top/.Trash" and swaps Alice's folder in it for a link
// to his own between the check and the move: her item still goes into the
// folder that was checked, never into his.
TEST(Trash, SwappingTheUsersTrashForALinkCannotRedirectTheMove) {
    if (!test::isRoot()) GTEST_SKIP() << "two users and a mount need root";
    test::TrashHome home;
    const unsigned alice = 64101, bob = 64102;
    const std::string volume = home.dir / "volume";
    ASSERT_TRUE(test::mountTmpfs(volume, 4 << 20, 01777));
    const std::string shared = volume + "/.Trash", mine = shared + "/" + std::to_string(alice);
    const std::string theirs = volume + "/bob";
    test::ownedFolder(shared, bob, 01777), test::ownedFolder(mine, alice, 0700);
    for (const char* sub : {"", "/files", "/info"}) test::ownedFolder(theirs + sub, bob, 0777);
    const std::string item =
        test::ownedFile(test::ownedFolder(volume + "/work", alice, 0755) + "/notes", "Alice's\n", alice);

    int status = test::runAsUser(alice, [&] {
        Trash::Outcome outcome;
        int folder = ::open((volume + "/work").c_str(), O_PATH | O_DIRECTORY);
        outcome = Trash::moveToTrash(folder, "notes", volume + "/work", [&](const std::string& trash) {
            if (trash != mine || ::rename(mine.c_str(), (mine + ".moved").c_str()) != 0 ||
                ::symlink(theirs.c_str(), mine.c_str()) != 0)
                std::fprintf(stderr, "the swap could not be staged at %s\n", trash.c_str());
        });
        if (!outcome.ok()) std::fprintf(stderr, "the move failed: %d %s\n", outcome.error, outcome.reason.c_str());
        return outcome.ok() ? 0 : 1;
    });
    EXPECT_EQ(std::tuple(status, exists(theirs + "/files/notes"), std::filesystem::is_empty(theirs + "/info")),
              std::tuple(0, false, true));
    EXPECT_EQ(test::readText(mine + ".moved/files/notes"), "Alice's\n");
    test::unmount(volume);
}
