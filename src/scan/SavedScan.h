#pragma once
// A scan kept for later: the tree of one scan with what it was of and when,
// and what a stored scan says about itself without its tree.

#include "scan/FSNode.h"

#include <cstdint>
#include <string>

namespace vessora {

struct SavedScan {
    std::string root;   // the scanned folder's standardized absolute path
    int64_t time = 0;   // when the scan completed, seconds since 1970
    std::string source; // what made it: "Vessora 0.1.0", "ncdu 1.18"
    FSNode::Ptr tree;   // folders, files of at least 1 MiB, lumps of the rest
};

struct SavedScanInfo {
    std::string file; // where it is stored
    std::string id;   // the file's name without its extension: how history entries are named
    std::string root;
    int64_t time = 0;
    std::string source;
    int64_t size = 0;        // the root's allocated bytes
    int64_t logicalSize = 0; // and logical bytes
    int64_t fileCount = 0;
    int64_t dirCount = 0;
    int64_t nodes = 0;     // nodes of the stored tree
    int64_t fileBytes = 0; // the stored file's own size
};

} // namespace vessora
