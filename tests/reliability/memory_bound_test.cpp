// Sizes read from files are compared with the memory the program can count on before storage is
// asked for. The machine running the tests may well hold a 4 GiB map, so each case runs in a
// child process whose address space is limited (which the bound honours) and counts the requests
// reaching the allocation hooks. The address sanitizer reserves far more address space than any
// such limit, so these cases run only in builds without it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/memory_limit.h"
#include "datafile/data_file.h"
#include "maps/storage.h"
#include "support/failing_allocator.h"
#include "support/in_process_run.h"
#include "support/planoryx_bytes.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SANITIZER = true;
#else
constexpr bool ADDRESS_SANITIZER = false;
#endif

constexpr uint64_t GIB = uint64_t{1} << 30;

void limit_address_space(uint64_t bytes) {
  const rlimit limit{bytes, bytes};
  if (setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(99);
}

TEST(MemoryLimit, FollowsTheAddressSpaceLimit) {
  if (ADDRESS_SANITIZER) GTEST_SKIP() << "the address sanitizer needs unlimited address space";
  EXPECT_GT(memory_limit_bytes(), 2 * GIB) << "this machine has more than the limit below";
  EXPECT_EXIT(
      {
        limit_address_space(2 * GIB);
        std::_Exit(memory_limit_bytes() == 2 * GIB ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

struct ReaderBoundCase {
  const char* label;
  int width, height;
  ErrorCode expected;
  int requests;  // reaching the allocation hooks
};

std::ostream& operator<<(std::ostream& os, const ReaderBoundCase& c) {
  return os << c.label;
}

class ReaderMemoryBoundTest : public ::testing::TestWithParam<ReaderBoundCase> {};

// The header alone arrives through a pipe, so the reader cannot compare the block with the
// file's size: only the memory bound stands between it and the allocation.
TEST_P(ReaderMemoryBoundTest, RefusesBlocksBeyondTheLimitBeforeAskingForThem) {
  if (ADDRESS_SANITIZER) GTEST_SKIP() << "the address sanitizer needs unlimited address space";
  const ReaderBoundCase& c = GetParam();
  TestFile f = TestFile::with_header(0x881B036F);
  f.set16(68, uint32_t(c.width));
  f.set16(70, uint32_t(c.height));
  // The block's byte count, at most the 32-bit largest: width x height values are read.
  f.set32(72,
          uint32_t(std::min<uint64_t>(4ull * uint64_t(c.width) * uint64_t(c.height), 0x7FFFFFFF)));
  EXPECT_EXIT(
      {
        limit_address_space(2 * GIB);
        int ends[2];
        if (pipe(ends) != 0) std::_Exit(98);
        if (write(ends[1], f.bytes.data(), f.bytes.size()) != ssize_t(f.bytes.size()))
          std::_Exit(97);
        close(ends[1]);
        std::FILE* stream = fdopen(ends[0], "rb");
        PhaseMap phase;
        FailingAllocator counter(0);
        const ErrorCode rc = read_data_stream(stream, nullptr, nullptr, nullptr, &phase);
        std::fprintf(stderr, "code %d, requests %d\n", int(rc), counter.requests());
        std::_Exit(rc == c.expected && counter.requests() == c.requests ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Blocks, ReaderMemoryBoundTest,
                         ::testing::Values(
                             // 4 GiB against a 2 GiB limit: refused untouched.
                             ReaderBoundCase{"Largest", 32767, 32767, ERR_NO_MEM, 0},
                             // 512 MiB fits: asked for, then the pipe ends before the block.
                             ReaderBoundCase{"FitsTheLimit", 32767, 4096, ERR_CORRUPT_DATA_FILE,
                                             1}),
                         [](const auto& info) { return std::string(info.param.label); });

// A camera of 8000 x 8000 pixels needs about 3 GB of working maps: within this machine's memory,
// beyond a 2 GiB limit. The run refuses it after reading the first input (one request) and the
// program exits with status 1.
TEST(RunMemoryBound, CameraBeyondTheLimitEndsTheProgramWithNoMem) {
  if (ADDRESS_SANITIZER) GTEST_SKIP() << "the address sanitizer needs unlimited address space";
  TempDir dir;
  MeasurementFile m;
  m.camera_width = m.camera_height = 8000;
  m.width = 2;
  m.height = 1;
  m.values = {1, 2};
  dir.write("big.dat", encode_test_file(m));
  EXPECT_EXIT(
      {
        limit_address_space(2 * GIB);
        std::string err;
        FailingAllocator counter(0);
        const int status = main_in_process(
            {"-Overwrite", "-AvgOut", dir.file("a.dat"), dir.file("big.dat")}, &err);
        std::fprintf(stderr, "%s", err.c_str());
        std::_Exit(status == 1 && counter.requests() == 1 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "Harnix\nERROR: ERR_NO_MEM\n");
}

}  // namespace

}  // namespace harnix
