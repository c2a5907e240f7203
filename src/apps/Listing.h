#pragma once
// The few file-system questions the application engines ask, answered the way
// a file manager answers them (symbolic links followed).

#include <string>

namespace vessora::Listing {

// Something exists at `path` (a dangling link does not count).
bool exists(const std::string& path);

// A symbolic link is at `path` (whether or not its target exists).
bool isSymbolicLink(const std::string& path);

// A folder, or a link to one, is at `path`.
bool isDirectory(const std::string& path);

} // namespace vessora::Listing
