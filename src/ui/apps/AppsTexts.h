#pragma once
// The Apps screen's derived values and sentences, as pure functions of a row
// and the screen's choices, so the rules can be read and tested in one place.

#include "model/AppRow.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora::AppsTexts {

// Whether uninstalling may take the application itself: never for a system
// application, nor for one the distribution's package manager owns.
bool bundleRemovable(const InstalledApp& app);

// A program without a folder of its own: the app is its program file alone.
bool isProgramFile(const InstalledApp& app);

// The ticked leftovers of `row`, in list order.
std::vector<LeftoverItem> chosenLeftovers(const AppRow& row, const std::set<std::string>& selected);

// The ticked leftovers' sizes plus the bundle's when it goes too.
int64_t selectedTotal(const AppRow& row, const std::set<std::string>& selected, bool includeBundle);

// "This removes the app bundle and 2 supporting items, freeing about 1.2 MB."
// (on Linux "the app and ", or "the program file and ").
std::string uninstallSummary(const AppRow& row, const std::set<std::string>& selected, bool includeBundle);

// Uninstall is offered when something at all would go.
bool canUninstall(const AppRow& row, const std::set<std::string>& selected, bool includeBundle);

// The one notice over the uninstall bar, if any.
std::optional<std::string> notice(const InstalledApp& app, bool running);

// For a distribution package: its page in the software centre
// ("appstream://ID") and the command that removes it ("sudo apt remove NAME").
std::optional<std::string> softwareUrl(const InstalledApp& app);
std::optional<std::string> packageRemoveCommand(const InstalledApp& app);

// The badge naming where the app came from ("App Store", "Flatpak", ...).
std::optional<std::string> sourceBadge(const InstalledApp& app);

// The list row's second line: "+X outside bundle" ("outside its folder" on
// Linux; orange) or the identifier.
struct SecondLine {
    std::string text;
    bool outside = false;
};
SecondLine secondLine(const AppRow& row);

int64_t leftoverBytes(const AppRow& row);

} // namespace vessora::AppsTexts
