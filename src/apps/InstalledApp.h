#pragma once
#include "support/Date.h"

#include <functional>
#include <optional>
#include <string>

namespace vessora {

// One installed application bundle.
struct InstalledApp {
    std::string url;                     // the ".app" bundle's path; also the record's identity
    std::string name;                    // display name
    std::optional<std::string> bundleID; // absent when the bundle declares none
    std::optional<std::string> version;  // short version, else build version
    bool isSystemApp = false;            // found under a system root
    bool isMASApp = false;               // carries an App Store receipt
    std::optional<Date> lastUsed;        // when it was last opened, where the system records that

    const std::string& id() const { return url; }
    bool operator==(const InstalledApp&) const = default;
};

} // namespace vessora

template <> struct std::hash<vessora::InstalledApp> {
    size_t operator()(const vessora::InstalledApp& app) const noexcept;
};
