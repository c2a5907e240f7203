#pragma once
// Unpacks an update archive (zip) with libarchive into a folder, refusing
// anything that could write outside it or exhaust the disk. Every entry is
// checked before a single byte is written.

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

// `folder` must exist. Refused: entries with an absolute path, a ".."
// component or an empty name; links (symbolic or hard) whose target leaves the
// folder; entries below a link of the archive; devices, pipes and sockets; more
// entries or more bytes than `limits`. After a refusal part of the archive may
// already be in `folder`; the caller discards it.
Result unpack(const std::string& archive, const std::string& folder, const Limits& limits = {});

} // namespace vessora::ArchiveUnpacker
