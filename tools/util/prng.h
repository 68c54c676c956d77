// A small deterministic pseudo-random generator for the synthetic measurements: the same seed
// gives the same files with any compiler and standard library (the library's distributions are
// not fixed bit for bit, so none is used).
#ifndef HARNIX_TOOLS_UTIL_PRNG_H_
#define HARNIX_TOOLS_UTIL_PRNG_H_

#include <cstdint>

namespace harnix {

// splitmix64: a 64-bit counter passed through a fixed mixing function.
struct Prng {
  uint64_t state;
};

inline uint64_t prng_next(Prng& p) {
  uint64_t z = (p.state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in [0, 1), 53 random bits.
inline double prng_uniform(Prng& p) {
  return double(prng_next(p) >> 11) * 0x1.0p-53;
}

// Uniform in [lo, hi).
inline double prng_range(Prng& p, double lo, double hi) {
  return lo + (hi - lo) * prng_uniform(p);
}

// Uniform integer in [0, n) for n >= 1 (the tiny modulo bias does not matter here).
inline uint32_t prng_below(Prng& p, uint32_t n) {
  return uint32_t(prng_next(p) % n);
}

// Roughly normal with mean 0 and standard deviation 1: the sum of four uniforms (Irwin-Hall),
// centred and scaled, which needs no transcendental functions.
inline double prng_normal(Prng& p) {
  const double s = prng_uniform(p) + prng_uniform(p) + prng_uniform(p) + prng_uniform(p);
  return (s - 2.0) * 1.7320508075688772;  // sqrt(12 / 4)
}

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_PRNG_H_
