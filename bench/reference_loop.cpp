// The yardstick of the whole-run benchmark: the plainest program that does the averaging job on
// inputs taken with one set of attributes.
//
// Per input: the header in one read, then the phase block a piece of rows at a time into a
// buffer kept between inputs, each piece added while it is still in the cache: one loop per row
// that byte-swaps each value and adds every valid one (below 0x7FFFFFF8) into a double sum, a
// double sum of squares and a 16-bit count of the camera field, over restrict-qualified rows and
// choosing with masks rather than branches so that it runs on vector registers (the target is
// built with -O3 -march=native). After the last input, one loop gives the average, the
// population deviation sqrt((sum x^2 - (sum x)^2 / n) / n) and the count of every pixel with at
// least `min` values (the invalid marker elsewhere), rounded half away from zero; nothing is
// written, only a checksum of the three results printed, so that no work can be left out. No
// scaling, no window cutting, no checks beyond the sizes.
//
// usage: harnix-reference-loop MIN LIST    (LIST names one input per line)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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
  std::fprintf(stderr, "harnix-reference-loop: %s \"%s\"\n", what, name.c_str());
  std::exit(1);
}

// Bytes of the phase block read at a time: a piece stays in the cache until it is added.
constexpr std::size_t PIECE_BYTES = 256 * 1024;

// Reads `size` bytes at `offset` (more than one read only if the system returns them in parts).
void read_at(int fd, uint8_t* to, std::size_t size, std::size_t offset, const std::string& name) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = pread(fd, to + got, size - got, off_t(offset + got));
    if (n <= 0) fail("cannot read", name);
    got += static_cast<std::size_t>(n);
  }
}

// Adds one row of n big-endian values to the sums.
void add_row(const uint8_t* src, int32_t n, double* __restrict s, double* __restrict q,
             int16_t* __restrict c) {
  for (int32_t i = 0; i < n; ++i) {
    uint32_t u;
    std::memcpy(&u, src + std::size_t(i) * 4, 4);
    const auto v = static_cast<int32_t>(__builtin_bswap32(u));
    const int32_t valid = v < INVALID;
    const auto d = static_cast<double>(v & -valid);
    s[i] += d;
    q[i] += d * d;
    c[i] = static_cast<int16_t>(c[i] + valid);
  }
}

// v rounded half away from zero; the marker beyond the range of 27-bit values (and for NaN).
int32_t rounded(double v) {
  const bool in = v >= -67108864.0 && v <= 67108863.0;
  const double r = in ? (v >= 0.0 ? v + 0.5 : v - 0.5) : 0.0;
  return in ? static_cast<int32_t>(r) : INVALID;
}

// The checksum of the three results of every pixel.
int64_t results_checksum(const double* sum, const double* sum_sq, const int16_t* count,
                         std::size_t pixels, int min_count) {
  int64_t checksum = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    const int n = count[i];
    const bool enough = n >= min_count;
    const double mean = sum[i] / n;
    const double variance = (sum_sq[i] - sum[i] * sum[i] / n) / n;
    const int32_t avg = enough ? rounded(mean) : INVALID;
    const int32_t sdev = enough ? rounded(variance > 0.0 ? std::sqrt(variance) : 0.0) : INVALID;
    const int32_t cnt = n != 0 ? n : INVALID;
    checksum += int64_t(avg) + sdev + cnt;
  }
  return checksum;
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc != 3) {
    std::fputs("usage: harnix-reference-loop MIN LIST\n", stderr);
    return 1;
  }
  const int min_count = std::max(1, std::atoi(argv[1]));
  std::ifstream list(argv[2]);
  std::vector<std::string> names;
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) names.push_back(line);
  }
  if (names.empty()) fail("no input in", argv[2]);

  std::vector<uint8_t> buffer(PIECE_BYTES + 4096);
  std::vector<double> sum, sum_sq;
  std::vector<int16_t> count;
  int32_t camera_width = 0, camera_height = 0;
  for (const std::string& name : names) {
    const int fd = open(name.c_str(), O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) fail("cannot open", name);
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < 4) fail("too short", name);
    read_at(fd, buffer.data(), std::min<std::size_t>(size, 4096), 0, name);
    const int32_t header_size = header_size_for_magic(load_be32(buffer.data()));
    if (header_size == 0 || size < static_cast<std::size_t>(header_size)) {
      fail("not a data file", name);
    }
    DataHeader header;
    decode_header(buffer.data(), header_size, &header);
    if (sum.empty()) {
      camera_width = header.attributes.CameraWidth;
      camera_height = header.attributes.CameraHeight;
      const std::size_t pixels = std::size_t(camera_width) * std::size_t(camera_height);
      sum.assign(pixels, 0.0);
      sum_sq.assign(pixels, 0.0);
      count.assign(pixels, 0);
    }
    const MapDescription& p = header.phase;
    const std::size_t row_bytes = std::size_t(p.width) * 4;
    const std::size_t block = row_bytes * std::size_t(p.height);
    const std::size_t start =
        std::size_t(header_size) + std::size_t(std::max(0, header.intensity.byte_count));
    if (p.x < 0 || p.y < 0 || p.x + p.width > camera_width || p.y + p.height > camera_height ||
        size < start + block) {
      fail("unexpected phase block in", name);
    }
    const auto rows = static_cast<int32_t>(std::max<std::size_t>(1, PIECE_BYTES / std::max<std::size_t>(row_bytes, 1)));
    if (buffer.size() < std::size_t(rows) * row_bytes) buffer.resize(std::size_t(rows) * row_bytes);
    for (int32_t r0 = 0; r0 < p.height; r0 += rows) {
      const int32_t n = std::min(rows, p.height - r0);
      read_at(fd, buffer.data(), std::size_t(n) * row_bytes, start + std::size_t(r0) * row_bytes,
              name);
      for (int32_t r = 0; r < n; ++r) {
        const std::size_t at =
            std::size_t(p.y + r0 + r) * std::size_t(camera_width) + std::size_t(p.x);
        add_row(buffer.data() + std::size_t(r) * row_bytes, p.width, sum.data() + at,
                sum_sq.data() + at, count.data() + at);
      }
    }
    close(fd);
  }

  const int64_t checksum =
      results_checksum(sum.data(), sum_sq.data(), count.data(), sum.size(), min_count);
  std::printf("%lld\n", static_cast<long long>(checksum));
  return 0;
}
