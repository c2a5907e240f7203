// Percent-encoding of Trash paths: only unreserved characters, "/" and
// %XX escapes come out, and decoding gives the path's bytes back.

#include "FuzzCheck.h"
#include "platform/Trash.h"

#include <string>

using namespace vessora;

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);
    const std::string encoded = Trash::encodePath(in);
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        if (c == '%') {
            FUZZ_CHECK(i + 2 < encoded.size());
            int high = hexValue(encoded[i + 1]), low = hexValue(encoded[i + 2]);
            FUZZ_CHECK(high >= 0 && low >= 0);
            char byte = char(high * 16 + low);
            // An escape is used only where it is needed.
            FUZZ_CHECK(!unreserved(byte) && byte != '/');
            decoded += byte;
            i += 2;
        } else {
            FUZZ_CHECK(unreserved(c) || c == '/');
            decoded += c;
        }
    }
    FUZZ_CHECK(decoded == in);
    return 0;
}
