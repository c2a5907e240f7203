// Saved scans, their comparison, and scans made elsewhere: real trees scanned
// twice with changes between, round trips through both file formats, ncdu's
// own export of the same tree, hostile exports, and the history's limits.

#include "platform/PlatformTables.h"
#include "scan/ScanArchive.h"
#include "scan/ScanExport.h"
#include "scan/ScanHistory.h"
#include "support/JsonReader.h"

#include "ScanTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

using namespace vessora;

namespace {

SavedScan saved(const std::string& path, int64_t time = 1'700'000'000) {
    SavedScan out{path, time, "Vessora test", test::scan(path)};
    out.tree->sortRecursively();
    return out;
}

// Every node by where it is (a lump by its folder and "*"), with its sizes.
struct Measured {
    int64_t size, logical, files;
    bool directory;
    bool operator==(const Measured&) const = default;
};
std::map<std::string, Measured> measured(const FSNode& root) {
    std::map<std::string, Measured> out;
    std::vector<const FSNode*> work{&root};
    while (!work.empty()) {
        const FSNode& n = *work.back();
        work.pop_back();
        out[n.isAggregate ? n.path() + "/*" : n.path()] = {n.size, n.logicalSize, n.fileCount, n.isDirectory()};
        for (const auto& child : n.children()) work.push_back(child.get());
    }
    return out;
}

// A tree with what makes scans differ: lumps, a file linked from two
// folders, a link, an empty folder, names with a line feed, a quote and a
// byte that is not UTF-8.
void makeAwkwardTree(const std::string& root) {
    test::writeFile(root + "/a/big", 3 << 20);
    for (int i = 0; i < 4; ++i) test::writeFile(root + "/a/small" + std::to_string(i), 5000);
    test::writeFile(root + "/b/c/deep", 2 << 20);
    ASSERT_EQ(::link((root + "/b/c/deep").c_str(), (root + "/a/also-deep").c_str()), 0);
    ASSERT_EQ(::symlink("big", (root + "/a/link").c_str()), 0);
    test::makeDirs(root + "/empty");
    test::writeFile(root + "/odd/line\nfeed \"q\" \xff" + "x", 1500);
    test::writeFile(root + "/top.txt", 10); // a row of its own, small as it is
}

} // namespace

// Two scans of one folder with files added, grown, shrunk and deleted
// between them: `vessora diff --json` finds every change with its delta,
// largest growth first.
TEST(ScanHistory, DiffOfTwoSavedScansFindsEveryChangeInOrder) {
    test::TempDir dir;
    test::ScopedEnv state("XDG_STATE_HOME", dir / "state"), tables("VESSORA_TABLES", "linux");
    const std::string root = dir / "r";
    const int64_t before = test::allocatedSize(test::writeFile(root + "/grows", 2 << 20));
    const int64_t shrankFrom = test::allocatedSize(test::writeFile(root + "/shrinks", 6 << 20));
    const int64_t gone = test::allocatedSize(test::writeFile(root + "/goes", 3 << 20));
    test::writeFile(root + "/same/kept", 4 << 20);
    std::string out;
    ASSERT_EQ(test::runCli({"scan", "--save", root}, &out), 0) << out;
    EXPECT_NE(out.find("Saved as "), std::string::npos) << out;
    ::sleep(1); // another second, so the second scan is the newer
    const int64_t grown = test::allocatedSize(test::writeFile(root + "/grows", 5 << 20));
    const int64_t shrunk = test::allocatedSize(test::writeFile(root + "/shrinks", 1 << 20));
    const int64_t added = test::allocatedSize(test::writeFile(root + "/new/arrival", 9 << 20));
    ::unlink((root + "/goes").c_str());
    // Named from its parent this time: both scans are of the same folder.
    ASSERT_EQ(test::runProgram({"sh", "-c", "cd \"$0\" && exec \"$1\" scan --save r/", dir.path(), VESSORA_CLI}, &out),
              0)
        << out;

    ASSERT_EQ(test::runCli({"diff", "--json", root}, &out), 0) << out;
    std::optional<JsonValue> json = parseJson(out);
    ASSERT_TRUE(json) << out;
    std::vector<std::tuple<std::string, std::string, int64_t>> changes;
    for (const JsonValue& c : json->member("changes")->array)
        changes.emplace_back(*c.text("path"), *c.text("change"), int64_t(c.member("delta")->number));
    // The root's own growth is the total, not a change below it.
    const std::vector<std::tuple<std::string, std::string, int64_t>> expected{
        {root + "/new", "new", added},
        {root + "/new/arrival", "new", added},
        {root + "/grows", "grew", grown - before},
        {root + "/goes", "gone", -gone},
        {root + "/shrinks", "shrank", shrunk - shrankFrom},
    };
    EXPECT_EQ(changes, expected) << out;
    EXPECT_EQ(int64_t(json->member("delta")->number), added + grown - before + shrunk - shrankFrom - gone);

    // The same two scans named by their history ids, and the listing.
    ASSERT_EQ(test::runCli({"history", root, "--json"}, &out), 0) << out;
    json = parseJson(out);
    ASSERT_TRUE(json && json->member("scans")->array.size() == 2u) << out;
    const std::string newer = *json->member("scans")->array[0].text("id"),
                      older = *json->member("scans")->array[1].text("id");
    ASSERT_EQ(test::runCli({"diff", older, newer, "--top", "2"}, &out), 0) << out;
    EXPECT_TRUE(out.find("5 items changed") != std::string::npos && out.find("(3 more)") != std::string::npos) << out;
    EXPECT_EQ(std::tuple(test::runCli({"diff", root + "/elsewhere"}, &out), test::runCli({"diff"}, &out)),
              std::tuple(1, 2));
}

// Our export, and our own file, read back as the tree they were made from;
// a damaged file refused.
TEST(ScanHistory, BothFormatsRoundTrip) {
    ScopedTables tables(TableSet::linux);
    test::TempDir dir;
    makeAwkwardTree(dir / "r");
    const SavedScan original = saved(dir / "r");
    std::string error;
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "saved scan" : "export");
        std::optional<SavedScan> back = archive ? ScanArchive::decode(ScanArchive::encode(original), error)
                                                : ScanExport::parse(ScanExport::write(original, "1.0"), error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(std::tie(back->root, back->time), std::tie(original.root, original.time));
        EXPECT_EQ(std::tuple(measured(*back->tree), test::treeProblem(*back->tree)),
                  std::tuple(measured(*original.tree), ""));
        EXPECT_EQ(test::child(*back->tree, "a")->modified, test::child(*original.tree, "a")->modified);
    }
    // Written to files: gzip by name, and a history entry by id.
    ASSERT_TRUE(ScanExport::exportFile(original, "1.0", dir / "out.json.gz", error)) << error;
    std::optional<SavedScan> gz = ScanHistory::load(dir / "out.json.gz", error);
    ASSERT_TRUE(gz) << error;
    EXPECT_EQ(measured(*gz->tree), measured(*original.tree));
    // A damaged saved scan is refused with its reason, whatever was damaged.
    const std::string bytes = ScanArchive::encode(original);
    for (size_t cut : {size_t(3), size_t(12), bytes.size() / 2, bytes.size() - 1})
        EXPECT_TRUE(!ScanArchive::decode(bytes.substr(0, cut), error) && !error.empty()) << cut;
    std::string flipped = bytes;
    flipped[bytes.size() - 6] ^= 0x20;
    EXPECT_FALSE(ScanArchive::decode(flipped, error));
    std::string newer = bytes;
    newer[8] = 2;
    EXPECT_TRUE(!ScanArchive::decode(newer, error) && error.find("format 2") != std::string::npos) << error;
}

// ncdu's export of a tree imports with the sizes of our own scan of it
// (ncdu counts a folder's own blocks; a scan does not, nor does the import).
TEST(ScanHistory, NcduExportImportsWithOurSizes) {
    ScopedTables tables(TableSet::linux);
    if (test::runProgram({"ncdu", "-v"}) != 0)
        GTEST_SKIP() << "ncdu is not installed (scripts/install-deps installs it)";
    test::TempDir dir;
    makeAwkwardTree(dir / "r");
    test::writeFile(dir / "r/b/c/more", 4 << 20);
    std::string out;
    ASSERT_EQ(test::runProgram({"ncdu", "-x", "-o", dir / "ncdu.json", dir / "r"}, &out), 0) << out;
    ASSERT_EQ(test::runProgram({"sh", "-c", "gzip -c '" + dir / "ncdu.json" + "' > '" + dir / "ncdu.json.gz'"}), 0);
    const auto ours = measured(*test::scan(dir / "r"));
    for (const char* file : {"ncdu.json", "ncdu.json.gz"}) {
        std::string error;
        std::optional<SavedScan> imported = ScanHistory::load(dir / file, error);
        ASSERT_TRUE(imported) << file << ": " << error;
        EXPECT_EQ(std::tuple(imported->root, measured(*imported->tree)), std::tuple(dir / "r", ours)) << file;
        EXPECT_NE(imported->source.find("ncdu"), std::string::npos);
    }
    // And ncdu reads ours: what it writes back holds the same bytes.
    std::string error;
    const SavedScan ourScan = saved(dir / "r");
    ASSERT_TRUE(ScanExport::exportFile(ourScan, "1.0", dir / "ours.json", error)) << error;
    ASSERT_EQ(test::runProgram({"sh", "-c", "ncdu -f '" + dir / "ours.json" + "' -o '" + dir / "again.json'"}, &out), 0)
        << out;
    std::optional<SavedScan> again = ScanHistory::load(dir / "again.json", error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->tree->size, ourScan.tree->size);
    // To ncdu a lump is one file: a's five small items (four files and a link) read back as one.
    EXPECT_EQ(again->tree->fileCount, ourScan.tree->fileCount - 4);
}

// Exports are outside input: whatever is wrong with one is refused, saying
// what and where, and nothing is half read.
TEST(ScanHistory, HostileExportsAreRefused) {
    const std::string head = "[1,2,{\"progname\":\"x\"},\n";
    std::string deep = head + "[{\"name\":\"/r\"}";
    for (int i = 0; i < 40; ++i) deep += ",[{\"name\":\"d\"}";
    for (int i = 0; i < 41; ++i) deep += "]";
    deep += "]";
    std::string many = head + "[{\"name\":\"/r\"}";
    for (int i = 0; i < 60; ++i) many += ",[{\"name\":\"d" + std::to_string(i) + "\"}]";
    many += "]]";
    const std::string big = "{\"name\":\"f\",\"dsize\":1152921504606846976}";
    const std::vector<std::pair<std::string, std::string>> cases{
        {"", "it is not a scan export"},
        {"<html>", "it is not a scan export"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"dsize\":4096}", "truncated"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"dsi", "truncated"},
        {"[2,0,{},[{\"name\":\"/r\"}]]", "version 2"},
        {head + "[{\"name\":\"r\"}]]", "not an absolute path"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"../x\",\"dsize\":1}]]", "not a file name"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"..\"}]]", "not a file name"},
        {head + "[{\"name\":\"/r\"},{\"asize\":1}]]", "no name"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"a\\u0000b\"}]]", "not a file name"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"a\nb\"}]]", "control character"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"\\ud800\"}]]", "half a character"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"dsize\":-5}]]", "negative"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"dsize\":1.5}]]", "whole number"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"dsize\":99999999999999999999}]]", "out of range"},
        {head + "[{\"name\":\"/r\"}," + big + "," + big + "," + big + "," + big + "," + big + "," + big + "," + big +
             "," + big + "]]",
         "add up"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"" + std::string(300, 'n') + "\"}]]", "longer than 256"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"vessora_lump\":0,\"dsize\":9}]]", "holds none"},
        {head + "[{\"name\":\"/r\"},{\"name\":\"f\",\"x\":" + std::string(100, '[') + "}]]", "nested too deeply"},
        {head + "[{\"name\":\"/r\"}]] trailing", "after its end"},
        {deep, "deeper than 32"},
        {many, "more than 50"},
    };
    const ScanExport::Limits limits{32, 256, 50, int64_t(1) << 60, 1 << 20};
    for (const auto& [input, reason] : cases) {
        std::string error;
        EXPECT_FALSE(ScanExport::parse(input, error, limits)) << input.substr(0, 80);
        EXPECT_NE(error.find(reason), std::string::npos) << input.substr(0, 80) << "\n -> " << error;
    }
    // Not too strict: unknown keys, metadata and escapes are read through.
    std::string error;
    auto fine =
        ScanExport::parse("[1,0,{\"timestamp\":17.5,\"x\":[{}]},[{\"name\":\"/r\",\"new\":{\"a\":[1,true,null]}},"
                          "{\"name\":\"caf\\u00e9 \\udcff \\ud83d\\ude00\",\"dsize\":2097152}]]",
                          error);
    ASSERT_TRUE(fine) << error;
    EXPECT_EQ(fine->tree->children().at(0)->name(), "caf\xc3\xa9 \xff \xf0\x9f\x98\x80");
    EXPECT_EQ(fine->tree->size, 2097152);
}

// The history keeps the newest scans of each folder and a total size, the
// oldest going first; an unreadable file is named and skipped; Forget
// removes them all.
TEST(ScanHistory, LimitsUnreadableFilesAndForget) {
    ScopedTables tables(TableSet::linux);
    test::TempDir dir;
    test::writeFile(dir / "a/f", 2 << 20);
    test::writeFile(dir / "b/f", 2 << 20);
    const std::string folder = dir / "scans";
    const ScanHistory::Limits perRoot{3, int64_t(1) << 40};
    std::string error;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(ScanHistory::save(saved(dir / "a", 1000 + i), folder, error, perRoot)) << error;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(ScanHistory::save(saved(dir / "b", 2000 + i), folder, error, perRoot));
    test::writeText(folder + "/broken.vscan", "not a scan");
    ScanHistory::Listing all = ScanHistory::list(folder);
    ASSERT_EQ(std::tuple(all.scans.size(), all.problems.size()), std::tuple(5u, 1u));
    EXPECT_NE(all.problems[0].find("broken.vscan: not a saved Vessora scan"), std::string::npos);
    auto times = [&](const std::optional<std::string>& root) {
        std::vector<int64_t> out;
        for (const auto& info : ScanHistory::list(folder, root).scans) out.push_back(info.time);
        return out;
    };
    EXPECT_EQ(times(dir / "a"), (std::vector<int64_t>{1004, 1003, 1002}));

    // A total that holds two scans: the oldest go, the one just saved stays.
    // The unreadable file counts by its own time (now: the newest).
    const int64_t one = all.scans[0].fileBytes;
    ASSERT_TRUE(ScanHistory::save(saved(dir / "b", 3000), folder, error, {30, 2 * one + 100}));
    EXPECT_EQ(times({}), (std::vector<int64_t>{3000, 2001}));
    EXPECT_TRUE(test::exists(folder + "/broken.vscan"));

    EXPECT_EQ(ScanHistory::forget(folder), 3u);
    EXPECT_TRUE(ScanHistory::list(folder).scans.empty());
}
