#include "scan/DiskScanner.h"

#include "support/Paths.h"

#include <ftw.h>
#include <sys/stat.h>

namespace vessora::DiskScanner {

namespace {
// nftw offers no user pointer; a walk runs on one thread, so the state lives
// per thread.
thread_local const ScanOptions* tlsOptions = nullptr;
thread_local int64_t tlsTotal = 0;
thread_local const std::function<bool()>* tlsCancelled = nullptr;

int visit(const char* path, const struct stat* st, int type, struct FTW*) {
    if (*tlsCancelled && (*tlsCancelled)()) return FTW_STOP;
    switch (type) {
    case FTW_F:
    case FTW_SL:
    case FTW_SLN:
        if (st) tlsTotal += int64_t(st->st_blocks) * 512;
        break;
    case FTW_D:
        if (!tlsOptions->skipPaths.empty() && tlsOptions->skipPaths.count(path)) return FTW_SKIP_SUBTREE;
        break;
    default:
        break;
    }
    return FTW_CONTINUE;
}
} // namespace

int64_t quickSize(const std::string& path, const ScanOptions& options, const std::function<bool()>& cancelled) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return int64_t(st.st_blocks) * 512;
    if (options.skipPaths.count(Paths::standardize(path))) return 0;
    tlsOptions = &options;
    tlsTotal = 0;
    tlsCancelled = &cancelled;
    ::nftw(path.c_str(), visit, 64, FTW_PHYS | FTW_MOUNT | FTW_ACTIONRETVAL);
    return tlsTotal;
}

std::string displayName(const std::string& path) {
    if (path == "/") return "Macintosh HD";
    std::string last = Paths::lastComponent(path);
    return last.empty() ? path : last;
}

} // namespace vessora::DiskScanner
