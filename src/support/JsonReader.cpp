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
    bool hex4(unsigned& out) {
        if (i_ + 4 > s_.size()) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s_[i_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= unsigned(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    static void appendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
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
            if (i_ >= s_.size()) return false;
            char e = s_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC80 && cp <= 0xDCFF) { // a raw byte the writer escaped
                    out += char(cp - 0xDC00);
                } else if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low;
                    if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    appendUtf8(out, 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00));
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                } else {
                    appendUtf8(out, cp);
                }
                break;
            }
            default: return false;
            }
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
