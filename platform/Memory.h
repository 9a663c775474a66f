#pragma once

namespace platform {

// Keeps the allocator to one pool for every thread, so that memory freed by a worker thread
// (the clipboard transfer) can be handed back to the system. Call first thing in main().
void useOneMemoryPool();

// Hands memory the allocator keeps after large frees back to the system: replacing a large
// picture by a small one then brings the note back to its idle size.
void releaseFreedMemory();

} // namespace platform
