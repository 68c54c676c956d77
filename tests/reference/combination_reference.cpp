#include "reference/combination_reference.h"

#include <algorithm>
#include <cmath>

namespace harnix {

namespace {

int32_t to_counts(long double v) {
  if (!(v >= -67108864.0L && v <= 67108863.0L)) return TEST_PHASE_INVALID;
  return int32_t(v >= 0 ? v + 0.5L : v - 0.5L);
}

// The camera-sized map cut to the bounding window of its valid values.
ReferenceMap crop(const std::vector<int32_t>& camera, int w, int h) {
  ReferenceMap m;
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (camera[std::size_t(y) * w + x] != TEST_PHASE_INVALID) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return m;
  m = ReferenceMap{left, top, right - left + 1, bottom - top + 1, {}};
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) m.values.push_back(camera[std::size_t(y) * w + x]);
  return m;
}

// The sample variance of `x` by the two-pass formula.
long double sample_variance(const std::vector<long double>& x) {
  long double mean = 0;
  for (long double v : x) mean += v;
  mean /= static_cast<long double>(x.size());
  long double squares = 0;
  for (long double v : x) squares += (v - mean) * (v - mean);
  return squares / static_cast<long double>(x.size() - 1);
}

}  // namespace

CombinationReference reference_combinations(const std::vector<MeasurementFile>& inputs,
                                            int32_t phase_res, int32_t min_count) {
  const MeasurementFile& first = inputs.front();
  const int w = first.camera_width, h = first.camera_height;
  const double r_out = test_phase_counts(phase_res >= 0 ? int16_t(phase_res) : first.phase_res);
  const std::size_t k = std::size_t(std::max(1, min_count));
  std::vector<int32_t> lo(std::size_t(w) * h, TEST_PHASE_INVALID), hi(lo), range(lo), sdev(lo),
      uncert(lo);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      std::vector<long double> values, rounded;
      for (const MeasurementFile& f : inputs) {
        double a;
        if (!reference_scaled_value(f, first, r_out, px, py, &a)) continue;
        values.push_back(a);
        const int32_t x = to_counts(a);
        if (x != TEST_PHASE_INVALID) rounded.push_back(x);
      }
      const std::size_t i = std::size_t(py) * w + px;
      if (values.size() >= k) {
        const auto [least, greatest] = std::minmax_element(values.begin(), values.end());
        lo[i] = to_counts(*least);
        hi[i] = to_counts(*greatest);
        range[i] = to_counts(*greatest - *least);
      }
      if (rounded.size() >= std::max<std::size_t>(k, 2)) {
        const long double s = std::sqrt(sample_variance(rounded));
        sdev[i] = to_counts(s);
        uncert[i] = to_counts(s / std::sqrt(static_cast<long double>(rounded.size())));
      }
    }
  }
  return {crop(lo, w, h), crop(hi, w, h), crop(range, w, h), crop(sdev, w, h),
          crop(uncert, w, h)};
}

ReferenceMap reference_median(const std::vector<MeasurementFile>& inputs, int32_t phase_res,
                              int32_t min_count) {
  const MeasurementFile& first = inputs.front();
  const int w = first.camera_width, h = first.camera_height;
  const double r_out = test_phase_counts(phase_res >= 0 ? int16_t(phase_res) : first.phase_res);
  std::vector<int32_t> median(std::size_t(w) * h, TEST_PHASE_INVALID);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      std::vector<long double> values;
      for (const MeasurementFile& f : inputs) {
        double a;
        if (reference_scaled_value(f, first, r_out, px, py, &a)) values.push_back(a);
      }
      if (values.empty() || values.size() < std::size_t(std::max(1, min_count))) continue;
      std::sort(values.begin(), values.end());
      const std::size_t n = values.size();
      const long double m = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
      median[std::size_t(py) * w + px] = to_counts(m);
    }
  }
  return crop(median, w, h);
}

}  // namespace harnix
