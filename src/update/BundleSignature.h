#pragma once
// The signature of an application folder: a manifest listing every file and
// link below the bundle with its SHA-256 digest (or link target), and a
// minisign signature of that manifest whose trusted comment names the signing
// team. A bundle is valid when the signature verifies under the key pinned for
// that team and the bundle on disk gives exactly the signed manifest: nothing
// changed, missing or extra.

#include <map>
#include <optional>
#include <string>

namespace vessora::BundleSignature {

inline constexpr const char* manifestPath = "Contents/_CodeSignature/CodeResources";
inline constexpr const char* signaturePath = "Contents/_CodeSignature/CodeResources.minisig";
inline constexpr const char* teamPrefix = "TeamIdentifier=";

// Team identifier -> minisign public key (file text or bare key line).
using PinnedKeys = std::map<std::string, std::string>;

// The manifest the bundle's current contents give: one line per file
// ("<sha256>  <relative path>") and link ("link <relative path> -> <target>"),
// sorted by path bytes, each ending in a line feed; the two signature files
// are left out. Nothing, with `reason`, when an item cannot be read or is of a
// kind a bundle may not hold (device, pipe, socket, a name with a line feed).
std::optional<std::string> manifestFor(const std::string& bundle, std::string& reason);

struct Verification {
    bool valid = false;
    std::string team;   // from the verified trusted comment, when valid
    std::string reason; // why not, when not valid
};

Verification verify(const std::string& bundle, const PinnedKeys& keys);

} // namespace vessora::BundleSignature
