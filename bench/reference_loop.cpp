// The yardstick of the whole-run benchmark: the plainest program that does the averaging job on
// inputs taken with one set of attributes.
//
// Per input: the whole file in one read into a buffer kept between inputs; then one loop over the
// phase block that byte-swaps each value and adds every valid one (below 0x7FFFFFF8) into a
// double sum, a double sum of squares and a 16-bit count of the camera field. After the last
// input, one loop gives the average, the population deviation sqrt((sum x^2 - (sum x)^2 / n) / n)
// and the count of every pixel with at least `min` values (the invalid marker elsewhere), rounded
// half away from zero, and writes them to OUT_avg.dat, OUT_sdev.dat and OUT_count.dat (camera-sized
// blocks after a short header). No scaling, no window cutting, no checks beyond the sizes.
//
// usage: harnix-reference-loop OUT MIN LIST    (LIST names one input per line)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

void write_result(const std::string& name, const DataHeader& header,
                  const std::vector<int32_t>& values) {
  uint8_t bytes[HEADER_SIZE_LONG];
  encode_header(header, bytes);
  std::vector<uint8_t> block(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) {
    store_be32(&block[i * 4], static_cast<uint32_t>(values[i]));
  }
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr ||
      std::fwrite(bytes, 1, static_cast<std::size_t>(header.header_size), f) !=
          static_cast<std::size_t>(header.header_size) ||
      std::fwrite(block.data(), 1, block.size(), f) != block.size() || std::fclose(f) != 0) {
    fail("cannot write", name);
  }
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc != 4) {
    std::fputs("usage: harnix-reference-loop OUT MIN LIST\n", stderr);
    return 1;
  }
  const std::string out = argv[1];
  const int min_count = std::max(1, std::atoi(argv[2]));
  std::ifstream list(argv[3]);
  std::vector<std::string> names;
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) names.push_back(line);
  }
  if (names.empty()) fail("no input in", argv[3]);

  std::vector<uint8_t> file;
  std::vector<double> sum, sum_sq;
  std::vector<int16_t> count;
  int32_t camera_width = 0, camera_height = 0;
  DataHeader first{};
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
      first = header;
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

    // Byte-swap the phase block, then add each valid value into the camera field.
    auto* values = reinterpret_cast<uint32_t*>(file.data() + start);  // 834 and 4096 are even
    const std::size_t n = block / 4;
    for (std::size_t i = 0; i < n; ++i) {
      uint32_t v;
      std::memcpy(&v, values + i, 4);
      v = __builtin_bswap32(v);
      std::memcpy(values + i, &v, 4);
    }
    for (int32_t r = 0; r < p.height; ++r) {
      const std::size_t row = std::size_t(p.y + r) * std::size_t(camera_width) + std::size_t(p.x);
      for (int32_t c = 0; c < p.width; ++c) {
        int32_t v;
        std::memcpy(&v, values + std::size_t(r) * std::size_t(p.width) + std::size_t(c), 4);
        if (v < INVALID) {
          const double d = v;
          sum[row + c] += d;
          sum_sq[row + c] += d * d;
          ++count[row + c];
        }
      }
    }
  }

  std::vector<int32_t> avg(sum.size()), sdev(sum.size()), cnt(sum.size());
  for (std::size_t i = 0; i < sum.size(); ++i) {
    const int n = count[i];
    const bool enough = n >= min_count;
    const double mean = sum[i] / n;
    const double variance = (sum_sq[i] - sum[i] * sum[i] / n) / n;
    avg[i] = enough ? rounded(mean) : INVALID;
    sdev[i] = enough ? rounded(variance > 0.0 ? std::sqrt(variance) : 0.0) : INVALID;
    cnt[i] = n != 0 ? n : INVALID;
  }
  DataHeader header{};
  header.magic = magic_for_attributes(&first.attributes);
  header.header_size = header_size_for_magic(header.magic);
  header.attributes = first.attributes;
  header.phase = {0, 0, int16_t(camera_width),  int16_t(camera_height),
                  0, 0, int32_t(sum.size() * 4)};
  write_result(out + "_avg.dat", header, avg);
  write_result(out + "_sdev.dat", header, sdev);
  write_result(out + "_count.dat", header, cnt);
  return 0;
}
