// Helpers shared by the fuzz targets: a check that aborts (so that the fuzzer keeps the input),
// memory streams over the fuzzed bytes, and allocation hooks that count what the library takes
// and releases and refuse requests larger than a fuzz run should make.
#ifndef HARNIX_FUZZ_FUZZ_SUPPORT_H_
#define HARNIX_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace harnix {

// Aborts with the failed condition and its place when `condition` is false.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : fuzz_check_failed(#condition, __FILE__, __LINE__))
[[noreturn]] void fuzz_check_failed(const char* condition, const char* file, int line);

// A read-only stream over `bytes` (which must outlive it); an empty vector gives an empty stream.
// Aborts when the stream cannot be opened. Close it with fclose.
std::FILE* open_memory_stream(std::vector<uint8_t>& bytes);

// While alive, the allocation hooks count every block handed out and every block released, and
// refuse requests above `cap` bytes, as a machine without the memory would refuse them: the
// library must then answer ERR_NO_MEM (the cap also keeps each fuzz run small and fast).
// check() aborts unless every block handed out since construction has been released. The
// standard hooks come back when it goes.
class AllocationBalance {
 public:
  explicit AllocationBalance(std::size_t cap);
  ~AllocationBalance();
  AllocationBalance(const AllocationBalance&) = delete;
  AllocationBalance& operator=(const AllocationBalance&) = delete;

  void check() const;
};

}  // namespace harnix

#endif  // HARNIX_FUZZ_FUZZ_SUPPORT_H_
