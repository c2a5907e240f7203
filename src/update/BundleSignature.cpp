#include "update/BundleSignature.h"

#include "scan/FolderListing.h"
#include "support/Paths.h"
#include "update/Digest.h"
#include "update/Minisign.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

bool walk(const std::string& bundle, const std::string& relative, std::vector<Line>& out, std::string& reason) {
    std::string folder = relative.empty() ? bundle : Paths::join(bundle, relative);
    const auto names = FolderListing::names(folder);
    if (!names) {
        reason = "cannot list " + folder + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string& name : *names) {
        std::string path = relative.empty() ? name : relative + "/" + name;
        std::string full = Paths::join(bundle, path);
        if (path == manifestPath || path == signaturePath) continue;
        if (name.find('\n') != std::string::npos) {
            reason = "a name holds a line break: " + full;
            return false;
        }
        struct stat info;
        if (::lstat(full.c_str(), &info) != 0) {
            reason = "cannot read " + full + ": " + std::strerror(errno);
            return false;
        }
        if (S_ISDIR(info.st_mode)) {
            if (!walk(bundle, path, out, reason)) return false;
        } else if (S_ISREG(info.st_mode)) {
            auto digest = Digest::sha256OfFile(full);
            if (!digest) {
                reason = "cannot read " + full;
                return false;
            }
            out.push_back({path, *digest + "  " + path});
        } else if (S_ISLNK(info.st_mode)) {
            std::string target = readLink(full);
            // " -> " separates path and target, so neither may hold it or a
            // line break, or two different trees could give the same line.
            if (target.empty() || path.find(" -> ") != std::string::npos || target.find(" -> ") != std::string::npos ||
                target.find('\n') != std::string::npos) {
                reason = "a link cannot be listed unambiguously: " + full;
                return false;
            }
            out.push_back({path, "link " + path + " -> " + target});
        } else {
            reason = "not a file, folder or link: " + full;
            return false;
        }
    }
    return true;
}

// Reads a regular file below `bundle` whose every component is a real folder,
// so a link cannot substitute a manifest kept elsewhere.
std::optional<std::string> readInside(const std::string& bundle, const std::string& relative) {
    struct stat info;
    std::string path = bundle;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        path = Paths::join(bundle, relative.substr(0, slash));
        if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    }
    int fd = ::open(Paths::join(bundle, relative).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= (64 << 20);
    char buffer[1 << 14];
    while (ok) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
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
    std::string text;
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
    auto signatureText = readInside(bundle, signaturePath);
    auto manifest = readInside(bundle, manifestPath);
    if (!signatureText || !manifest) {
        result.reason = "the bundle is not signed";
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
        result.reason = "the bundle's contents differ from its signed manifest";
        return result;
    }
    result.valid = true;
    result.team = team;
    return result;
}

} // namespace vessora::BundleSignature
