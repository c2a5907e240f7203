#pragma once
// A small JSON reader for the app's own state files. Strings come back as
// bytes: the writer's \udcXX escapes turn back into the raw byte they stand
// for, so paths that are not UTF-8 survive a round trip. Numbers are read as
// JSON writes them ("-0.5e3", never "01", "+1", ".5", "1." or "Infinity") and
// must be finite; whole numbers can be read exactly, checked against a range,
// before anything converts them.

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

// The document, or nothing when it is not exactly one valid JSON value.
// Nesting deeper than maxJsonDepth levels is refused.
inline constexpr int maxJsonDepth = 64;
std::optional<JsonValue> parseJson(std::string_view text);

} // namespace vessora
