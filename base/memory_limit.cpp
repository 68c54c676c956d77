#include "base/memory_limit.h"

#include <algorithm>

#include "base/platform.h"

namespace harnix {

uint64_t memory_limit_bytes() {
  const uint64_t physical = physical_memory_bytes();
  const uint64_t process = process_memory_limit_bytes();
  if (physical == 0) return process == UINT64_MAX ? 0 : process;
  return std::min(physical, process);
}

ErrorCode check_memory_need(uint64_t bytes, uint64_t limit) {
  return limit != 0 && bytes > limit ? ERR_NO_MEM : NO_ERROR;
}

}  // namespace harnix
