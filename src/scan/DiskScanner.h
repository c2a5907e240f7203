#pragma once
// Measures folders. Every part of the system that needs the size of a location
// asks quickSize; the Browse screen's tree comes from scan.

#include "scan/ScanOptions.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vessora::DiskScanner {

// Allocated bytes of the file or folder at `path` (links never followed, one
// file system, skipped locations left out); 0 when it cannot be examined.
int64_t quickSize(const std::string& path, const ScanOptions& options = {},
                  const std::function<bool()>& cancelled = {});

// The name shown for a scan root.
std::string displayName(const std::string& path);

} // namespace vessora::DiskScanner
