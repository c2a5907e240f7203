#pragma once
// The plain walk the scanner must agree with: glibc's fts over each top-level
// entry in listing order on one thread, handled entry by entry as described for
// the scanner (with its three corrections: a top-level entry on another file
// system is listed but not entered, a top-level file with several links goes
// through the hard-link set, and an unreadable folder is closed in place).
// Paths must stay below PATH_MAX.

#include "scan/FSNode.h"
#include "scan/ScanOptions.h"
#include "scan/ScanStats.h"

namespace vessora::test {

FSNode::Ptr referenceScan(const std::string& root, const ScanOptions& options, ScanStats& stats);

// The quick size by the same plain walk (one file system, skipped locations
// left out, every link counted).
int64_t referenceQuickSize(const std::string& path, const ScanOptions& options);

// The first difference between two sorted trees (fields, children and their
// order), or empty.
std::string treeDifference(const FSNode& actual, const FSNode& expected);

} // namespace vessora::test
