#include "catalog/CleanupCatalog.h"
#include "platform/PlatformTables.h"
#include "removal/Remover.h"
#include "support/Shell.h"

#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vessora;

namespace {

struct Seen {
    uint32_t met = 0, links = 0;
    int64_t blocks = 0;
};

void walkFreed(const std::string& path, int64_t& total, std::map<ino_t, Seen>& links) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = ::opendir(path.c_str())) {
            while (const dirent* e = ::readdir(dir))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    walkFreed(path + "/" + e->d_name, total, links);
            ::closedir(dir);
        }
        return;
    } else if (S_ISREG(st.st_mode) && st.st_nlink > 1) {
        Seen& seen = links[st.st_ino];
        seen.met += 1;
        seen.links = uint32_t(st.st_nlink);
        seen.blocks = int64_t(st.st_blocks) * 512;
        return;
    }
    total += int64_t(st.st_blocks) * 512;
}

// What deleting `path` frees, from lstat alone: a file with several links
// counts once, and only when all of its links lie inside.
int64_t freedTreeSize(const std::string& path) {
    int64_t total = 0;
    std::map<ino_t, Seen> links;
    walkFreed(path, total, links);
    for (const auto& [ino, seen] : links)
        if (seen.met == seen.links) total += seen.blocks;
    return total;
}

std::map<std::string, CleanupTarget> measuredById() {
    std::map<std::string, CleanupTarget> out;
    for (CleanupTarget& t : CleanupCatalog::definitions()) {
        const std::string id = t.id;
        out[id] = CleanupCatalog::measure(std::move(t));
    }
    return out;
}

std::vector<std::string> urls(const CleanupTarget& target) {
    std::vector<std::string> out;
    for (const CleanupEntry& e : target.entries) out.push_back(e.url);
    std::sort(out.begin(), out.end());
    return out;
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
    ScopedTables tables{TableSet::linux};
    test::TempDir dir;
    std::string home = dir / "home";
    std::string sys = dir / "sys";
    test::ScopedEnv homeEnv{"HOME", home};
    test::ScopedEnv cache{"XDG_CACHE_HOME", std::nullopt};
    test::ScopedEnv config{"XDG_CONFIG_HOME", std::nullopt};
    test::ScopedEnv data{"XDG_DATA_HOME", std::nullopt};
    CleanupCatalog::ScopedSystemRoot root{sys};
    std::string h(const std::string& rest) { return home + "/" + rest; }
    std::string s(const std::string& rest) { return sys + "/" + rest; }
};

// Every user-level row populated; each entry where its claim puts it, with
// the bytes its removal frees.
TEST_F(LinuxCleanup, FixtureHomeEntriesAndClaims) {
    for (const char* file :
         {".cache/thumbnails/normal/a.png", ".cache/mozilla/firefox/abc.default/cache2/entry",
          ".config/google-chrome/Default/GPUCache/data_0", ".config/chromium/ShaderCache/blob",
          ".config/SomeApp/Cache/Cache_Data/f", ".config/SomeApp/GPUCache/g", ".config/NoState/Cache/f",
          ".config/Code/CachedData/1a2b/x.js", ".config/Code/Crashpad/pending/dump",
          ".config/Other/Crashpad/completed/dump", ".cache/pip/http/blob", ".cache/JetBrains/IdeaIC2023.1/index",
          "miniconda3/pkgs/numpy-1.26/lib.so", ".cache/someapp/blob", ".cache/doc/portal", ".cache/nvidia/GLCache/a",
          ".cache/nvidia/other/b", ".var/app/org.gone.App/config/settings", ".var/app/org.gone.App/cache/c",
          ".var/app/org.kept.App/cache/c", ".var/app/org.kept.App/data/d", "Downloads/debian.iso",
          "Downloads/notes.txt", "Downloads/tool.AppImage", "Downloads/other.AppImage",
          ".local/share/Trash/files/old.txt"})
        test::writeFile(h(file), 3 * 4096 + 100);
    test::writeText(h(".config/SomeApp/Local State"), "{}");
    test::writeText(h(".config/Code/Preferences"), "{}");
    test::writeText(h(".local/share/applications/tool.desktop"), "[Desktop Entry]\nExec=" + h("Downloads/tool.AppImage") + "\n");
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
        {"build-repos", {store, h("miniconda3/pkgs/numpy-1.26")}},
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
            EXPECT_EQ(e.size, freedTreeSize(e.url)) << e.url;
            EXPECT_TRUE(e.selectable()) << e.url;
        }
    }
    // The store frees its own files only: the inner pair once, the linked one not at all.
    test::LinkSet once;
    const auto& repos = t["build-repos"].entries;
    auto storeEntry = std::find_if(repos.begin(), repos.end(), [&](const CleanupEntry& e) { return e.url == store; });
    ASSERT_NE(storeEntry, repos.end());
    EXPECT_EQ(storeEntry->size + test::allocatedSize(h("project/node_modules/shared")), test::lstatTreeSize(store, &once));
}

} // namespace
