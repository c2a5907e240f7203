#pragma once
// Reads string values of an application folder's Contents/Info.plist (XML or
// binary, through libplist).

#include <optional>
#include <string>

namespace vessora::BundleInfo {

// The value of `key` when it is present and a string.
std::optional<std::string> string(const std::string& bundle, const std::string& key);

// The application folder the running executable sits in
// (<folder>.app/Contents/MacOS/<name>), or "" when it is not in one.
std::string runningBundle();

} // namespace vessora::BundleInfo
