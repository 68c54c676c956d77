// The second yardstick of the whole-run benchmark: the tightest plain single-threaded loop for
// the three-output job, with even less around it than harnix-reference-loop.
//
// Per input: the whole file in one read into a buffer kept between inputs; the phase block taken
// as the first input's size, contiguous (no placement on the camera field, no window, no checks
// beyond the sizes); one loop that byte-swaps each value and adds every valid one (below
// 0x7FFFFFF8) into a double sum, a double sum of squares and a 16-bit count, the invalid ones
// masked to 0 with integer operations, over restrict-qualified arrays (the target is built with
// -O3 -march=native). No results are formed: the totals of the three sums are printed, so that
// no work can be left out.
//
// usage: harnix-tight-loop LIST    (LIST names one input per line)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "datafile/byte_order.h"
#include "datafile/header_layout.h"

namespace harnix {

namespace {

constexpr int32_t INVALID = 0x7FFFFFF8;

[[noreturn]] void fail(const char* what, const std::string& name) {
  std::fprintf(stderr, "harnix-tight-loop: %s \"%s\"\n", what, name.c_str());
  std::exit(1);
}

// The whole file in one read (more only if the system returns it in parts); returns its size.
std::size_t read_whole(const std::string& name, std::vector<uint8_t>& buffer) {
  const int fd = open(name.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) fail("cannot open", name);
  const auto size = static_cast<std::size_t>(st.st_size);
  if (buffer.size() < size) buffer.resize(size);
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer.data() + got, size - got);
    if (n <= 0) fail("cannot read", name);
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  return size;
}

// The three sums of n values at `p` (big-endian), in one pass.
void add_values(const uint8_t* p, std::size_t n, double* __restrict sum,
                double* __restrict sum_sq, int16_t* __restrict count) {
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t u;
    std::memcpy(&u, p + 4 * i, 4);
    const auto v = static_cast<int32_t>(__builtin_bswap32(u));
    const int32_t ok = v < INVALID;
    const auto d = static_cast<double>(v & -ok);
    sum[i] += d;
    sum_sq[i] += d * d;
    count[i] = static_cast<int16_t>(count[i] + ok);
  }
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc != 2) {
    std::fputs("usage: harnix-tight-loop LIST\n", stderr);
    return 1;
  }
  std::ifstream list(argv[1]);
  std::vector<std::string> names;
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) names.push_back(line);
  }
  if (names.empty()) fail("no input in", argv[1]);

  std::vector<uint8_t> file;
  std::vector<double> sum, sum_sq;
  std::vector<int16_t> count;
  std::size_t pixels = 0;
  for (const std::string& name : names) {
    const std::size_t size = read_whole(name, file);
    if (size < 4) fail("too short", name);
    const int32_t header_size = header_size_for_magic(load_be32(file.data()));
    if (header_size == 0 || size < static_cast<std::size_t>(header_size)) {
      fail("not a data file", name);
    }
    DataHeader header;
    decode_header(file.data(), header_size, &header);
    const std::size_t n = std::size_t(header.phase.width) * std::size_t(header.phase.height);
    const std::size_t start =
        std::size_t(header_size) + std::size_t(std::max(0, header.intensity.byte_count));
    if (size < start + 4 * n) fail("short phase block in", name);
    if (pixels == 0) {
      pixels = n;
      sum.assign(n, 0.0);
      sum_sq.assign(n, 0.0);
      count.assign(n, 0);
    }
    if (n != pixels) fail("a size other than the first input's in", name);
    add_values(file.data() + start, n, sum.data(), sum_sq.data(), count.data());
  }

  double total = 0.0;
  double total_sq = 0.0;
  long long total_count = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    total += sum[i];
    total_sq += sum_sq[i];
    total_count += count[i];
  }
  std::printf("%.17g %.17g %lld\n", total, total_sq, total_count);
  return 0;
}
