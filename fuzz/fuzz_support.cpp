#include "fuzz/fuzz_support.h"

#include <atomic>
#include <cstdlib>

#include "base/allocation.h"

namespace harnix {

namespace {

std::atomic<long> handed_out{0};
std::atomic<long> released{0};
std::size_t largest_allowed = 0;

void* capped_allocate(std::size_t bytes) {
  if (bytes > largest_allowed) return nullptr;
  void* block = std::malloc(bytes);
  if (block != nullptr) ++handed_out;
  return block;
}

void* capped_reallocate(void* block, std::size_t bytes) {
  if (bytes > largest_allowed) return nullptr;
  void* moved = std::realloc(block, bytes);
  // A moved block replaces the old one: only a fresh block (from nullptr) is a new hand-out.
  if (moved != nullptr && block == nullptr) ++handed_out;
  return moved;
}

void* capped_allocate_zeroed(std::size_t count, std::size_t each) {
  if (each != 0 && count > largest_allowed / each) return nullptr;
  void* block = std::calloc(count, each);
  if (block != nullptr) ++handed_out;
  return block;
}

void counted_release(void* block) {
  if (block != nullptr) ++released;
  std::free(block);
}

}  // namespace

void fuzz_check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

std::FILE* open_memory_stream(std::vector<uint8_t>& bytes) {
  // A memory stream of no bytes is refused by some C libraries; /dev/null reads as empty too.
  std::FILE* stream =
      bytes.empty() ? std::fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
  FUZZ_CHECK(stream != nullptr);
  return stream;
}

AllocationBalance::AllocationBalance(std::size_t cap) {
  largest_allowed = cap;
  handed_out = 0;
  released = 0;
  allocation_hooks = {capped_allocate, capped_reallocate, capped_allocate_zeroed, counted_release};
}

AllocationBalance::~AllocationBalance() {
  reset_allocation_hooks();
}

void AllocationBalance::check() const {
  if (handed_out != released) {
    std::fprintf(stderr, "allocation hooks: %ld blocks handed out, %ld released\n",
                 handed_out.load(), released.load());
    std::abort();
  }
}

}  // namespace harnix
