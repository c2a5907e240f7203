#include "support/ProcessLimits.h"

#include <sys/resource.h>

namespace vessora::ProcessLimits {

void raiseDescriptorLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    // An unlimited hard limit is still capped by the kernel's nr_open.
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 && limit.rlim_max > (rlim_t(1) << 20)) {
        limit.rlim_cur = rlim_t(1) << 20;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace vessora::ProcessLimits
