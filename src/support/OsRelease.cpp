#include "support/OsRelease.h"

#include "support/WholeFile.h"

#include <optional>

namespace vessora::OsRelease {

namespace {

// One shell word, up to unquoted white space; nothing when a quote is left open.
std::optional<std::string> unquote(std::string_view text) {
    std::string value;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                value += c;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < text.size() &&
                       std::string_view("$`\"\\\n").find(text[i + 1]) != std::string_view::npos) {
                value += text[++i];
            } else {
                value += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '\\') {
            if (i + 1 < text.size()) value += text[++i];
        } else if (c == ' ' || c == '\t') {
            break;
        } else {
            value += c;
        }
    }
    if (quote) return std::nullopt;
    return value;
}

} // namespace

std::map<std::string, std::string> parse(std::string_view text) {
    std::map<std::string, std::string> values;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos || line[start] == '#') continue;
        line.remove_prefix(start);
        const size_t equals = line.find('=');
        if (equals == 0 || equals == std::string_view::npos) continue;
        if (auto value = unquote(line.substr(equals + 1)))
            values[std::string(line.substr(0, equals))] = std::move(*value);
    }
    return values;
}

std::map<std::string, std::string> read(const std::string& path) {
    return parse(WholeFile::read(path, 1 << 20).value_or(""));
}

std::string systemName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (auto text = WholeFile::read(path, 1 << 20)) return parse(*text)["NAME"];
    }
    return {};
}

} // namespace vessora::OsRelease
