#pragma once
// Reads an application bundle's information dictionary (Contents/Info.plist,
// XML or binary) into the few string values the engines consult.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vessora::BundleInfo {

// The string-valued top-level keys of the bundle's Info.plist. Empty when the
// bundle has none, or it cannot be read or parsed, or its top level is not a
// dictionary: such a bundle is described from its folder name alone.
std::map<std::string, std::string> read(const std::string& bundlePath);

// The same from the file's bytes. Keys and values holding a NUL byte are left
// out.
std::map<std::string, std::string> parse(std::string_view data);

// The value of `key` when it is present and a string.
std::optional<std::string> stringValue(const std::map<std::string, std::string>& info, const std::string& key);

} // namespace vessora::BundleInfo
