#pragma once
// The JSON export format of the terminal disk scanners (what `ncdu -o FILE`
// writes, and gdu and others write too): read into a tree the way Vessora's
// own scan measures, and written from a tree so that `ncdu -f FILE` browses it.
//
// Reading, an export becomes the tree a scan of the same folder would give:
// allocated sizes (`dsize`), a folder's own blocks not counted, a file with
// several links counted once (at its first link in the file, which is walk
// order), files below 1 MiB lumped per folder (but not at the top, where each
// item is a row of its own), excluded locations listed but
// not counted, unreadable ones flagged. An export is outside input: it is
// read as a stream (plain, gzip or zstd) without recursion, with nesting,
// names, sizes and the number of nodes capped, and anything malformed is
// refused with where and why, never half read.
//
// Writing, each folder is an array and each file an object, as the format
// has it, with nothing for a folder's own blocks (so totals match Vessora's).
// A lump of small files is written as one entry named like its row in
// Browse, with a key of ours (`vessora_lump`, its file count) that other
// readers ignore and ours turns back into the lump.

#include "scan/SavedScan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::ScanExport {

struct Limits {
    int depth = 8192;                     // folders inside folders
    size_t nameBytes = 4096;              // one name
    int64_t nodes = 20'000'000;           // folders, large files and lumps kept
    int64_t entrySize = int64_t(1) << 60; // one item's size (an exabyte)
    int64_t smallFileThreshold = 1'048'576;
};

// The tree in `bytes` (already decompressed), or nothing with the reason.
std::optional<SavedScan> parse(std::string_view bytes, std::string& error, const Limits& limits = {});
// The same from a file ("-": standard input), plain, gzip or zstd.
std::optional<SavedScan> importFile(const std::string& path, std::string& error, const Limits& limits = {});

// True when `bytes` (a file's first bytes) could start an export: JSON, or
// gzip or zstd.
bool looksLike(std::string_view bytes);

// The export of `scan` as text; `version` is the writing program's.
std::string write(const SavedScan& scan, std::string_view version);
// To a file ("-": standard output); gzip-compressed when the name ends in
// ".gz". False with the reason in `error`.
bool exportFile(const SavedScan& scan, std::string_view version, const std::string& path, std::string& error);

} // namespace vessora::ScanExport
