#include "apps/LeftoverFinder.h"

#include "AppFixtures.h"
#include "TestSupport.h"
#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <tuple>

using namespace vessora;

namespace {

const std::string b = "com.example.tool";

// (path below `base`, category, confidence, requiresAdmin), order-free.
using Found = std::set<std::tuple<std::string, std::string, MatchConfidence, bool>>;

Found found(const std::vector<LeftoverItem>& items, const std::string& base) {
    Found out;
    for (const auto& item : items) {
        EXPECT_TRUE(item.url.starts_with(base + "/")) << item.url;
        out.emplace(item.url.substr(base.size() + 1), item.category, item.confidence, item.requiresAdmin);
    }
    return out;
}

constexpr auto exact = MatchConfidence::exact;
constexpr auto likely = MatchConfidence::likely;

// A home folder with its Library, HOME pointing at it for the test's life,
// under the macOS leftover rules these tests are about.
struct FixtureHome {
    ScopedTables tables{TableSet::macos};
    test::TempDir dir;
    test::ScopedEnv env{"HOME", dir.path()};
    std::string lib(const std::string& rest) const { return dir / ("Library/" + rest); }
    std::string file(const std::string& rest, int64_t bytes = 10) const { return test::writeFile(lib(rest), bytes); }
    std::string folder(const std::string& rest, int64_t bytes = 10) const {
        test::writeFile(lib(rest + "/data"), bytes);
        return lib(rest);
    }
    // A folder when `rest` ends with "/", else a file; returns the entry's path below Library.
    std::string put(const std::string& rest) const {
        const bool isFolder = rest.ends_with("/");
        const std::string entry = isFolder ? rest.substr(0, rest.size() - 1) : rest;
        isFolder ? folder(entry) : file(entry);
        return entry;
    }
};

} // namespace

TEST(Leftovers, HomeRulesFindIdentifierMatches) {
    FixtureHome home;
    Found expected;
    for (const auto& [entry, category] : std::vector<std::pair<std::string, std::string>>{
             {"Application Support/" + b + "/", "Application Support"},
             {"HTTPStorages/" + b + ".binarycookies", "Web storage"},
             {"Preferences/" + b + ".plist", "Preferences"},
             {"Saved Application State/" + b + ".savedState/", "Saved state"},
             {"Group Containers/group." + b + "/", "Group container"}, // the whole name is "group." + b
             {"Group Containers/group." + b + ".shared/", "Group container"},
             {"Preferences/ByHost/" + b + ".0A1B2C3D.plist", "Preferences (per host)"},
             {"LaunchAgents/" + b + ".updater.plist", "Login item"},
             {"LaunchAgents/" + b, "Login item"}, // no extension at all
         })
        expected.emplace(home.put(entry), category, exact, false);
    // Not this application's: the identifier continued by a letter, a shorter
    // identifier, a team-prefixed group.
    for (const std::string& entry : {"LaunchAgents/" + b + "x.plist", std::string("LaunchAgents/com.example.plist"),
                                     "Group Containers/group." + b + "x/", "Group Containers/ABCDE12345." + b + "/",
                                     "Preferences/" + b + "x.plist"})
        home.put(entry);

    auto items = LeftoverFinder::leftovers(test::app(home.dir / "Apps/Tool.app", "Tool", b), false);
    EXPECT_EQ(found(items, home.dir / "Library"), expected);
    for (const auto& item : items) EXPECT_EQ(item.size, 0);
}

// Names match likely, only as whole entry names of four characters or more,
// and never outside the rule folders; exact items come first even unmeasured.
TEST(Leftovers, NamesMatchLikelyOnlyWhereTheyCanBeTheAppsOwn) {
    const std::string barn = "Ba\xCC\x81rn", bar = "Ba\xCC\x81r"; // "Bár" is three characters in four code points
    std::vector<std::string> shortNames;
    for (const std::string& n : {std::string("Foo"), bar, barn, std::string("Quux")})
        shortNames.insert(shortNames.end(), {"Preferences/" + n + ".plist", "LaunchAgents/" + n + ".plist"});
    const std::vector<std::string> outside = {"../Documents/", "Application Support/AC/DC Live/"};
    // (bundle, name, ID, entries below Library (a trailing "/" makes a folder), what is found)
    const std::tuple<std::string, std::string, std::optional<std::string>, std::vector<std::string>, Found> cases[] = {
        // The name and the bundle folder's name are both candidates; exact probes are case-sensitive.
        {"ToolBox Setup.app",
         "Tool Box",
         b,
         {"Preferences/Tool Box.plist", "Caches/ToolBox Setup/", "Application Support/tool box/",
          "LaunchAgents/TOOL BOX.plist", "LaunchAgents/toolbox setup.agent", "LaunchAgents/Tool Boxes.plist",
          "Group Containers/Tool Box/", "Preferences/" + b + ".plist", "LaunchAgents/" + b + ".plist"},
         {{"Preferences/" + b + ".plist", "Preferences", exact, false},
          {"LaunchAgents/" + b + ".plist", "Login item", exact, false},
          {"Preferences/Tool Box.plist", "Preferences", likely, false},
          {"Caches/ToolBox Setup", "Cache", likely, false},
          {"LaunchAgents/TOOL BOX.plist", "Login item", likely, false},
          {"LaunchAgents/toolbox setup.agent", "Login item", likely, false},
          {"Group Containers/Tool Box", "Group container", likely, false}}},
        // An identifier equal to the name gives one exact item per path.
        {"Notesy.app",
         "Notesy",
         "Notesy",
         {"Application Support/Notesy/", "LaunchAgents/Notesy.plist", "LaunchAgents/notesy.plist"},
         {{"Application Support/Notesy", "Application Support", exact, false},
          {"LaunchAgents/Notesy.plist", "Login item", exact, false},
          {"LaunchAgents/notesy.plist", "Login item", likely, false}}},
        // "Node.js" as an entry name has the stem "Node": the whole name must count too.
        {"Node.js.app",
         "Node.js",
         {},
         {"Group Containers/node.js/", "LaunchAgents/Node.js.plist", "LaunchAgents/Node.plist"},
         {{"Group Containers/node.js", "Group container", likely, false},
          {"LaunchAgents/Node.js.plist", "Login item", likely, false}}},
        {"Foo.app", "Foo", {}, shortNames, {}},
        {"Foo.app", "Foo", "", shortNames, {}},
        {bar + ".app", bar, {}, shortNames, {}},
        {"X.app",
         barn,
         {},
         shortNames,
         {{"Preferences/" + barn + ".plist", "Preferences", likely, false},
          {"LaunchAgents/" + barn + ".plist", "Login item", likely, false}}},
        // A short name with a long enough bundle folder name still has a candidate.
        {"Quux.app",
         "Foo",
         {},
         shortNames,
         {{"Preferences/Quux.plist", "Preferences", likely, false},
          {"LaunchAgents/Quux.plist", "Login item", likely, false}}},
        // Identifiers from a hostile Info.plist, and a name holding a slash.
        {"Evil.app", "Evi", "../../Documents", outside, {}},
        {"Evil.app", "Evi", "..", outside, {}},
        {"Evil.app", "Evi", ".", outside, {}},
        {"AC.app", "AC/DC Live", {}, outside, {}},
    };
    for (const auto& [bundle, name, id, entries, expected] : cases) {
        FixtureHome home;
        for (const std::string& entry : entries) home.put(entry);
        const auto items = LeftoverFinder::leftovers(test::app(home.dir / bundle, name, id), false);
        EXPECT_EQ(found(items, home.dir / "Library"), expected) << name;
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [](const auto& x, const auto& y) {
            return x.confidence == exact && y.confidence != exact;
        })) << name;
    }
}

// Unreadable rule folders are skipped.
TEST(Leftovers, MeasuresWithQuickSizeAndSortsLargerFirstWithinConfidence) {
    FixtureHome home;
    home.file("LaunchAgents/" + b + ".plist", 1'000);
    home.folder("Application Support/" + b, 200'000);
    home.folder("Caches/" + b, 50'000);
    home.file("Preferences/" + b + ".plist", 5'000);
    home.file("Preferences/Tool Box.plist", 100'000);
    home.folder("Logs/Tool Box", 300'000);
    const InstalledApp app = test::app(home.dir / "Tool Box.app", "Tool Box", b);

    auto items = LeftoverFinder::leftovers(app, true);
    std::vector<std::string> order;
    for (const auto& item : items) {
        EXPECT_EQ(item.size, DiskScanner::quickSize(item.url)) << item.url;
        EXPECT_GT(item.size, 0) << item.url;
        order.push_back(item.url.substr(home.lib("").size()));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Application Support/" + b, "Caches/" + b, "Preferences/" + b + ".plist",
                                               "LaunchAgents/" + b + ".plist", "Logs/Tool Box",
                                               "Preferences/Tool Box.plist"}));

    ASSERT_EQ(::chmod(home.lib("LaunchAgents").c_str(), 0), 0);
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  std::string found;
                  for (const LeftoverItem& item : LeftoverFinder::leftovers(app, true)) found += item.category + ",";
                  return found;
              }),
              "Application Support,Cache,Preferences,Logs,Preferences,");
}

namespace {

// Runs `body` in a forked child whose root directory is `root`, so that the
// rules' fixed system folders (/Library, /private/var/db/receipts) can be
// fixtures too. What body returns lands in root/out.
bool confinedTo(const std::string& root, const std::function<std::string()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) ::_exit(3);
        test::writeText("/out", body());
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(Leftovers, SystemFoldersAreFoundAndNeedAdministratorRights) {
    if (!test::isRoot()) GTEST_SKIP() << "confining the finder to a fixture root needs root (chroot)";
    ScopedTables tables{TableSet::macos};
    test::TempDir root;
    // Entries below the fake root (a trailing "/" makes a folder) and how they must be reported.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"Users/ada/Library/Preferences/" + b + ".plist", "Preferences|exact|user"},
        {"Library/Application Support/" + b + "/", "Application Support (system)|exact|admin"},
        {"Library/LaunchDaemons/" + b + ".helper.plist", "Background daemon|exact|admin"},
        {"Library/LaunchDaemons/Tool Box.plist", "Background daemon|likely|admin"},
        {"Library/PrivilegedHelperTools/" + b + ".Helper", "Privileged helper|exact|admin"},
        {"private/var/db/receipts/" + b + ".bom", "Installer receipt|exact|admin"},
        {"private/var/db/receipts/com.other.bom", ""},
    };
    std::vector<std::string> expected;
    for (const auto& [entry, report] : entries) {
        test::writeFile(root / (entry.ends_with("/") ? entry + "data" : entry), 10);
        if (!report.empty())
            expected.push_back("/" + (entry.ends_with("/") ? entry.substr(0, entry.size() - 1) : entry) + "|" + report);
    }
    ASSERT_TRUE(confinedTo(root.path(), [] {
        ::setenv("HOME", "/Users/ada", 1);
        std::string out;
        for (const auto& item : LeftoverFinder::leftovers(test::app("/Applications/Tool Box.app", "Tool Box", b), true))
            if (item.size > 0)
                out += item.url + "|" + item.category + "|" + LeftoverFinder::label(item.confidence) + "|" +
                       (item.requiresAdmin ? "admin" : "user") + "\n";
        return out;
    }));
    std::vector<std::string> lines;
    std::istringstream listing(test::readText(root / "out"));
    for (std::string line; std::getline(listing, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}
