#include "removal/ResolvedItem.h"

#include "removal/RemovalTexts.h"
#include "support/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace vessora::Remover {

namespace {

// The item's path as the kernel resolves it, except that its last component
// stays as it is (a link is the item, not what it points to): "~" expanded,
// a relative path taken from the working directory, empty and "." components
// dropped, and each ".." taken from the real folder before it, never by
// striking the component written before it. False, with the lexical form
// for messages, when a folder before a ".." cannot be resolved.
bool physicalPath(const std::string& url, std::string& out, int& error) {
    std::string text = url;
    if (text == "~" || text.starts_with("~/")) text = Paths::home() + text.substr(1);
    if (text.empty()) {
        out.clear();
        return true;
    }
    if (!text.starts_with('/')) {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) {
            // The working directory is gone: the path names nothing.
            error = errno;
            out = text;
            return false;
        }
        text = Paths::join(cwd, text);
    }
    std::string result = "/";
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('/', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view component = std::string_view(text).substr(at, end - at);
        at = end + 1;
        if (component.empty() || component == ".") continue;
        if (component != "..") {
            result = Paths::join(result, component);
            continue;
        }
        char* real = ::realpath(result.c_str(), nullptr);
        if (!real) {
            error = errno;
            out = Paths::standardize(text);
            return false;
        }
        result = Paths::parent(real);
        std::free(real);
    }
    out = result;
    return true;
}

} // namespace

bool missing(int error) { return error == ENOENT || error == ENOTDIR; }
bool permissionDenied(int error) { return error == EACCES || error == EPERM; }

std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.ends_with('/')) path.pop_back();
    return path;
}

ResolvedItem resolve(const std::string& url, bool pathsAreReal, const GuardRules::Guard& guard, bool bound) {
    ResolvedItem r;
    std::string p;
    int error = 0;
    const bool resolved = physicalPath(url, p, error);
    auto refuse = [&](std::string why) {
        r.verdict = GuardResult::refuse(std::move(why));
        r.verdict.path = p;
        return std::move(r);
    };
    // Judged before anything below a possibly hung mount is asked for its status.
    if (auto why = guard.refusal(p, p)) return refuse(*why);
    if (!resolved) return refuse(missing(error) ? RemovalTexts::missing(p) : RemovalTexts::unreachable(p, error));
    if (pathsAreReal && (!url.starts_with('/') || Paths::standardize(url) != url))
        return refuse(bound ? RemovalTexts::changed(p) : RemovalTexts::notRealPath(p));

    const std::string name = Paths::lastComponent(p);
    std::string folder = Paths::parent(p);
    // Allowed, for the administrator to go further: its real path is known
    // as far as this user can see, the rest is the helper's to judge.
    auto allowUnreachable = [&](int e) {
        const std::string seen = Paths::join(GuardRules::physicalLocation(folder), name);
        if (auto why = guard.locationRefusal(seen, p)) return refuse(*why);
        r.verdict = GuardResult::allow();
        r.verdict.path = p;
        r.verdict.realPath = seen;
        r.unreachable = e;
        return std::move(r);
    };
    if (!pathsAreReal) {
        char* real = ::realpath(folder.c_str(), nullptr);
        if (!real) {
            const int e = errno;
            if (missing(e)) return refuse(RemovalTexts::missing(p));
            if (permissionDenied(e)) return allowUnreachable(e);
            return refuse(RemovalTexts::unreachable(p, e));
        }
        folder = real;
        std::free(real);
    }
    r.item = ItemHandle::open(folder, name);
    if (!r.item.ok()) {
        const int e = r.item.error();
        if (bound && (e == ELOOP || e == ENOTDIR)) return refuse(RemovalTexts::changed(p));
        if (e == ELOOP || (pathsAreReal && e == ENOTDIR)) return refuse(RemovalTexts::replacedByLink(p));
        if (missing(e)) return refuse(RemovalTexts::missing(p));
        if (permissionDenied(e)) return allowUnreachable(e);
        return refuse(RemovalTexts::unreachable(p, e));
    }
    // Judged where it really is, too: a folder on the way may be a link into a protected place.
    const std::string real = r.item.path();
    if (real != p)
        if (auto why = guard.refusalWhereReal(real, p)) return refuse(*why);
    int statError = 0;
    const ItemIdentity identity = identityAt(r.item.folder(), name, &statError);
    if (statError != 0 && !permissionDenied(statError))
        return refuse(missing(statError) ? RemovalTexts::missing(p) : RemovalTexts::unreachable(p, statError));
    r.verdict = GuardResult::allow();
    r.verdict.path = p;
    r.verdict.realPath = real;
    r.verdict.identity = identity;
    return r;
}

} // namespace vessora::Remover
