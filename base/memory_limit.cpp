#include "base/memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace harnix {

namespace {

uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  if (uint64_t(pages) > UINT64_MAX / uint64_t(page_size)) return UINT64_MAX;
  return uint64_t(pages) * uint64_t(page_size);
}

// A limit set with `ulimit -v` or `ulimit -d` makes large allocations fail however much memory
// the machine has.
uint64_t resource_limit_bytes(int resource) {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return uint64_t(limit.rlim_cur);
}

}  // namespace

uint64_t memory_limit_bytes() {
  const uint64_t physical = physical_memory_bytes();
  const uint64_t process =
      std::min(resource_limit_bytes(RLIMIT_AS), resource_limit_bytes(RLIMIT_DATA));
  if (physical == 0) return process == UINT64_MAX ? 0 : process;
  return std::min(physical, process);
}

ErrorCode check_memory_need(uint64_t bytes, uint64_t limit) {
  return limit != 0 && bytes > limit ? ERR_NO_MEM : NO_ERROR;
}

}  // namespace harnix
