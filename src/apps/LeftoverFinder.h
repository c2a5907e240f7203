#pragma once
// Finds what an application keeps outside its bundle (support folders, caches,
// preferences, containers, login items, daemons, helpers, installer receipts),
// so that uninstalling it can remove those too. Stateless.

#include "apps/InstalledApp.h"
#include "support/ItemIdentity.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vessora {

// How sure a leftover's match is; ordered by raw value, so likely < exact.
enum class MatchConfidence : int {
    likely = 1, // matched on the application's name only
    exact = 2,  // matched on the bundle identifier
};

struct LeftoverItem {
    std::string url;      // the leftover file or folder; also the record's identity
    std::string category; // the label of the rule that found it
    MatchConfidence confidence = MatchConfidence::likely;
    int64_t size = 0; // allocated bytes; 0 until measured
    bool requiresAdmin = false;
    ItemIdentity identity = {}; // the object measured (with its folders made real); unknown until measured

    const std::string& id() const { return url; }
    bool operator==(const LeftoverItem&) const = default;
};

namespace LeftoverFinder {

// A fixed folder probed for entries named after a candidate.
struct ExactRule {
    std::string directory;
    std::string category;
    // The entry names to probe in `directory` for one candidate string.
    std::function<std::vector<std::string>(const std::string&)> names;
};

// A folder whose entries are all listed and matched against the candidates.
struct ScanRule {
    std::string directory;
    std::string category;
    bool requiresAdmin = false;
};

// The rule tables, rebuilt on each call against the current home folder.
std::vector<ExactRule> exactRules();
std::vector<ScanRule> scanRules();

// The leftovers of `app`, exact matches first, then larger first. Reads the
// file system only and never fails: what cannot be read contributes nothing.
// With measure false every size stays 0. Safe to call from several threads.
std::vector<LeftoverItem> leftovers(const InstalledApp& app, bool measure);
// The same, leaving out what another of the `installed` apps matches exactly
// (a folder two apps claim is neither's to remove).
std::vector<LeftoverItem> leftovers(const InstalledApp& app, bool measure, const std::vector<InstalledApp>& installed);

// The leftovers of an app found from the desktop's menu entries
// (DesktopInventory), unmeasured and unsorted.
std::vector<LeftoverItem> desktopLeftovers(const InstalledApp& app, const std::vector<InstalledApp>& installed);

// The menu entry, icons and MIME file desktop integration made for the
// AppImage at `path`.
std::vector<std::string> appImageIntegrationFiles(const std::string& path);

// Measures the items when asked (their folders made real, their identities
// taken), then puts exact matches first, larger first.
void measureAndSort(std::vector<LeftoverItem>& items, bool measure);

// "exact" or "likely".
const char* label(MatchConfidence confidence);

} // namespace LeftoverFinder
} // namespace vessora
