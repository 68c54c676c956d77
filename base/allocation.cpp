#include "base/allocation.h"

#include <cstdint>
#include <cstdlib>

namespace harnix {

namespace {

// The standard library's operations, wrapped so that the hooks hold plain function pointers
// whatever the library's own declarations look like.

// Blocks of a large page (2 MiB) or more start on a large-page boundary, so that every large
// page of a map lies whole inside it and the system can back all of it with large pages (see
// advise_large_pages): malloc puts such a block a few bytes past a boundary, which left half of
// every 4 MiB map on small pages. Sweeps over camera-sized maps then cost a fifth less processor
// time (fewer address translations, and a page fault per 2 MiB instead of per 4 KiB). The
// rounding adds address space only: pages never touched take no memory.
void* std_allocate(std::size_t bytes) {
#if !defined(_WIN32)
  constexpr std::size_t LARGE_PAGE = std::size_t{2} << 20;
  if (bytes >= LARGE_PAGE && bytes <= SIZE_MAX - LARGE_PAGE)
    return std::aligned_alloc(LARGE_PAGE, (bytes + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1));
#endif
  return std::malloc(bytes);
}
void* std_reallocate(void* block, std::size_t bytes) {
  return std::realloc(block, bytes);
}
void* std_allocate_zeroed(std::size_t count, std::size_t bytes_each) {
  return std::calloc(count, bytes_each);
}
void std_release(void* block) {
  std::free(block);
}

constexpr AllocationHooks STANDARD_HOOKS = {std_allocate, std_reallocate, std_allocate_zeroed,
                                            std_release};

}  // namespace

AllocationHooks allocation_hooks = STANDARD_HOOKS;

void reset_allocation_hooks() {
  allocation_hooks = STANDARD_HOOKS;
}

// A zero-byte request may legally come back as nullptr from the standard allocator; asking for one
// byte keeps nullptr meaning "failed" and nothing else.
void* mem_allocate(std::size_t bytes) {
  return allocation_hooks.allocate(bytes == 0 ? 1 : bytes);
}

void* mem_reallocate(void* block, std::size_t bytes) {
  return allocation_hooks.reallocate(block, bytes == 0 ? 1 : bytes);
}

void* mem_allocate_zeroed(std::size_t count, std::size_t bytes_each) {
  if (count == 0 || bytes_each == 0) return allocation_hooks.allocate_zeroed(1, 1);
  return allocation_hooks.allocate_zeroed(count, bytes_each);
}

void mem_release(void* block) {
  if (block != nullptr) allocation_hooks.release(block);
}

}  // namespace harnix
