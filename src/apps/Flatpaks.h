#pragma once
// The installed Flatpak applications and runtimes of the user's and the
// system's installations, through libflatpak, and their removal.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vessora::Flatpaks {

struct Installed {
    std::string id;           // "org.gnome.Builder"
    std::string name;         // the metadata's name, else the id
    std::string version;      // the metadata's version, else empty
    std::string installation; // the installation's folder
    bool user = false;        // the per-user installation
    bool runtime = false;
    int64_t installedBytes = 0;
    // Where the ref lives: installation/app/<id> (or runtime/<id>).
    std::string folder() const;
    bool operator==(const Installed&) const = default;
};

// Apps of both installations, and runtimes too when includeRuntimes; the
// branches of one id in one installation are one record. Empty when
// libflatpak finds no installation.
std::vector<Installed> installed(bool includeRuntimes);

// Uninstalls the app through a libflatpak transaction (the system
// installation asks polkit itself). Nothing on success, else the reason.
std::optional<std::string> uninstall(const Installed& app);

} // namespace vessora::Flatpaks
