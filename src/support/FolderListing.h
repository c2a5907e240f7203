#pragma once
// Listing one folder's names: the one place outside the scanner's own walk
// that reads a directory.

#include <optional>
#include <string>
#include <vector>

namespace vessora::FolderListing {

// The entry names of the folder at `path` (a link to a folder is followed),
// "." and ".." left out, in byte order, so that "the first entry" and every
// listing built from it mean the same on every file system. Nothing when the
// folder cannot be opened or read to its end; errno then says why.
std::optional<std::vector<std::string>> names(const std::string& path);

// The same for a folder already open as `fd` (read from its start; `fd`
// stays open and owned by the caller).
std::optional<std::vector<std::string>> names(int fd);

// names(path), or no names at all when the folder cannot be listed.
std::vector<std::string> namesOrEmpty(const std::string& path);

} // namespace vessora::FolderListing
