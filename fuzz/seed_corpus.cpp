// harnix-fuzz-seeds LIST OUT_DIR
//
// Builds the seed corpus of the fuzz targets from small synthetic measurements (the files named
// in LIST, as written by `harnix-util synth`, all of one camera size): OUT_DIR/reader/ gets whole
// files in both header sizes, with and without an intensity map, and damaged copies each named
// after its defect (truncations, bad magics, huge, negative and empty windows, bad byte counts,
// NaN, infinite and out-of-range attributes); OUT_DIR/run/ gets pairs of them with run settings
// in the layout of fuzz/run_input.h. Every seed is written anew; nothing else is removed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "fuzz/run_input.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Header offsets of the fields the damage touches (big-endian unless noted).
constexpr std::size_t MAGIC = 0;
constexpr std::size_t INTENSITY_WIDTH = 52;
constexpr std::size_t INTENSITY_BUCKETS = 56;
constexpr std::size_t INTENSITY_BYTES = 60;
constexpr std::size_t PHASE_X = 64;
constexpr std::size_t PHASE_Y = 66;
constexpr std::size_t PHASE_WIDTH = 68;
constexpr std::size_t PHASE_HEIGHT = 70;
constexpr std::size_t PHASE_BYTES = 72;
constexpr std::size_t TIME_STAMP = 76;
constexpr std::size_t SCALE_FACTOR = 164;
constexpr std::size_t WAVELENGTH = 168;
constexpr std::size_t OBLIQUITY = 176;
constexpr std::size_t CAMERA_RES = 184;
constexpr std::size_t PHASE_RES = 218;
constexpr std::size_t CAMERA_WIDTH = 234;
constexpr std::size_t CAMERA_HEIGHT = 236;
constexpr std::size_t PIXEL_WIDTH = 486;
constexpr std::size_t PIXEL_HEIGHT = 490;
constexpr std::size_t ZOOM_LE = 1442;  // least significant byte first
constexpr std::size_t SHORT_HEADER = 834;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

struct Bytes {
  std::string b;

  Bytes& be16(std::size_t at, uint32_t v) {
    b.at(at) = char(v >> 8);
    b.at(at + 1) = char(v);
    return *this;
  }
  Bytes& be32(std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = char(v >> (24 - 8 * i));
    return *this;
  }
  Bytes& real(std::size_t at, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return be32(at, u);
  }
  Bytes& real_le(std::size_t at, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    for (int i = 0; i < 4; ++i) b.at(at + i) = char(u >> (8 * i));
    return *this;
  }
  Bytes& cut(std::size_t n) {
    b.resize(std::min(n, b.size()));
    return *this;
  }
  // Sets every phase value (after a header of `header` bytes) to `v`.
  Bytes& fill_phase(std::size_t header, uint32_t v) {
    for (std::size_t at = header; at + 4 <= b.size(); at += 4) be32(at, v);
    return *this;
  }
};

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_bytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out);
}

// One measurement written again through the library: `long_header` keeps ZoomMag (and so the
// 4096-byte header), otherwise ZoomMag 0 gives the 834-byte one; `planes` > 0 adds an intensity
// map of that many planes over the phase window. Empty on failure.
std::string rewrite(const std::string& input, const std::filesystem::path& scratch,
                    bool long_header, int16_t planes) {
  DataAttributes a{};
  PhaseMap phase;
  IntensityMap intensity;
  map_init(intensity);
  if (read_data_file(input.c_str(), nullptr, &a, nullptr, &phase) != NO_ERROR) return "";
  if (!long_header) {
    a.ZoomMag = 0.0f;
    std::memset(a.other + 838, 0, sizeof a.other - 838);  // nothing else asks for the long header
  }
  ErrorCode rc = NO_ERROR;
  if (planes > 0) {
    intensity.window = phase.window;
    intensity.n_buckets = planes;
    intensity.range = 255;
    rc = map_alloc(intensity);
    for (uint32_t i = 0; rc == NO_ERROR && i < intensity.size; ++i)
      intensity.matrix[i] = uint16_t(i * 37);
  }
  const std::string path = (scratch / "rewrite.dat").string();
  if (rc == NO_ERROR) rc = write_data_file(path.c_str(), nullptr, &a, &intensity, &phase);
  map_free(phase);
  map_free(intensity);
  std::string bytes = rc == NO_ERROR ? read_bytes(path) : "";
  std::filesystem::remove(path);
  return bytes;
}

struct Seeds {
  std::filesystem::path reader_dir, run_dir;
  int written = 0;
  bool ok = true;

  void reader(const std::string& name, const std::string& bytes) {
    ok = write_bytes(reader_dir / (name + ".dat"), bytes) && ok;
    ++written;
  }
  void run(const std::string& name, uint8_t settings, const std::string& first,
           const std::string& second, bool sample = false) {
    ok = write_bytes(run_dir / (name + ".run"), join_run_input(settings, first, second, sample)) &&
         ok;
    ++written;
  }
};

void reader_seeds(Seeds& s, const std::string& shrt, const std::string& lng,
                  const std::string& with_intensity) {
  const auto from = [](const std::string& base) { return Bytes{base}; };
  s.reader("valid_short_header", shrt);
  s.reader("valid_long_header", lng);
  s.reader("valid_with_intensity", with_intensity);

  // Truncations: inside the magic, inside each header, inside the blocks.
  for (std::size_t n :
       {std::size_t{0}, std::size_t{3}, std::size_t{4}, std::size_t{80}, SHORT_HEADER - 1,
        SHORT_HEADER, SHORT_HEADER + 5, shrt.size() - 4, shrt.size() - 1})
    s.reader("truncated_short_at_" + std::to_string(n), from(shrt).cut(n).b);
  for (std::size_t n : {std::size_t{2000}, std::size_t{4095}, lng.size() - 4})
    s.reader("truncated_long_at_" + std::to_string(n), from(lng).cut(n).b);
  s.reader("truncated_in_intensity", from(with_intensity).cut(SHORT_HEADER + 7).b);

  s.reader("magic_zero", from(shrt).be32(MAGIC, 0).b);
  s.reader("magic_next_after_known", from(shrt).be32(MAGIC, 0x881B0372).b);
  s.reader("magic_byte_swapped", from(shrt).be32(MAGIC, 0x6F031B88).b);
  s.reader("magic_long_on_short_file", from(shrt).be32(MAGIC, 0x881B0371).b);
  s.reader("magic_short_on_long_file", from(lng).be32(MAGIC, 0x881B036F).b);

  s.reader("phase_width_32767", from(shrt).be16(PHASE_WIDTH, 32767).b);
  s.reader("phase_both_32767", from(shrt)
                                   .be16(PHASE_WIDTH, 32767)
                                   .be16(PHASE_HEIGHT, 32767)
                                   .be32(PHASE_BYTES, 0x7FFFFFFF)
                                   .b);
  s.reader("phase_width_negative", from(shrt).be16(PHASE_WIDTH, 0xFFFF).b);
  s.reader("phase_height_minimum", from(shrt).be16(PHASE_HEIGHT, 0x8000).b);
  s.reader("phase_x_negative", from(shrt).be16(PHASE_X, 0xFFFB).b);
  s.reader("phase_y_32767", from(shrt).be16(PHASE_Y, 32767).b);
  s.reader("phase_width_zero", from(shrt).be16(PHASE_WIDTH, 0).b);
  s.reader("phase_bytes_zero", from(shrt).be32(PHASE_BYTES, 0).cut(SHORT_HEADER).b);
  s.reader("phase_bytes_negative", from(shrt).be32(PHASE_BYTES, 0xFFFFFFFC).b);
  s.reader("phase_bytes_one", from(shrt).be32(PHASE_BYTES, 1).b);
  s.reader("phase_bytes_too_many", from(shrt).be32(PHASE_BYTES, 0x7FFFFFFF).b);

  s.reader("intensity_buckets_negative", from(with_intensity).be16(INTENSITY_BUCKETS, 0xFFFF).b);
  s.reader("intensity_buckets_zero", from(with_intensity).be16(INTENSITY_BUCKETS, 0).b);
  s.reader("intensity_width_32767", from(with_intensity).be16(INTENSITY_WIDTH, 32767).b);
  s.reader("intensity_bytes_odd", from(with_intensity).be32(INTENSITY_BYTES, 3).b);
  s.reader("intensity_bytes_negative", from(with_intensity).be32(INTENSITY_BYTES, 0x80000000).b);

  s.reader("scale_factor_nan", from(shrt).real(SCALE_FACTOR, NaN).b);
  s.reader("scale_factor_infinite", from(shrt).real(SCALE_FACTOR, INF).b);
  s.reader("scale_factor_zero", from(shrt).real(SCALE_FACTOR, 0.0f).b);
  s.reader("wavelength_minus_infinite", from(shrt).real(WAVELENGTH, -INF).b);
  s.reader("wavelength_tiny", from(shrt).real(WAVELENGTH, 1e-45f).b);
  s.reader("obliquity_nan", from(shrt).real(OBLIQUITY, NaN).b);
  s.reader("obliquity_huge", from(shrt).real(OBLIQUITY, 3e38f).b);
  s.reader("camera_res_negative", from(shrt).real(CAMERA_RES, -1e-9f).b);
  s.reader("camera_res_nan", from(shrt).real(CAMERA_RES, NaN).b);
  s.reader("pixel_width_nan", from(shrt).real(PIXEL_WIDTH, NaN).real(PIXEL_HEIGHT, NaN).b);
  s.reader("pixel_sizes_unequal", from(shrt).real(PIXEL_HEIGHT, 7.5e-6f).b);
  s.reader("zoom_nan", from(lng).real_le(ZOOM_LE, NaN).b);
  s.reader("camera_width_zero", from(shrt).be16(CAMERA_WIDTH, 0).b);
  s.reader("camera_height_negative", from(shrt).be16(CAMERA_HEIGHT, 0xFFFF).b);
  s.reader("camera_smaller_than_window", from(shrt).be16(CAMERA_WIDTH, 1).b);
  s.reader("camera_32767", from(shrt).be16(CAMERA_WIDTH, 32767).be16(CAMERA_HEIGHT, 32767).b);
  s.reader("phase_res_unknown", from(shrt).be16(PHASE_RES, 7).b);
  s.reader("time_stamp_negative", from(shrt).be32(TIME_STAMP, 0x80000000).b);
  s.reader("all_values_invalid", from(shrt).fill_phase(SHORT_HEADER, 0x7FFFFFF8).b);
  s.reader("values_largest_valid", from(shrt).fill_phase(SHORT_HEADER, 0x7FFFFFF7).b);
  s.reader("values_smallest", from(shrt).fill_phase(SHORT_HEADER, 0x80000000).b);
}

void run_seeds(Seeds& s, const std::string& a, const std::string& b, const std::string& la,
               const std::string& lb) {
  const auto from = [](const std::string& base) { return Bytes{base}; };
  // Settings: every removal, each output resolution, verbose, minimum count 1, rejection and the
  // per-input report.
  const uint8_t settings[] = {0x00, 0x01, 0x02, 0x03, 0x07, 0x0B,
                              0x1F, 0x23, 0x41, 0x83, 0xC0, 0xD1};
  for (uint8_t x : settings) {
    char name[32];
    std::snprintf(name, sizeof name, "pair_settings_%02x", unsigned(x));
    s.run(name, x, a, b);
  }
  s.run("pair_long_headers", 0x03, la, lb);
  s.run("pair_same_file_twice", 0x22, a, a);
  s.run("pair_sample_deviation", 0x22, a, b, true);
  s.run("pair_sample_rejection_plane", 0x62, a, b, true);
  s.run("first_empty", 0x00, "", b);
  s.run("second_truncated", 0x03, a, from(b).cut(b.size() - 3).b);
  s.run("second_camera_wider", 0x00, a, from(b).be16(CAMERA_WIDTH, 9).b);
  s.run("second_camera_res_off", 0x00, a, from(b).real(CAMERA_RES, 9e-6f).b);
  s.run("second_zoom_off", 0x00, la, from(lb).real_le(ZOOM_LE, 1.2f).b);
  s.run("second_scale_nan", 0x01, a, from(b).real(SCALE_FACTOR, NaN).b);
  s.run("second_all_invalid", 0x02, a, from(b).fill_phase(SHORT_HEADER, 0x7FFFFFF8).b);
  s.run("second_window_outside_camera", 0x00, a, from(b).be16(PHASE_X, 0xFFFF).b);
  s.run("first_camera_32767", 0x03, from(a).be16(CAMERA_WIDTH, 32767).be16(CAMERA_HEIGHT, 32767).b,
        b);
  s.run("first_camera_2000", 0x03, from(a).be16(CAMERA_WIDTH, 2000).be16(CAMERA_HEIGHT, 2000).b,
        from(b).be16(CAMERA_WIDTH, 2000).be16(CAMERA_HEIGHT, 2000).b);
  s.run("both_camera_80", 0x02, from(a).be16(CAMERA_WIDTH, 80).be16(CAMERA_HEIGHT, 80).b,
        from(b).be16(CAMERA_WIDTH, 80).be16(CAMERA_HEIGHT, 80).b);
  s.run("extreme_values_rescaled", 0x0F, from(a).fill_phase(SHORT_HEADER, 0x7FFFFFF7).b,
        from(b).fill_phase(SHORT_HEADER, 0x80000000).b);
  s.run("second_obliquity_huge", 0x00, a, from(b).real(OBLIQUITY, 3e38f).b);
  s.run("second_wavelength_tiny", 0x00, a, from(b).real(WAVELENGTH, 1e-45f).b);
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc != 3) {
    std::fprintf(stderr, "usage: harnix-fuzz-seeds LIST OUT_DIR\n");
    return 1;
  }
  std::vector<std::string> inputs;
  {
    std::ifstream list(argv[1]);
    for (std::string line; std::getline(list, line);)
      if (!line.empty()) inputs.push_back(line);
  }
  if (inputs.size() < 2) {
    std::fprintf(stderr, "harnix-fuzz-seeds: %s names fewer than two files\n", argv[1]);
    return 1;
  }
  const std::filesystem::path out = argv[2];
  Seeds s{out / "reader", out / "run"};
  std::error_code ec;
  std::filesystem::create_directories(s.reader_dir, ec);
  std::filesystem::create_directories(s.run_dir, ec);

  const std::string a = rewrite(inputs[0], out, false, 0);
  const std::string b = rewrite(inputs[1], out, false, 0);
  const std::string la = rewrite(inputs[0], out, true, 0);
  const std::string lb = rewrite(inputs[1], out, true, 0);
  const std::string with_intensity = rewrite(inputs[0], out, false, 2);
  if (a.empty() || b.empty() || la.empty() || lb.empty() || with_intensity.empty()) {
    std::fprintf(stderr, "harnix-fuzz-seeds: cannot read the measurements of %s\n", argv[1]);
    return 1;
  }
  reader_seeds(s, a, la, with_intensity);
  run_seeds(s, a, b, la, lb);
  if (!s.ok) {
    std::fprintf(stderr, "harnix-fuzz-seeds: cannot write into %s\n", argv[2]);
    return 1;
  }
  std::printf("%d seeds in %s\n", s.written, argv[2]);
  return 0;
}
