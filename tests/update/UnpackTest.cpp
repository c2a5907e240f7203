// The unpacker on its own: real zip archives, hostile ones included. Refusals
// by name happen before anything is written.

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
        return ArchiveUnpacker::unpack(archive, into, limits);
    }

    bool intoIsEmpty() {
        std::string output;
        runProgram({"find", into, "-mindepth", "1"}, &output);
        return output.empty();
    }
};

TEST_F(UnpackTest, UnsafeNamesAndLinksAreRefusedBeforeAnythingIsWritten) {
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
        R"([{"name": "ok.txt", "text": "x"}, {"name": "empty", "link": ""}])",
    };
    for (const std::string& entries : cases) {
        auto result = unpack(entries);
        EXPECT_FALSE(result.ok) << entries;
        EXPECT_TRUE(intoIsEmpty()) << entries;
    }
    EXPECT_FALSE(exists(dir / "escape.txt"));
    EXPECT_FALSE(exists("/tmp/absolute-escape.txt"));
    // Links that stay inside are fine.
    auto inside = unpack(R"([{"name": "a/b/c.txt", "text": "x"}, {"name": "a/l", "link": "b/../b/c.txt"}])");
    EXPECT_TRUE(inside.ok) << inside.reason;
}

TEST_F(UnpackTest, CapsOnEntriesAndBytes) {
    EXPECT_FALSE(unpack(R"([{"name": "bomb", "zeros": 33554432}])", {.maxEntries = 10, .maxTotalBytes = 1 << 20}).ok);
    EXPECT_TRUE(intoIsEmpty());
    EXPECT_TRUE(unpack(R"([{"name": "fits", "zeros": 1048576}])", {.maxEntries = 10, .maxTotalBytes = 1 << 20}).ok);
    std::string entries = "[";
    for (int i = 0; i < 11; ++i)
        entries += std::string(i ? ", " : "") + R"({"name": "f)" + std::to_string(i) + R"(", "text": "x"})";
    EXPECT_FALSE(unpack(entries + "]", {.maxEntries = 10, .maxTotalBytes = 1 << 20}).ok);
}

} // namespace
} // namespace vessora::test
