// Replaces the allocation hooks for the life of a scope so that tests can make a chosen
// allocation fail and see how many were requested.
#ifndef HARNIX_TESTS_SUPPORT_FAILING_ALLOCATOR_H_
#define HARNIX_TESTS_SUPPORT_FAILING_ALLOCATOR_H_

#include <cstddef>

namespace harnix {

// While alive, every request through allocate, reallocate or allocate_zeroed is counted (1, 2,
// ...); the request numbered `fail_at` and every later one return nullptr (0: none fails), or
// with `only_that_one` the request numbered `fail_at` alone. Successful requests go to the
// standard library, so release stays compatible. Restores the standard hooks when it goes out of
// scope. Only one may be alive at a time.
class FailingAllocator {
 public:
  explicit FailingAllocator(int fail_at, bool only_that_one = false);
  ~FailingAllocator();
  FailingAllocator(const FailingAllocator&) = delete;
  FailingAllocator& operator=(const FailingAllocator&) = delete;

  int requests() const;         // requests made so far, failed ones included
  int releases() const;         // non-null blocks released so far
  std::size_t largest() const;  // largest byte count asked for
};

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_FAILING_ALLOCATOR_H_
