#pragma once
// Path strings are raw bytes: a file name may hold any byte but '/' and NUL.

#include <optional>
#include <string>
#include <string_view>

namespace vessora::Paths {

// $HOME read on every call, else the password database entry of the effective user.
std::string home();

// Expands a leading "~", drops empty and "." components and a trailing "/",
// resolves ".." lexically in absolute paths (never above "/"). Never resolves
// a symbolic link. "" stays "". Idempotent: a relative result whose first
// component is a literal "~" keeps a leading "./" ("./~/a" stays "./~/a").
std::string standardize(std::string_view path);

// Appends one component: join("/a", "b") is "/a/b", join("/", "b") is "/b",
// join("", "b") is "b". Redundant separators between the two are folded.
std::string join(std::string_view base, std::string_view component);

// "/a/b/" gives "b", "/" gives "/", "" gives "".
std::string lastComponent(std::string_view path);

// "/a/b" gives "/a", "/a" gives "/", "a" gives "", "/" gives "/".
std::string parent(std::string_view path);

// The text after the last "." of the last component, unless that dot starts
// the name: "a.tar.gz" gives "gz", ".profile" and "README" give "".
std::string extension(std::string_view path);

// The path without its extension and the dot before it.
std::string deletingExtension(std::string_view path);

// True when `path` equals `ancestor` or lies below it (component-wise, on
// standardized strings).
bool isInside(std::string_view path, std::string_view ancestor);

// The user's base folders: $XDG_DATA_HOME, $XDG_CONFIG_HOME, $XDG_CACHE_HOME
// and $XDG_STATE_HOME when set to an absolute path (a relative one is ignored,
// as the base directory rules ask), else ~/.local/share, ~/.config, ~/.cache
// and ~/.local/state. Standardized, not created.
std::string dataHome();
std::string configHome();
std::string cacheHome();
std::string stateHome();

// XDG_<key>_DIR from $XDG_CONFIG_HOME/user-dirs.dirs ("$HOME"-relative or
// absolute, quoted or not); nothing when unset, unreadable or the home itself.
std::optional<std::string> userDir(std::string_view key);

// The user's Documents folder: XDG_DOCUMENTS_DIR from user-dirs.dirs, else ~/Documents.
std::string documentsFolder();

// The app's own state folder: $XDG_STATE_HOME/vessora, else ~/.local/state/vessora.
// Not created here; writers create it when they first need it.
std::string stateFolder();

} // namespace vessora::Paths
