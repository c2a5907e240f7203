// The vessora scan and size commands, run as real child processes.

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vessora;

namespace {
int run(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv{VESSORA_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::runProgram(argv, output);
}
} // namespace

TEST(ScanCommand, JsonMatchesAnIndependentComputation) {
    for (const char* seed : {"1", "2", "3", "4"}) {
        test::TempDir dir;
        std::string output;
        int status =
            test::runProgram({"python3", SCAN_TEST_DIR "/scan_json_check.py", VESSORA_CLI, dir.path(), seed}, &output);
        EXPECT_EQ(status, 0) << "seed " << seed << ": " << output;
    }
}

TEST(ScanCommand, ReadableTreeAndErrors) {
    test::TempDir dir;
    test::writeFile(dir / "r/videos/movie.mkv", 3 << 20);
    for (int i = 0; i < 15; ++i) test::writeFile(dir / "r/many/f" + std::to_string(i), 2 << 20);
    test::writeFile(dir / "r/notes.txt", 100);
    std::string out;
    ASSERT_EQ(run({"scan", dir / "r", "--top", "3", "--depth", "2"}, &out), 0) << out;
    EXPECT_NE(out.find("videos/"), std::string::npos) << out;
    EXPECT_NE(out.find("movie.mkv"), std::string::npos) << out;
    EXPECT_NE(out.find("(12 more)"), std::string::npos) << out;
    EXPECT_NE(out.find("17 files"), std::string::npos) << out;

    EXPECT_EQ(run({"scan", dir / "missing"}, &out), 1);
    EXPECT_EQ(out, "vessora: " + dir / "missing" + ": no such file or directory\n");
    EXPECT_EQ(run({"scan"}, &out), 2);
    EXPECT_NE(out.find("usage: vessora scan PATH"), std::string::npos);
    EXPECT_EQ(run({"scan", dir / "r", "--top", "zero"}, &out), 2);
    EXPECT_EQ(run({"scan", dir / "r", "--depth", "-1"}, &out), 2);
    EXPECT_EQ(run({"scan", dir / "r", "--colour"}, &out), 2);
    EXPECT_EQ(run({"scan", dir / "r", dir / "r"}, &out), 2);
}

TEST(SizeCommand, OneLinePerPathLikeDu) {
    test::TempDir dir;
    int64_t a = test::allocatedSize(test::writeFile(dir / "a/f", 3 << 20));
    int64_t b = test::allocatedSize(test::writeFile(dir / "b", 5000));
    std::string out;
    ASSERT_EQ(run({"size", dir / "a", dir / "b"}, &out), 0);
    EXPECT_EQ(out,
              std::to_string(a) + "\t3.1 MB\t" + dir / "a" + "\n" + std::to_string(b) + "\t8 KB\t" + dir / "b" + "\n");
    EXPECT_EQ(run({"size", dir / "a", dir / "nothing"}, &out), 1);
    EXPECT_NE(out.find(std::to_string(a) + "\t"), std::string::npos);
    EXPECT_NE(out.find("vessora: " + dir / "nothing" + ": no such file or directory"), std::string::npos);
    EXPECT_EQ(run({"size"}, &out), 2);
}
