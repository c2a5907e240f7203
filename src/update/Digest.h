#pragma once
// SHA-256 digests through libsodium, as lower-case hexadecimal text.

#include <optional>
#include <string>
#include <string_view>

namespace vessora::Digest {

std::string sha256Hex(std::string_view bytes);

// The digest of a regular file's contents, read without following a final
// symbolic link; nothing when the file cannot be opened or read.
std::optional<std::string> sha256OfFile(const std::string& path);

} // namespace vessora::Digest
