#include "platform/Trash.h"

#include "TestSupport.h"
#include "platform/TrashHome.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

namespace {

std::string decodePercent(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

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
        EXPECT_EQ(outcome.location, home.trash() + "/files/" + names[i]);
        EXPECT_EQ(test::readText(outcome.location), before);
        EXPECT_EQ(outcome.infoPath, home.trash() + "/info/" + names[i] + ".trashinfo");
        EXPECT_EQ(decodePercent(infoKey(outcome.infoPath, "Path")), item);
        EXPECT_EQ(infoKey(outcome.infoPath, "DeletionDate").size(), 19u);
        EXPECT_NE(trashList().find(item), std::string::npos) << names[i];

        EXPECT_EQ(trashRestore(folder), 0);
        ASSERT_TRUE(exists(item)) << names[i];
        EXPECT_EQ(test::readText(item), before);
        EXPECT_FALSE(exists(outcome.location));
    }
}

// trash-cli decodes Path= with Python's lossy UTF-8 decoding, so it shows and
// restores invalid bytes as U+FFFD; the trash itself must keep them exactly.
TEST(Trash, InvalidUtf8NamesAreRecordedByteForByte) {
    test::TrashHome home;
    const std::string item = home.dir / "work/bad\xff\xfe name";
    test::writeFile(item, 100);
    Trash::Outcome outcome = Trash::moveToTrash(item);
    ASSERT_TRUE(outcome.ok());
    EXPECT_NE(infoKey(outcome.infoPath, "Path").find("bad%FF%FE%20name"), std::string::npos);
    EXPECT_EQ(decodePercent(infoKey(outcome.infoPath, "Path")), item);
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
}

TEST(Trash, SameNameTwiceFoldersLinksAndSizes) {
    test::TrashHome home;
    test::writeFile(home.dir / "a/item", 10);
    test::writeFile(home.dir / "b/item", 20);
    Trash::Outcome first = Trash::moveToTrash(home.dir / "a/item");
    Trash::Outcome second = Trash::moveToTrash(home.dir / "b/item");
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(test::readText(first.location).size(), 10u);
    EXPECT_EQ(test::readText(second.location).size(), 20u);

    // A link goes as a link; its target stays where it is.
    test::writeFile(home.dir / "target/kept", 50);
    ASSERT_EQ(::symlink((home.dir / "target").c_str(), (home.dir / "a/link").c_str()), 0);
    Trash::Outcome link = Trash::moveToTrash(home.dir / "a/link");
    ASSERT_TRUE(link.ok());
    EXPECT_TRUE(std::filesystem::is_symlink(link.location));
    EXPECT_TRUE(exists(home.dir / "target/kept"));

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
    EXPECT_EQ(name, "folder");
    EXPECT_EQ(mtime, int64_t(info.st_mtime));
    EXPECT_EQ(size, test::allocatedSize(folder.location) + test::allocatedSize(folder.location + "/x"));
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
    EXPECT_EQ(decodePercent(infoKey(outcome.infoPath, "Path")), "sub/odd name %\n");
    EXPECT_FALSE(exists(home.trash() + "/files"));
    EXPECT_NE(trashList().find(item), std::string::npos);
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
