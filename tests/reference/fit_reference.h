// Slow, obviously correct references for the fitting tests: maps over plain vectors, a
// pixel-by-pixel accumulation of the normal equations and a per-pixel surface evaluation.
#ifndef HARNIX_TESTS_REFERENCE_FIT_REFERENCE_H_
#define HARNIX_TESTS_REFERENCE_FIT_REFERENCE_H_

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "fit/fit_model.h"
#include "maps/map_types.h"

namespace harnix {

// A phase map whose storage is a vector it owns.
class TestMap {
 public:
  explicit TestMap(Window w, int32_t fill = 0)
      : data_(static_cast<size_t>(w.width) * static_cast<size_t>(w.height), fill) {
    map.size = static_cast<uint32_t>(data_.size());
    map.window = w;
    map.matrix = data_.data();
  }
  TestMap(const TestMap& other) : TestMap(other.map.window) { data_ = other.data_; }
  TestMap& operator=(const TestMap&) = delete;

  int32_t& at(int px, int py) {
    return data_[static_cast<size_t>(py - map.window.y) * static_cast<size_t>(map.window.width) +
                 static_cast<size_t>(px - map.window.x)];
  }
  const std::vector<int32_t>& values() const { return data_; }

  PhaseMap map{};

 private:
  std::vector<int32_t> data_;
};

// Coordinates of pixel (px, py) in a fit over window w: offsets from its centre.
inline int fit_x(const Window& w, int px) {
  return px - w.x - (w.width - 1) / 2;
}
inline int fit_y(const Window& w, int py) {
  return py - w.y - (w.height - 1) / 2;
}

// Basis functions of a fit type in the order of the normal equations (unused entries 0).
inline std::array<long double, 6> fit_basis(FitType type, long double x, long double y) {
  using enum FitType;
  switch (type) {
    case piston:
      return {1};
    case plane:
      return {1, y, x};
    case sphere:
      return {1, y, x, x * x + y * y};
    default:
      return {1, y, x, x * y, y * y, x * x};
  }
}

// Normal equations summed pixel by pixel in long double.
struct ReferenceSums {
  std::vector<long double> m;  // n x n, row by row
  std::vector<long double> b;
  long double s = 0;
};

inline ReferenceSums reference_sums(const PhaseMap& map, const Window& w, FitType type) {
  const int n = fit_term_count(type);
  ReferenceSums r{std::vector<long double>(static_cast<size_t>(n * n)),
                  std::vector<long double>(static_cast<size_t>(n)), 0};
  for (int py = w.y; py < w.y + w.height; ++py) {
    for (int px = w.x; px < w.x + w.width; ++px) {
      const int32_t v = map.matrix[(py - map.window.y) * map.window.width + (px - map.window.x)];
      if (v >= PHASE_INVALID) continue;
      const std::array<long double, 6> phi = fit_basis(type, fit_x(w, px), fit_y(w, py));
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) r.m[static_cast<size_t>(i * n + j)] += phi[i] * phi[j];
        r.b[static_cast<size_t>(i)] += phi[i] * v;
      }
      r.s += static_cast<long double>(v) * v;
    }
  }
  return r;
}

// Least-squares coefficients of the reference sums by Gauss-Jordan elimination in long double,
// in the order of the basis; empty when singular.
inline std::vector<long double> reference_solve(ReferenceSums r) {
  const size_t n = r.b.size();
  for (size_t k = 0; k < n; ++k) {
    size_t p = k;
    for (size_t i = k + 1; i < n; ++i) {
      if (std::fabs(r.m[i * n + k]) > std::fabs(r.m[p * n + k])) p = i;
    }
    if (r.m[p * n + k] == 0) return {};
    for (size_t j = 0; j < n; ++j) std::swap(r.m[k * n + j], r.m[p * n + j]);
    std::swap(r.b[k], r.b[p]);
    for (size_t i = 0; i < n; ++i) {
      if (i == k) continue;
      const long double f = r.m[i * n + k] / r.m[k * n + k];
      for (size_t j = 0; j < n; ++j) r.m[i * n + j] -= f * r.m[k * n + j];
      r.b[i] -= f * r.b[k];
    }
  }
  std::vector<long double> a(n);
  for (size_t k = 0; k < n; ++k) a[k] = r.b[k] / r.m[k * n + k];
  return a;
}

// The surface of a fit record at (x, y) in its own coordinates, plainly in double.
inline double surface_at(const SurfaceFit& f, double x, double y) {
  return f.offset + f.x_coef * x + f.y_coef * y + f.x2y2_coef * (x * x + y * y) +
         f.xy_coef * x * y + f.x2_coef * x * x + f.y2_coef * y * y;
}

inline int64_t round_half_away(double v) {
  return static_cast<int64_t>(v >= 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5));
}

// Distance of v from the nearest odd multiple of one half.
inline double distance_to_half(double v) {
  return std::fabs(v - std::floor(v) - 0.5);
}

// Random values in [lo, hi], with each pixel made invalid (an arbitrary value at or above
// PHASE_INVALID) with probability `invalid`.
inline void fill_random(TestMap& t, std::mt19937_64& rng, int32_t lo, int32_t hi, double invalid) {
  std::uniform_int_distribution<int32_t> value(lo, hi);
  std::uniform_int_distribution<int32_t> marker(PHASE_INVALID, INT32_MAX);
  std::bernoulli_distribution bad(invalid);
  const Window& w = t.map.window;
  for (int py = w.y; py < w.y + w.height; ++py) {
    for (int px = w.x; px < w.x + w.width; ++px) t.at(px, py) = bad(rng) ? marker(rng) : value(rng);
  }
}

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_FIT_REFERENCE_H_
