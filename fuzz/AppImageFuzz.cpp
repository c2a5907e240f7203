// Whole AppImage files, as any download can be: the reader never runs or
// mounts them, refuses what it cannot read, and asks for memory in proportion
// to the file's size, whatever sizes and counts the image declares (checked
// where a sanitizer runtime reports allocations). An entry it reads is named
// "<single name>.desktop".

#include "FuzzCheck.h"
#include "FuzzSandbox.h"
#include "apps/AppImageFile.h"
#include "apps/DesktopInventory.h"

#include <atomic>

using namespace vessora;

extern "C" __attribute__((weak)) int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                                               void (*)(const volatile void*));

namespace {

std::atomic<size_t> largest{0};
// The runtimes take the two hooks together; frees need no note.
void noteFree(const volatile void*) {}
void noteAllocation(const volatile void*, size_t size) {
    size_t seen = largest.load(std::memory_order_relaxed);
    while (size > seen && !largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::Sandbox sandbox;
    static const bool watching = __sanitizer_install_malloc_and_free_hooks &&
                                 __sanitizer_install_malloc_and_free_hooks(noteAllocation, noteFree);
    const std::string file = sandbox.write("x.AppImage", fuzz::text(data, size), 0755);

    largest = 0;
    (void)AppImageFile::isAppImage(file);
    (void)AppImageFile::imageOffset(file);
    std::optional<DesktopEntry> entry = AppImageFile::embeddedEntry(file);
    // A block of the image (at most 1 MiB), the entry itself (at most 1 MiB)
    // and tables of at most 16 bytes per byte of the file.
    if (watching) FUZZ_CHECK(largest <= 16 * size + (2u << 20));
    if (entry) {
        FUZZ_CHECK(entry->id.size() > 8 && entry->id.ends_with(".desktop"));
        FUZZ_CHECK(DesktopInventory::isSingleName(entry->id));
    }
    return 0;
}
