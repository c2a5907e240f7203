#include "support/ThreadPriority.h"

#if defined(__linux__)
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <pthread.h>
#include <sys/qos.h>
#endif

namespace vessora::ThreadPriority {

namespace {
// Ten steps of nice give the window's thread about nine times the weight of
// a background thread when they share a core, while the background work still
// gets every cycle the window does not use.
constexpr int kBackgroundNice = 10;
} // namespace

void lowerCurrentThread() {
    thread_local bool lowered = false;
    if (lowered) return;
    lowered = true;
#if defined(__linux__)
    // On Linux a nice value belongs to the thread (its task id), not to the
    // process; threads started from here inherit it.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno != 0 || current >= kBackgroundNice) return;
    ::setpriority(PRIO_PROCESS, tid, kBackgroundNice);
#elif defined(__APPLE__)
    ::pthread_set_qos_class_self_np(QOS_CLASS_UTILITY, 0);
#endif
}

} // namespace vessora::ThreadPriority
