#pragma once
// Reading a whole file into memory: the one reader for the small files the
// engines consult (tables under /proc and /sys, records, metadata).

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace vessora::WholeFile {

constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();

// The bytes of the regular file at `path` (links followed), read to its end,
// so that the kernel's own files, which report a size of 0, read whole too.
// Nothing when it cannot be opened or read, is not a regular file, or holds
// more than `limit` bytes; errno then says why (EFBIG for too large, EINVAL
// for not a regular file). The file is opened without blocking, so a FIFO or
// device planted under an expected name never hangs the reader.
std::optional<std::string> read(const std::string& path, int64_t limit = kNoLimit);

// The same for `name` in the folder open as `dirFd`; a link there is not
// followed (reading it fails).
std::optional<std::string> readAt(int dirFd, const std::string& name, int64_t limit = kNoLimit);

} // namespace vessora::WholeFile
