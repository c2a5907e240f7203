#include "apps/AppInventory.h"

#include "AppFixtures.h"
#include "TestSupport.h"
#include "support/Paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

using namespace vessora;
using test::PlistFormat;

namespace {

const std::map<std::string, std::string> fullInfo = {
    {"CFBundleDisplayName", "Shown Name"},       {"CFBundleName", "Short"},
    {"CFBundleShortVersionString", "2.1"},       {"CFBundleVersion", "2100"},
    {"CFBundleIdentifier", "com.example.shown"},
};

InstalledApp described(const std::string& path, bool isSystem = false) {
    std::optional<InstalledApp> app = AppInventory::describe(path, isSystem);
    EXPECT_TRUE(app.has_value());
    return app.value_or(InstalledApp{});
}

std::vector<std::string> relative(const std::vector<std::string>& paths, const std::string& root) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.substr(root.size() + 1));
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(Describe, ReadsXmlAndBinaryInfoPlistsAndFallsBackInOrder) {
    test::TempDir dir;
    for (PlistFormat format : {PlistFormat::xml, PlistFormat::binary}) {
        std::string path = test::makeBundle(dir / (format == PlistFormat::xml ? "X.app" : "B.app"), fullInfo, format);
        std::string raw = test::readText(path + "/Contents/Info.plist");
        EXPECT_EQ(raw.starts_with("bplist00"), format == PlistFormat::binary);
        InstalledApp expected = test::app(path, "Shown Name", "com.example.shown");
        expected.version = "2.1";
        expected.isSystemApp = format == PlistFormat::binary;
        EXPECT_EQ(described(path, format == PlistFormat::binary), expected);
    }
    // CFBundleName when the display name is missing; CFBundleVersion when the
    // short version is missing.
    InstalledApp a = described(test::makeBundle(
        dir / "A.app", {{"CFBundleName", "Short"}, {"CFBundleVersion", "77"}, {"CFBundleIdentifier", "a.b"}}));
    EXPECT_EQ(std::tie(a.name, a.version), std::tuple("Short", "77"));

    // Values of another type do not count; the folder name without ".app" is last.
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleDisplayName", plist_new_uint(5));
    plist_dict_set_item(dict, "CFBundleName", plist_new_bool(1));
    plist_dict_set_item(dict, "CFBundleShortVersionString", plist_new_real(1.5));
    plist_dict_set_item(dict, "CFBundleVersion", plist_new_array());
    plist_dict_set_item(dict, "CFBundleIdentifier", plist_new_uint(9));
    test::makeDirs(dir / "My Tool.app/Contents");
    test::writePlist(dir / "My Tool.app/Contents/Info.plist", dict, PlistFormat::binary);
    EXPECT_EQ(described(dir / "My Tool.app"), test::app(dir / "My Tool.app", "My Tool", std::nullopt));

    // The display name wins even over a name; an empty string is still a string.
    EXPECT_EQ(described(test::makeBundle(dir / "C.app", {{"CFBundleDisplayName", ""}, {"CFBundleName", "N"}})).name,
              "");
}

TEST(Describe, BundlesWithoutUsableInfoFlatOnesAndReceipts) {
    test::TempDir dir;
    test::makeBundle(dir / "None.app", {});
    test::writeText(dir / "Corrupt.app/Contents/Info.plist", "<?xml version=\"1.0\"?><plist><dict><key>Open");
    test::writeText(dir / "Garbage.app/Contents/Info.plist", std::string("bplist00\xff\xff\x01\x02", 12));
    test::writeText(dir / "Empty.app/Contents/Info.plist", "");
    test::writePlist(dir / "Array.app/Contents/Info.plist", plist_new_array(), PlistFormat::xml);
    // A FIFO in place of the Info.plist must not block the inventory.
    test::makeDirs(dir / "Fifo.app/Contents");
    ASSERT_EQ(::mkfifo((dir / "Fifo.app/Contents/Info.plist").c_str(), 0644), 0);
    test::makeDirs(dir / "Dir.app/Contents/Info.plist");
    for (const std::string name : {"None", "Corrupt", "Garbage", "Empty", "Array", "Fifo", "Dir"})
        EXPECT_EQ(described(dir / (name + ".app")), test::app(dir / (name + ".app"), name, std::nullopt));
    // A path that is no bundle at all is known by its folder name.
    InstalledApp gone = test::app(dir / "Gone.app", "Gone", std::nullopt);
    gone.isSystemApp = true;
    EXPECT_EQ(described(dir / "Gone.app", true), gone);

    // A flat bundle, and the App Store's receipt (a file, not a folder).
    test::writePlist(dir / "Flat.app/Info.plist", test::stringDict({{"CFBundleName", "Flat One"}}), PlistFormat::xml);
    EXPECT_EQ(described(dir / "Flat.app").name, "Flat One");

    std::string store = test::makeBundle(dir / "Store.app", fullInfo);
    EXPECT_FALSE(described(store).isMASApp);
    test::writeText(store + "/Contents/_MASReceipt/receipt", "r");
    EXPECT_TRUE(described(store).isMASApp);
    test::makeDirs(dir / "Folder.app/Contents/_MASReceipt");
    EXPECT_FALSE(described(dir / "Folder.app").isMASApp);
}

TEST(Bundles, WalkRulesAndDepth) {
    test::TempDir dir;
    const std::string root = dir / "root";
    test::makeBundle(root + "/Top.app", {});
    test::makeBundle(root + "/a/b/c/Deep3.app", {});   // three folder levels below the root
    test::makeBundle(root + "/a/b/c/d/Deep4.app", {}); // four: too deep
    test::makeBundle(root + "/Outer.app/Contents/Helpers/Inner.app", {});
    test::makeBundle(root + "/.Hidden.app", {});
    test::makeBundle(root + "/.hidden/InHidden.app", {});
    test::makeBundle(root + "/Upper.APP/Inside.app", {}); // upper case is an ordinary folder
    test::writeText(root + "/File.app", "not a folder");
    test::makeBundle(dir / "elsewhere/Linked.app", {});
    ASSERT_EQ(::symlink((dir / "elsewhere/Linked.app").c_str(), (root + "/Linked.app").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (root + "/LinkedFolder").c_str()), 0);

    EXPECT_EQ(relative(AppInventory::bundles(root, 3), root),
              (std::vector<std::string>{"Linked.app", "LinkedFolder/Linked.app", "Outer.app", "Top.app",
                                        "Upper.APP/Inside.app", "a/b/c/Deep3.app"}));
    EXPECT_EQ(relative(AppInventory::bundles(root, 0), root),
              (std::vector<std::string>{"Linked.app", "Outer.app", "Top.app"}));
    EXPECT_TRUE(AppInventory::bundles(dir / "missing", 3).empty() &&
                AppInventory::bundles(root + "/Top.app/Contents/Info.plist", 3).empty());
}

TEST(Bundles, UnreadableFoldersContributeNothing) {
    test::TempDir dir;
    test::makeBundle(dir / "root/Open.app", {});
    test::makeBundle(dir / "root/locked/Hidden.app", {});
    ASSERT_EQ(::chmod((dir / "root/locked").c_str(), 0), 0);
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  std::string found;
                  for (const std::string& root : {dir / "root", dir / "root/locked"})
                      for (const std::string& bundle : AppInventory::bundles(root, 3)) found += bundle + " ";
                  return found;
              }),
              dir / "root/Open.app ");
}

TEST(Scan, OrdersByNameListsEachPathOnceAndKeepsDiscoveryOrderForEqualNames) {
    test::TempDir dir;
    const std::string user = dir / "user", system = dir / "system";
    test::makeBundle(user + "/App 10.app", {});
    test::makeBundle(user + "/App 2.app", {});
    test::makeBundle(user + "/Tools/gamma.app", {{"CFBundleName", "beta"}}, PlistFormat::binary);
    test::makeBundle(user + "/Alpha.app", {});
    test::makeBundle(system + "/Gamma.app", {});
    test::makeBundle(system + "/Zulu.app", {});

    // The user root is listed again as a system root, and the system root
    // twice: every bundle appears once, flagged by the first root reaching it.
    auto apps = AppInventory::scan(std::vector<AppInventory::AppRoot>{
        {user, false}, {system, true}, {user, true}, {system, false}, {dir / "missing", false}});
    std::vector<std::string> names;
    for (const auto& app : apps) names.push_back(app.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "App 2", "App 10", "beta", "Gamma", "Zulu"}));
    for (const auto& app : apps) EXPECT_EQ(app.isSystemApp, app.url.starts_with(system)) << app.url;

    // Equal names keep their discovery order.
    test::makeBundle(dir / "first/Same.app", {});
    test::makeBundle(dir / "second/Other.app", {{"CFBundleName", "Same"}});
    test::makeBundle(dir / "third/Same.app", {});
    apps = AppInventory::scan(
        std::vector<AppInventory::AppRoot>{{dir / "third", false}, {dir / "first", false}, {dir / "second", false}});
    std::vector<std::string> urls;
    for (const auto& app : apps) urls.push_back(app.url);
    EXPECT_EQ(urls,
              (std::vector<std::string>{dir / "third/Same.app", dir / "first/Same.app", dir / "second/Other.app"}));
}

TEST(Roots, UserRootsAreWorkedOutOnceAndKeptWhenHomeChanges) {
    const std::vector<std::string> first = AppInventory::userAppRoots();
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    EXPECT_EQ(AppInventory::userAppRoots(), first);
    EXPECT_GT(AppInventory::roots(true).size(), AppInventory::roots(false).size());
}
