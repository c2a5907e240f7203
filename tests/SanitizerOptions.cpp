// Sanitizer settings for every test executable (and the icon renderer the
// build runs), compiled in only under a sanitizer (the "tsan" and "asan"
// presets), so that ctest needs no environment.
//
// The same settings are exported to the environment before main, so that the
// programs the tests start (the command-line tool, the privileged helper, the
// app being updated) run under them too; an explicit *SAN_OPTIONS given by the
// caller wins.

#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
#define VESSORA_THREAD_SANITIZER 1
#elif defined(__SANITIZE_ADDRESS__)
#define VESSORA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESSORA_THREAD_SANITIZER 1
#elif __has_feature(address_sanitizer)
#define VESSORA_ADDRESS_SANITIZER 1
#endif
#endif

#ifdef VESSORA_THREAD_SANITIZER
// ThreadSanitizer.
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
namespace {
constexpr const char* kOptions = "ignore_noninstrumented_modules=1";

[[maybe_unused]] const bool exported = [] {
    ::setenv("TSAN_OPTIONS", kOptions, 0);
    return true;
}();
} // namespace

extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() { return kOptions; }
#endif

#ifdef VESSORA_ADDRESS_SANITIZER
// AddressSanitizer with UndefinedBehaviorSanitizer (the "asan" preset builds
// both; the undefined-behaviour settings are harmless where its runtime is
// absent).
namespace {
// Any finding ends the process with a report, so a test cannot pass over it;
// leaks are checked when each process exits.
// The suppressions' tally is not printed: it would land in the output of
// child processes that the tests read.
constexpr const char* kAsanOptions = "halt_on_error=1:detect_leaks=1:check_initialization_order=1:"
                                     "strict_init_order=1:detect_stack_use_after_return=1:print_suppressions=0";
constexpr const char* kUbsanOptions = "halt_on_error=1:print_stacktrace=1";

[[maybe_unused]] const bool exported = [] {
    ::setenv("ASAN_OPTIONS", kAsanOptions, 0);
    ::setenv("UBSAN_OPTIONS", kUbsanOptions, 0);
    return true;
}();
} // namespace

extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() { return kAsanOptions; }
extern "C" __attribute__((visibility("default"), used)) const char* __ubsan_default_options() { return kUbsanOptions; }

// OpenSSL keeps per-thread error queues and the TLS contexts Qt Network caches
// for a connection; when a process that fetched over HTTPS exits while Qt's
// network thread is still winding down, that state is sometimes unreachable
// when the leak check runs (about one exit in three in the updater's
// end-to-end child). Those blocks belong to libcrypto alone and are returned to
// the system at exit. A leak in our code or in Qt is still reported: the
// suppression matches only blocks whose allocation ran through libcrypto.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libcrypto.so\n";
}
#endif
