#include "support/Utf8.h"

namespace vessora::Utf8 {

size_t sequenceLength(std::string_view s, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    if (c < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F; // no UTF-16 surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + len > s.size()) return 0;
    if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    return len;
}

void append(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

std::string printable(std::string_view text, bool escapeBackslash) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    auto escapeByte = [&](unsigned char byte) {
        out += "\\x";
        out += hex[byte >> 4];
        out += hex[byte & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t length = sequenceLength(text, i);
        if (length == 1) {
            switch (c) {
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += escapeBackslash ? "\\\\" : "\\"; break;
            default:
                if (c >= 0x20 && c < 0x7F)
                    out += char(c);
                else
                    escapeByte(c);
            }
            ++i;
            continue;
        }
        if (length == 0) {
            escapeByte(c);
            ++i;
            continue;
        }
        const auto second = static_cast<unsigned char>(text[i + 1]);
        // C1 controls (U+0080 to U+009F) can drive a terminal as C0 ones do.
        if (c == 0xC2 && second < 0xA0) {
            escapeByte(c);
            escapeByte(second);
        } else if (length == 3 && c == 0xE2 && second == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            // U+2028 and U+2029 break lines wherever text is laid out.
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

bool isValid(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t n = sequenceLength(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

} // namespace vessora::Utf8
