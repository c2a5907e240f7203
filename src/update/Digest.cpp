#include "update/Digest.h"

#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>

namespace vessora::Digest {

namespace {

// Idempotent and thread-safe; picks the fastest implementations once.
void ensureSodium() {
    static const int initialised = sodium_init();
    (void)initialised;
}

std::string hex(const unsigned char* bytes, size_t count) {
    std::string text(count * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), bytes, count);
    text.pop_back();
    return text;
}

} // namespace

std::string sha256Hex(std::string_view bytes) {
    ensureSodium();
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(out, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return hex(out, sizeof out);
}

std::optional<std::string> sha256OfFile(const std::string& path) {
    ensureSodium();
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    unsigned char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        crypto_hash_sha256_update(&state, buffer, static_cast<unsigned long long>(got));
    }
    ::close(fd);
    unsigned char out[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, out);
    return hex(out, sizeof out);
}

} // namespace vessora::Digest
