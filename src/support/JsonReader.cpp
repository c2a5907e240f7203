#include "support/JsonReader.h"

#include <charconv>
#include <cmath>

namespace vessora {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    std::optional<JsonValue> document() {
        JsonValue value;
        if (!parseValue(value, 0)) return std::nullopt;
        skipSpace();
        if (i_ != s_.size()) return std::nullopt;
        return value;
    }

private:
    void skipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
    }
    bool literal(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    bool parseString(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        ++i_;
        while (i_ < s_.size()) {
            char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            auto next = [&] { return i_ < s_.size() ? int(static_cast<unsigned char>(s_[i_++])) : -1; };
            if (readJsonEscape(next, out) != JsonEscapeError::none) return false;
        }
        return false;
    }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    // number = [ "-" ] ( "0" / [1-9] *DIGIT ) [ "." 1*DIGIT ] [ ( "e" / "E" ) [ "+" / "-" ] 1*DIGIT ]
    bool parseNumber(JsonValue& v) {
        const size_t start = i_;
        auto digits = [&] {
            size_t from = i_;
            while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
            return i_ > from;
        };
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        if (i_ < s_.size() && s_[i_] == '0')
            ++i_;
        else if (!digits())
            return false;
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            if (!digits()) return false;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (!digits()) return false;
        }
        v.string.assign(s_.substr(start, i_ - start));
        // from_chars ignores the locale; a value beyond double's range
        // ("1e999") is refused rather than taken as infinity.
        const char* first = v.string.data();
        const char* last = first + v.string.size();
        auto [end, error] = std::from_chars(first, last, v.number);
        return error == std::errc() && end == last && std::isfinite(v.number);
    }
    bool parseValue(JsonValue& v, int depth) {
        skipSpace();
        if (i_ >= s_.size()) return false;
        char c = s_[i_];
        // Containers nest at most maxJsonDepth deep, which also bounds the recursion.
        if ((c == '{' || c == '[') && depth >= maxJsonDepth) return false;
        if (c == '{') {
            ++i_;
            v.kind = JsonValue::Kind::object;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
            while (true) {
                skipSpace();
                std::string key;
                if (!parseString(key)) return false;
                skipSpace();
                if (i_ >= s_.size() || s_[i_++] != ':') return false;
                JsonValue member;
                if (!parseValue(member, depth + 1)) return false;
                v.object[key] = std::move(member);
                skipSpace();
                if (i_ >= s_.size()) return false;
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (s_[i_] == '}') return ++i_, true;
                return false;
            }
        }
        if (c == '[') {
            ++i_;
            v.kind = JsonValue::Kind::array;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
            while (true) {
                JsonValue element;
                if (!parseValue(element, depth + 1)) return false;
                v.array.push_back(std::move(element));
                skipSpace();
                if (i_ >= s_.size()) return false;
                if (s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (s_[i_] == ']') return ++i_, true;
                return false;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::string;
            return parseString(v.string);
        }
        if (literal("true")) {
            v.kind = JsonValue::Kind::boolean;
            v.boolean = true;
            return true;
        }
        if (literal("false")) {
            v.kind = JsonValue::Kind::boolean;
            return true;
        }
        if (literal("null")) return true;
        v.kind = JsonValue::Kind::number;
        return parseNumber(v);
    }

    std::string_view s_;
    size_t i_ = 0;
};

} // namespace

const JsonValue* JsonValue::member(const std::string& name) const {
    if (kind != Kind::object) return nullptr;
    auto it = object.find(name);
    return it == object.end() ? nullptr : &it->second;
}

std::optional<std::string> JsonValue::text(const std::string& name) const {
    const JsonValue* m = member(name);
    if (!m || m->kind != Kind::string) return std::nullopt;
    return m->string;
}

std::optional<uint64_t> JsonValue::unsignedInteger() const {
    if (kind != Kind::number || string.empty() || string.front() == '-') return std::nullopt;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(string.data(), string.data() + string.size(), value);
    if (error != std::errc() || end != string.data() + string.size()) return std::nullopt;
    return value;
}

std::optional<int64_t> JsonValue::integer(int64_t min, int64_t max) const {
    if (kind != Kind::number) return std::nullopt;
    int64_t value = 0;
    auto [end, error] = std::from_chars(string.data(), string.data() + string.size(), value);
    if (error != std::errc() || end != string.data() + string.size() || value < min || value > max) return std::nullopt;
    return value;
}

std::optional<JsonValue> parseJson(std::string_view text) { return Parser(text).document(); }

} // namespace vessora
