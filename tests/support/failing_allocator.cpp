#include "support/failing_allocator.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "base/allocation.h"

namespace harnix {

namespace {

// The team's threads allocate at the same time: the counts are kept under one lock.
std::mutex counting;
int fail_from = 0;
bool fail_once = false;
int request_count = 0;
int release_count = 0;
std::size_t largest_request = 0;

bool next_fails(std::size_t bytes) {
  const std::lock_guard<std::mutex> lock(counting);
  ++request_count;
  largest_request = std::max(largest_request, bytes);
  return fail_from > 0 && (fail_once ? request_count == fail_from : request_count >= fail_from);
}

void* counted_allocate(std::size_t bytes) {
  return next_fails(bytes) ? nullptr : std::malloc(bytes);
}
void* counted_reallocate(void* block, std::size_t bytes) {
  return next_fails(bytes) ? nullptr : std::realloc(block, bytes);
}
void* counted_allocate_zeroed(std::size_t count, std::size_t each) {
  return next_fails(count * each) ? nullptr : std::calloc(count, each);
}
void counted_release(void* block) {
  if (block != nullptr) {
    const std::lock_guard<std::mutex> lock(counting);
    ++release_count;
  }
  std::free(block);
}

}  // namespace

FailingAllocator::FailingAllocator(int fail_at, bool only_that_one) {
  fail_from = fail_at;
  fail_once = only_that_one;
  request_count = 0;
  release_count = 0;
  largest_request = 0;
  allocation_hooks = {counted_allocate, counted_reallocate, counted_allocate_zeroed,
                      counted_release};
}

FailingAllocator::~FailingAllocator() {
  reset_allocation_hooks();
}

int FailingAllocator::requests() const {
  return request_count;
}
int FailingAllocator::releases() const {
  return release_count;
}
std::size_t FailingAllocator::largest() const {
  return largest_request;
}

}  // namespace harnix
