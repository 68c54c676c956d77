// The yardstick of the whole-run benchmark: the plainest program that does the averaging job on
// inputs taken with one set of attributes.
//
// Per input: the whole file in one read into a buffer kept between inputs; then one loop over the
// phase block that byte-swaps each value and adds every valid one (below 0x7FFFFFF8) into a
// double sum, a double sum of squares and a 16-bit count of the camera field, choosing with
// selects rather than branches so that it runs on vector registers (the target is built with
// -O3 -march=native). After the last input, one loop gives the average, the population deviation
// sqrt((sum x^2 - (sum x)^2 / n) / n) and the count of every pixel with at least `min` values
// (the invalid marker elsewhere), rounded half away from zero; nothing is written, only a
// checksum of the three results printed, so that no work can be left out. No scaling, no window
// cutting, no checks beyond the sizes.
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

// The whole file in one read (more only if the system returns it in parts).
void read_whole(const std::string& name, std::vector<uint8_t>& buffer) {
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
  buffer.resize(size);
}

int32_t rounded(double v) {
  if (!(v >= -67108864.0 && v <= 67108863.0)) return INVALID;
  return static_cast<int32_t>(v >= 0.0 ? v + 0.5 : v - 0.5);
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

  std::vector<uint8_t> file;
  std::vector<double> sum, sum_sq;
  std::vector<int16_t> count;
  int32_t camera_width = 0, camera_height = 0;
  for (const std::string& name : names) {
    read_whole(name, file);
    if (file.size() < 4) fail("too short", name);
    const int32_t header_size = header_size_for_magic(load_be32(file.data()));
    if (header_size == 0 || file.size() < static_cast<std::size_t>(header_size)) {
      fail("not a data file", name);
    }
    DataHeader header;
    decode_header(file.data(), header_size, &header);
    if (sum.empty()) {
      camera_width = header.attributes.CameraWidth;
      camera_height = header.attributes.CameraHeight;
      const std::size_t pixels = std::size_t(camera_width) * std::size_t(camera_height);
      sum.assign(pixels, 0.0);
      sum_sq.assign(pixels, 0.0);
      count.assign(pixels, 0);
    }
    const MapDescription& p = header.phase;
    const std::size_t block = std::size_t(p.width) * std::size_t(p.height) * 4;
    const std::size_t start =
        std::size_t(header_size) + std::size_t(std::max(0, header.intensity.byte_count));
    if (p.x < 0 || p.y < 0 || p.x + p.width > camera_width || p.y + p.height > camera_height ||
        file.size() < start + block) {
      fail("unexpected phase block in", name);
    }

    // Byte-swap each value and add the valid ones into the camera field, in one pass.
    const uint8_t* values = file.data() + start;
    for (int32_t r = 0; r < p.height; ++r) {
      const std::size_t at = std::size_t(p.y + r) * std::size_t(camera_width) + std::size_t(p.x);
      const uint8_t* src = values + std::size_t(r) * std::size_t(p.width) * 4;
      double* s = sum.data() + at;
      double* q = sum_sq.data() + at;
      int16_t* c = count.data() + at;
      for (int32_t i = 0; i < p.width; ++i) {
        uint32_t u;
        std::memcpy(&u, src + std::size_t(i) * 4, 4);
        const auto v = static_cast<int32_t>(__builtin_bswap32(u));
        const bool valid = v < INVALID;
        const double d = valid ? static_cast<double>(v) : 0.0;
        s[i] += d;
        q[i] += d * d;
        c[i] = static_cast<int16_t>(c[i] + valid);
      }
    }
  }

  int64_t checksum = 0;
  for (std::size_t i = 0; i < sum.size(); ++i) {
    const int n = count[i];
    const bool enough = n >= min_count;
    const double mean = sum[i] / n;
    const double variance = (sum_sq[i] - sum[i] * sum[i] / n) / n;
    const int32_t avg = enough ? rounded(mean) : INVALID;
    const int32_t sdev = enough ? rounded(variance > 0.0 ? std::sqrt(variance) : 0.0) : INVALID;
    const int32_t cnt = n != 0 ? n : INVALID;
    checksum += int64_t(avg) + sdev + cnt;
  }
  std::printf("%lld\n", static_cast<long long>(checksum));
  return 0;
}
