#include "base/allocation.h"

#include <gtest/gtest.h>

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

}  // namespace

}  // namespace harnix
