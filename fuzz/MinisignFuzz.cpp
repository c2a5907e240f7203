// minisign public keys and signatures: any text parses without harm, and a
// parsed key or signature written back in minisign's format parses to the
// same values.

#include "FuzzCheck.h"
#include "update/Minisign.h"

#include <sodium.h>

#include <string>
#include <vector>

using namespace vessora;

namespace {
std::string base64(const std::vector<unsigned char>& bytes) {
    std::string out(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), bytes.data(), bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    out.resize(out.find('\0'));
    return out;
}
template <typename... Parts> std::vector<unsigned char> concat(const Parts&... parts) {
    std::vector<unsigned char> out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);
    auto key = Minisign::parsePublicKey(in);
    auto signature = Minisign::parseSignature(in);

    if (key) {
        const std::string ed = "Ed";
        std::string text = "untrusted comment: minisign public key\n" + base64(concat(ed, key->keyId, key->key)) + "\n";
        auto again = Minisign::parsePublicKey(text);
        FUZZ_CHECK(again && again->keyId == key->keyId && again->key == key->key);
    }
    if (signature) {
        FUZZ_CHECK(signature->trustedComment.find('\n') == std::string::npos);
        const std::string ed = "ED";
        std::string text = "untrusted comment: signature\n" +
                           base64(concat(ed, signature->keyId, signature->signature)) +
                           "\ntrusted comment: " + signature->trustedComment + "\n" +
                           base64(concat(signature->globalSignature)) + "\n";
        auto again = Minisign::parseSignature(text);
        FUZZ_CHECK(again && again->keyId == signature->keyId && again->signature == signature->signature &&
                   again->trustedComment == signature->trustedComment &&
                   again->globalSignature == signature->globalSignature);
    }

    // Split in two, a key file and a signature file, and checked together.
    auto [first, second] = fuzz::halves(in);
    auto pairKey = Minisign::parsePublicKey(first);
    auto pairSignature = Minisign::parseSignature(second);
    if (pairKey && pairSignature) (void)Minisign::verify(*pairKey, *pairSignature, in);
    return 0;
}
