#include "apps/LeftoverFinder.h"

#include "apps/Listing.h"
#include "platform/ItemHandle.h"
#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "support/FolderListing.h"
#include "support/Icu.h"
#include "support/Paths.h"
#include "support/Utf8.h"

#include <unicode/ubrk.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace vessora::LeftoverFinder {
namespace {

struct Candidate {
    std::string text;
    MatchConfidence confidence;
};

std::vector<std::string> same(const std::string& c) { return {c}; }
std::vector<std::string> withSuffix(const std::string& c, const char* suffix) { return {c + suffix}; }

std::vector<ExactRule> exactRulesFor(const std::string& home) {
    auto plist = [](const std::string& c) { return withSuffix(c, ".plist"); };
    auto lib = [&home](const char* rest) { return Paths::join(home, std::string("Library/") + rest); };
    return {
        {lib("Application Support"), "Application Support", same},
        {lib("Caches"), "Cache", same},
        {lib("Containers"), "Sandbox container", same},
        {lib("Application Scripts"), "App scripts", same},
        {lib("HTTPStorages"), "Web storage",
         [](const std::string& c) {
             return std::vector<std::string>{c, c + ".binarycookies"};
         }},
        {lib("WebKit"), "WebKit data", same},
        {lib("Logs"), "Logs", same},
        {lib("Preferences"), "Preferences", plist},
        {lib("Saved Application State"), "Saved state",
         [](const std::string& c) { return withSuffix(c, ".savedState"); }},
        {lib("Cookies"), "Cookies", [](const std::string& c) { return withSuffix(c, ".binarycookies"); }},
        {"/Library/Application Support", "Application Support (system)", same},
        {"/Library/Caches", "Cache (system)", same},
        {"/Library/Preferences", "Preferences (system)", plist},
        {"/Library/Logs", "Logs (system)", same},
    };
}

std::vector<ScanRule> scanRulesFor(const std::string& home) {
    return {
        {Paths::join(home, "Library/Group Containers"), "Group container", false},
        {Paths::join(home, "Library/Preferences/ByHost"), "Preferences (per host)", false},
        {Paths::join(home, "Library/LaunchAgents"), "Login item", false},
        {"/Library/LaunchAgents", "Login item (system)", true},
        {"/Library/LaunchDaemons", "Background daemon", true},
        {"/Library/PrivilegedHelperTools", "Privileged helper", true},
        {"/private/var/db/receipts", "Installer receipt", true},
    };
}

// User-perceived characters (grapheme clusters), so "Café" counts four
// whether its accent is precomposed or not.
size_t characterCount(const std::string& text) {
    const std::u16string s = Icu::fromUtf8(text);
    UErrorCode status = U_ZERO_ERROR;
    // In the root locale.
    Icu::Owned<UBreakIterator, ubrk_close> it(ubrk_open(UBRK_CHARACTER, "", s.data(), int32_t(s.size()), &status));
    if (U_FAILURE(status) || !it) return size_t(u_countChar32(s.data(), int32_t(s.size())));
    size_t count = 0;
    for (int32_t p = ubrk_next(it.get()); p != UBRK_DONE; p = ubrk_next(it.get())) ++count;
    return count;
}

// Case-insensitive equality without locale rules: full case folding, with
// canonically equivalent spellings (precomposed or combining accents) equal.
// Names that are not UTF-8 are compared byte for byte, ignoring ASCII case.
bool equalIgnoringCase(const std::string& a, const std::string& b) {
    if (!Utf8::isValid(a) || !Utf8::isValid(b)) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
                   return lower(x) == lower(y);
               });
    }
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status) || !nfd) return false;
    auto folded = [nfd](const std::string& name) -> std::optional<std::u16string> {
        const std::u16string text = Icu::fromUtf8(name);
        auto lower = Icu::written([&text](UChar* buffer, int32_t capacity, UErrorCode* error) {
            return u_strFoldCase(buffer, capacity, text.data(), int32_t(text.size()), U_FOLD_CASE_DEFAULT, error);
        });
        if (!lower) return std::nullopt;
        return Icu::written([&lower, nfd](UChar* buffer, int32_t capacity, UErrorCode* error) {
            return unorm2_normalize(nfd, lower->data(), int32_t(lower->size()), buffer, capacity, error);
        });
    };
    const auto x = folded(a);
    const auto y = folded(b);
    return x && y && *x == *y;
}

// The bundle identifier b owns an entry called `name` when name is b or
// "group." + b, alone or followed by a dot. Tested on the stem and on the full
// name, so that a folder named exactly b.something-without-extension matches too.
bool matchesIdentifier(const std::string& name, const std::string& b) {
    auto owns = [&b](const std::string& s) {
        for (const std::string& prefix : {b, "group." + b})
            if (s == prefix || (s.size() > prefix.size() && s.starts_with(prefix) && s[prefix.size()] == '.'))
                return true;
        return false;
    };
    return owns(name) || owns(Paths::deletingExtension(name));
}

bool matchesName(const std::string& name, const std::string& n) {
    return equalIgnoringCase(Paths::deletingExtension(name), n) || equalIgnoringCase(name, n);
}

// A candidate comes from the bundle's own Info.plist; a name that is not a
// single path component would probe somewhere else entirely ("../../Documents").
bool isSingleComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::vector<Candidate> candidatesFor(const InstalledApp& app) {
    std::vector<Candidate> result;
    if (app.bundleID && !app.bundleID->empty()) result.push_back({*app.bundleID, MatchConfidence::exact});
    if (characterCount(app.name) >= 4) result.push_back({app.name, MatchConfidence::likely});
    std::string stem = Paths::deletingExtension(Paths::lastComponent(app.url));
    if (stem != app.name && characterCount(stem) >= 4) result.push_back({stem, MatchConfidence::likely});
    return result;
}

// Keyed by path, in discovery order. An exact match replaces a likely one for
// the same path; otherwise the first found stays.
class Collected {
public:
    void insert(LeftoverItem item) {
        auto [it, added] = index_.emplace(item.url, items_.size());
        if (added)
            items_.push_back(std::move(item));
        else if (items_[it->second].confidence == MatchConfidence::likely && item.confidence == MatchConfidence::exact)
            items_[it->second] = std::move(item);
    }
    std::vector<LeftoverItem> take() { return std::move(items_); }

private:
    std::vector<LeftoverItem> items_;
    std::unordered_map<std::string, size_t> index_;
};

} // namespace

std::vector<ExactRule> exactRules() { return exactRulesFor(Paths::home()); }
std::vector<ScanRule> scanRules() { return scanRulesFor(Paths::home()); }

const char* label(MatchConfidence confidence) { return confidence == MatchConfidence::exact ? "exact" : "likely"; }

std::vector<LeftoverItem> leftovers(const InstalledApp& app, bool measure) { return leftovers(app, measure, {}); }

std::vector<LeftoverItem> leftovers(const InstalledApp& app, bool measure, const std::vector<InstalledApp>& installed) {
    if (PlatformTables::current().apps.source == AppSource::desktopEntries) {
        std::vector<LeftoverItem> items = desktopLeftovers(app, installed);
        measureAndSort(items, measure);
        return items;
    }
    const std::vector<Candidate> candidates = candidatesFor(app);
    if (candidates.empty()) return {};
    // One reading of the home folder for the whole call, so both tables and
    // the administrator test agree even if $HOME changes meanwhile.
    const std::string home = Paths::home();
    Collected found;

    for (const ExactRule& rule : exactRulesFor(home)) {
        const bool requiresAdmin = !Paths::isInside(rule.directory, home);
        for (const Candidate& candidate : candidates) {
            for (const std::string& name : rule.names(candidate.text)) {
                if (!isSingleComponent(name)) continue;
                std::string path = Paths::join(rule.directory, name);
                if (!Listing::exists(path)) continue;
                found.insert({std::move(path), rule.category, candidate.confidence, 0, requiresAdmin});
            }
        }
    }

    for (const ScanRule& rule : scanRulesFor(home)) {
        for (const std::string& name : FolderListing::namesOrEmpty(rule.directory)) {
            std::optional<MatchConfidence> best;
            for (const Candidate& candidate : candidates) {
                bool matched = candidate.confidence == MatchConfidence::exact ? matchesIdentifier(name, candidate.text)
                                                                              : matchesName(name, candidate.text);
                if (matched && (!best || candidate.confidence > *best)) best = candidate.confidence;
            }
            if (!best) continue;
            std::string path = Paths::join(rule.directory, name);
            if (!Listing::exists(path)) continue;
            found.insert({std::move(path), rule.category, *best, 0, rule.requiresAdmin});
        }
    }

    std::vector<LeftoverItem> items = found.take();
    measureAndSort(items, measure);
    return items;
}

void measureAndSort(std::vector<LeftoverItem>& items, bool measure) {
    if (measure) {
        const ScanOptions options;
        for (LeftoverItem& item : items) {
            IdentifiedItem identified = identify(item.url);
            item.url = std::move(identified.path);
            item.identity = identified.identity;
            item.size = DiskScanner::quickSize(item.url, options);
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const LeftoverItem& a, const LeftoverItem& b) {
        if (a.confidence != b.confidence) return a.confidence > b.confidence;
        return a.size > b.size;
    });
}

} // namespace vessora::LeftoverFinder
