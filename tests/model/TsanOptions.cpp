// ThreadSanitizer settings for this suite, compiled in only under the
// sanitizer (the "tsan" preset), so that ctest needs no environment.
//
// ignore_noninstrumented_modules=1: Qt's libraries are not built with the
// sanitizer. Their own locks are futex based, so the sanitizer cannot see the
// ordering they establish, and every allocation, copy and pthread call that Qt
// makes from inside itself (its thread pool's queues, QThread's wait
// conditions, QArrayData) then looks like a race between Qt's threads. The
// option stops the sanitizer from recording memory accesses made by such
// calls from uninstrumented code; it still records every access our own code
// makes and every lock either side takes, so a race in our code, including
// our code running on Qt's pool threads, is still reported (checked by
// planting one). Nothing else is suppressed.

#if defined(__SANITIZE_THREAD__)
#define VESSORA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VESSORA_THREAD_SANITIZER 1
#endif
#endif

#ifdef VESSORA_THREAD_SANITIZER
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif
