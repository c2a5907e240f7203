#pragma once
// Helpers shared by the scanner's tests.

#include "scan/DiskScanner.h"
#include "scan/FSNode.h"
#include "scan/ScanStats.h"

#include <string>
#include <tuple>

namespace vessora::test {

// Checks the tree invariants (sums, counts, lumps, skipped nodes, parents)
// everywhere below `root`; returns a description of the first violation.
std::string treeProblem(const FSNode& root);

// A scan of `path`, its counters in `stats` when given.
FSNode::Ptr scan(const std::string& path, ScanStats* stats = nullptr, const ScanOptions& options = {});

// The child of `node` with this name, or null.
const FSNode* child(const FSNode& node, const std::string& name);
// A node's size, file count and folder count, to compare in one go.
inline std::tuple<int64_t, int64_t, int64_t> counts(const FSNode& n) { return {n.size, n.fileCount, n.dirCount}; }

// A chain of `depth` folders named `name` below `top`, each also holding an
// empty folder named `side` when one is given; returns the allocated size of
// a 2 MiB file written at the bottom.
int64_t makeChain(const std::string& top, int depth, const std::string& name = "d", const std::string& side = {});
// Splits such a chain (of folders named `name`) into pieces short enough for
// ordinary removal.
void splitChain(const std::string& top, int depth, const std::string& name = "d");

// Of two names, the one a folder holding both lists first (directory order
// follows a hash of the name on many file systems).
std::string listedFirst(const std::string& scratch, const std::string& a, const std::string& b);

// Runs later walks on this many threads (0: one per core).
void walkThreads(unsigned threads);
// Makes later walks resize their pool of threads at every step, through a
// fixed pattern of sizes between 1 and 16, instead of measuring (false: measure).
void walkSwingingPool(bool on);
// Makes the next walks cancel `stats` from inside the walk at its `step`th
// pacing point, with the pool held at one thread or swinging as above; a
// null `stats` turns this off. A cancel that does not race the walk's end.
void walkCancelAtStep(ScanStats* stats, unsigned step, bool swinging);
// Cuts directories into slices of this many entries in later walks (0: default).
void walkSlices(unsigned entries);
// `count` files of `bytes` bytes named f0, f1, ... in `folder` (created),
// written without waiting for the disk.
void writeManyFiles(const std::string& folder, int count, int bytes = 1);
} // namespace vessora::test
