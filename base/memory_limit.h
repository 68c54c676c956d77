// How much memory the program can count on.
//
// Sizes read from a file (a camera field, a map's window) are compared with this before storage
// is asked for: on a system that hands out address space freely, an allocation far beyond the
// machine's memory may succeed and the process be ended by the system only when the storage is
// filled. Refusing early turns that into ERR_NO_MEM.
#ifndef HARNIX_BASE_MEMORY_LIMIT_H_
#define HARNIX_BASE_MEMORY_LIMIT_H_

#include <cstdint>

#include "base/error_codes.h"

namespace harnix {

// The machine's physical memory in bytes, lowered to the process's address-space or data-size
// limit when either is set below it; 0 when the system tells nothing.
uint64_t memory_limit_bytes();

// ERR_NO_MEM when `bytes` exceed `limit`; NO_ERROR otherwise, and always when `limit` is 0
// (unknown).
ErrorCode check_memory_need(uint64_t bytes, uint64_t limit);

}  // namespace harnix

#endif  // HARNIX_BASE_MEMORY_LIMIT_H_
