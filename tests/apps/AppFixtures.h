#pragma once
// Application bundles and home folders built on disk for the application tests.

#include "apps/InstalledApp.h"

#include <plist/plist.h>

#include <map>
#include <string>

namespace vessora::test {

enum class PlistFormat { xml, binary };

// Writes `dict` (consumed) as an Info.plist at `path` in the given format.
void writePlist(const std::string& path, plist_t dict, PlistFormat format);

// A dictionary of string values.
plist_t stringDict(const std::map<std::string, std::string>& values);

// Creates the bundle folder `path` with Contents/Info.plist holding `values`
// (no Info.plist at all when `values` is empty). Returns the path.
std::string makeBundle(const std::string& path, const std::map<std::string, std::string>& values,
                       PlistFormat format = PlistFormat::xml);

// An application record as the inventory would describe it.
InstalledApp app(const std::string& url, const std::string& name, std::optional<std::string> bundleID,
                 AppKind kind = AppKind::bundle);

} // namespace vessora::test
