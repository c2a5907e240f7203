#include "platform/PlatformTables.h"

#include "support/FolderListing.h"
#include "support/Paths.h"

#include <atomic>
#include <cstdlib>
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>

namespace vessora {

// Each set's data lives in its own file.
const Tables& macosTables();
const Tables& linuxTables();

namespace PlatformTables {

namespace {

TableSet initialSet() {
    if (const char* forced = std::getenv("VESSORA_TABLES"))
        if (auto set = parse(forced)) return *set;
#if defined(__APPLE__)
    return TableSet::macos;
#else
    return TableSet::linux;
#endif
}

// Read by every engine call; written at start-up and by tests.
std::atomic<TableSet>& activeSet() {
    static std::atomic<TableSet> set{initialSet()};
    return set;
}

std::string runtimeFolder() {
    if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value && *value == '/') return Paths::standardize(value);
    return "/run/user/" + std::to_string(::getuid());
}

std::string userName() {
    if (const char* value = std::getenv("USER"); value && *value) return value;
    return Paths::lastComponent(Paths::home());
}

// The English name of each user folder, below the home folder.
std::string defaultUserDir(std::string_view name) {
    static const std::pair<std::string_view, std::string_view> defaults[] = {
        {"DESKTOP", "Desktop"},   {"DOCUMENTS", "Documents"}, {"DOWNLOAD", "Downloads"},  {"MUSIC", "Music"},
        {"PICTURES", "Pictures"}, {"PUBLICSHARE", "Public"},  {"TEMPLATES", "Templates"}, {"VIDEOS", "Videos"},
    };
    for (const auto& [key, folder] : defaults)
        if (key == name) return Paths::join(Paths::home(), folder);
    return Paths::join(Paths::home(), name);
}

} // namespace

const Tables& of(TableSet set) { return set == TableSet::macos ? macosTables() : linuxTables(); }
const Tables& current() { return of(active()); }
TableSet active() { return activeSet().load(std::memory_order_relaxed); }
void select(TableSet set) { activeSet().store(set, std::memory_order_relaxed); }

std::optional<TableSet> parse(std::string_view name) {
    if (name == "macos") return TableSet::macos;
    if (name == "linux") return TableSet::linux;
    return std::nullopt;
}

std::string userDir(std::string_view name) { return Paths::userDir(name).value_or(defaultUserDir(name)); }

namespace {

// Resolves the root's token; `value` passes the folder a token stands for
// (escaped for a pattern, or as it is).
std::string resolveWith(std::string_view root, std::string (*value)(std::string)) {
    auto rest = [&](size_t tokenLength) {
        std::string_view tail = root.substr(tokenLength);
        return tail.starts_with('/') ? tail.substr(1) : tail;
    };
    auto joined = [](std::string base, std::string_view tail) { return tail.empty() ? base : Paths::join(base, tail); };
    if (root == "~" || root.starts_with("~/")) return joined(value(Paths::home()), rest(1));
    if (root.starts_with("xdg:")) {
        std::string_view token = root.substr(4);
        size_t slash = token.find('/');
        std::string_view name = token.substr(0, slash);
        return joined(value(userDir(name)),
                      slash == std::string_view::npos ? std::string_view() : token.substr(slash + 1));
    }
    struct Variable {
        std::string_view token;
        std::string (*value)();
    };
    static const Variable variables[] = {
        {"$XDG_DATA_HOME", Paths::dataHome},
        {"$XDG_CONFIG_HOME", Paths::configHome},
        {"$XDG_CACHE_HOME", Paths::cacheHome},
        {"$XDG_RUNTIME_DIR", runtimeFolder},
    };
    for (const Variable& v : variables)
        if (root.starts_with(v.token) && (root.size() == v.token.size() || root[v.token.size()] == '/'))
            return joined(value(v.value()), rest(v.token.size()));
    std::string out(root);
    if (size_t at = out.find("$USER"); at != std::string::npos) out.replace(at, 5, value(userName()));
    return out;
}

std::string asItIs(std::string folder) { return folder; }
std::string escaped(std::string folder) { return escapePattern(folder); }

} // namespace

std::string resolveRoot(std::string_view root) { return resolveWith(root, asItIs); }

std::string resolvePattern(std::string_view root) { return resolveWith(root, escaped); }

std::string escapePattern(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '[' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

bool hasPattern(std::string_view pattern) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\')
            ++i;
        else if (pattern[i] == '*' || pattern[i] == '?' || pattern[i] == '[')
            return true;
    }
    return false;
}

std::string unescapePattern(std::string_view pattern) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\' && i + 1 < pattern.size()) ++i;
        out += pattern[i];
    }
    return out;
}

std::vector<std::string> expandRoot(std::string_view root) {
    // The folders tokens stand for are taken literally: a user folder called
    // "Down*" is that folder, not every folder whose name starts "Down".
    const std::string pattern = resolvePattern(root);
    const std::string last = Paths::lastComponent(pattern);
    if (!hasPattern(last)) return {unescapePattern(pattern)};
    // Only the last component may be a pattern; matches in byte order.
    const std::string folder = unescapePattern(Paths::parent(pattern));
    std::vector<std::string> matches;
    for (const std::string& name : FolderListing::namesOrEmpty(folder))
        if (::fnmatch(last.c_str(), name.c_str(), FNM_PERIOD) == 0) matches.push_back(Paths::join(folder, name));
    return matches;
}

const ChatApp* chatAppFor(const std::string& path) {
    for (const ChatApp& app : current().categories.chatApps)
        for (const char* folder : app.folders)
            if (Paths::isInside(path, resolveRoot(folder))) return &app;
    return nullptr;
}

std::string format(const char* sentence, std::string_view value) {
    std::string out = sentence ? sentence : "";
    for (size_t at = 0; (at = out.find("%s", at)) != std::string::npos; at += value.size()) out.replace(at, 2, value);
    return out;
}

} // namespace PlatformTables
} // namespace vessora
