// The categories under the Linux tables, measured on a home folder made by the
// test, the System Data arithmetic, and both table sets side by side in the
// command-line tool.

#include "CatalogFixture.h"
#include "TestSupport.h"
#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "support/Paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

using namespace vessora;

namespace {

struct LinuxHome {
    test::TempDir dir;
    std::string home = dir / "home";
    test::ScopedEnv homeEnv{"HOME", home}, config{"XDG_CONFIG_HOME", std::nullopt}, data{"XDG_DATA_HOME", std::nullopt};
};

std::map<std::string, StorageCategory> byId(const std::vector<StorageCategory>& categories) {
    std::map<std::string, StorageCategory> map;
    for (const StorageCategory& c : categories) map[c.id] = c;
    return map;
}

std::vector<std::string> urls(const MeasuredCategory& m) { return test::urlsOf(m.entries); }

} // namespace

TEST(LinuxCategories, UserFoldersChatsAndMailOnAFixtureHome) {
    LinuxHome h;
    const std::string& home = h.home;
    // Without user-dirs.dirs the English names.
    EXPECT_EQ(byId(StorageCategories::all())["photos"].roots,
              (std::vector<std::string>{home + "/Pictures", home + "/Videos"}));
    test::writeText(home + "/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                      "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                                                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                                      "XDG_MUSIC_DIR=\"$HOME\"\n");
    test::writeFile(home + "/Bilder/Urlaub/strand.jpg", 30 * 4096);
    test::writeFile(home + "/Videos/clip.mp4", 12 * 4096);
    test::writeFile(home + "/Dokumente/brief.odt", 3 * 4096);
    test::writeFile(home + "/.config/Signal/sql/db.sqlite", 15 * 4096);
    test::writeFile(home + "/.config/Signal/attachments.noindex/ab/photo", 6 * 4096);
    test::writeFile(home + "/.var/app/org.telegram.desktop/data/TelegramDesktop/tdata/map", 4 * 4096);
    test::writeFile(home + "/.thunderbird/abc.default-release/ImapMail/server/INBOX", 25 * 4096);

    auto categories = byId(StorageCategories::all());
    EXPECT_EQ(categories["photos"].roots, (std::vector<std::string>{home + "/Bilder", home + "/Videos"}));
    EXPECT_EQ(categories["documents"].roots[1], home + "/Dokumente");
    EXPECT_EQ(categories["music"].roots, std::vector<std::string>{home + "/Music"}) << "the home itself is no folder";

    auto photos = StorageCategories::measure(categories["photos"]);
    EXPECT_EQ(urls(photos), (std::vector<std::string>{home + "/Bilder/Urlaub", home + "/Videos/clip.mp4"}));

    const auto mail = StorageCategories::measure(categories["mail"]);
    const auto messages = StorageCategories::measure(categories["messages"]);
    EXPECT_EQ(urls(mail), std::vector<std::string>{home + "/.thunderbird/abc.default-release"});
    EXPECT_EQ(messages.entries.size(), 3u);
    for (const auto* m : {&mail, &messages})
        for (const CleanupEntry& e : m->entries) EXPECT_EQ(e.size, test::lstatTreeSize(e.url)) << e.url;
}

// A home where names deceive: AppImages without their extension, a Trash
// with records and a half-emptied folder, a snap's trash in two revisions,
// user folders that are links, files with several names inside and across
// categories, and cache folders the cleanup list classifies. Each category
// equals an lstat sum of its own rules where each file counts once, in the
// first category in table order; with what no category claims they make up
// the whole home exactly.
TEST(LinuxCategories, EveryFileCountsOnceWhereTheTableSays) {
    LinuxHome h;
    const std::string& home = h.home;
    auto file = [&](const std::string& relative, int blocks) {
        return test::writeFile(home + "/" + relative, blocks * 4096);
    };
    auto link = [&](const std::string& existing, const std::string& name) {
        test::makeDirs(Paths::parent(home + "/" + name));
        ASSERT_EQ(::link((home + "/" + existing).c_str(), (home + "/" + name).c_str()), 0) << name;
    };
    auto appImage = [&](const std::string& relative) {
        const char magic[] = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 'A', 'I', 2};
        test::writeText(home + "/" + relative, std::string(magic, sizeof magic) + std::string(7 * 4096, 'a'));
    };
    appImage(".local/bin/nvim");
    appImage(".local/bin/joplin.appimage");
    file(".local/bin/backup-script", 2);
    file(".local/share/Trash/files/old.txt", 3);
    test::writeText(home + "/.local/share/Trash/info/old.txt.trashinfo", "[Trash Info]\nPath=/x/old.txt\n");
    file(".local/share/Trash/expunged/half-gone/bits", 4);
    test::writeText(home + "/.local/share/Trash/directorysizes", "4096 1700000000 half-gone\n");
    file("snap/notes/12/.local/share/Trash/files/draft", 5);
    file("snap/notes/13/.local/share/Trash/files/memo", 2);
    ASSERT_EQ(::symlink("13", (home + "/snap/notes/current").c_str()), 0);
    // Videos kept in another folder of the same disk; Music inside Documents.
    file("media/Videos/film.mkv", 20);
    link("media/Videos/film.mkv", "media/Videos/vacation.mkv");
    ASSERT_EQ(::symlink((home + "/media/Videos").c_str(), (home + "/Videos").c_str()), 0);
    file("Documents/Music/song.flac", 6);
    ASSERT_EQ(::symlink("Documents/Music", (home + "/Music").c_str()), 0);
    // Several names: a photo in two albums, a scan in Documents and Pictures,
    // a pnpm store linked into a project, a toolchain binary under three names.
    file("Pictures/2024/beach.jpg", 9);
    link("Pictures/2024/beach.jpg", "Pictures/best/beach.jpg");
    file("Documents/scan.jpg", 4);
    link("Documents/scan.jpg", "Pictures/scan.jpg");
    file(".local/share/pnpm/store/v3/files/ab/index.js", 3);
    link(".local/share/pnpm/store/v3/files/ab/index.js", "Documents/app/node_modules/.pnpm/index.js");
    file(".rustup/toolchains/stable/bin/cargo", 8);
    link(".rustup/toolchains/stable/bin/cargo", ".rustup/toolchains/stable/bin/rustc");
    link(".rustup/toolchains/stable/bin/cargo", ".cargo/bin/cargo");
    file(".cache/pip/http/wheel", 5);
    file(".cache/ccache/0/obj", 2);
    file(".cache/huggingface/hub/model.safetensors", 11);

    std::vector<StorageCategory> picked; // the categories a home holds, in table order
    for (StorageCategory& c : StorageCategories::all())
        if (c.id == "applications" || c.id == "documents" || c.id == "photos" || c.id == "music" ||
            c.id == "developer" || c.id == "trash")
            picked.push_back(std::move(c));
    std::map<std::string, int64_t> measured; // the parts below the test's home
    std::map<std::string, std::vector<std::string>> notes, entries;
    for (const MeasuredCategory& m : StorageCategories::measureAll(picked)) {
        notes[m.id()] = m.category.notes;
        for (const CleanupEntry& e : m.entries)
            if (Paths::isInside(e.url, home)) {
                measured[m.id()] += e.size;
                entries[m.id()].push_back(e.url.substr(home.size() + 1));
            }
    }

    test::LinkSet counted;
    auto sum = [&](std::vector<std::string> paths) {
        int64_t total = 0;
        for (const std::string& path : paths) total += test::lstatTreeSize(home + "/" + path, &counted);
        return total;
    };
    std::map<std::string, int64_t> expected;
    expected["applications"] = sum({".local/bin/nvim", ".local/bin/joplin.appimage"});
    expected["documents"] = sum({"Documents"});
    expected["photos"] = sum({"Pictures", "media/Videos"});
    expected["developer"] = sum({".rustup", ".cargo", ".local/share/pnpm", ".cache/pip", ".cache/ccache"});
    expected["trash"] =
        sum({".local/share/Trash", "snap/notes/12/.local/share/Trash", "snap/notes/13/.local/share/Trash"});
    const int64_t unclaimed =
        sum({".local/bin/backup-script", ".cache/huggingface", "Videos", "Music", "snap/notes/current"});
    EXPECT_EQ(measured, expected);
    int64_t categorised = 0;
    for (const auto& [id, size] : measured) categorised += size;
    test::LinkSet once;
    EXPECT_EQ(categorised + unclaimed, test::lstatTreeSize(home, &once)) << "every file once, nothing lost";

    std::sort(entries["applications"].begin(), entries["applications"].end());
    EXPECT_EQ(entries["applications"], (std::vector<std::string>{".local/bin/joplin.appimage", ".local/bin/nvim"}));
    EXPECT_EQ(entries["photos"], (std::vector<std::string>{"media/Videos/film.mkv", "Pictures/2024"}))
        << "the link's folder measured where it is, the second names counted nowhere";
    EXPECT_EQ(notes["music"],
              std::vector<std::string>{"Music (" + home + "/Documents/Music) is already counted under Documents."});
    EXPECT_TRUE(notes["photos"].empty());

    // The cleanup list classifies each cache folder as the categories do,
    // and its Trash target counts what the Trash category counts.
    std::map<std::string, CleanupTarget> targets;
    for (CleanupTarget& t : CleanupCatalog::definitions())
        if (t.id == "pkg-caches" || t.id == "app-caches" || t.id == "trash") targets[t.id] = CleanupCatalog::measure(t);
    auto offers = [&](const std::string& id, const std::string& path) {
        for (const CleanupEntry& e : targets[id].entries)
            if (Paths::isInside(e.url, home + "/" + path)) return true;
        return false;
    };
    EXPECT_TRUE(offers("pkg-caches", ".cache/ccache") && !offers("app-caches", ".cache/ccache"));
    EXPECT_TRUE(offers("app-caches", ".cache/huggingface") && !offers("pkg-caches", ".cache/huggingface"));
    int64_t trash = 0;
    for (const CleanupEntry& e : targets["trash"].entries)
        if (Paths::isInside(e.url, home)) trash += e.size;
    EXPECT_EQ(trash, measured["trash"]);
}

TEST(LinuxCategories, OtherHomesReadableAndUnreadable) {
    LinuxHome h;
    test::ScopedEnv home("HOME", "/home/alice");
    auto lister = [](const std::string& folder) -> std::optional<std::vector<std::string>> {
        if (folder != "/home") return std::nullopt;
        return std::vector<std::string>{".ecryptfs", "alice", "bob", "carol", "lost+found"};
    };
    EXPECT_EQ(StorageCategories::otherUserRoots(lister),
              (std::vector<std::string>{"/srv", "/home/bob", "/home/carol"}));

    // Measured by someone who is not an administrator.
    ASSERT_EQ(::chmod(h.dir.path().c_str(), 0755), 0);
    test::writeFile(h.dir / "users/bob/secret", 8 * 4096);
    test::writeFile(h.dir / "users/carol/notes/todo.txt", 5 * 4096);
    for (const auto& [at, mode] : {std::pair{"users/carol", 0755},
                                   {"users/carol/notes", 0755},
                                   {"users/carol/notes/todo.txt", 0644},
                                   {"users/bob", 0}})
        ASSERT_EQ(::chmod((h.dir / at).c_str(), mode_t(mode)), 0) << at;
    StorageCategory others = byId(StorageCategories::all())["othersShared"];
    others.roots = {h.dir / "users/bob", h.dir / "users/carol"};
    const int64_t carol = test::lstatTreeSize(h.dir / "users/carol/notes");
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  MeasuredCategory m = StorageCategories::measure(others);
                  std::string seen = std::to_string(m.size);
                  for (const CleanupEntry& e : m.entries)
                      seen += " " + e.url + " " + std::to_string(e.size) + (e.needsAdmin ? " admin" : "");
                  return seen;
              }),
              std::to_string(carol) + " " + h.dir / "users/carol/notes " + std::to_string(carol) + " " +
                  h.dir / "users/bob 0 admin");
}

TEST(LinuxCategories, SystemDataArithmeticKeepsTheReserveApart) {
    auto volume = [](int64_t total, int64_t free, int64_t reserve, bool root) {
        VolumeInfo v;
        std::tie(v.url, v.totalCapacity, v.trueFree, v.rootReserve, v.isRootVolume) =
            std::tuple(root ? "/" : "/data", total, free, reserve, root);
        v.availableForImportantUsage = free;
        return v;
    };
    auto categories = [](int64_t measuredBytes) {
        std::vector<MeasuredCategory> list;
        for (StorageCategory& c : StorageCategories::all()) list.push_back({std::move(c), 0, {}, true});
        list.front().size = measuredBytes;
        list.back().size = 999'999; // the remainder row itself never counts
        return list;
    };
    // (volumes, bytes measured, the remainder)
    const std::tuple<std::vector<VolumeInfo>, int64_t, int64_t> cases[] = {
        {{volume(1000, 300, 50, true)}, 400, 250},
        {{volume(1000, 300, 50, true)}, 700, 0},                            // clamped
        {{volume(100, 90, 20, true)}, 0, 0},                                // reserve beyond the used space
        {{volume(2000, 0, 0, false), volume(1000, 300, 50, true)}, 0, 650}, // the root, wherever it is
        {{volume(1000, 400, 0, false)}, 100, 500},                          // no root marked: the first volume
        {{}, 100, 0},
    };
    for (const auto& [volumes, measured, remainder] : cases)
        EXPECT_EQ(StorageCategories::remainderSize(volumes, categories(measured)), remainder) << measured;
}

TEST(LinuxCategories, BothTableSetsInTheTool) {
    test::TempHome home;
    const std::vector<VolumeInfo> volumes = VolumeInfo::current();
    const bool reserve = !volumes.empty() && volumes.front().rootReserve > 0;
    // The titles that tell the two sets apart.
    for (const auto& [set, titles] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"linux", {"Pictures & videos", "Chats", "Linux system", "System Data"}},
             {"macos", {"Photos", "Messages", "macOS", "System Data"}}}) {
        test::ScopedEnv tables("VESSORA_TABLES", set);
        std::string overview;
        ASSERT_EQ(test::runCli({"overview"}, &overview), 0) << overview;
        const std::string categories = overview.substr(overview.find("\nCategories\n"));
        for (const std::string& title : titles)
            EXPECT_NE(categories.find("\n  " + title + "  "), std::string::npos) << set << ": " << title;
        EXPECT_EQ(categories.find("macOS") == std::string::npos, set == "linux") << categories;
        // The reserve sentence where the root file system keeps one.
        if (set == "linux" && reserve) {
            EXPECT_NE(overview.find(" is reserved for the administrator by the file system and counts as used."),
                      std::string::npos);
        }
    }
}
