#include "support/JsonReader.h"

#include <cctype>
#include <cstdlib>

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
            if (c >= '0' && c <= '9') out |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f') out |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') out |= unsigned(c - 'A' + 10);
            else return false;
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
    bool parseNumber(double& out) {
        size_t start = i_;
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' ||
                                  s_[i_] == 'e' || s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-'))
            ++i_;
        std::string digits(s_.substr(start, i_ - start));
        if (digits.empty() || digits == "-") return false;
        char* end = nullptr;
        out = std::strtod(digits.c_str(), &end);
        return end == digits.c_str() + digits.size();
    }
    bool parseValue(JsonValue& v, int depth) {
        if (depth > 64) return false;
        skipSpace();
        if (i_ >= s_.size()) return false;
        char c = s_[i_];
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
                if (s_[i_] == ',') { ++i_; continue; }
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
                if (s_[i_] == ',') { ++i_; continue; }
                if (s_[i_] == ']') return ++i_, true;
                return false;
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::string;
            return parseString(v.string);
        }
        if (literal("true")) { v.kind = JsonValue::Kind::boolean; v.boolean = true; return true; }
        if (literal("false")) { v.kind = JsonValue::Kind::boolean; return true; }
        if (literal("null")) return true;
        v.kind = JsonValue::Kind::number;
        return parseNumber(v.number);
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

std::optional<JsonValue> parseJson(std::string_view text) { return Parser(text).document(); }

} // namespace vessora
