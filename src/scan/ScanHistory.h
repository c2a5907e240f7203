#pragma once
// The folder of saved scans ($XDG_STATE_HOME/vessora/scans): one file per
// scan, kept within limits (the newest per scanned folder, and a total size),
// the oldest going first. A file there that cannot be read is skipped and
// named in the listing's problems, never fatal.

#include "scan/SavedScan.h"
#include "scan/ScanArchive.h"

#include <optional>
#include <string>
#include <vector>

namespace vessora::ScanHistory {

struct Limits {
    size_t perRoot = 30;              // scans kept of each folder
    int64_t totalBytes = 500'000'000; // all saved scans together
};

// Paths::stateFolder()/scans; not created here.
std::string defaultFolder();

struct Listing {
    std::vector<SavedScanInfo> scans;  // newest first
    std::vector<std::string> problems; // "FILE: reason" for each file that could not be read
};
// The saved scans in `folder`; only those of `root` (standardized) when given.
Listing list(const std::string& folder, const std::optional<std::string>& root = std::nullopt);

// Saves a prepared scan as a new file in `folder` (created as needed), then
// applies `limits`. The scan just saved is never the one that goes. Returns
// what was saved, or nothing with the reason in `error`.
std::optional<SavedScanInfo> save(const ScanArchive::Prepared& prepared, const std::string& folder, std::string& error,
                                  const Limits& limits = {});
std::optional<SavedScanInfo> save(const SavedScan& scan, const std::string& folder, std::string& error,
                                  const Limits& limits = {});

// Removes scans beyond `limits`, oldest first; `keep` (a file) never goes.
// Returns how many files were removed.
size_t prune(const std::string& folder, const Limits& limits, const std::string& keep = {});

// Removes every saved scan in `folder`; returns how many.
size_t forget(const std::string& folder);

// A saved scan named by a file path or by a history entry's id; the file's
// path, or nothing when neither names one.
std::optional<std::string> locate(const std::string& fileOrId, const std::string& folder);

// Reads a scan from a file of any kind Vessora opens: a saved scan, or the
// JSON export of ncdu and the tools that write its format (plain, gzip or
// zstd). Nothing, with the reason in `error`, when it cannot be read.
std::optional<SavedScan> load(const std::string& path, std::string& error);

} // namespace vessora::ScanHistory
