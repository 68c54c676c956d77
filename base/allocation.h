// The process-wide allocation hooks through which every map, array, row table and file buffer is
// obtained and released.
//
// The four hooks start as the standard library's malloc (aligned_alloc on a 2 MiB boundary for
// blocks of 2 MiB or more, except on Windows), realloc, calloc and free. A program or a
// test may replace any of them (for instance to make the k-th allocation fail); a hook that
// returns nullptr is reported by the caller as ERR_NO_MEM. Replace hooks only while no storage
// obtained through the old ones is still held, or keep `release` compatible with them.
#ifndef HARNIX_BASE_ALLOCATION_H_
#define HARNIX_BASE_ALLOCATION_H_

#include <cstddef>

namespace harnix {

struct AllocationHooks {
  void* (*allocate)(std::size_t bytes);
  void* (*reallocate)(void* block, std::size_t bytes);
  void* (*allocate_zeroed)(std::size_t count, std::size_t bytes_each);
  void (*release)(void* block);
};

// The hooks in force. Assign to a member, or to the whole record, to replace them.
extern AllocationHooks allocation_hooks;

// Restores the standard library's four operations.
void reset_allocation_hooks();

// Calls through the hooks. A request of 0 bytes is passed on as 1 byte so that nullptr always
// means failure. mem_release(nullptr) does nothing.
void* mem_allocate(std::size_t bytes);
void* mem_reallocate(void* block, std::size_t bytes);
void* mem_allocate_zeroed(std::size_t count, std::size_t bytes_each);
void mem_release(void* block);

}  // namespace harnix

#endif  // HARNIX_BASE_ALLOCATION_H_
