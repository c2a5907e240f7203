// ThreadSanitizer settings for every test executable (and the icon renderer the
// build runs), compiled in only under the sanitizer (the "tsan" preset), so
// that ctest needs no environment.
//
// ignore_noninstrumented_modules=1: Qt's libraries and the system libraries
// below them (glib's main loop and thread pool, which Qt Network's
// QNetworkAccessManager thread runs on, gnutls/openssl, libarchive, sqlite) are
// not built with the sanitizer. Their own locks are futex based, so the
// sanitizer cannot see the ordering they establish, and every allocation, copy
// and pthread call that such a library makes from inside itself (its thread
// pool's queues, QThread's wait conditions, QArrayData, glib's GMainContext)
// then looks like a race between its threads. The option stops the sanitizer
// from recording memory accesses made by such calls from uninstrumented code;
// it still records every access our own code makes and every lock either side
// takes, so a race in our code, including our code running on Qt's pool
// threads, is still reported (checked by planting one). Nothing else is
// suppressed.
//
// The same settings are exported to the environment before main, so that the
// programs the tests start (the command-line tool, the app being updated) run
// under them too; an explicit TSAN_OPTIONS given by the caller wins.

#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
#define VESSORA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESSORA_THREAD_SANITIZER 1
#endif
#endif

#ifdef VESSORA_THREAD_SANITIZER
namespace {
constexpr const char* kOptions = "ignore_noninstrumented_modules=1";

[[maybe_unused]] const bool exported = [] {
    ::setenv("TSAN_OPTIONS", kOptions, 0);
    return true;
}();
} // namespace

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() { return kOptions; }
#endif
