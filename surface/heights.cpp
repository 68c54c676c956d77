// Statistics in two passes: the sum of the valid values is exact in 64-bit integers (at most
// 32767 * 32767 values of magnitude below 2^31 stay under 2^61), so the mean carries no rounding
// from a running sum; the second pass adds the squared deviations from that mean, which avoids
// the cancellation of sum(v^2) - n * mean^2 for values far from zero.
#include "surface/heights.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace harnix {

namespace {

std::size_t element_count(const PhaseMap& map) {
  if (map.matrix == nullptr || map.window.width <= 0 || map.window.height <= 0) return 0;
  return static_cast<std::size_t>(map.window.width) * static_cast<std::size_t>(map.window.height);
}

bool positive_finite(double v) {
  return std::isfinite(v) && v > 0;
}

}  // namespace

HeightScale height_scale(const DataAttributes& a) {
  HeightScale s{};
  s.counts_per_fringe = phase_res_counts(a.PhaseRes);
  s.metres_per_count = static_cast<double>(a.IntfScaleFactor) *
                       static_cast<double>(a.ObliquityFactor) *
                       static_cast<double>(a.WavelengthIn) / s.counts_per_fringe;
  s.height_known = positive_finite(s.metres_per_count);
  if (a.CameraRes != 0) {
    s.spacing_source = "CameraRes";
    s.spacing = a.CameraRes;
  } else {
    s.spacing_source = "PixelWidth";
    s.spacing = a.PixelWidth;
  }
  if (!positive_finite(s.spacing)) {
    s.spacing = 0;
    s.spacing_source = nullptr;
  }
  return s;
}

PhaseStatistics phase_statistics(const PhaseMap& map) {
  PhaseStatistics st{};
  const std::size_t n = element_count(map);
  st.total_points = static_cast<int64_t>(n);
  int64_t sum = 0;
  int32_t lo = 0;
  int32_t hi = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = map.matrix[i];
    if (!phase_valid(v)) continue;
    if (st.valid_points == 0 || v < lo) lo = v;
    if (st.valid_points == 0 || v > hi) hi = v;
    sum += v;
    ++st.valid_points;
  }
  if (st.valid_points == 0) return st;
  st.min = lo;
  st.max = hi;
  st.peak_to_valley = static_cast<double>(static_cast<int64_t>(hi) - lo);
  st.mean = static_cast<double>(sum) / static_cast<double>(st.valid_points);
  double squares = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = map.matrix[i];
    if (!phase_valid(v)) continue;
    const double d = v - st.mean;
    squares += d * d;
  }
  st.rms = std::sqrt(squares / static_cast<double>(st.valid_points));
  return st;
}

std::vector<int32_t> valid_values(const PhaseMap& map) {
  const std::size_t n = element_count(map);
  std::vector<int32_t> values;
  values.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (phase_valid(map.matrix[i])) values.push_back(map.matrix[i]);
  return values;
}

namespace {

template <typename T>
double percentile_of(std::vector<T>& values, double p) {
  const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(values.size() - 1);
  const std::size_t below = static_cast<std::size_t>(std::floor(rank));
  const std::size_t above = std::min(below + 1, values.size() - 1);
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(below),
                   values.end());
  const double v_below = values[below];
  double v_above = v_below;
  if (above != below) {
    // Everything after position `below` is >= it; the next rank is the smallest of those.
    v_above = *std::min_element(values.begin() + static_cast<std::ptrdiff_t>(above), values.end());
  }
  return v_below + (rank - static_cast<double>(below)) * (v_above - v_below);
}

}  // namespace

double percentile(std::vector<int32_t>& values, double p) {
  return percentile_of(values, p);
}

double percentile(std::vector<double>& values, double p) {
  return percentile_of(values, p);
}

std::vector<double> valid_levelled(const double* levelled, std::size_t n) {
  std::vector<double> values;
  values.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isnan(levelled[i])) values.push_back(levelled[i]);
  return values;
}

}  // namespace harnix
