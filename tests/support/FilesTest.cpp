#include "support/FolderListing.h"
#include "support/OsRelease.h"
#include "support/WholeFile.h"

#include "TestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

using namespace vessora;

TEST(FolderListing, ByPathAndByDescriptorInByteOrder) {
    test::TempDir dir;
    for (const char* name : {"b", "a", ".hidden", "B"}) test::writeFile(dir / name);
    const std::vector<std::string> expected{".hidden", "B", "a", "b"};
    EXPECT_EQ(FolderListing::names(dir.path()), expected);
    const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FolderListing::names(fd), expected);
    EXPECT_EQ(FolderListing::names(fd), expected) << "a second listing starts again from the top";
    ::close(fd);
    EXPECT_TRUE(!FolderListing::names(dir / "missing") && errno == ENOENT) << errno;
    EXPECT_TRUE(FolderListing::namesOrEmpty(dir / "a").empty());
}

TEST(WholeFile, ReadsRegularFilesWithinTheirLimit) {
    test::TempDir dir;
    test::writeText(dir / "note", "line one\nline two\n");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("note", (dir / "link").c_str()), 0);
    EXPECT_EQ(WholeFile::read(dir / "note"), "line one\nline two\n");
    EXPECT_EQ(WholeFile::read(dir / "note", 18), "line one\nline two\n");
    EXPECT_TRUE(!WholeFile::read(dir / "note", 17) && errno == EFBIG) << errno;
    EXPECT_TRUE(!WholeFile::read(dir / "fifo") && errno == EINVAL)
        << "a FIFO without a writer must not block: " << errno;
    EXPECT_FALSE(WholeFile::read(dir.path()));
    EXPECT_EQ(WholeFile::read(dir / "link"), "line one\nline two\n");
    // The kernel's own files report a size of 0 but have contents.
    EXPECT_NE(WholeFile::read("/proc/self/status").value_or("").find("Pid:"), std::string::npos);

    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(WholeFile::readAt(folder, "note"), "line one\nline two\n");
    EXPECT_FALSE(WholeFile::readAt(folder, "link")) << "a link is not followed below a folder";
    EXPECT_TRUE(!WholeFile::readAt(folder, "missing") && errno == ENOENT) << errno;
    ::close(folder);
}

TEST(OsRelease, QuotesAndEscapesAsTheShellReadsThem) {
    const auto values = OsRelease::parse("# comment\n"
                                         "\n"
                                         "NAME=\"Debian GNU/Linux\"\n"
                                         "ID=debian\n"
                                         "PRETTY_NAME='It''s \\ \"quoted\"'\n"
                                         "VERSION=\"12 \\\"bookworm\\\" \\$HOME \\n\"\r\n"
                                         "VARIANT=Work\\ Station trailing\n"
                                         "BROKEN=\"never closed\n"
                                         "  INDENTED=yes\n"
                                         "=no key\n");
    const std::map<std::string, std::string> expected{
        {"NAME", "Debian GNU/Linux"},         {"ID", "debian"},
        {"PRETTY_NAME", "Its \\ \"quoted\""}, {"VERSION", "12 \"bookworm\" $HOME \\n"},
        {"VARIANT", "Work Station"},          {"INDENTED", "yes"},
    };
    EXPECT_EQ(values, expected);
}
