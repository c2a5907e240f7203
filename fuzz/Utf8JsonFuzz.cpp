// UTF-8 validation against the table of well-formed byte sequences, and JSON
// quoting: the quoted text is valid UTF-8 and decodes back to the very bytes
// (invalid bytes travel as \udcXX).

#include "FuzzCheck.h"
#include "support/Json.h"
#include "support/Utf8.h"

#include <string>

using namespace vessora;

namespace {

// Length of the well-formed sequence at i, from the Unicode standard's table
// of well-formed UTF-8 byte sequences; 0 when ill-formed.
size_t wellFormedLength(std::string_view s, size_t i) {
    auto at = [&](size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0x100u; };
    auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    unsigned b0 = at(0);
    if (b0 <= 0x7F) return 1;
    if (in(b0, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
    if (in(b0, 0xE0, 0xEF)) return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
    if (in(b0, 0xF0, 0xF4)) return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    return 0;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A strict decoder for the one JSON string `quoted`, mapping \udcXX back to
// the byte XX; nothing when it is not exactly one well-formed string.
bool decode(std::string_view quoted, std::string& out) {
    if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return false;
    quoted = quoted.substr(1, quoted.size() - 2);
    for (size_t i = 0; i < quoted.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(quoted[i]);
        if (c < 0x20 || c == '"') return false;
        if (c != '\\') {
            out += char(c);
            continue;
        }
        if (++i >= quoted.size()) return false;
        switch (quoted[i]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            if (i + 4 >= quoted.size()) return false;
            unsigned code = 0;
            for (size_t k = 1; k <= 4; ++k) {
                int d = hexDigit(quoted[i + k]);
                if (d < 0) return false;
                code = code * 16 + unsigned(d);
            }
            i += 4;
            if (code >= 0xDC80 && code <= 0xDCFF)
                out += char(code - 0xDC00);
            else if (code < 0x80)
                out += char(code);
            else
                return false; // the writer never escapes other characters
            break;
        }
        default: return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);

    bool valid = true;
    for (size_t i = 0; i < in.size();) {
        size_t expected = wellFormedLength(in, i);
        FUZZ_CHECK(Utf8::sequenceLength(in, i) == expected);
        if (expected == 0) {
            valid = false;
            ++i;
        } else {
            i += expected;
        }
    }
    FUZZ_CHECK(Utf8::isValid(in) == valid);

    const std::string quoted = JsonWriter::quote(in);
    FUZZ_CHECK(Utf8::isValid(quoted));
    std::string decoded;
    FUZZ_CHECK(decode(quoted, decoded));
    FUZZ_CHECK(decoded == in);
    return 0;
}
