#include "platform/Memory.h"

#include <malloc.h>

namespace platform {

void useOneMemoryPool() {
    mallopt(M_ARENA_MAX, 1);
}

void releaseFreedMemory() {
    malloc_trim(0);
}

} // namespace platform
