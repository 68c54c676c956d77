#include "base/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace harnix {

namespace {

int hook_calls = 0;
void* tracking_allocate(std::size_t bytes) {
  ++hook_calls;
  return std::malloc(bytes);
}

TEST(AllocationHooks, CallsGoThroughReplacedHooksAndResetRestoresThem) {
  hook_calls = 0;
  allocation_hooks.allocate = tracking_allocate;
  void* block = mem_allocate(0);  // 0 bytes still gives a block
  EXPECT_NE(nullptr, block);
  EXPECT_EQ(1, hook_calls);
  mem_release(block);
  reset_allocation_hooks();
  block = mem_allocate(16);
  EXPECT_EQ(1, hook_calls);
  mem_release(block);
  mem_release(nullptr);
}

TEST(AllocationHooks, ZeroSizedRequestsStillAnswer) {
  void* zeroed = mem_allocate_zeroed(0, 8);
  ASSERT_NE(nullptr, zeroed);
  void* grown = mem_reallocate(zeroed, 0);
  ASSERT_NE(nullptr, grown);
  mem_release(grown);
}

#if !defined(_WIN32)
// Large blocks start on a large-page boundary (maps then lie whole on large pages); a block grown
// by realloc keeps its contents.
TEST(AllocationHooks, LargeBlocksStartOnALargePageBoundary) {
  constexpr std::size_t LARGE_PAGE = std::size_t{2} << 20;
  for (std::size_t bytes : {LARGE_PAGE, LARGE_PAGE + 1, 3 * LARGE_PAGE + 100}) {
    auto* block = static_cast<unsigned char*>(mem_allocate(bytes));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % LARGE_PAGE) << bytes;
    block[bytes - 1] = 7;
    block = static_cast<unsigned char*>(mem_reallocate(block, bytes + LARGE_PAGE));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(7, block[bytes - 1]);
    mem_release(block);
  }
}
#endif

}  // namespace

}  // namespace harnix
