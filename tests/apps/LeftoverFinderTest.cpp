#include "apps/LeftoverFinder.h"

#include "AppFixtures.h"
#include "TestSupport.h"
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

// A home folder with its Library, HOME pointing at it for the test's life.
struct FixtureHome {
    test::TempDir dir;
    test::ScopedEnv env{"HOME", dir.path()};
    std::string lib(const std::string& rest) const { return dir / ("Library/" + rest); }
    std::string file(const std::string& rest, int64_t bytes = 10) const { return test::writeFile(lib(rest), bytes); }
    std::string folder(const std::string& rest, int64_t bytes = 10) const {
        test::writeFile(lib(rest + "/data"), bytes);
        return lib(rest);
    }
};

} // namespace

TEST(LeftoverRules, TablesFollowTheHomeFolderOfTheMoment) {
    test::TempDir one, two;
    std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> exactTable;
    {
        test::ScopedEnv home("HOME", one.path());
        for (const auto& rule : LeftoverFinder::exactRules()) {
            std::string dir = rule.directory.starts_with(one.path()) ? "~" + rule.directory.substr(one.path().size())
                                                                     : rule.directory;
            exactTable.emplace_back(dir, rule.category, rule.names("c"));
        }
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(exactTable, (std::vector<std::tuple<std::string, std::string, V>>{
                              {"~/Library/Application Support", "Application Support", V{"c"}},
                              {"~/Library/Caches", "Cache", V{"c"}},
                              {"~/Library/Containers", "Sandbox container", V{"c"}},
                              {"~/Library/Application Scripts", "App scripts", V{"c"}},
                              {"~/Library/HTTPStorages", "Web storage", V{"c", "c.binarycookies"}},
                              {"~/Library/WebKit", "WebKit data", V{"c"}},
                              {"~/Library/Logs", "Logs", V{"c"}},
                              {"~/Library/Preferences", "Preferences", V{"c.plist"}},
                              {"~/Library/Saved Application State", "Saved state", V{"c.savedState"}},
                              {"~/Library/Cookies", "Cookies", V{"c.binarycookies"}},
                              {"/Library/Application Support", "Application Support (system)", V{"c"}},
                              {"/Library/Caches", "Cache (system)", V{"c"}},
                              {"/Library/Preferences", "Preferences (system)", V{"c.plist"}},
                              {"/Library/Logs", "Logs (system)", V{"c"}},
                          }));
    test::ScopedEnv home("HOME", two.path());
    EXPECT_EQ(LeftoverFinder::exactRules().front().directory, two / "Library/Application Support");
    std::vector<std::tuple<std::string, std::string, bool>> scanTable;
    for (const auto& rule : LeftoverFinder::scanRules())
        scanTable.emplace_back(rule.directory, rule.category, rule.requiresAdmin);
    EXPECT_EQ(scanTable, (std::vector<std::tuple<std::string, std::string, bool>>{
                             {two / "Library/Group Containers", "Group container", false},
                             {two / "Library/Preferences/ByHost", "Preferences (per host)", false},
                             {two / "Library/LaunchAgents", "Login item", false},
                             {"/Library/LaunchAgents", "Login item (system)", true},
                             {"/Library/LaunchDaemons", "Background daemon", true},
                             {"/Library/PrivilegedHelperTools", "Privileged helper", true},
                             {"/private/var/db/receipts", "Installer receipt", true},
                         }));
}

TEST(Leftovers, EveryHomeRuleFindsIdentifierMatches) {
    FixtureHome home;
    home.folder("Application Support/" + b);
    home.folder("Caches/" + b);
    home.folder("Containers/" + b);
    home.folder("Application Scripts/" + b);
    home.folder("HTTPStorages/" + b);
    home.file("HTTPStorages/" + b + ".binarycookies");
    home.folder("WebKit/" + b);
    home.folder("Logs/" + b);
    home.file("Preferences/" + b + ".plist");
    home.folder("Saved Application State/" + b + ".savedState");
    home.file("Cookies/" + b + ".binarycookies");
    home.folder("Group Containers/group." + b);             // the whole name is "group." + b
    home.folder("Group Containers/group." + b + ".shared"); //
    home.file("Preferences/ByHost/" + b + ".0A1B2C3D.plist");
    home.file("LaunchAgents/" + b + ".plist");
    home.file("LaunchAgents/" + b + ".updater.plist");
    home.file("LaunchAgents/" + b); // no extension at all
    // Not this application's: the identifier continued by a letter, a shorter
    // identifier, a team-prefixed group.
    home.file("LaunchAgents/" + b + "x.plist");
    home.file("LaunchAgents/com.example.plist");
    home.folder("Group Containers/group." + b + "x");
    home.folder("Group Containers/ABCDE12345." + b);
    home.file("Preferences/" + b + "x.plist");

    auto items = LeftoverFinder::leftovers(test::app(home.dir / "Apps/Tool.app", "Tool", b), false);
    EXPECT_EQ(found(items, home.dir / "Library"),
              (Found{
                  {"Application Support/" + b, "Application Support", exact, false},
                  {"Caches/" + b, "Cache", exact, false},
                  {"Containers/" + b, "Sandbox container", exact, false},
                  {"Application Scripts/" + b, "App scripts", exact, false},
                  {"HTTPStorages/" + b, "Web storage", exact, false},
                  {"HTTPStorages/" + b + ".binarycookies", "Web storage", exact, false},
                  {"WebKit/" + b, "WebKit data", exact, false},
                  {"Logs/" + b, "Logs", exact, false},
                  {"Preferences/" + b + ".plist", "Preferences", exact, false},
                  {"Saved Application State/" + b + ".savedState", "Saved state", exact, false},
                  {"Cookies/" + b + ".binarycookies", "Cookies", exact, false},
                  {"Group Containers/group." + b, "Group container", exact, false},
                  {"Group Containers/group." + b + ".shared", "Group container", exact, false},
                  {"Preferences/ByHost/" + b + ".0A1B2C3D.plist", "Preferences (per host)", exact, false},
                  {"LaunchAgents/" + b + ".plist", "Login item", exact, false},
                  {"LaunchAgents/" + b + ".updater.plist", "Login item", exact, false},
                  {"LaunchAgents/" + b, "Login item", exact, false},
              }));
    for (const auto& item : items) EXPECT_EQ(item.size, 0);
}

TEST(Leftovers, NamesMatchLikelyAndCaseOnlyInTheScanPass) {
    FixtureHome home;
    // Name "Tool Box", bundle folder "ToolBox Setup.app": both are candidates.
    home.file("Preferences/Tool Box.plist");
    home.folder("Caches/ToolBox Setup");
    home.folder("Application Support/tool box"); // exact probes are case-sensitive
    home.file("LaunchAgents/TOOL BOX.plist");
    home.file("LaunchAgents/toolbox setup.agent");
    home.file("LaunchAgents/Tool Boxes.plist");
    home.folder("Group Containers/Tool Box");
    home.file("Preferences/" + b + ".plist");
    home.file("LaunchAgents/" + b + ".plist");

    auto items = LeftoverFinder::leftovers(test::app(home.dir / "ToolBox Setup.app", "Tool Box", b), false);
    EXPECT_EQ(found(items, home.dir / "Library"), (Found{
                                                      {"Preferences/" + b + ".plist", "Preferences", exact, false},
                                                      {"LaunchAgents/" + b + ".plist", "Login item", exact, false},
                                                      {"Preferences/Tool Box.plist", "Preferences", likely, false},
                                                      {"Caches/ToolBox Setup", "Cache", likely, false},
                                                      {"LaunchAgents/TOOL BOX.plist", "Login item", likely, false},
                                                      {"LaunchAgents/toolbox setup.agent", "Login item", likely, false},
                                                      {"Group Containers/Tool Box", "Group container", likely, false},
                                                  }));
    // Exact items come first even unmeasured.
    ASSERT_EQ(items.size(), 7u);
    EXPECT_EQ(items[0].confidence, exact);
    EXPECT_EQ(items[1].confidence, exact);
    for (size_t i = 2; i < items.size(); ++i) EXPECT_EQ(items[i].confidence, likely);
}

TEST(Leftovers, IdentifierEqualToNameGivesOneExactItemPerPath) {
    FixtureHome home;
    home.folder("Application Support/Notesy");
    home.file("LaunchAgents/Notesy.plist");
    home.file("LaunchAgents/notesy.plist");
    auto items = LeftoverFinder::leftovers(test::app(home.dir / "Notesy.app", "Notesy", "Notesy"), false);
    EXPECT_EQ(found(items, home.dir / "Library"),
              (Found{
                  {"Application Support/Notesy", "Application Support", exact, false},
                  {"LaunchAgents/Notesy.plist", "Login item", exact, false},
                  {"LaunchAgents/notesy.plist", "Login item", likely, false},
              }));
}

TEST(Leftovers, DottedNamesMatchWholeEntryNames) {
    FixtureHome home;
    // "Node.js" as an entry name has the stem "Node": the whole name must count too.
    home.folder("Group Containers/node.js");
    home.file("LaunchAgents/Node.js.plist");
    home.file("LaunchAgents/Node.plist");
    auto items = LeftoverFinder::leftovers(test::app(home.dir / "Node.js.app", "Node.js", {}), false);
    EXPECT_EQ(found(items, home.dir / "Library"), (Found{
                                                      {"Group Containers/node.js", "Group container", likely, false},
                                                      {"LaunchAgents/Node.js.plist", "Login item", likely, false},
                                                  }));
}

TEST(Leftovers, CandidatesNeedFourCharactersOrAnIdentifier) {
    FixtureHome home;
    for (const std::string n : {"Foo", "Ba\xCC\x81r", "Ba\xCC\x81rn", "Quux"}) {
        home.file("Preferences/" + n + ".plist");
        home.file("LaunchAgents/" + n + ".plist");
    }
    // Three letters, and an empty identifier: nothing to match on.
    EXPECT_TRUE(LeftoverFinder::leftovers(test::app(home.dir / "Foo.app", "Foo", std::nullopt), false).empty());
    EXPECT_TRUE(LeftoverFinder::leftovers(test::app(home.dir / "Foo.app", "Foo", ""), false).empty());
    // "Bár" with a combining accent is three characters in four code points.
    EXPECT_TRUE(LeftoverFinder::leftovers(test::app(home.dir / "Ba\xCC\x81r.app", "Ba\xCC\x81r", {}), false).empty());
    EXPECT_EQ(LeftoverFinder::leftovers(test::app(home.dir / "X.app", "Ba\xCC\x81rn", {}), false).size(), 2u);
    // A short name with a long enough bundle folder name still has a candidate.
    EXPECT_EQ(
        found(LeftoverFinder::leftovers(test::app(home.dir / "Quux.app", "Foo", {}), false), home.dir / "Library"),
        (Found{{"Preferences/Quux.plist", "Preferences", likely, false},
               {"LaunchAgents/Quux.plist", "Login item", likely, false}}));
}

TEST(Leftovers, CandidatesNeverReachOutsideTheRuleFolders) {
    FixtureHome home;
    test::makeDirs(home.dir / "Documents");
    test::makeDirs(home.lib("Application Support"));
    home.folder("Application Support/AC/DC Live");
    // An identifier from a hostile Info.plist, and a name holding a slash.
    for (const std::string id : {"../../Documents", "..", "."}) {
        EXPECT_TRUE(LeftoverFinder::leftovers(test::app(home.dir / "Evil.app", "Evi", id), false).empty()) << id;
    }
    EXPECT_TRUE(LeftoverFinder::leftovers(test::app(home.dir / "AC.app", "AC/DC Live", {}), false).empty());
}

TEST(Leftovers, MeasuresWithQuickSizeAndSortsLargerFirstWithinConfidence) {
    FixtureHome home;
    home.folder("Application Support/" + b, 200'000);
    home.folder("Caches/" + b, 50'000);
    home.file("Preferences/" + b + ".plist", 5'000);
    home.file("Preferences/Tool Box.plist", 100'000);
    home.folder("Logs/Tool Box", 300'000);
    const InstalledApp app = test::app(home.dir / "Tool Box.app", "Tool Box", b);

    auto unmeasured = LeftoverFinder::leftovers(app, false);
    ASSERT_EQ(unmeasured.size(), 5u);
    for (const auto& item : unmeasured) EXPECT_EQ(item.size, 0);

    auto items = LeftoverFinder::leftovers(app, true);
    std::vector<std::string> order;
    for (const auto& item : items) {
        EXPECT_EQ(item.size, DiskScanner::quickSize(item.url)) << item.url;
        EXPECT_GT(item.size, 0) << item.url;
        order.push_back(item.url.substr(home.lib("").size()));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Application Support/" + b, "Caches/" + b, "Preferences/" + b + ".plist",
                                               "Logs/Tool Box", "Preferences/Tool Box.plist"}));
}

TEST(Leftovers, UnreadableRuleFoldersAreSkipped) {
    FixtureHome home;
    home.file("Preferences/" + b + ".plist");
    home.file("LaunchAgents/" + b + ".plist");
    ASSERT_EQ(::chmod(home.lib("LaunchAgents").c_str(), 0), 0);
    const InstalledApp app = test::app(home.dir / "Tool.app", "Tool", b);
    int status = test::runAsUnprivileged([&] {
        auto items = LeftoverFinder::leftovers(app, true);
        return items.size() == 1 && items[0].category == "Preferences" ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

namespace {

// Runs `body` in a forked child whose root directory is `root`, so that the
// rules' fixed system folders (/Library, /private/var/db/receipts) can be
// fixtures too. Returns what body returned, or nothing when the child failed.
std::optional<std::string> confinedTo(const std::string& root, const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0) ::_exit(3);
        std::string out = body();
        size_t done = 0;
        while (done < out.size()) {
            ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) ::_exit(4);
            done += size_t(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return out;
}

} // namespace

TEST(Leftovers, SystemFoldersAreFoundAndNeedAdministratorRights) {
    if (!test::isRoot()) GTEST_SKIP() << "confining the finder to a fixture root needs root (chroot)";
    test::TempDir root;
    auto put = [&](const std::string& rel) { test::writeFile(root / rel, 10); };
    put("Users/ada/Library/Preferences/" + b + ".plist");
    put("Users/ada/Library/LaunchAgents/" + b + ".plist");
    put("Library/Application Support/" + b + "/data");
    put("Library/Caches/" + b + "/data");
    put("Library/Preferences/" + b + ".plist");
    put("Library/Logs/" + b + "/data");
    put("Library/LaunchAgents/" + b + ".plist");
    put("Library/LaunchDaemons/" + b + ".helper.plist");
    put("Library/LaunchDaemons/Tool Box.plist");
    put("Library/PrivilegedHelperTools/" + b + ".Helper");
    put("private/var/db/receipts/" + b + ".bom");
    put("private/var/db/receipts/" + b + ".plist");
    put("private/var/db/receipts/com.other.bom");

    std::optional<std::string> listing = confinedTo(root.path(), [] {
        ::setenv("HOME", "/Users/ada", 1);
        std::string out;
        for (const auto& item : LeftoverFinder::leftovers(test::app("/Applications/Tool Box.app", "Tool Box", b), true))
            out += item.url + "|" + item.category + "|" + LeftoverFinder::label(item.confidence) + "|" +
                   (item.requiresAdmin ? "admin" : "user") + "|" + (item.size > 0 ? "sized" : "empty") + "\n";
        return out;
    });
    ASSERT_TRUE(listing.has_value());
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = listing->find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(listing->substr(start, end - start));
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "/Library/Application Support/" + b + "|Application Support (system)|exact|admin|sized",
                         "/Library/Caches/" + b + "|Cache (system)|exact|admin|sized",
                         "/Library/LaunchAgents/" + b + ".plist|Login item (system)|exact|admin|sized",
                         "/Library/LaunchDaemons/Tool Box.plist|Background daemon|likely|admin|sized",
                         "/Library/LaunchDaemons/" + b + ".helper.plist|Background daemon|exact|admin|sized",
                         "/Library/Logs/" + b + "|Logs (system)|exact|admin|sized",
                         "/Library/Preferences/" + b + ".plist|Preferences (system)|exact|admin|sized",
                         "/Library/PrivilegedHelperTools/" + b + ".Helper|Privileged helper|exact|admin|sized",
                         "/Users/ada/Library/LaunchAgents/" + b + ".plist|Login item|exact|user|sized",
                         "/Users/ada/Library/Preferences/" + b + ".plist|Preferences|exact|user|sized",
                         "/private/var/db/receipts/" + b + ".bom|Installer receipt|exact|admin|sized",
                         "/private/var/db/receipts/" + b + ".plist|Installer receipt|exact|admin|sized",
                     }));
}

TEST(LeftoverRecords, ConfidenceOrderEqualityAndHash) {
    EXPECT_LT(MatchConfidence::likely, MatchConfidence::exact);
    EXPECT_EQ(int(MatchConfidence::exact), 2);
    EXPECT_EQ(int(MatchConfidence::likely), 1);
    const LeftoverItem a{"/x", "Cache", exact, 10, false};
    std::hash<LeftoverItem> hash;
    for (LeftoverItem v :
         {LeftoverItem{"/y", "Cache", exact, 10, false}, LeftoverItem{"/x", "Logs", exact, 10, false},
          LeftoverItem{"/x", "Cache", likely, 10, false}, LeftoverItem{"/x", "Cache", exact, 11, false},
          LeftoverItem{"/x", "Cache", exact, 10, true}}) {
        EXPECT_NE(v, a);
        EXPECT_NE(hash(v), hash(a));
    }
    EXPECT_EQ(a.id(), "/x");
}
