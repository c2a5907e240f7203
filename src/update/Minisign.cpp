#include "update/Minisign.h"

#include <sodium.h>

#include <vector>

namespace vessora::Minisign {

namespace {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        result.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return result;
}

std::optional<std::vector<unsigned char>> base64(std::string_view text) {
    // An empty line would hand libsodium a null output buffer, which it must
    // never be given; no key or signature line is empty anyway.
    if (text.empty()) return std::nullopt;
    std::vector<unsigned char> out(text.size());
    size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size())
        return std::nullopt;
    out.resize(length);
    return out;
}

bool ready() {
    static const bool initialised = sodium_init() >= 0;
    return initialised;
}

constexpr std::string_view untrustedPrefix = "untrusted comment:";
constexpr std::string_view trustedPrefix = "trusted comment: ";

} // namespace

std::optional<PublicKey> parsePublicKey(std::string_view text) {
    for (std::string_view line : lines(text)) {
        if (line.empty() || line.starts_with(untrustedPrefix)) continue;
        auto bytes = base64(line);
        if (!bytes || bytes->size() != 42 || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') return std::nullopt;
        PublicKey key;
        std::copy(bytes->begin() + 2, bytes->begin() + 10, key.keyId.begin());
        std::copy(bytes->begin() + 10, bytes->end(), key.key.begin());
        return key;
    }
    return std::nullopt;
}

std::optional<Signature> parseSignature(std::string_view text) {
    auto all = lines(text);
    while (!all.empty() && all.back().empty()) all.pop_back();
    if (all.size() != 4 || !all[0].starts_with(untrustedPrefix) || !all[2].starts_with(trustedPrefix))
        return std::nullopt;
    auto main = base64(all[1]);
    auto global = base64(all[3]);
    // "ED": the message is prehashed with BLAKE2b-512.
    if (!main || main->size() != 74 || (*main)[0] != 'E' || (*main)[1] != 'D' || !global || global->size() != 64)
        return std::nullopt;
    Signature signature;
    std::copy(main->begin() + 2, main->begin() + 10, signature.keyId.begin());
    std::copy(main->begin() + 10, main->end(), signature.signature.begin());
    signature.trustedComment = std::string(all[2].substr(trustedPrefix.size()));
    std::copy(global->begin(), global->end(), signature.globalSignature.begin());
    return signature;
}

bool verify(const PublicKey& key, const Signature& signature, std::string_view message) {
    if (!ready() || key.keyId != signature.keyId) return false;
    unsigned char digest[crypto_generichash_BYTES_MAX];
    static_assert(sizeof digest == 64);
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       nullptr, 0);
    if (crypto_sign_verify_detached(signature.signature.data(), digest, sizeof digest, key.key.data()) != 0)
        return false;
    std::string global(signature.signature.begin(), signature.signature.end());
    global += signature.trustedComment;
    return crypto_sign_verify_detached(signature.globalSignature.data(),
                                       reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                                       key.key.data()) == 0;
}

} // namespace vessora::Minisign
