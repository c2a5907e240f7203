#include "catalog/CleanupCatalog.h"
#include "platform/PlatformTables.h"

#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vessora;

namespace {

std::map<std::string, CleanupTarget> measuredById() {
    std::map<std::string, CleanupTarget> out;
    for (CleanupTarget& t : CleanupCatalog::definitions()) {
        const std::string id = t.id;
        out[id] = CleanupCatalog::measure(std::move(t));
    }
    return out;
}

std::vector<std::string> urls(const CleanupTarget& target) {
    std::vector<std::string> out = test::urlsOf(target.entries);
    std::sort(out.begin(), out.end());
    return out;
}

void stop(pid_t pid) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

const CleanupEntry* entryAt(const CleanupTarget& target, const std::string& url) {
    for (const CleanupEntry& e : target.entries)
        if (e.url == url) return &e;
    return nullptr;
}

void age(const std::string& path, int days) {
    struct timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= days * 86400;
    times[1] = times[0];
    ::lutimes(path.c_str(), times);
}

class LinuxCleanup : public ::testing::Test {
protected:
    test::TempDir dir;
    // Below the temporary folder: a rule's root (/tmp) claims nothing other targets list.
    std::string home = dir / "sys/tmp/home";
    std::string sys = dir / "sys";
    test::ScopedEnv homeEnv{"HOME", home}, cache{"XDG_CACHE_HOME", std::nullopt},
        config{"XDG_CONFIG_HOME", std::nullopt}, data{"XDG_DATA_HOME", std::nullopt};
    CleanupCatalog::ScopedSystemRoot root{sys};
    std::string h(const std::string& rest) { return home + "/" + rest; }
    std::string s(const std::string& rest) { return sys + "/" + rest; }
};

// Every user-level row populated; each entry where its claim puts it, with
// the bytes its removal frees.
TEST_F(LinuxCleanup, FixtureHomeEntriesAndClaims) {
    for (const std::string& file :
         test::words(".cache/thumbnails/normal/a.png .cache/mozilla/firefox/abc.default/cache2/entry "
                     ".config/google-chrome/Default/GPUCache/data_0 .config/chromium/ShaderCache/blob "
                     ".config/SomeApp/Cache/Cache_Data/f .config/SomeApp/GPUCache/g .config/NoState/Cache/f "
                     ".config/Code/CachedData/1a2b/x.js .config/Code/Crashpad/pending/dump "
                     ".config/Other/Crashpad/completed/dump .cache/pip/http/blob .cache/JetBrains/IdeaIC2023.1/index "
                     "miniconda3/pkgs/numpy-1.26/lib.so .gradle/caches/modules-2/lib.jar .cache/someapp/blob "
                     ".cache/doc/portal .cache/nvidia/GLCache/a .cache/nvidia/other/b "
                     ".var/app/org.gone.App/config/settings .var/app/org.gone.App/cache/c "
                     ".var/app/org.kept.App/cache/c .var/app/org.kept.App/data/d Downloads/debian.iso "
                     "Downloads/notes.txt Downloads/tool.AppImage Downloads/other.AppImage "
                     ".local/share/Trash/files/old.txt "))
        test::writeFile(h(file), 3 * 4096 + 100);
    test::writeText(h(".config/SomeApp/Local State"), "{}");
    test::writeText(h(".config/Code/Preferences"), "{}");
    test::writeText(h(".local/share/applications/tool.desktop"),
                    "[Desktop Entry]\nExec=" + h("Downloads/tool.AppImage") + "\n");
    test::makeDirs(s("var/lib/flatpak/app/org.kept.App"));
    // A pnpm store: one file linked into a project, one linked twice inside, one plain.
    const std::string store = h(".local/share/pnpm/store/v3");
    test::writeFile(store + "/files/00/shared", 40000);
    test::makeDirs(h("project/node_modules"));
    ASSERT_EQ(::link((store + "/files/00/shared").c_str(), h("project/node_modules/shared").c_str()), 0);
    test::writeFile(store + "/files/00/inner", 20000);
    ASSERT_EQ(::link((store + "/files/00/inner").c_str(), (store + "/files/00/inner-2").c_str()), 0);
    test::writeFile(store + "/files/01/plain", 8000);

    auto t = measuredById();
    const std::map<std::string, std::vector<std::string>> expected = {
        {"thumbnails", {h(".cache/thumbnails/normal")}},
        {"browser-caches",
         {h(".cache/mozilla/firefox"), h(".config/chromium/ShaderCache"), h(".config/google-chrome/Default/GPUCache")}},
        {"electron-caches", {h(".config/SomeApp/Cache"), h(".config/SomeApp/GPUCache")}},
        {"vscode", {h(".config/Code/CachedData/1a2b"), h(".config/Code/Crashpad/pending")}},
        {"jetbrains", {h(".cache/JetBrains/IdeaIC2023.1")}},
        {"pkg-caches", {h(".cache/pip/http")}},
        {"build-repos", {h(".gradle/caches/modules-2"), store, h("miniconda3/pkgs/numpy-1.26")}},
        {"shader-caches", {h(".cache/nvidia/GLCache/a")}},
        {"app-caches", {h(".cache/nvidia/other"), h(".cache/someapp"), h(".var/app/org.kept.App/cache/c")}},
        {"crash-reports", {h(".config/Other/Crashpad")}},
        {"flatpak-orphans", {h(".var/app/org.gone.App")}},
        {"trash", {h(".local/share/Trash/files/old.txt")}},
        {"installers", {h("Downloads/debian.iso"), h("Downloads/other.AppImage")}},
    };
    for (const auto& [id, target] : t) {
        auto it = expected.find(id);
        std::vector<std::string> found = urls(target);
        // Other file systems' trash folders are the machine's, not the fixture's.
        if (id == "trash") std::erase_if(found, [&](const std::string& url) { return !url.starts_with(home); });
        EXPECT_EQ(found, it == expected.end() ? std::vector<std::string>{} : it->second) << id;
        for (const CleanupEntry& e : target.entries) {
            EXPECT_TRUE(e.url == store || e.size == test::lstatTreeSize(e.url)) << e.url;
            // A browser running anywhere on the machine (the user's own, or the
            // stand-in of the test beside this one) holds its entries; which
            // entries it holds is checked on its own.
            EXPECT_TRUE(e.selectable() || !e.inUseBy.empty()) << e.url;
        }
    }
    // The store frees its own files only: the inner pair once, the linked one not at all.
    test::LinkSet once;
    const CleanupEntry* storeEntry = entryAt(t["build-repos"], store);
    ASSERT_TRUE(storeEntry);
    EXPECT_EQ(storeEntry->size + test::allocatedSize(h("project/node_modules/shared")),
              test::lstatTreeSize(store, &once));
}

// A user folder whose name holds pattern characters is that folder alone,
// wherever user folders feed a pattern.
TEST_F(LinuxCleanup, UserFolderNamesAreTakenLiterally) {
    test::writeText(h(".config/user-dirs.dirs"),
                    "XDG_DOWNLOAD_DIR=\"$HOME/Down*\"\nXDG_DOCUMENTS_DIR=\"$HOME/Doc[s]\"\n");
    for (const char* file : {"Down*/mine.iso", "Downloads/other.iso", "Down-other/x.iso", "Doc[s]/a", "Docs/b"})
        test::writeFile(h(file), 100);
    EXPECT_EQ(PlatformTables::expandRoot("xdg:DOWNLOAD"), std::vector<std::string>{h("Down*")});
    EXPECT_EQ(PlatformTables::expandRoot("xdg:DOCUMENTS"), std::vector<std::string>{h("Doc[s]")});
    EXPECT_EQ(urls(measuredById()["installers"]), std::vector<std::string>{h("Down*/mine.iso")});
}

} // namespace

TEST_F(LinuxCleanup, RunningBrowserMarksOnlyItsOwnEntriesInUse) {
    test::writeFile(h(".cache/mozilla/firefox/cache2"), 8192);
    test::writeFile(h(".cache/chromium/Default/cache"), 8192);
    const pid_t firefox = test::startSleepingCopy(dir / "bin/firefox", "firefox");
    ASSERT_GT(firefox, 0);
    auto t = measuredById();
    stop(firefox);
    const CleanupEntry* fox = entryAt(t["browser-caches"], h(".cache/mozilla/firefox"));
    const CleanupEntry* chromium = entryAt(t["browser-caches"], h(".cache/chromium/Default"));
    ASSERT_TRUE(fox && chromium);
    EXPECT_EQ(std::tuple(fox->inUseBy, fox->selectable(), fox->size, chromium->inUseBy),
              std::tuple("Firefox", false, test::allocatedSize(h(".cache/mozilla/firefox/cache2")), ""));
    // Stopped, it frees its entries again.
    EXPECT_TRUE(entryAt(measuredById()["browser-caches"], h(".cache/mozilla/firefox"))->selectable());
}

TEST_F(LinuxCleanup, AdministratorRowsOfferOnlyRetiredFiles) {
    for (const char* file :
         {"var/log/journal/abc/system.journal", "var/log/journal/abc/system@0001-0002.journal",
          "var/log/journal/abc/user-1000@x-y.journal~", "var/log/syslog", "var/log/syslog.1", "var/log/syslog.2.gz",
          "var/log/apt/history.log.1.gz", "var/log/auth.log-20240101", "var/log/Xorg.0.log",
          "var/cache/apt/archives/a.deb", "var/cache/apt/archives/lock", "var/cache/apt/archives/partial/b.deb",
          "var/lib/systemd/coredump/core.x.zst", "var/crash/app.crash"})
        test::writeFile(s(file), 5000);
    auto t = measuredById();
    const std::map<std::string, std::vector<std::string>> expected = {
        {"journal",
         {s("var/log/journal/abc/system@0001-0002.journal"), s("var/log/journal/abc/user-1000@x-y.journal~")}},
        {"rotated-logs",
         {s("var/log/apt/history.log.1.gz"), s("var/log/auth.log-20240101"), s("var/log/syslog.1"),
          s("var/log/syslog.2.gz")}},
        {"apt-cache", {s("var/cache/apt/archives/a.deb"), s("var/cache/apt/archives/partial/b.deb")}},
        {"coredumps", {s("var/lib/systemd/coredump/core.x.zst")}},
        {"crash-reports", {s("var/crash/app.crash")}},
    };
    for (const auto& [id, paths] : expected) EXPECT_EQ(urls(t[id]), paths) << id;

    // Folders this user cannot list show with an unknown size, never selectable.
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(s("var/lib/systemd/coredump").c_str(), 0700);
    ::chmod(s("var/log/journal").c_str(), 0700);
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  auto u = measuredById();
                  std::string seen;
                  for (const char* id : {"coredumps", "journal"})
                      for (const CleanupEntry& e : u[id].entries)
                          seen += e.url + (e.needsAdmin ? " admin" : "") + (e.selectable() ? " selectable" : "") + "\n";
                  return seen;
              }),
              s("var/lib/systemd/coredump") + " admin\n" + s("var/log/journal") + " admin\n");
}

TEST_F(LinuxCleanup, TemporaryFilesAreOwnOldAndUnheld) {
    const std::string old = test::writeFile(s("tmp/old/file"), 9000);
    const std::string held = test::writeFile(s("tmp/held"), 9000);
    const std::string theirs = test::writeFile(s("tmp/theirs"), 9000);
    test::writeFile(s("tmp/fresh"), 9000);
    for (const std::string& path : {old, s("tmp/old"), held, theirs}) age(path, 2);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        int fd = ::open(held.c_str(), O_RDONLY);
        (void)!::write(ready[1], &fd, 1);
        ::pause();
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    if (test::isRoot()) {
        ASSERT_EQ(::chown(theirs.c_str(), test::unprivilegedUid(), test::unprivilegedGid()), 0);
        EXPECT_EQ(urls(measuredById()["tmp"]), std::vector<std::string>{s("tmp/old")});
        // Seen by the other user: only their own file.
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(test::runAsUnprivileged([&] {
                      std::string seen;
                      for (const std::string& url : urls(measuredById()["tmp"])) seen += url + " ";
                      return seen;
                  }),
                  theirs + " ");
    }
    stop(holder);
    ::close(ready[0]);
    ::close(ready[1]);

    // In memory: offered, but it frees no disk.
    if (!test::isRoot() || !test::mountTmpfs(s("var/tmp"), 1 << 20)) return;
    const std::string inMemory = test::writeFile(s("var/tmp/cache"), 9000);
    age(inMemory, 3);
    auto measured = measuredById();
    const CleanupEntry* entry = entryAt(measured["tmp"], inMemory);
    test::unmount(s("var/tmp"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(std::tuple(bool(entry->freesNoDisk), entry->size), std::tuple(true, 0));
}

TEST(CleanupPatterns, NamesPatternsAndSnapList) {
    for (const char* name : {"syslog.1", "dpkg.log.2.gz", "auth.log.old", "kern.log-20240101", "x.log.3.xz"})
        EXPECT_TRUE(CleanupCatalog::isRotatedLogName(name)) << name;
    for (const char* name : {"syslog", "system.journal", "Xorg.0.log", "php8.2-fpm.log", "lastlog", "x.1234", ".gz"})
        EXPECT_FALSE(CleanupCatalog::isRotatedLogName(name)) << name;

    test::TempDir dir;
    for (const char* folder : {"a/x/c", "b/x/c", ".hidden/x/c", "elsewhere/x/c"}) test::makeDirs(dir / folder);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(CleanupCatalog::expandRoot(dir / "{a,b}/x/c"), (std::vector<std::string>{dir / "a/x/c", dir / "b/x/c"}));
    EXPECT_EQ(CleanupCatalog::expandRoot(dir / "[ab]*/x/c"), (std::vector<std::string>{dir / "a/x/c", dir / "b/x/c"}));
    // Through a link never; into hidden folders only when asked.
    EXPECT_EQ(CleanupCatalog::expandRoot(dir / "*/x/c"),
              (std::vector<std::string>{dir / "a/x/c", dir / "b/x/c", dir / "elsewhere/x/c"}));
    EXPECT_EQ(CleanupCatalog::expandRoot(dir / ".*/x"), (std::vector<std::string>{dir / ".hidden/x"}));
    EXPECT_TRUE(CleanupCatalog::insidePattern("/h/.config/google-chrome-beta/Default/x", "/h/.config/google-chrome*"));
    EXPECT_FALSE(CleanupCatalog::insidePattern("/h/.config", "/h/.config/google-chrome*"));

    const char* snapList = "Name    Version   Rev    Tracking       Publisher   Notes\n"
                           "core22  20240111  1122   latest/stable  canonical✓  base,disabled\n"
                           "core22  20240408  1380   latest/stable  canonical✓  base\n"
                           "firefox 125.0     4173   latest/stable  mozilla✓    disabled\n";
    EXPECT_EQ(CleanupCatalog::disabledSnapFiles(snapList),
              (std::vector<std::string>{"core22_1122.snap", "firefox_4173.snap"}));
}
