#include "AppFixtures.h"
#include "TestSupport.h"
#include "scan/DiskScanner.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vessora;
using test::PlistFormat;

namespace {

// Reduces the tool's JSON to one line per application of the fixture home and
// one per leftover, paths relative to the home, in the order printed.
const char* summarise = R"(
import json, sys
home = sys.argv[1] + "/"
doc = json.load(sys.stdin)
for a in doc["applications"]:
    if not a["path"].startswith(home):
        continue
    print("|".join(str(v) for v in (a["name"], a["version"], a["bundleID"], a["isSystemApp"], a["isMASApp"],
                                     a["lastUsed"], a["path"][len(home):], a["size"])))
    for group in ("exact", "likely"):
        for i in a["leftovers"][group]:
            print("  " + "|".join(str(v) for v in (group, i["confidence"], i["category"], i["path"][len(home):],
                                                   i["size"], i["requiresAdmin"])))
)";

// Bundles and Library leftovers: the tool under the macOS tables.
struct AppsFixture : ::testing::Test {
    test::ScopedEnv tables{"VESSORA_TABLES", "macos"};
    test::TempDir home;
    test::ScopedEnv env{"HOME", home.path()};

    void SetUp() override {
        test::makeBundle(
            home / "Applications/App 10.app",
            {{"CFBundleName", "App 10"}, {"CFBundleIdentifier", "com.example.app10"}, {"CFBundleVersion", "10.0.1"}});
        test::makeBundle(home / "Applications/App 2.app",
                         {{"CFBundleDisplayName", "App 2"},
                          {"CFBundleName", "Second"},
                          {"CFBundleIdentifier", "com.example.app2"},
                          {"CFBundleShortVersionString", "2.0"}},
                         PlistFormat::binary);
        test::writeFile(home / "Applications/App 2.app/Contents/MacOS/App 2", 30'000);
        test::writeText(home / "Applications/App 2.app/Contents/_MASReceipt/receipt", "receipt");
        test::makeBundle(home / "Applications/Utilities/beta.app", {});
        test::makeBundle(home / "Applications/.Hidden.app", {});
        test::makeBundle(home / "Applications/beta.app/Contents/Helpers/Inner.app", {});
        test::writeText(home / "Applications/Broken.app/Contents/Info.plist", "<plist><dict><key>");

        test::writeFile(home / "Library/Preferences/com.example.app2.plist", 5'000);
        test::writeFile(home / "Library/Caches/com.example.app2/cache.db", 40'000);
        test::writeFile(home / "Library/Group Containers/group.com.example.app2/shared", 9'000);
        test::writeFile(home / "Library/Preferences/App 10.plist", 1'000);
        test::writeFile(home / "Library/LaunchAgents/com.example.app10.plist", 700);
        test::writeFile(home / "Library/LaunchAgents/com.example.app10x.plist", 700);
    }

    std::string size(const std::string& relative) { return std::to_string(DiskScanner::quickSize(home / relative)); }
};

} // namespace

TEST_F(AppsFixture, JsonListsBundlesInNameOrderWithTheirLeftovers) {
    std::string json;
    ASSERT_EQ(test::runCli({"apps", "--leftovers", "--json"}, &json), 0) << json;
    std::string summary;
    ASSERT_EQ(test::runProgram({"python3", "-c", summarise, home.path()}, &summary, json), 0) << summary << json;

    // A line per app and per leftover: its fields, then its path below the home and that path's size.
    std::string expected;
    for (const auto& [fields, path, tail] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"App 2|2.0|com.example.app2|False|True|None|", "Applications/App 2.app", ""},
             {"  exact|exact|Cache|", "Library/Caches/com.example.app2", "|False"},
             {"  exact|exact|Group container|", "Library/Group Containers/group.com.example.app2", "|False"},
             {"  exact|exact|Preferences|", "Library/Preferences/com.example.app2.plist", "|False"},
             {"App 10|10.0.1|com.example.app10|False|False|None|", "Applications/App 10.app", ""},
             {"  exact|exact|Login item|", "Library/LaunchAgents/com.example.app10.plist", "|False"},
             {"  likely|likely|Preferences|", "Library/Preferences/App 10.plist", "|False"},
             {"beta|None|None|False|False|None|", "Applications/beta.app", ""},
             {"beta|None|None|False|False|None|", "Applications/Utilities/beta.app", ""},
             {"Broken|None|None|False|False|None|", "Applications/Broken.app", ""}})
        expected += fields + path + "|" + size(path) + tail + "\n";
    EXPECT_EQ(summary, expected);
    EXPECT_GE(DiskScanner::quickSize(home / "Library/Caches/com.example.app2"), 40'000); // sizes are real
}

TEST_F(AppsFixture, TextListsApplicationsAndGroupedLeftoversAndRejectsBadArguments) {
    std::string text, plain, usage;
    ASSERT_EQ(test::runCli({"apps", "--leftovers"}, &text), 0) << text;
    const size_t app2 = text.find("\nApp 2 "), app10 = text.find("\nApp 10 "), likely = text.find("Likely matches:");
    EXPECT_TRUE(app2 < app10 && app10 < likely && likely != std::string::npos) << text;
    for (const std::string& needed : {std::string("App Store"), home / "Library/LaunchAgents/com.example.app10.plist"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed << "\n" << text;
    ASSERT_EQ(test::runCli({"apps"}, &plain), 0) << plain;
    EXPECT_TRUE(plain.find("matches:") == std::string::npos && plain.find("App 10") != std::string::npos) << plain;
    EXPECT_EQ(test::runCli({"apps", "--bogus"}, &usage), 2);
    EXPECT_NE(usage.find("usage: vessora apps"), std::string::npos) << usage;
    EXPECT_EQ(test::runCli({"apps", "extra"}, &usage), 2);
}

TEST(AppsCommand, LinuxListsMenuEntryAppsWithTheirKindAndLeftovers) {
    test::TempDir dir;
    const std::string home = dir / "home";
    test::ScopedEnv homeEnv("HOME", home), dataHome("XDG_DATA_HOME", std::nullopt),
        configHome("XDG_CONFIG_HOME", std::nullopt), dataDirs("XDG_DATA_DIRS", dir / "share"), lang("LC_ALL", "C");
    // An empty Flatpak installation: the tool loads libflatpak on first use.
    test::ScopedEnv flatpakUser("FLATPAK_USER_DIR", dir / "flatpak"),
        flatpakSystem("FLATPAK_SYSTEM_DIR", dir / "no-flatpak");
    test::makeDirs(dir / "flatpak/repo");
    ::chmod(test::writeFile(home + "/apps/sketch/bin/sketch", 50'000).c_str(), 0755);
    test::writeText(dir / "share/applications/net.example.Sketch.desktop",
                    "[Desktop Entry]\nType=Application\nName=Sketch Pad\nExec=" + home + "/apps/sketch/bin/sketch\n");
    test::writeFile(home + "/.config/net.example.Sketch/settings", 3'000);

    std::string text;
    ASSERT_EQ(test::runCli({"apps", "--leftovers"}, &text), 0) << text;
    for (const std::string& needed :
         {std::string("Sketch Pad"), std::string("net.example.Sketch  "), std::string("Settings"),
          std::string("  program\n"), home + "/.config/net.example.Sketch\n"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed << "\n" << text;
}
