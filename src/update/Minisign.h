#pragma once
// Verification of minisign signatures in process (libsodium): Ed25519 over the
// BLAKE2b-512 digest of the message (the "ED" algorithm), plus the global
// signature that binds the trusted comment to it. Legacy unhashed signatures
// are refused.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::Minisign {

struct PublicKey {
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};
};

struct Signature {
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 64> signature{};
    std::string trustedComment; // the text after "trusted comment: "
    std::array<unsigned char, 64> globalSignature{};
};

// Accepts a public key file's text (comment line and key line) or the bare
// base64 key line.
std::optional<PublicKey> parsePublicKey(std::string_view text);
std::optional<Signature> parseSignature(std::string_view text);

// True when `signature` was made by `key` over `message` and its trusted
// comment is the one that was signed.
bool verify(const PublicKey& key, const Signature& signature, std::string_view message);

} // namespace vessora::Minisign
