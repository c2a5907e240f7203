#include "apps/DesktopEntry.h"

#include "apps/Listing.h"
#include "support/FolderListing.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sstream>

namespace vessora::DesktopEntries {
namespace {

constexpr const char* group = "Desktop Entry";
// A desktop entry is a few kilobytes; anything far larger is not one.
constexpr size_t maxEntryBytes = 1 << 20;

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

std::string takeString(gchar* value) {
    if (!value) return {};
    std::string out(value);
    g_free(value);
    return out;
}

std::string stringKey(GKeyFile* file, const char* key) {
    return takeString(g_key_file_get_string(file, group, key, nullptr));
}

bool boolKey(GKeyFile* file, const char* key) {
    GError* error = nullptr;
    gboolean value = g_key_file_get_boolean(file, group, key, &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    return value;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Folders already read, by device and inode: a link to "." or to another
// application folder would otherwise list the same entries again and again.
using Visited = std::set<std::pair<dev_t, ino_t>>;

void collectFolder(const std::string& folder, const std::string& prefix, Visited& visited, std::set<std::string>& seen,
                   std::vector<DesktopEntry>& out, int depth) {
    // Entries nest a level or two at most ("kde4/", "wine/Programs/...").
    if (depth > 4) return;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !visited.emplace(st.st_dev, st.st_ino).second)
        return;
    std::vector<std::string> names = FolderListing::namesOrEmpty(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.starts_with('.')) continue;
        std::string path = Paths::join(folder, name);
        if (Listing::isDirectory(path)) {
            collectFolder(path, prefix + name + "-", visited, seen, out, depth + 1);
            continue;
        }
        if (!name.ends_with(".desktop")) continue;
        std::string id = prefix + name;
        if (!seen.insert(id).second) continue;
        if (std::optional<DesktopEntry> entry = read(path)) {
            entry->id = std::move(id);
            out.push_back(std::move(*entry));
        }
    }
}

} // namespace

std::string userLocale() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value) continue;
        std::string locale = value;
        if (locale == "C" || locale == "POSIX" || locale.starts_with("C.")) return {};
        return locale;
    }
    return {};
}

std::optional<DesktopEntry> parse(std::string_view data) {
    if (data.size() > maxEntryBytes) return std::nullopt;
    KeyFile file(g_key_file_new());
    if (!g_key_file_load_from_data(file.get(), data.data(), data.size(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    if (!g_key_file_has_group(file.get(), group)) return std::nullopt;
    DesktopEntry entry;
    entry.type = stringKey(file.get(), "Type");
    // GLib falls back from "de_DE.UTF-8@euro" to "de_DE", "de" and the plain
    // key; an empty locale asks for the plain key alone.
    const std::string locale = userLocale();
    entry.name = takeString(
        g_key_file_get_locale_string(file.get(), group, "Name", locale.empty() ? "C" : locale.c_str(), nullptr));
    entry.exec = stringKey(file.get(), "Exec");
    entry.tryExec = stringKey(file.get(), "TryExec");
    entry.icon = stringKey(file.get(), "Icon");
    entry.startupWMClass = stringKey(file.get(), "StartupWMClass");
    entry.flatpakId = stringKey(file.get(), "X-Flatpak");
    entry.snapInstanceName = stringKey(file.get(), "X-SnapInstanceName");
    entry.appImageVersion = stringKey(file.get(), "X-AppImage-Version");
    entry.noDisplay = boolKey(file.get(), "NoDisplay");
    entry.hidden = boolKey(file.get(), "Hidden");
    return entry;
}

std::optional<DesktopEntry> read(const std::string& path) {
    // Only a regular file is read: a FIFO named "x.desktop" must not hang the inventory.
    std::optional<std::string> data = WholeFile::read(path, int64_t(maxEntryBytes));
    if (!data) return std::nullopt;
    std::optional<DesktopEntry> entry = parse(*data);
    if (entry) entry->path = path;
    return entry;
}

std::vector<std::string> execArguments(const std::string& exec) {
    gint argc = 0;
    gchar** argv = nullptr;
    if (exec.empty() || !g_shell_parse_argv(exec.c_str(), &argc, &argv, nullptr)) return {};
    std::vector<std::string> args;
    for (gint i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        // Field codes stand for files and URLs given at launch; "%%" is a
        // literal percent sign.
        if (arg.size() == 2 && arg[0] == '%' && arg[1] != '%') continue;
        args.push_back(std::move(arg));
    }
    g_strfreev(argv);
    if (!args.empty() && Paths::lastComponent(args.front()) == "env") {
        args.erase(args.begin());
        while (!args.empty() && (args.front().starts_with('-') || args.front().find('=') != std::string::npos))
            args.erase(args.begin());
    }
    return args;
}

std::string resolveProgram(const std::string& execOrTryExec) {
    std::vector<std::string> args = execArguments(execOrTryExec);
    if (args.empty()) return {};
    const std::string& program = args.front();
    // Only a regular executable file is a program: "Exec=/" or an Exec
    // naming a folder runs nothing.
    if (program.starts_with('/')) return isExecutableFile(program) ? Paths::standardize(program) : std::string();
    if (program.find('/') != std::string::npos) return {};
    const char* pathVariable = std::getenv("PATH");
    std::string path = pathVariable && *pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin:/usr/games";
    std::istringstream folders(path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (folder.empty() || folder[0] != '/') continue;
        std::string candidate = Paths::join(folder, program);
        if (isExecutableFile(candidate)) return candidate;
    }
    return {};
}

std::vector<std::string> applicationFolders() {
    std::vector<std::string> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    folders.push_back(
        Paths::join(dataHome && *dataHome == '/' ? std::string(dataHome) : Paths::join(Paths::home(), ".local/share"),
                    "applications"));
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty() || dir[0] != '/') continue;
        std::string folder = Paths::join(Paths::standardize(dir), "applications");
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    }
    return folders;
}

std::vector<DesktopEntry> collect(const std::vector<std::string>& folders) {
    std::set<std::string> seen;
    Visited visited;
    std::vector<DesktopEntry> entries;
    for (const std::string& folder : folders) collectFolder(folder, "", visited, seen, entries, 0);
    return entries;
}

} // namespace vessora::DesktopEntries
