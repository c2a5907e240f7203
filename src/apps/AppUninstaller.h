#pragma once
// Uninstalls one application the way its kind requires, then removes the
// leftovers the user chose through the Remover. A bundle, an AppImage (with
// its desktop integration files) or a program folder is removed like any
// item; a Flatpak or a snap is removed by its own tool, and only counts as
// removed when it is gone afterwards; a distribution package is left to the
// package manager.

#include "apps/InstalledApp.h"
#include "apps/LeftoverFinder.h"
#include "removal/Remover.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vessora::AppUninstaller {

// Removes a Flatpak or a snap with its own tool: nothing on success, else
// the reason to show.
using ToolRemover = std::function<std::optional<std::string>(const InstalledApp&)>;

struct Tools {
    ToolRemover flatpak; // through libflatpak
    ToolRemover snap;    // "snap remove NAME" (snapd asks for authentication itself)
};

// The live system's tools.
Tools standardTools();

// Removes the app itself when includeApp, then the chosen leftovers in
// order. A Flatpak or snap its tool removed counts appSize as freed; what
// the Remover removes counts what really went, and goes only while it is
// the object measured (`appIdentity` for the app's own folder or file, each
// leftover's identity). Runs synchronously, off the main thread. Failures,
// the app's included, are entries of the result.
RemovalResult uninstall(const InstalledApp& app, int64_t appSize, const std::vector<LeftoverItem>& leftovers,
                        bool includeApp, RemovalMode mode, const ItemIdentity& appIdentity = {});
RemovalResult uninstall(const InstalledApp& app, int64_t appSize, const std::vector<LeftoverItem>& leftovers,
                        bool includeApp, RemovalMode mode, const Tools& tools, const ItemIdentity& appIdentity = {});

// Whether a Flatpak or snap is still installed at its folder.
bool stillInstalled(const InstalledApp& app);

} // namespace vessora::AppUninstaller
