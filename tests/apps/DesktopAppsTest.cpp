// The Linux inventory, leftovers and uninstalling, over a desktop built in a
// temporary folder: menu entries, a dpkg database, snaps, a Flatpak
// installation's exported entries and a real AppImage-format file.

#include "apps/AppImageFile.h"
#include "apps/AppInventory.h"
#include "apps/AppUninstaller.h"
#include "apps/DesktopInventory.h"
#include "apps/DpkgDatabase.h"
#include "apps/LeftoverFinder.h"

#include "AppFixtures.h"
#include "TestSupport.h"
#include "platform/PlatformTables.h"
#include "support/Paths.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <sys/stat.h>
#include <flatpak.h>
#include <lzma.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <tuple>

using namespace vessora;

namespace {

// An ELF header marked as an AppImage (type 2), its section table ending
// where the SquashFS image of `contents` begins.
void makeAppImage(const std::string& path, const std::string& contents, const std::vector<std::string>& options = {}) {
    const std::string image = path + ".sqfs";
    test::makeDirs(Paths::parent(path));
    std::vector<std::string> argv{"/usr/bin/mksquashfs", contents, image, "-noappend", "-quiet", "-no-progress"};
    argv.insert(argv.end(), options.begin(), options.end());
    ASSERT_EQ(test::runProgram(argv), 0) << "mksquashfs (squashfs-tools) could not build " << image;
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_ident[8] = 'A';
    header.e_ident[9] = 'I';
    header.e_ident[10] = 2;
    header.e_shoff = 4096 - 3 * 64;
    header.e_shentsize = 64;
    header.e_shnum = 3;
    std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
    bytes.resize(4096, '\0');
    bytes += test::readText(image);
    test::writeText(path, bytes);
    ::unlink(image.c_str());
    ::chmod(path.c_str(), 0755);
}

std::string entry(const std::string& body) { return "[Desktop Entry]\nType=Application\n" + body; }

constexpr auto exact = MatchConfidence::exact;
constexpr auto likely = MatchConfidence::likely;

struct Desktop : ::testing::Test {
    test::TempDir dir;
    std::string home = dir / "home";
    test::ScopedEnv homeEnv{"HOME", home}, lang{"LANG", "de_DE.UTF-8"}, lcAll{"LC_ALL", std::nullopt},
        lcMessages{"LC_MESSAGES", std::nullopt};
    test::ScopedEnv dataHome{"XDG_DATA_HOME", std::nullopt}, configHome{"XDG_CONFIG_HOME", std::nullopt},
        cacheHome{"XDG_CACHE_HOME", std::nullopt}, stateHome{"XDG_STATE_HOME", std::nullopt};
    std::vector<Flatpaks::Installed> flatpaks;

    std::string userApps() const { return home + "/.local/share/applications"; }

    DesktopInventory::Sources sources() {
        DesktopInventory::Sources s;
        s.applicationFolders = {userApps(), dir / "usr/share/applications", dir / "flatpak/exports/share/applications",
                                dir / "snapd/desktop/applications"};
        s.appImageFolders = {home + "/Applications"};
        s.dpkgDatabase = dir / "dpkg";
        s.snapRoot = dir / "snap";
        s.snapFiles = dir / "snaps";
        s.flatpaks = [this](bool runtimes) {
            std::vector<Flatpaks::Installed> out;
            for (const auto& ref : flatpaks)
                if (runtimes || !ref.runtime) out.push_back(ref);
            return out;
        };
        return s;
    }

    void addSnap(const std::string& name, const std::string& yaml, int64_t fileBytes) {
        test::writeText(dir / ("snap/" + name + "/7/meta/snap.yaml"), yaml);
        ASSERT_EQ(::symlink("7", (dir / ("snap/" + name + "/current")).c_str()), 0);
        test::writeFile(dir / ("snaps/" + name + "_7.snap"), fileBytes);
    }

    // One app of every kind.
    void buildDesktop() {
        // A program of its own below the home folder, with a localised name.
        ::chmod(test::writeFile(home + "/Applications/exampletool/bin/exampletool", 20'000).c_str(), 0755);
        test::writeText(
            userApps() + "/org.example.Tool.desktop",
            entry("Name=Example Tool\nName[de]=Beispielwerkzeug\nExec=\"" + home +
                  "/Applications/exampletool/bin/exampletool\" %U\nIcon=example-tool\nStartupWMClass=ExTool\n"));
        // Hidden from the menu, a link rather than an app, and one whose
        // TryExec program is missing: none is listed.
        test::writeText(userApps() + "/helper.desktop", entry("Name=Helper\nExec=/bin/true\nNoDisplay=true\n"));
        test::writeText(userApps() + "/site.desktop", "[Desktop Entry]\nType=Link\nName=Site\nURL=https://x\n");
        test::writeText(userApps() + "/gone.desktop", entry("Name=Gone\nExec=gone\nTryExec=/nonexistent/gone\n"));
        // A pipe named like an entry is skipped, not waited on.
        ASSERT_EQ(::mkfifo((userApps() + "/pipe.desktop").c_str(), 0644), 0);
        // A program that was deleted and left its entry behind.
        test::writeText(userApps() + "/broken.desktop", entry("Name=Broken\nExec=/nonexistent/broken-tool\n"));
        // A distribution package's app, in a subfolder (its ID gains "kde-").
        const std::string editorEntry = dir / "usr/share/applications/kde/editor.desktop";
        test::writeText(editorEntry, entry("Name=Editor\nExec=/bin/true\n"));
        // The same package's second entry.
        const std::string viewerEntry = dir / "usr/share/applications/kde/viewer.desktop";
        test::writeText(viewerEntry, entry("Name=Viewer\nExec=/bin/true\n"));
        test::writeText(dir / "dpkg/info/example-editor:amd64.list",
                        "/.\n/usr\n" + editorEntry + "\n" + viewerEntry + "\n");
        test::writeText(dir / "dpkg/info/other.list", "/usr/bin/other\n");
        test::writeText(dir / "dpkg/status",
                        "Package: other\nStatus: install ok installed\nVersion: 1\nInstalled-Size: 1\n\n"
                        "Package: example-editor\nStatus: install ok installed\nArchitecture: amd64\n"
                        "Installed-Size: 2048\nVersion: 1.2-3\nDescription: x\n more\n");
        // A Flatpak app, a runtime, and an exported entry naming the app.
        flatpaks = {{"org.example.Paint", "Paint (metadata)", "3.1", dir / "flatpak", false, false, 5'000'000},
                    {"org.example.Platform", "Platform", "45", dir / "flatpak", false, true, 90'000'000}};
        test::writeText(
            dir / "flatpak/exports/share/applications/org.example.Paint.desktop",
            entry("Name=Paint\nExec=/usr/bin/flatpak run org.example.Paint\nX-Flatpak=org.example.Paint\n"));
        // Snaps: an app with a menu entry, a base and a content provider.
        addSnap("hello", "name: hello\nversion: '2.10'\nsummary: hi\n", 12'288);
        addSnap("core22", "name: core22\nversion: '20240111'\ntype: base\n", 4096);
        addSnap("gtk-common-themes",
                "name: gtk-common-themes\nversion: '0.1'\nslots:\n  gtk-3-themes:\n    interface: content\n", 4096);
        addSnap("unreadable", "name: [unclosed\n", 4096); // not YAML: not listed
        test::writeText(dir / "snapd/desktop/applications/hello_hello.desktop",
                        entry("Name=Hello World\nExec=/snap/bin/hello\nX-SnapInstanceName=hello\n"));
        // An AppImage nobody integrated, and a plain file beside it.
        const std::string contents = dir / "appdir";
        test::writeText(contents + "/usr/share/applications/imagetool.desktop",
                        entry("Name=Image Tool\nExec=imagetool\nX-AppImage-Version=0.9\nIcon=imagetool\n"));
        ASSERT_EQ(::symlink("usr/share/applications/imagetool.desktop", (contents + "/imagetool.desktop").c_str()), 0);
        test::writeText(contents + "/AppRun", "#!/bin/sh\n");
        makeAppImage(home + "/Applications/ImageTool-x86_64.AppImage", contents);
        test::writeFile(home + "/Applications/notes.txt", 100);
        // One without an embedded entry, the same cut short, and an ELF file without the mark.
        test::writeText(dir / "empty/AppRun", "#!/bin/sh\n");
        makeAppImage(home + "/Applications/Bare.AppImage", dir / "empty");
        test::writeText(home + "/Applications/Cut.AppImage",
                        test::readText(home + "/Applications/Bare.AppImage").substr(0, 4200));
        test::writeText(home + "/Applications/plain", std::string(ELFMAG) + std::string(60, '\0'));
    }
};

const InstalledApp* byUrl(const std::vector<InstalledApp>& apps, const std::string& url) {
    auto it = std::find_if(apps.begin(), apps.end(), [&](const InstalledApp& a) { return a.url == url; });
    return it == apps.end() ? nullptr : &*it;
}

} // namespace

TEST_F(Desktop, InventoryRecognisesEveryKindWithItsNameVersionAndSize) {
    buildDesktop();
    const std::vector<InstalledApp> all = DesktopInventory::scan(sources(), true);

    const std::string image = home + "/Applications/ImageTool-x86_64.AppImage";
    const std::string kde = dir / "usr/share/applications/kde/";
    // (url, kind, name, version, ID, size where known, system app)
    using Opt = std::optional<std::string>;
    const std::tuple<std::string, AppKind, std::string, Opt, Opt, std::optional<int64_t>, bool> expected[] = {
        {home + "/Applications/exampletool", AppKind::program, "Beispielwerkzeug", {}, "org.example.Tool", {}, false},
        {userApps() + "/broken.desktop", AppKind::program, "Broken", {}, "broken", {}, false},
        {kde + "editor.desktop", AppKind::package, "Editor", "1.2-3", "kde-editor", {}, true},
        {kde + "viewer.desktop", AppKind::package, "Viewer", "1.2-3", "kde-viewer", {}, true},
        {dir / "flatpak/app/org.example.Paint", AppKind::flatpak, "Paint", "3.1", "org.example.Paint", 5'000'000,
         false},
        {dir / "flatpak/runtime/org.example.Platform", AppKind::flatpak, "Platform", "45", "org.example.Platform",
         90'000'000, true},
        {dir / "snap/hello", AppKind::snap, "Hello World", "2.10", "hello",
         test::allocatedSize(dir / "snaps/hello_7.snap"), false},
        {dir / "snap/core22", AppKind::snap, "core22", "20240111", "core22", 4096, true},
        {dir / "snap/gtk-common-themes", AppKind::snap, "gtk-common-themes", "0.1", "gtk-common-themes", 4096, true},
        // Not integrated into the menu: its embedded entry's name is only a claim.
        {image, AppKind::appImage, "Image Tool", "0.9", {}, {}, false},
        {home + "/Applications/Bare.AppImage", AppKind::appImage, "Bare", {}, {}, {}, false},
        {home + "/Applications/Cut.AppImage", AppKind::appImage, "Cut", {}, {}, {}, false},
    };
    EXPECT_EQ(all.size(), std::size(expected));
    for (const auto& [url, kind, name, version, id, size, system] : expected) {
        const InstalledApp* app = byUrl(all, url);
        ASSERT_NE(app, nullptr) << url;
        EXPECT_EQ(std::tie(app->kind, app->name, app->version, app->bundleID, app->isSystemApp),
                  std::tie(kind, name, version, id, system))
            << url;
        EXPECT_TRUE(!size || app->installedSize == size) << url;
    }
    const InstalledApp* tool = byUrl(all, home + "/Applications/exampletool");
    EXPECT_EQ(std::tie(tool->iconName, tool->windowClass, tool->executable),
              std::tuple("example-tool", "ExTool", home + "/Applications/exampletool/bin/exampletool"));
    EXPECT_EQ(byUrl(all, kde + "editor.desktop")->package, "example-editor");
    // A package's size is counted once, whichever of its entries is read first.
    const auto &editorSize = byUrl(all, kde + "editor.desktop")->installedSize,
               &viewerSize = byUrl(all, kde + "viewer.desktop")->installedSize;
    EXPECT_NE(editorSize.has_value(), viewerSize.has_value());
    EXPECT_EQ(editorSize.value_or(0) + viewerSize.value_or(0), 2048 * 1024);
    EXPECT_GE(AppInventory::size(*byUrl(all, image)), test::allocatedSize(image));
    EXPECT_EQ(std::tuple(AppImageFile::isAppImage(home + "/Applications/Bare.AppImage"),
                         AppImageFile::isAppImage(home + "/Applications/plain"),
                         !AppImageFile::embeddedEntry(home + "/Applications/Bare.AppImage"),
                         !AppImageFile::embeddedEntry(home + "/Applications/Cut.AppImage")),
              std::tuple(true, false, true, true));

    // Without system apps: no packages, runtimes, bases or content snaps.
    std::set<std::string> userUrls;
    for (const InstalledApp& app : DesktopInventory::scan(sources(), false)) userUrls.insert(app.url);
    EXPECT_EQ(userUrls,
              (std::set<std::string>{home + "/Applications/exampletool", userApps() + "/broken.desktop",
                                     dir / "flatpak/app/org.example.Paint", dir / "snap/hello", image,
                                     home + "/Applications/Bare.AppImage", home + "/Applications/Cut.AppImage"}));
}

TEST_F(Desktop, AProgramHasAFolderOnlyWhereItsOwnFolderCanBe) {
    const std::string h = home;
    // Localised user folders, two of them where programs keep folders.
    test::writeText(h + "/.config/user-dirs.dirs",
                    "XDG_DOCUMENTS_DIR=\"$HOME/Apps/Dokumente\"\nXDG_MUSIC_DIR=\"$HOME/opt\"\n");
    // (program, ID, its folder)
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"/opt/google/chrome/chrome", "google-chrome", "/opt/google/chrome"},
        {"/opt/zoom/bin/zoom", "zoom", "/opt/zoom"},
        {"/opt/loose-binary", "loose", "/opt/loose-binary"},
        {"/opt/bin/tool", "tool", "/opt/bin/tool"},
        {h + "/Applications/blender-4.0/blender", "blender", h + "/Applications/blender-4.0"},
        {h + "/Applications/tool", "tool", h + "/Applications/tool"},
        {h + "/Apps/racer/bin/racer", "racer", h + "/Apps/racer"},
        {h + "/.local/opt/ide/bin/ide", "ide", h + "/.local/opt/ide"},
        {h + "/.local/share/toolbox/bin/toolbox", "toolbox", h + "/.local/share/toolbox"},
        // Below ~/.local/share only inside the folder named by its own ID.
        {h + "/.local/share/JetBrains/Toolbox/bin/jetbrains-toolbox", "jetbrains-toolbox",
         h + "/.local/share/JetBrains/Toolbox/bin/jetbrains-toolbox"},
        {h + "/.local/share/applications/bin/x", "applications", h + "/.local/share/applications/bin/x"},
        // Inside a localised user folder, though below a program root.
        {h + "/Apps/Dokumente/tool/bin/tool", "tool", h + "/Apps/Dokumente/tool/bin/tool"},
        {h + "/opt/x/bin/x", "x", h + "/opt/x/bin/x"},
        // Anywhere else the program alone.
        {h + "/blender-4.0/blender", "blender", h + "/blender-4.0/blender"},
        {h + "/Games/racer/bin/racer", "racer", h + "/Games/racer/bin/racer"},
        {h + "/Documents/Work/run.sh", "work", h + "/Documents/Work/run.sh"},
        {h + "/Projects/bin/projects", "projects", h + "/Projects/bin/projects"},
        {h + "/.local/bin/tool", "tool", h + "/.local/bin/tool"},
        {h + "/tool", "tool", h + "/tool"},
        {h + "/Downloads/tool", "tool", h + "/Downloads/tool"},
        {"/usr/local/bin/tool", "tool", "/usr/local/bin/tool"},
    };
    const DesktopInventory::SharedFolders shared(h);
    for (const auto& [program, id, folder] : cases)
        EXPECT_EQ(DesktopInventory::programFolder(program, shared, id), folder) << program;
}

TEST_F(Desktop, HostileMenuEntriesNeverMakeTheHomeOrAUserFolderAnApp) {
    test::writeText(home + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    auto program = [&](const std::string& relative) {
        const std::string path = test::writeFile(home + "/" + relative, 100);
        ::chmod(path.c_str(), 0755);
        return path;
    };
    const std::string run = program("Dokumente/Work/run.sh");
    const std::string projects = program("Projects/bin/projects");
    const std::string suiteA = program("Applications/suite/bin/a");
    const std::string suiteB = program("Applications/suite/bin/b");
    const std::string tool = program("Applications/tool/bin/tool");
    test::writeFile(home + "/Projects/notes.txt", 100);
    test::makeDirs(home + "/Documents");
    const std::map<std::string, std::string> entries = {
        {"tilde", "Name=Tilde\nExec=~\n"},
        {"home", "Name=Home\nExec=" + home + "\n"},
        {"root", "Name=Root\nExec=/\n"},
        {"docs", "Name=Docs\nExec=" + home + "/Documents\n"},
        {"work", "Name=Work\nExec=" + run + "\n"},
        {"projects", "Name=Projects\nExec=" + projects + "\n"},
        {"climb", "Name=Climb\nExec=/bin/true\nX-Flatpak=../../..\n"},
        {"snapclimb", "Name=Snap climb\nExec=/bin/true\nX-SnapInstanceName=../../etc\n"},
        {"forged", "Name=Evil Paint\nExec=/bin/true\nX-Flatpak=org.example.Paint\n"},
        {"suite-a", "Name=Suite A\nExec=" + suiteA + "\n"},
        {"suite-b", "Name=Suite B\nExec=" + suiteB + "\n"},
        {"tool-1", "Name=Tool\nExec=" + tool + "\n"},
        {"tool-2", "Name=Tool Settings\nExec=" + tool + " --settings\n"},
    };
    for (const auto& [id, body] : entries) test::writeText(userApps() + "/" + id + ".desktop", entry(body));
    // Links to folders already read would list every entry again, without end.
    ASSERT_EQ(::symlink(".", (userApps() + "/loop").c_str()), 0);
    ASSERT_EQ(::symlink("..", (userApps() + "/up").c_str()), 0);
    // A Flatpak with no exported entry: only libflatpak names it.
    flatpaks = {{"org.example.Paint", "Paint", "3.1", dir / "flatpak", false, false, 5'000'000}};

    const std::vector<InstalledApp> apps = DesktopInventory::scan(sources(), true);
    const DesktopInventory::SharedFolders shared(home);
    std::map<std::string, std::pair<AppKind, std::string>> listed;
    bool projectsFound = false;
    for (const InstalledApp& app : apps) {
        listed[app.url] = {app.kind, app.name};
        EXPECT_FALSE(Paths::isInside(home, app.url)) << app.url;
        EXPECT_EQ(app.url, Paths::standardize(app.url));
        if (app.bundleID) {
            EXPECT_TRUE(DesktopInventory::isSingleName(*app.bundleID)) << *app.bundleID;
        }
        for (const std::string& folder : shared.userFolders()) EXPECT_NE(app.url, folder);
        for (const LeftoverItem& item : LeftoverFinder::leftovers(app, false, apps)) {
            EXPECT_FALSE(shared.anyInside(item.url)) << item.url;
            EXPECT_FALSE(Paths::isInside(item.url, home + "/Dokumente")) << item.url;
            if (item.url == home + "/Projects") projectsFound = app.url == projects && item.confidence == likely;
        }
    }
    const std::map<std::string, std::pair<AppKind, std::string>> expected = {
        {userApps() + "/tilde.desktop", {AppKind::program, "Tilde"}},
        {userApps() + "/home.desktop", {AppKind::program, "Home"}},
        {userApps() + "/root.desktop", {AppKind::program, "Root"}},
        {userApps() + "/docs.desktop", {AppKind::program, "Docs"}},
        {run, {AppKind::program, "Work"}},
        {projects, {AppKind::program, "Projects"}},
        {"/bin/true", {AppKind::program, "Climb"}},
        {dir / "flatpak/app/org.example.Paint", {AppKind::flatpak, "Paint"}},
        {suiteA, {AppKind::program, "Suite A"}},
        {suiteB, {AppKind::program, "Suite B"}},
        {home + "/Applications/tool", {AppKind::program, "Tool"}},
    };
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(projectsFound); // the folder of a program inside a user folder is a likely leftover
}

namespace {

// How far `work` raises the process's peak address space: a large allocation
// raises it even when it is never touched.
int64_t largestAllocation(const std::function<void()>& work) {
    auto peak = [] {
        std::ifstream in("/proc/self/status");
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("VmPeak:")) return std::stoll(line.substr(7)) * 1024;
        return 0LL;
    };
    const int64_t before = peak();
    work();
    return peak() - before;
}

} // namespace

TEST_F(Desktop, ADownloadedAppImageClaimsNoOtherAppsDataExactly) {
    test::writeText(dir / "signal/Signal.desktop", entry("Name=Signal\nExec=signal-desktop\nIcon=signal\n"));
    const std::string image = home + "/Downloads/Signal-7.0-x86_64.AppImage";
    makeAppImage(image, dir / "signal");
    test::writeFile(home + "/.config/Signal/config.json", 100);
    auto s = sources();
    s.appImageFolders.push_back(home + "/Downloads");

    // (what, integrated, another installed app called Signal, the confidence expected)
    const std::tuple<const char*, bool, bool, MatchConfidence> cases[] = {
        {"never run", false, false, likely},
        {"integrated", true, false, exact},
        {"integrated, Signal also installed", true, true, likely},
    };
    const std::string menuEntry = userApps() + "/" + AppImageFile::integrationPrefix(image) + "-signal.desktop";
    for (const auto& [what, integrated, otherSignal, expected] : cases) {
        ::unlink(menuEntry.c_str());
        if (integrated) test::writeText(menuEntry, entry("Name=Signal\nExec=" + image + "\n"));
        flatpaks.clear();
        if (otherSignal) flatpaks = {{"org.signal.Signal", "Signal", "7", dir / "flatpak", false, false, 100}};
        const std::vector<InstalledApp> apps = DesktopInventory::scan(s, false);
        const InstalledApp* signal = byUrl(apps, image);
        ASSERT_NE(signal, nullptr) << what;
        EXPECT_EQ(signal->bundleID.has_value(), expected == exact) << what;
        std::optional<MatchConfidence> config;
        for (const LeftoverItem& item : LeftoverFinder::leftovers(*signal, false, apps))
            if (item.url == home + "/.config/Signal") config = item.confidence;
        EXPECT_EQ(config, expected) << what;
    }
}

TEST_F(Desktop, AnAppImageDeclaringHugeTablesIsRefusedBeforeAnythingIsAllocatedForThem) {
    // Uncompressed inodes, so the link's inode can be edited in place.
    test::writeText(dir / "appdir/usr/share/applications/tool.desktop", entry("Name=Tool\nExec=tool\n"));
    ASSERT_EQ(::symlink("usr/share/applications/tool.desktop", (dir / "appdir/tool.desktop").c_str()), 0);
    const std::string image = home + "/Downloads/Tool.AppImage";
    makeAppImage(image, dir / "appdir", {"-noI"});
    const std::string original = test::readText(image);
    ASSERT_TRUE(AppImageFile::embeddedEntry(image));

    const size_t target = original.find("usr/share/applications/tool.desktop");
    ASSERT_NE(target, std::string::npos);
    // (field, where, value, width): the image starts at 4096; its superblock's fields at their offsets.
    const std::tuple<const char*, size_t, uint64_t, size_t> cases[] = {
        {"fragment count", 4096 + 16, 0x08000000, 4},    // a 2 GiB fragment table
        {"inode count", 4096 + 4, 0xFFFFFFFF, 4},        // more inodes than the table holds
        {"ID count", 4096 + 26, 0xFFFF, 2},              // an ID index past the end
        {"bytes used", 4096 + 40, uint64_t(1) << 40, 8}, // an image larger than the file
        {"link target", target - 4, 0x40000000, 4},      // a 1 GiB link target
    };
    auto refused = [&](const std::string& what, const std::string& bytes) {
        test::writeText(image, bytes);
        std::optional<DesktopEntry> read;
        const int64_t largest = largestAllocation([&] { read = AppImageFile::embeddedEntry(image); });
        EXPECT_FALSE(read) << what;
        EXPECT_LT(largest, 8 << 20) << what;
    };
    for (const auto& [what, at, value, width] : cases) {
        std::string bytes = original;
        std::memcpy(bytes.data() + at, &value, width); // little-endian, like the format
        refused(what, bytes);
    }

    // xz blocks declaring a 16 MiB dictionary (their LZMA2 property byte, the
    // block header's CRC32 renewed) in an image of 128 KiB blocks.
    std::string lines;
    for (int i = 0; i < 60; ++i) lines += "X-Note" + std::to_string(i) + "=" + std::string(64, 'a' + i % 8) + "\n";
    test::writeText(dir / "xz/tool.desktop", entry("Name=Tool\n" + lines));
    makeAppImage(image, dir / "xz", {"-comp", "xz"});
    ASSERT_TRUE(AppImageFile::embeddedEntry(image));
    std::string bytes = test::readText(image);
    int declared = 0;
    const std::string xzMagic("\xFD\x37zXZ\0", 6); // an xz stream's header
    for (size_t at = 0; (at = bytes.find(xzMagic, at)) != std::string::npos; at += 6) {
        const size_t header = at + 12, length = (uint8_t(bytes[header]) + 1) * 4;
        const size_t filter = bytes.rfind("\x21\x01", header + length - 4);
        if (filter == std::string::npos || filter < header) continue;
        bytes[filter + 2] = 24;
        const uint32_t crc = lzma_crc32(reinterpret_cast<const uint8_t*>(bytes.data() + header), length - 4, 0);
        std::memcpy(bytes.data() + header + length - 4, &crc, 4);
        ++declared;
    }
    ASSERT_GT(declared, 0);
    refused("xz dictionary", bytes);
}

TEST(DpkgDatabase, InstalledSizeIsUnknownUnlessItFitsInBytes) {
    const std::pair<std::string, std::optional<int64_t>> cases[] = {
        {"2048", 2048 * 1024},
        {"9007199254740991", int64_t(9007199254740991) * 1024},
        {"9007199254740992", std::nullopt}, // times 1024 is 2^63
        {"18446744073709551615", std::nullopt},
        {"-1", std::nullopt},
        {"12 KiB", std::nullopt},
    };
    for (const auto& [field, bytes] : cases) {
        const auto packages = DpkgDatabase::parseStatus(
            "Package: big\nStatus: install ok installed\nInstalled-Size: " + field + "\nVersion: 1\n", {"big"});
        ASSERT_EQ(packages.size(), 1u) << field;
        EXPECT_EQ(packages.at("big").installedBytes, bytes) << field;
    }
}

namespace {

InstalledApp program(const std::string& home) {
    InstalledApp app = test::app(home + "/tools/exampletool", "Example Tool", "org.example.Tool", AppKind::program);
    app.executable = home + "/tools/exampletool/bin/exampletool";
    app.windowClass = "ExTool";
    app.desktopEntry = home + "/.local/share/applications/org.example.Tool.desktop";
    return app;
}

using Items = std::set<std::tuple<std::string, std::string, MatchConfidence>>;

Items below(const std::string& home, const std::vector<LeftoverItem>& items) {
    Items out;
    for (const LeftoverItem& item : items) {
        EXPECT_FALSE(item.requiresAdmin) << item.url;
        out.emplace(item.url.substr(home.size() + 1), item.category, item.confidence);
    }
    return out;
}

} // namespace

TEST_F(Desktop, LeftoversMatchIdentifiersExactlyAndNameFormsLikely) {
    const InstalledApp tool = program(home);
    test::writeFile(tool.executable.value(), 100);
    ::chmod(tool.executable->c_str(), 0755);
    for (const char* path :
         {".config/org.example.Tool/settings.ini", ".local/share/example-tool/db", ".cache/exampletool/x",
          ".local/state/ExTool/log", ".exampletool/rc", ".config/Tool/rc", ".config/autostart/org.example.Tool.desktop",
          ".local/share/applications/org.example.Tool.desktop",
          ".local/share/icons/hicolor/48x48/apps/org.example.Tool.png",
          ".local/share/dbus-1/services/org.example.Tool.service", ".local/share/mime/packages/org.example.Tool.xml",
          ".config/systemd/user/exampletool.service", ".config/java/x", ".config/ex/x", ".config/unrelated/x"})
        test::writeFile(home + "/" + path, 10);
    test::writeText(home + "/.config/autostart/starter.desktop",
                    entry("Name=S\nExec=" + *tool.executable + " --tray\n"));
    const std::string wants = home + "/.config/systemd/user/default.target.wants";
    test::makeDirs(wants);
    ASSERT_EQ(::symlink("../exampletool.service", (wants + "/exampletool.service").c_str()), 0);

    const Items expected = {
        {".config/org.example.Tool", "Settings", exact},
        {".config/autostart/org.example.Tool.desktop", "Autostart entry", exact},
        {".config/autostart/starter.desktop", "Autostart entry", exact},
        {".local/share/applications/org.example.Tool.desktop", "Menu entry", exact},
        {".local/share/icons/hicolor/48x48/apps/org.example.Tool.png", "Icon", exact},
        {".local/share/dbus-1/services/org.example.Tool.service", "D-Bus service", exact},
        {".local/share/mime/packages/org.example.Tool.xml", "File types", exact},
        {".local/share/example-tool", "App data", likely},
        {".cache/exampletool", "Cache", likely},
        {".local/state/ExTool", "State", likely},
        {".exampletool", "Hidden folder", likely},
        {".config/Tool", "Settings", likely},
        {".config/systemd/user/exampletool.service", "User service", likely},
        {".config/systemd/user/default.target.wants/exampletool.service", "User service", likely},
    };
    const std::vector<LeftoverItem> items = LeftoverFinder::leftovers(tool, true, {tool});
    EXPECT_EQ(below(home, items), expected);
    EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), [](const LeftoverItem& a, const LeftoverItem& b) {
        return a.confidence > b.confidence;
    }));

    // A folder another installed app matches exactly is neither's leftover by name.
    const InstalledApp other = test::app(home + "/opt/other", "Other", "exampletool", AppKind::program);
    Items unclaimed = expected;
    std::erase_if(unclaimed,
                  [](const auto& item) { return std::get<0>(item).find("exampletool") != std::string::npos; });
    EXPECT_EQ(below(home, LeftoverFinder::leftovers(tool, false, {tool, other})), unclaimed);
    EXPECT_TRUE(below(home, LeftoverFinder::leftovers(other, false, {tool, other}))
                    .count({".cache/exampletool", "Cache", exact}));

    // Shared and short names find nothing, also as identifiers.
    test::makeDirs(home + "/.local/share/fonts");
    for (const auto& [name, id] : {std::pair{"Fonts", "fonts"}, {"Java", "j"}, {"ex", "e"}}) {
        const InstalledApp app = test::app(home + "/" + id, name, id, AppKind::program);
        EXPECT_TRUE(LeftoverFinder::leftovers(app, false, {}).empty()) << name;
    }
}

TEST_F(Desktop, AppDataAreExactLeftoversAndUninstallingMovesExactlyTheAppsFiles) {
    test::writeFile(home + "/.var/app/org.example.Paint/config/x", 10);
    test::writeFile(home + "/snap/hello/common/x", 10);
    const auto paint = test::app(dir / "flatpak/app/org.example.Paint", "Paint", "org.example.Paint", AppKind::flatpak);
    const auto hello = test::app(dir / "snap/hello", "Hello", "hello", AppKind::snap);
    EXPECT_EQ(below(home, LeftoverFinder::leftovers(paint, false, {})),
              (Items{{".var/app/org.example.Paint", "Flatpak data", exact}}));
    EXPECT_EQ(below(home, LeftoverFinder::leftovers(hello, false, {})), (Items{{"snap/hello", "Snap data", exact}}));

    // An AppImage's desktop integration, another's beside it.
    const std::string image = home + "/Applications/Tool.AppImage";
    test::writeFile(image, 30'000);
    const std::string prefix = AppImageFile::integrationPrefix(image);
    const std::string menuEntry = test::writeFile(userApps() + "/" + prefix + "-tool.desktop", 10);
    const std::string icon =
        test::writeFile(home + "/.local/share/icons/hicolor/64x64/apps/" + prefix + "_tool.png", 10);
    test::writeFile(userApps() + "/appimagekit_0123-other.desktop", 10);
    test::writeFile(home + "/Applications/Other.AppImage", 10);
    auto tool = test::app(image, "Tool", "tool", AppKind::appImage);
    EXPECT_EQ(below(home, LeftoverFinder::leftovers(tool, false, {})),
              (Items{{".local/share/applications/" + prefix + "-tool.desktop", "Desktop integration", exact},
                     {".local/share/icons/hicolor/64x64/apps/" + prefix + "_tool.png", "Desktop integration", exact}}));
    tool.desktopEntry = menuEntry;
    RemovalResult result = AppUninstaller::uninstall(tool, 30'000, {}, true, RemovalMode::trash);
    EXPECT_EQ(std::set<std::string>(result.succeeded.begin(), result.succeeded.end()),
              (std::set<std::string>{image, menuEntry, icon}));
    EXPECT_TRUE(result.failed.empty());
    for (const std::string& gone : {image, menuEntry, icon}) EXPECT_FALSE(test::exists(gone)) << gone;
    EXPECT_TRUE(test::exists(home + "/Applications/Other.AppImage"));
    EXPECT_TRUE(test::exists(home + "/.local/share/Trash/files/Tool.AppImage"));

    // A program: its folder and the chosen leftover, nothing beside them.
    const InstalledApp prog = program(home);
    test::writeFile(*prog.executable, 1000);
    test::writeFile(home + "/tools/other/bin/other", 10);
    test::writeFile(home + "/.config/org.example.Tool/rc", 10);
    test::writeFile(home + "/.config/org.example.Tool.keep", 10);
    const LeftoverItem settings{home + "/.config/org.example.Tool", "Settings", exact, 4096, false};
    const int64_t freed = test::allocatedTreeSize(prog.url) + test::allocatedTreeSize(settings.url);
    result = AppUninstaller::uninstall(prog, 8192, {settings}, true, RemovalMode::deleteImmediately);
    EXPECT_EQ(result.succeeded, (std::vector<std::string>{prog.url, settings.url}));
    EXPECT_EQ(result.bytesFreed, freed); // what went, not the sizes listed
    EXPECT_EQ(std::tuple(test::exists(prog.url), test::exists(settings.url),
                         test::exists(home + "/tools/other/bin/other"),
                         test::exists(home + "/.config/org.example.Tool.keep")),
              std::tuple(false, false, true, true));
}

TEST_F(Desktop, ToolRemovalsCountOnlyWhatIsReallyGone) {
    const std::string folder = dir / "flatpak/app/org.example.Paint", current = folder + "/current";
    test::makeDirs(folder + "/x86_64/stable/active");
    const auto paint = test::app(folder, "Paint", "org.example.Paint", AppKind::flatpak);
    const LeftoverItem data{home + "/.var/app/org.example.Paint", "Flatpak data", exact, 0, false};
    // What the tool says, whether it really removed the app, and the failure reported (none: removed).
    const std::tuple<std::optional<std::string>, bool, std::string> cases[] = {
        {"Flatpak said no.", false, "Flatpak said no."},
        {std::nullopt, false, "Paint is still installed."},
        {std::nullopt, true, ""},
    };
    for (AppKind kind : {AppKind::flatpak, AppKind::snap}) {
        for (const auto& [says, removes, reason] : cases) {
            ::unlink(current.c_str());
            ASSERT_EQ(::symlink("x86_64/stable", current.c_str()), 0);
            test::writeFile(data.url + "/x", 10);
            auto app = paint;
            app.kind = kind;
            int calls = 0;
            AppUninstaller::Tools tools;
            (kind == AppKind::flatpak ? tools.flatpak : tools.snap) = [&, says = says,
                                                                       removes = removes](const InstalledApp& asked) {
                ++calls;
                EXPECT_EQ(asked.url, folder);
                if (removes) ::unlink(current.c_str());
                return says;
            };
            const int64_t dataSize = test::allocatedTreeSize(data.url);
            const RemovalResult result =
                AppUninstaller::uninstall(app, 5000, {data}, true, RemovalMode::deleteImmediately, tools);
            EXPECT_EQ(calls, 1);
            // The chosen leftovers go even when the app stays; the tool's word
            // counts for the app, the disk's for the rest.
            EXPECT_EQ(result.failed,
                      (reason.empty() ? std::vector<Failure>{} : std::vector<Failure>{{folder, reason}}));
            EXPECT_EQ(result.succeeded, (reason.empty() ? std::vector<std::string>{folder, data.url}
                                                        : std::vector<std::string>{data.url}));
            EXPECT_EQ(result.bytesFreed, (reason.empty() ? 5000 : 0) + dataSize);
        }
    }

    // A package's app is left to the package manager; its leftovers still go.
    test::writeFile(data.url + "/x", 10);
    auto editor = test::app(dir / "editor.desktop", "Editor", "editor", AppKind::package);
    editor.package = "example-editor";
    test::writeFile(editor.url, 10);
    RemovalResult result = AppUninstaller::uninstall(editor, 0, {data}, true, RemovalMode::deleteImmediately);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_NE(result.failed[0].reason.find("package manager"), std::string::npos);
    EXPECT_EQ(std::tuple(test::exists(editor.url), result.succeeded), std::tuple(true, std::vector{data.url}));
}

namespace {

// A Flatpak installation as libflatpak leaves it: the repository it makes,
// and per app a deploy folder with its metadata and deploy record, the
// "active" and "current" links.
void deployFlatpak(const std::string& installation, const std::string& id, const std::string& name,
                   const std::string& version, uint64_t bytes) {
    const std::string commit(64, 'a');
    const std::string branch = installation + "/app/" + id + "/x86_64/stable";
    test::makeDirs(branch + "/" + commit + "/files");
    test::writeText(branch + "/" + commit + "/metadata", "[Application]\nname=" + id + "\n");
    ASSERT_EQ(::symlink(commit.c_str(), (branch + "/active").c_str()), 0);
    ASSERT_EQ(::symlink("x86_64/stable", (installation + "/app/" + id + "/current").c_str()), 0);
    GVariantBuilder metadata;
    g_variant_builder_init(&metadata, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&metadata, "{sv}", "deploy-version", g_variant_new_int32(4));
    g_variant_builder_add(&metadata, "{sv}", "appdata-name", g_variant_new_string(name.c_str()));
    g_variant_builder_add(&metadata, "{sv}", "appdata-version", g_variant_new_string(version.c_str()));
    const char* noSubpaths[] = {nullptr};
    // The installed size is kept big-endian.
    GVariant* deploy = g_variant_ref_sink(g_variant_new("(ss^ast@a{sv})", "origin", commit.c_str(), noSubpaths,
                                                        GUINT64_TO_BE(bytes), g_variant_builder_end(&metadata)));
    test::writeText(branch + "/" + commit + "/deploy",
                    std::string(static_cast<const char*>(g_variant_get_data(deploy)), g_variant_get_size(deploy)));
    g_variant_unref(deploy);
}

} // namespace

TEST_F(Desktop, FlatpaksAreListedThroughLibflatpakWithoutCreatingInstallations) {
    const std::string user = dir / "user-flatpak";
    test::ScopedEnv userDir("FLATPAK_USER_DIR", user);
    test::ScopedEnv systemDir("FLATPAK_SYSTEM_DIR", dir / "system-flatpak");
    // Neither installation exists: nothing is listed and nothing is made.
    EXPECT_TRUE(Flatpaks::installed(true).empty());
    EXPECT_FALSE(test::exists(user) || test::exists(dir / "system-flatpak"));

    test::makeDirs(user);
    GFile* folder = g_file_new_for_path(user.c_str());
    FlatpakInstallation* made = flatpak_installation_new_for_path(folder, TRUE, nullptr, nullptr);
    ASSERT_NE(made, nullptr);
    g_object_unref(made);
    g_object_unref(folder);
    deployFlatpak(user, "org.example.Paint", "Paint", "3.1", 5'000'000);

    const std::vector<Flatpaks::Installed> refs = Flatpaks::installed(false);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0], (Flatpaks::Installed{"org.example.Paint", "Paint", "3.1", user, true, false, 5'000'000}));
    EXPECT_EQ(refs[0].folder(), user + "/app/org.example.Paint");

    auto sources = this->sources();
    sources.flatpaks = Flatpaks::installed;
    const std::vector<InstalledApp> apps = DesktopInventory::scan(sources, false);
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(std::tie(apps[0].kind, apps[0].installedSize), std::tuple(AppKind::flatpak, 5'000'000));
    EXPECT_TRUE(AppUninstaller::stillInstalled(apps[0]));

    // Uninstalling goes through a libflatpak transaction and is checked on disk.
    RemovalResult result = AppUninstaller::uninstall(apps[0], 5'000'000, {}, true, RemovalMode::trash);
    EXPECT_TRUE(result.failed.empty()) << result.failed.front().reason;
    EXPECT_EQ(result.succeeded, std::vector<std::string>{apps[0].url});
    EXPECT_FALSE(AppUninstaller::stillInstalled(apps[0]) || !Flatpaks::installed(false).empty());
    // Once gone, a second attempt fails with libflatpak's reason.
    result = AppUninstaller::uninstall(apps[0], 5'000'000, {}, true, RemovalMode::trash);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_FALSE(result.failed[0].reason.empty());
}
