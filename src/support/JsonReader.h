#pragma once
// A small JSON reader for the app's own state files. Strings come back as
// bytes: the writer's \udcXX escapes turn back into the raw byte they stand
// for, so paths that are not UTF-8 survive a round trip. Numbers are read as
// JSON writes them ("-0.5e3", never "01", "+1", ".5", "1." or "Infinity") and
// must be finite; whole numbers can be read exactly, checked against a range,
// before anything converts them.

#include "support/Utf8.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object };
    Kind kind = Kind::null;
    bool boolean = false;
    double number = 0;  // finite
    std::string string; // a string's bytes; for a number, its text as written
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    // The member `name` of an object, or nothing.
    const JsonValue* member(const std::string& name) const;
    // The member as text, or nothing when absent or not a string.
    std::optional<std::string> text(const std::string& name) const;
    // A number written as a whole number (no fraction or exponent) within
    // [min, max], read exactly; nothing for anything else.
    std::optional<int64_t> integer(int64_t min, int64_t max) const;
    std::optional<uint64_t> unsignedInteger() const;
};

// Why an escape in a JSON string could not be read.
enum class JsonEscapeError { none, end, unknown, notHex, halfCharacter };

// Reads one escape of a JSON string, its backslash already read: `next()`
// gives each following character as an int (negative at the end of the
// text), and the bytes the escape stands for are appended to `out`, \udcXX
// giving back the raw byte XX the writer escaped. Shared by the document
// reader and the streaming reader of scan exports.
template <typename Next> JsonEscapeError readJsonEscape(Next&& next, std::string& out) {
    auto hex4 = [&](unsigned& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = next();
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= unsigned(c - 'A' + 10);
            else
                return false;
        }
        return true;
    };
    const int e = next();
    switch (e) {
    case '"': out += '"'; return JsonEscapeError::none;
    case '\\': out += '\\'; return JsonEscapeError::none;
    case '/': out += '/'; return JsonEscapeError::none;
    case 'b': out += '\b'; return JsonEscapeError::none;
    case 'f': out += '\f'; return JsonEscapeError::none;
    case 'n': out += '\n'; return JsonEscapeError::none;
    case 'r': out += '\r'; return JsonEscapeError::none;
    case 't': out += '\t'; return JsonEscapeError::none;
    case 'u': break;
    default: return e < 0 ? JsonEscapeError::end : JsonEscapeError::unknown;
    }
    unsigned code = 0;
    if (!hex4(code)) return JsonEscapeError::notHex;
    if (code >= 0xdc80 && code <= 0xdcff) {
        out += char(code - 0xdc00);
    } else if (code >= 0xd800 && code <= 0xdbff) {
        unsigned low = 0;
        if (next() != '\\' || next() != 'u' || !hex4(low) || low < 0xdc00 || low > 0xdfff)
            return JsonEscapeError::halfCharacter;
        Utf8::append(out, 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00));
    } else if (code >= 0xdc00 && code <= 0xdfff) {
        return JsonEscapeError::halfCharacter;
    } else {
        Utf8::append(out, code);
    }
    return JsonEscapeError::none;
}

// The document, or nothing when it is not exactly one valid JSON value.
// Nesting deeper than maxJsonDepth levels is refused.
inline constexpr int maxJsonDepth = 64;
std::optional<JsonValue> parseJson(std::string_view text);

} // namespace vessora
