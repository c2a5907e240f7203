#pragma once
// Unpacks an update archive (zip) with libarchive into a folder, refusing
// anything that could write outside it or exhaust the disk.
//
// The archive is read through its central directory only (libarchive's
// seekable zip reader), and each entry is checked in the same pass that writes
// it: a streaming reader and a seekable one can see two different sets of
// entries in one file, so a check made on one view and a write made on another
// would let hidden entries through.

#include <cstdint>
#include <string>

namespace vessora::ArchiveUnpacker {

struct Limits {
    int64_t maxEntries = 200'000;
    int64_t maxTotalBytes = int64_t{4} << 30; // uncompressed
};

struct Result {
    bool ok = false;
    std::string reason; // for the log when not ok
};

// `folder` must exist. Refused: an archive without a central directory, or
// whose central directory and local headers disagree (names, sizes, checksums);
// entries with an absolute path, a ".." component or an empty name, or that
// appear twice; anything but files, folders and symbolic links; setuid, setgid
// and sticky bits, and folders their owner cannot enter and change (they could
// not be cleaned up); links whose target leaves the folder or passes through
// another link of the archive; entries below a link or a file, or that replace
// a folder; more entries or more bytes than `limits`. Permission bits are
// written exactly as the archive gives them, since the bundle's signature
// covers them. After a refusal part of the archive may already be in `folder`;
// the caller discards it.
Result unpack(const std::string& archive, const std::string& folder, const Limits& limits = {});

} // namespace vessora::ArchiveUnpacker
