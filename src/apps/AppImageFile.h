#pragma once
// Reads what an AppImage says about itself without running or mounting it:
// the ELF runtime is followed by a SquashFS image whose top folder holds the
// application's desktop entry.

#include "apps/DesktopEntry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vessora::AppImageFile {

// The file starts with an ELF header carrying "AI" and type 2 at byte 8.
bool isAppImage(const std::string& path);

// Where the SquashFS image starts: the end of the ELF section header table.
std::optional<uint64_t> imageOffset(const std::string& path);

// The desktop entry at the top of the image (a link inside the image is
// followed once), or nothing when the image cannot be read.
std::optional<DesktopEntry> embeddedEntry(const std::string& path);

// "appimagekit_" followed by the MD5 of the file's URI ("file:///path"): the
// prefix desktop integration gives the AppImage's menu entry and icons.
std::string integrationPrefix(const std::string& path);

} // namespace vessora::AppImageFile
