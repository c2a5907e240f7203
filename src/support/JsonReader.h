#pragma once
// A small JSON reader for the app's own state files. Strings come back as
// bytes: the writer's \udcXX escapes turn back into the raw byte they stand
// for, so paths that are not UTF-8 survive a round trip.

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
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    // The member `name` of an object, or nothing.
    const JsonValue* member(const std::string& name) const;
    // The member as text, or nothing when absent or not a string.
    std::optional<std::string> text(const std::string& name) const;
};

// The document, or nothing when it is not exactly one valid JSON value.
// Nesting deeper than 64 levels is refused.
std::optional<JsonValue> parseJson(std::string_view text);

} // namespace vessora
