#include "platform/Memory.h"

namespace platform {

// The Windows heap returns large blocks to the system by itself.
void useOneMemoryPool() {}
void releaseFreedMemory() {}
void adviseLargePages(void *, std::size_t) {}

} // namespace platform
