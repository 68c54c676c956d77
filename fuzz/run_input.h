// How the run fuzz target splits its input into run settings and two data files, shared with
// the seed tool that builds its corpus.
//
//   byte 0      settings: bits 0-1 SdevRemove (0 None, 1 Piston, 2 Plane, 3 Sphere; with
//               bit 7: 0 Cylinder, 1 Robust, 2 None, 3 Plane),
//               bits 2-3 PhaseRes (0 from the first input, 1 Normal, 2 High, 3 Super),
//               bit 4 Verbose, bit 5 MinValidCnt 1 (else 2), bit 6 rejection (K 1.5, two
//               rounds, with the rejection count output), bit 7 the per-input report
//   bytes 1..4  length L of the first file, big-endian, taken modulo (bytes left + 1); its top
//               bit also asks for the sample deviation and the uncertainty of the mean, and
//               the two bits below it for Level (0 None, 1 Piston, 2 Plane, 3 None), and the
//               bit below those for the median in bands of a few rows (-MemoryLimit 0.01)
//   then        L bytes of the first file, every byte after them the second file
// Inputs shorter than five bytes have settings 0 and an empty first file.
#ifndef HARNIX_FUZZ_RUN_INPUT_H_
#define HARNIX_FUZZ_RUN_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "averaging/settings.h"

namespace harnix {

struct RunInput {
  RemovalMode sdev_remove;
  int32_t phase_res;  // -1 from the first input, else 0..2
  bool verbose;
  int32_t min_valid_count;
  bool reject;
  bool report;
  bool sample;  // the sample deviation and the uncertainty
  LevelMode level;
  bool median;
  std::string first;
  std::string second;
};

inline RunInput split_run_input(const uint8_t* data, std::size_t size) {
  RunInput in{RemovalMode::NONE, -1, false, 2, false, false, false, LevelMode::NONE, false, {}, {}};
  if (size < 5) {
    in.second.assign(reinterpret_cast<const char*>(data), size);
    return in;
  }
  const uint8_t settings = data[0];
  constexpr RemovalMode MODES[] = {RemovalMode::NONE,   RemovalMode::PISTON,   RemovalMode::PLANE,
                                   RemovalMode::SPHERE, RemovalMode::CYLINDER, RemovalMode::ROBUST,
                                   RemovalMode::NONE,   RemovalMode::PLANE};
  in.sdev_remove = MODES[(settings & 3) | (settings >> 5 & 4)];
  in.phase_res = int32_t((settings >> 2) & 3) - 1;
  in.verbose = (settings & 0x10) != 0;
  in.min_valid_count = (settings & 0x20) != 0 ? 1 : 2;
  in.reject = (settings & 0x40) != 0;
  in.report = (settings & 0x80) != 0;
  const uint32_t stated = uint32_t(data[1]) << 24 | uint32_t(data[2]) << 16 |
                          uint32_t(data[3]) << 8 | uint32_t(data[4]);
  in.sample = (stated >> 31) != 0;
  constexpr LevelMode LEVELS[] = {LevelMode::NONE, LevelMode::PISTON, LevelMode::PLANE,
                                  LevelMode::NONE};
  in.level = LEVELS[(stated >> 29) & 3];
  in.median = ((stated >> 28) & 1) != 0;
  const std::size_t left = size - 5;
  const std::size_t first = std::size_t(stated) % (left + 1);
  in.first.assign(reinterpret_cast<const char*>(data + 5), first);
  in.second.assign(reinterpret_cast<const char*>(data + 5 + first), left - first);
  return in;
}

// The settings byte and length prefix that split_run_input reads back as `settings_byte`, a first
// file of first.size() bytes and `second`, and `sample` (first.size() below 2^31).
inline std::string join_run_input(uint8_t settings_byte, const std::string& first,
                                  const std::string& second, bool sample = false) {
  std::string out(1, char(settings_byte));
  auto n = uint32_t(first.size());
  if (sample) {
    // 2^31 + m with m = n - 2^31 modulo (bytes left + 1): the same split, the top bit set.
    const uint64_t modulus = uint64_t(first.size() + second.size()) + 1;
    const uint64_t top = uint64_t{1} << 31;
    n = uint32_t(top + (n + modulus - top % modulus) % modulus);
  }
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char((n >> shift) & 0xFF));
  return out + first + second;
}

}  // namespace harnix

#endif  // HARNIX_FUZZ_RUN_INPUT_H_
