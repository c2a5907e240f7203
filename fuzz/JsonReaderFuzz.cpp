// The JSON reader of the app's state files: what it accepts is JSON as JSON
// defines it. Every number it returns was written in JSON's number grammar and
// is finite, containers nest at most maxJsonDepth deep, and whole numbers read
// exactly agree with their value.

#include "FuzzCheck.h"
#include "support/JsonReader.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

using namespace vessora;

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// JSON's number grammar, checked on its own.
bool isJsonNumber(std::string_view s) {
    size_t i = 0;
    auto digits = [&] {
        size_t from = i;
        while (i < s.size() && digit(s[i])) ++i;
        return i > from;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (i < s.size() && s[i] == '0')
        ++i;
    else if (i >= s.size() || s[i] < '1' || s[i] > '9' || !digits())
        return false;
    if (i < s.size() && s[i] == '.' && (++i, !digits())) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == s.size();
}

void check(const JsonValue& v, int depth) {
    switch (v.kind) {
    case JsonValue::Kind::number: {
        FUZZ_CHECK(isJsonNumber(v.string));
        FUZZ_CHECK(std::isfinite(v.number));
        if (auto whole = v.integer(INT64_MIN, INT64_MAX); whole && std::llabs(*whole) < (int64_t(1) << 53))
            FUZZ_CHECK(double(*whole) == v.number);
        if (auto whole = v.unsignedInteger(); whole && *whole < (uint64_t(1) << 53))
            FUZZ_CHECK(double(*whole) == v.number);
        break;
    }
    case JsonValue::Kind::array:
        FUZZ_CHECK(depth < maxJsonDepth);
        for (const JsonValue& element : v.array) check(element, depth + 1);
        break;
    case JsonValue::Kind::object:
        FUZZ_CHECK(depth < maxJsonDepth);
        for (const auto& [key, member] : v.object) check(member, depth + 1);
        break;
    default: break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);
    const auto document = parseJson(in);
    if (document) check(*document, 0);

    // A lone number in the grammar whose value a double holds is accepted.
    if (isJsonNumber(in)) {
        const std::string text(in);
        errno = 0;
        const double value = std::strtod(text.c_str(), nullptr);
        if (errno == 0 && std::isfinite(value) && (value == 0 || std::fabs(value) >= DBL_MIN))
            FUZZ_CHECK(document && document->kind == JsonValue::Kind::number && document->number == value);
    }
    return 0;
}
