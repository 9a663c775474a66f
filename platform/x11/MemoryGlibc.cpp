#include "platform/Memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>

namespace platform {

void useOneMemoryPool() {
    mallopt(M_ARENA_MAX, 1);
}

void releaseFreedMemory() {
    malloc_trim(0);
}

void adviseLargePages(void *data, std::size_t size) {
    // Only whole large pages inside the block: the advice applies to whole pages.
    constexpr std::uintptr_t kLargePage = 2 * 1024 * 1024;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (start + size) & ~(kLargePage - 1);
    if (end > first)
        madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
}

} // namespace platform
