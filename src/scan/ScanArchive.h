#pragma once
// The file a saved scan is kept in: a short header (format version, root,
// time, source, totals) readable on its own, then the tree as a stream of
// nodes in pre-order, compressed with zstd (checksummed). Chosen over a
// SQLite file because it is about a fifth of the size and written and read
// several times faster (bench/history-formats measures both); a saved scan
// is only ever written whole and read whole, so a database's random access
// buys nothing.
//
// Reading is outside input: a file may be damaged, truncated or from a newer
// version. Every length and count is checked before it is used, and such a
// file is refused with its reason, never half read.

#include "scan/SavedScan.h"

#include <optional>
#include <string>
#include <string_view>

namespace vessora::ScanArchive {

// The version written; files of other versions are refused.
inline constexpr uint32_t kVersion = 1;
// The usual file name extension, without the dot.
inline constexpr const char* kExtension = "vscan";

// A scan turned into its stored form in two steps, so that the part that
// reads the tree (which the caller may have to do before it hands the tree
// on) is apart from the slower compression, which needs only the bytes.
struct Prepared {
    SavedScanInfo info; // everything but file, id and fileBytes
    std::string rootName;
    bool rootIsDirectory = true;
    std::string body; // the node stream, not yet compressed
};
Prepared prepare(const SavedScan& scan);
// The file's bytes.
std::string finish(const Prepared& prepared);
std::string encode(const SavedScan& scan);

// True when `bytes` start like a saved scan (whatever its version).
bool looksLike(std::string_view bytes);

// The scan in `bytes`, or nothing and the reason in `error`.
std::optional<SavedScan> decode(std::string_view bytes, std::string& error);
// The header alone.
std::optional<SavedScanInfo> decodeInfo(std::string_view bytes, std::string& error);

// The same for a file; `info.file` and `info.fileBytes` are filled in.
std::optional<SavedScan> read(const std::string& path, std::string& error);
std::optional<SavedScanInfo> readInfo(const std::string& path, std::string& error);

// Writes `bytes` to `path` whole or not at all (a temporary file in the same
// folder, renamed into place). False with the reason in `error`. Unless
// `replace`, a file already at `path` stays and the write fails with EEXIST
// in `errorNumber` (so two writers never take the same name).
bool writeFile(const std::string& path, std::string_view bytes, std::string& error, bool replace = true,
               int* errorNumber = nullptr);

} // namespace vessora::ScanArchive
