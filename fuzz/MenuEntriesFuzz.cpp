// Menu entries a user or any installer can write, read through the inventory
// of a home folder made for the target (user folders with localised and
// pattern-like names, programs in and out of folders of their own, a link to
// "." among the entries). "~" in the input stands for that home. Whatever the
// entries say: no app and no leftover is the home folder or above it or a
// user folder, no app's folder lies in one, identifiers are single names and
// every path is standardized.

#include "FuzzCheck.h"
#include "FuzzSandbox.h"
#include "apps/DesktopInventory.h"
#include "apps/LeftoverFinder.h"
#include "platform/PlatformTables.h"
#include "support/Paths.h"

#include <cstdlib>
#include <optional>
#include <sys/stat.h>

using namespace vessora;

namespace {

struct Home {
    fuzz::Sandbox sandbox;
    std::string home = sandbox.path("home");
    std::string apps = sandbox.path("home/.local/share/applications");
    std::optional<DesktopInventory::SharedFolders> shared;

    Home() {
        for (const char* program : {"Dokumente/Work/run.sh", "Projects/bin/projects", "Applications/suite/bin/a",
                                    "Applications/suite/bin/b", "Applications/tool/bin/tool", ".local/bin/tool",
                                    ".local/share/toolbox/bin/toolbox", "Games/racer/bin/racer"})
            sandbox.write(std::string("home/") + program, "#!/bin/sh\n", 0755);
        sandbox.write("home/.config/user-dirs.dirs",
                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\nXDG_DOWNLOAD_DIR=\"$HOME/Down*\"\n");
        sandbox.write("home/.config/toolbox/settings", "x");
        sandbox.write("home/Documents/notes.txt", "x");
        sandbox.write("home/.local/share/applications/.keep", "");
        FUZZ_CHECK(::symlink(".", (apps + "/loop").c_str()) == 0);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("PATH", (home + "/.local/bin:/usr/bin:/bin").c_str(), 1);
        ::setenv("LANG", "C", 1);
        for (const char* variable :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DATA_DIRS", "LC_ALL"})
            ::unsetenv(variable);
        PlatformTables::select(TableSet::linux);
        shared.emplace(home);
    }

    bool isFolder(const std::string& path) const {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    bool inUserFolder(const std::string& path) const {
        for (const std::string& folder : shared->userFolders())
            if (Paths::isInside(path, folder)) return true;
        return false;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Home h;
    // Up to four entries, separated by NUL bytes (which no entry holds).
    std::vector<std::string> written;
    std::string_view in = fuzz::text(data, size);
    for (int i = 0; i < 4 && !in.empty(); ++i) {
        const size_t cut = in.find('\0');
        std::string body(in.substr(0, cut));
        in = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);
        for (size_t at = 0; (at = body.find('~', at)) != std::string::npos; at += h.home.size())
            body.replace(at, 1, h.home);
        written.push_back(h.sandbox.write("home/.local/share/applications/e" + std::to_string(i) + ".desktop", body));
    }

    DesktopInventory::Sources sources;
    sources.applicationFolders = {h.apps};
    const std::vector<InstalledApp> apps = DesktopInventory::scan(sources, true);
    FUZZ_CHECK(apps.size() <= written.size());
    for (const InstalledApp& app : apps) {
        FUZZ_CHECK(app.url == Paths::standardize(app.url));
        FUZZ_CHECK(!Paths::isInside(h.home, app.url));
        FUZZ_CHECK(!h.isFolder(app.url) || !h.inUserFolder(app.url));
        for (const std::string& folder : h.shared->userFolders()) FUZZ_CHECK(app.url != folder);
        if (app.bundleID) FUZZ_CHECK(DesktopInventory::isSingleName(*app.bundleID));
        if (app.executable) FUZZ_CHECK(*app.executable == Paths::standardize(*app.executable));
        for (const LeftoverItem& item : LeftoverFinder::leftovers(app, false, apps)) {
            FUZZ_CHECK(item.url == Paths::standardize(item.url));
            FUZZ_CHECK(!h.shared->anyInside(item.url));
            FUZZ_CHECK(!h.inUserFolder(item.url));
        }
    }
    for (const std::string& file : written) ::unlink(file.c_str());
    return 0;
}
