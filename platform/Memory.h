#pragma once

#include <cstddef>

namespace platform {

// Keeps the allocator to one pool for every thread, so that memory freed by a worker thread
// (the clipboard transfer) can be handed back to the system. Call first thing in main().
void useOneMemoryPool();

// Hands memory the allocator keeps after large frees back to the system: replacing a large
// picture by a small one then brings the note back to its idle size.
void releaseFreedMemory();

// Asks for the pages of a large block not yet written to come as large pages where the system
// offers them: a picture of many megabytes then costs a few hundred page faults instead of tens
// of thousands. Only a hint; nothing changes for the caller.
void adviseLargePages(void *data, std::size_t size);

} // namespace platform
