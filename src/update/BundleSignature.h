#pragma once
// The signature of an application folder: a manifest listing every entry of
// the bundle (folders, files, links, the bundle folder itself) with its type
// and permission bits, and a file's SHA-256 digest or a link's target; and a
// minisign signature of that manifest whose trusted comment names the signing
// team. A bundle is valid when the signature verifies under the key pinned for
// that team and the bundle on disk gives exactly the signed manifest: nothing
// changed, missing or extra, no permission bit different. Setuid, setgid and
// sticky bits are never allowed, on the two signature files neither.

#include <map>
#include <optional>
#include <string>

namespace vessora::BundleSignature {

inline constexpr const char* manifestPath = "Contents/_CodeSignature/CodeResources";
inline constexpr const char* signaturePath = "Contents/_CodeSignature/CodeResources.minisig";
inline constexpr const char* teamPrefix = "TeamIdentifier=";

// Team identifier -> minisign public key (file text or bare key line).
using PinnedKeys = std::map<std::string, std::string>;

inline constexpr const char* manifestHeader = "vessora-bundle-manifest 2\n";

// The manifest the bundle's current contents give: the header line, then one
// line per entry sorted by path bytes, the bundle folder itself being ".":
//   folder <mode> <path>
//   file <mode> <sha256> <path>
//   link <mode> <path> -> <target>
// <mode> is the four octal digits of the permission bits. Every line ends in a
// line feed; the two signature files are left out (their folder is listed).
// Nothing, with `reason`, when an item cannot be read or is not allowed in a
// bundle (device, pipe, socket, setuid/setgid/sticky bit, a name with a line
// feed, a link that cannot be listed unambiguously).
std::optional<std::string> manifestFor(const std::string& bundle, std::string& reason);

struct Verification {
    bool valid = false;
    std::string team;   // from the verified trusted comment, when valid
    std::string reason; // why not, when not valid
};

Verification verify(const std::string& bundle, const PinnedKeys& keys);

} // namespace vessora::BundleSignature
