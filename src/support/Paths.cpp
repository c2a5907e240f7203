#include "support/Paths.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace vessora::Paths {

std::string home() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    struct passwd pw, *result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return "/";
}

std::string standardize(std::string_view input) {
    if (input.empty()) return {};
    std::string path;
    if (input == "~" || input.starts_with("~/"))
        path = home() + std::string(input.substr(1));
    else
        path = std::string(input);

    const bool absolute = path.starts_with('/');
    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    // A relative result that would start with a "~" component ("./~" once
    // "." is dropped) keeps a "./" in front: it names a folder called "~", and
    // standardizing the result again must not expand it to the home folder.
    std::string out = absolute ? "/" : (!parts.empty() && parts.front() == "~") ? "./" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    if (out.empty()) return absolute ? "/" : ".";
    return out;
}

std::string join(std::string_view base, std::string_view component) {
    while (component.starts_with('/')) component.remove_prefix(1);
    while (component.size() > 1 && component.ends_with('/')) component.remove_suffix(1);
    std::string out(base);
    while (out.size() > 1 && out.ends_with('/')) out.pop_back();
    if (component.empty()) return out;
    if (!out.empty() && out != "/") out += '/';
    out += component;
    return out;
}

std::string lastComponent(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    if (path == "/") return "/";
    size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string parent(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {};
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

namespace {
// Index of the extension's dot within the path, or npos.
size_t extensionDot(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    size_t nameStart = path.rfind('/');
    nameStart = nameStart == std::string_view::npos ? 0 : nameStart + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot <= nameStart || dot + 1 >= path.size()) return std::string_view::npos;
    return dot;
}
} // namespace

std::string extension(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    size_t dot = extensionDot(path);
    return dot == std::string_view::npos ? std::string{} : std::string(path.substr(dot + 1));
}

std::string deletingExtension(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
    size_t dot = extensionDot(path);
    return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

bool isInside(std::string_view path, std::string_view ancestor) {
    std::string p = standardize(path), a = standardize(ancestor);
    if (p == a) return true;
    if (a == "/") return p.starts_with('/');
    return p.size() > a.size() && p.compare(0, a.size(), a) == 0 && p[a.size()] == '/';
}

namespace {

std::string baseFolder(const char* variable, std::string_view belowHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return standardize(value);
    return standardize(join(home(), belowHome));
}

} // namespace

std::string dataHome() { return baseFolder("XDG_DATA_HOME", ".local/share"); }
std::string configHome() { return baseFolder("XDG_CONFIG_HOME", ".config"); }
std::string cacheHome() { return baseFolder("XDG_CACHE_HOME", ".cache"); }
std::string stateHome() { return baseFolder("XDG_STATE_HOME", ".local/state"); }

std::optional<std::string> userDir(std::string_view key) {
    const std::string homeDir = home();
    std::ifstream in(join(configHome(), "user-dirs.dirs"));
    const std::string wanted = "XDG_" + std::string(key) + "_DIR=";
    std::string line;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        std::string_view l(line);
        l.remove_prefix(start);
        if (!l.starts_with(wanted)) continue;
        l.remove_prefix(wanted.size());
        if (l.size() >= 2 && l.front() == '"') {
            size_t close = l.find('"', 1);
            if (close == std::string_view::npos) return std::nullopt;
            l = l.substr(1, close - 1);
        }
        std::string value;
        for (size_t i = 0; i < l.size(); ++i) {
            if (l[i] == '\\' && i + 1 < l.size()) ++i;
            value += l[i];
        }
        if (value.starts_with("$HOME")) value = homeDir + value.substr(5);
        // A folder set to the home folder itself is switched off.
        if (value.starts_with('/') && standardize(value) != standardize(homeDir)) return standardize(value);
        return std::nullopt;
    }
    return std::nullopt;
}

std::string documentsFolder() { return userDir("DOCUMENTS").value_or(join(home(), "Documents")); }

std::string stateFolder() { return join(stateHome(), "vessora"); }

} // namespace vessora::Paths
