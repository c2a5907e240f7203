#pragma once
// Reads freedesktop.org desktop entries (the menu entries applications
// install) through GLib's key-file reader, which handles groups, escapes and
// localised keys the way every desktop does.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

struct DesktopEntry {
    std::string path;             // the file read; empty when parsed from bytes
    std::string id;               // desktop-file ID: path below "applications/", '/' -> '-'
    std::string type;             // "Application", "Link", ...
    std::string name;             // Name, localised for the user's language
    std::string exec;             // Exec as written
    std::string tryExec;          // TryExec as written
    std::string icon;             // Icon: a theme name or an absolute path
    std::string startupWMClass;   // StartupWMClass
    std::string flatpakId;        // X-Flatpak
    std::string snapInstanceName; // X-SnapInstanceName
    std::string appImageVersion;  // X-AppImage-Version
    bool noDisplay = false;
    bool hidden = false;
};

namespace DesktopEntries {

// One entry from a file, or nothing when the file cannot be read or has no
// "[Desktop Entry]" group. `id` is set by the caller that knows the root.
std::optional<DesktopEntry> read(const std::string& path);
// The same from the file's bytes.
std::optional<DesktopEntry> parse(std::string_view data);

// The user's language for localised keys: LC_ALL, else LC_MESSAGES, else LANG
// (empty when none is set or it is "C"/"POSIX").
std::string userLocale();

// The program and arguments of an Exec value, field codes dropped ("%f",
// "%U", ...), an "env VAR=value" prefix skipped. Empty when it does not parse.
std::vector<std::string> execArguments(const std::string& exec);

// The executable an Exec or TryExec value runs: absolute as written, else
// looked up in PATH (PATH's default when unset). Empty unless it is a regular
// file the user may execute.
std::string resolveProgram(const std::string& execOrTryExec);

// The application folders in precedence order: $XDG_DATA_HOME/applications,
// then each $XDG_DATA_DIRS entry's (default "/usr/local/share:/usr/share").
std::vector<std::string> applicationFolders();

// Every entry below the folders, the first folder that defines an ID winning
// (also when that entry is hidden, which hides the ID's later definitions).
// Subfolders are searched; their names become part of the ID. Each folder is
// read once however many links lead to it.
std::vector<DesktopEntry> collect(const std::vector<std::string>& folders);

} // namespace DesktopEntries
} // namespace vessora
