// The unpacker on its own: real zip archives, hostile ones included, some
// written byte by byte. A refused archive may leave part of itself in the
// folder (the updater discards it); nothing may ever land outside.

#include "UpdateTestSupport.h"

#include "update/ArchiveUnpacker.h"

#include <gtest/gtest.h>

namespace vessora::test {
namespace {

class UnpackTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string into = dir / "into";
    void SetUp() override { makeDirs(into); }

    ArchiveUnpacker::Result unpack(const std::string& entries, const ArchiveUnpacker::Limits& limits = {}) {
        std::string archive = dir / "archive.zip";
        makeZip(archive, entries);
        runProgram({"rm", "-rf", into});
        makeDirs(into);
        return ArchiveUnpacker::unpack(archive, into, limits);
    }
};

TEST_F(UnpackTest, HostileArchivesAreRefused) {
    const std::string cases[] = {
        R"([{"name": "ok.txt", "text": "x"}, {"name": "../escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/./../../escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "/tmp/absolute-escape.txt", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/link", "link": "/etc"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "a/link", "link": "../.."}])",
        R"([{"name": "a/link", "link": ".."}, {"name": "a/link/ok.txt", "text": "x"}])",
        R"([{"name": "a/x/y.txt", "text": "x"}, {"name": "a/x", "link": "."}])",
        R"([{"name": "a/up", "link": "me/../.."}, {"name": "a/me", "link": "."}])",
        R"([{"name": "dup", "link": "ok"}, {"name": "dup", "text": "x"}])",
        R"([{"name": "file", "text": "x"}, {"name": "file/below", "text": "x"}])",
        R"([{"name": "ok.txt", "text": "x"}, {"name": "empty", "link": ""}])",
        R"({"raw": [{"name": "setuid", "text": "x", "mode": 2541}]})",
        R"({"raw": [{"name": "setgid", "text": "x", "mode": 1517}]})",
        R"({"raw": [{"name": "closed", "dir": true, "mode": 365}]})",
        // One view of the archive only: no central directory, or one that
        // disagrees with the local headers.
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "root", "link": "/"}], "layout": "nocd"})",
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "b.txt", "text": "y"}], "layout": "cd-name"})",
        R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "b.txt", "text": "y"}], "layout": "cd-size"})",
    };
    for (const std::string& entries : cases) {
        auto result = unpack(entries);
        EXPECT_FALSE(result.ok) << entries;
        EXPECT_FALSE(result.reason.empty()) << entries;
    }
    EXPECT_FALSE(exists(dir / "escape.txt"));
    EXPECT_FALSE(exists("/tmp/absolute-escape.txt"));

    // Entries hidden inside another's data never surface, whichever way the
    // reader looks.
    unpack(R"({"raw": [{"name": "a.txt", "text": "x"}, {"name": "root", "link": "/"}], "layout": "hidden"})");
    EXPECT_FALSE(exists(into + "/root"));
    // Links that stay inside, permission bits as given, names as bytes.
    auto fine = unpack(R"({"raw": [{"name": "a/b/c.txt", "text": "x", "mode": 493}, {"name": "a/l", )"
                       R"("link": "b/../b/c.txt"}, {"name": "\udcff name", "text": "y", "mode": 384}]})");
    EXPECT_TRUE(fine.ok) << fine.reason;
    struct stat info;
    ASSERT_EQ(::stat((into + "/a/b/c.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat((into + "/\xff name").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(UnpackTest, CapsOnEntriesAndBytes) {
    const ArchiveUnpacker::Limits small{.maxEntries = 10, .maxTotalBytes = 1 << 20};
    EXPECT_FALSE(unpack(R"([{"name": "bomb", "zeros": 33554432}])", small).ok);
    EXPECT_TRUE(unpack(R"([{"name": "fits", "zeros": 1048576}])", small).ok);
    std::string entries = "[";
    for (int i = 0; i < 11; ++i)
        entries += std::string(i ? ", " : "") + R"({"name": "f)" + std::to_string(i) + R"(", "text": "x"})";
    EXPECT_FALSE(unpack(entries + "]", small).ok);
}

} // namespace
} // namespace vessora::test
