#include "update/BundleSignature.h"

#include "support/FolderListing.h"
#include "support/Paths.h"
#include "update/Digest.h"
#include "update/Minisign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace vessora::BundleSignature {

namespace {

struct Line {
    std::string path;
    std::string text;
};

std::string readLink(const std::string& path) {
    std::string target(4096, '\0');
    for (;;) {
        ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0) return {};
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Lists the entry at `relative` ("" for the bundle folder) and everything below it.
bool walk(const std::string& bundle, const std::string& relative, std::vector<Line>& out, std::string& reason) {
    const std::string full = relative.empty() ? bundle : Paths::join(bundle, relative);
    const std::string path = relative.empty() ? "." : relative;
    if (path.find('\n') != std::string::npos) {
        reason = "a name holds a line break: " + full;
        return false;
    }
    struct stat info;
    if (::lstat(full.c_str(), &info) != 0) {
        reason = "cannot read " + full + ": " + std::strerror(errno);
        return false;
    }
    if (info.st_mode & 07000) {
        reason = "a setuid, setgid or sticky bit is set: " + full;
        return false;
    }
    const std::string mode = modeText(info.st_mode);
    if (S_ISREG(info.st_mode)) {
        auto digest = Digest::sha256OfFile(full);
        if (!digest) {
            reason = "cannot read " + full;
            return false;
        }
        out.push_back({path, "file " + mode + " " + *digest + " " + path});
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        std::string target = readLink(full);
        // " -> " separates path and target, so neither may hold it or a
        // line break, or two different trees could give the same line.
        if (target.empty() || path.find(" -> ") != std::string::npos || target.find(" -> ") != std::string::npos ||
            target.find('\n') != std::string::npos) {
            reason = "a link cannot be listed unambiguously: " + full;
            return false;
        }
        out.push_back({path, "link " + mode + " " + path + " -> " + target});
        return true;
    }
    if (!S_ISDIR(info.st_mode)) {
        reason = "not a file, folder or link: " + full;
        return false;
    }
    out.push_back({path, "folder " + mode + " " + path});
    const auto names = FolderListing::names(full);
    if (!names) {
        reason = "cannot list " + full + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string& name : *names) {
        std::string below = relative.empty() ? name : relative + "/" + name;
        if (below == manifestPath || below == signaturePath) continue;
        if (!walk(bundle, below, out, reason)) return false;
    }
    return true;
}

constexpr off_t maxSignatureFileBytes = 64 << 20;

// Reads a regular file below `bundle` whose every component is a real folder,
// so a link cannot substitute a manifest kept elsewhere. The two signature
// files are held to the rules every listed entry is held to: no setuid,
// setgid or sticky bit. Nothing, with `reason`, when the file cannot be used.
std::optional<std::string> readInside(const std::string& bundle, const std::string& relative, std::string& reason) {
    struct stat info;
    std::string path = bundle;
    const std::string full = Paths::join(bundle, relative);
    reason = "the bundle is not signed";
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        path = Paths::join(bundle, relative.substr(0, slash));
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    }
    int fd = ::open(full.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string text;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && (info.st_mode & 07000)) {
        reason = "a setuid, setgid or sticky bit is set: " + full;
        ok = false;
    } else if (ok && info.st_size > maxSignatureFileBytes) {
        reason = full + " is larger than 64 MiB, more than any bundle's signature needs";
        ok = false;
    }
    char buffer[1 << 14];
    while (ok) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        // It may still be growing.
        if (off_t(text.size()) > maxSignatureFileBytes) {
            reason = full + " is larger than 64 MiB, more than any bundle's signature needs";
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return text;
}

} // namespace

std::optional<std::string> manifestFor(const std::string& bundle, std::string& reason) {
    std::vector<Line> lines;
    if (!walk(bundle, "", lines, reason)) return std::nullopt;
    std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.path < b.path; });
    std::string text = manifestHeader;
    for (const Line& line : lines) text += line.text + "\n";
    return text;
}

Verification verify(const std::string& bundle, const PinnedKeys& keys) {
    Verification result;
    struct stat info;
    if (::lstat(bundle.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        result.reason = "not a folder: " + bundle;
        return result;
    }
    std::string unusable;
    auto signatureText = readInside(bundle, signaturePath, unusable);
    if (!signatureText) {
        result.reason = unusable;
        return result;
    }
    auto manifest = readInside(bundle, manifestPath, unusable);
    if (!manifest) {
        result.reason = unusable;
        return result;
    }
    auto signature = Minisign::parseSignature(*signatureText);
    if (!signature) {
        result.reason = "the signature file is malformed";
        return result;
    }
    std::string comment = signature->trustedComment;
    if (!comment.starts_with(teamPrefix) || comment.size() == std::strlen(teamPrefix)) {
        result.reason = "the signature names no team";
        return result;
    }
    std::string team = comment.substr(std::strlen(teamPrefix));
    // A key vouches only for the team it is pinned for: the comment's claim is
    // checked with that team's key, so a forged claim fails verification.
    auto pinned = keys.find(team);
    std::optional<Minisign::PublicKey> key;
    if (pinned != keys.end()) key = Minisign::parsePublicKey(pinned->second);
    if (!key || !Minisign::verify(*key, *signature, *manifest)) {
        result.reason = "the signature does not verify under a trusted key";
        return result;
    }
    std::string reason;
    auto actual = manifestFor(bundle, reason);
    if (!actual) {
        result.reason = reason;
        return result;
    }
    if (*actual != *manifest) {
        result.reason = manifest->starts_with(manifestHeader)
                            ? "the bundle's contents or permissions differ from its signed manifest"
                            : "the signed manifest is not in the current format";
        return result;
    }
    result.valid = true;
    result.team = team;
    return result;
}

} // namespace vessora::BundleSignature
