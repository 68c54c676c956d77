#include "reference/reference_average.h"

#include <algorithm>
#include <cmath>

namespace harnix {

namespace {

int32_t to_counts(double v) {
  if (!(v >= -67108864.0 && v <= 67108863.0)) return TEST_PHASE_INVALID;
  return v >= 0 ? int32_t(v + 0.5) : int32_t(v - 0.5);
}

ReferenceMap crop(const std::vector<int32_t>& camera, int w, int h) {
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (camera[std::size_t(y) * w + x] < TEST_PHASE_INVALID) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  ReferenceMap m;
  if (right < 0) return m;
  m.x = left;
  m.y = top;
  m.width = right - left + 1;
  m.height = bottom - top + 1;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) m.values.push_back(camera[std::size_t(y) * w + x]);
  return m;
}

}  // namespace

bool reference_scaled_value(const MeasurementFile& f, const MeasurementFile& first, double r_out,
                            int px, int py, double* x) {
  if (px < f.x || px >= f.x + f.width || py < f.y || py >= f.y + f.height) return false;
  const int32_t v = f.values[std::size_t(py - f.y) * f.width + (px - f.x)];
  if (v >= TEST_PHASE_INVALID) return false;
  const double factor =
      (double(f.scale_factor) * r_out * double(f.obliquity) * double(f.wavelength)) /
      (double(test_phase_counts(f.phase_res)) * double(first.scale_factor) * 1.0 *
       double(first.wavelength));
  *x = std::fabs(factor - 1.0) > 1e-10 ? double(v) * factor : double(v);
  return true;
}

ReferenceResults reference_average(const std::vector<MeasurementFile>& inputs, int32_t phase_res,
                                   int32_t min_count) {
  const MeasurementFile& first = inputs.front();
  const int w = first.camera_width, h = first.camera_height;
  ReferenceResults r;
  r.phase_res = phase_res >= 0 ? int16_t(phase_res) : first.phase_res;
  const double r_out = test_phase_counts(r.phase_res);
  const int32_t k = std::max(1, min_count);
  std::vector<int32_t> avg(std::size_t(w) * h), dev(avg.size()), cnt(avg.size());
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      double sum = 0, dsum = 0, dsq = 0;
      int n = 0, dn = 0;
      for (const MeasurementFile& f : inputs) {
        double a;
        if (!reference_scaled_value(f, first, r_out, px, py, &a)) continue;
        sum = n == 0 ? a : sum + a;
        ++n;
        const int32_t v = f.values[std::size_t(py - f.y) * f.width + (px - f.x)];
        const int32_t d = a != double(v) ? to_counts(a) : v;
        if (d >= TEST_PHASE_INVALID) continue;
        dsum = dn == 0 ? double(d) : dsum + double(d);
        dsq = dn == 0 ? double(d) * double(d) : dsq + double(d) * double(d);
        ++dn;
      }
      const std::size_t i = std::size_t(py) * w + px;
      avg[i] = n >= k ? to_counts(sum / n) : TEST_PHASE_INVALID;
      if (dn >= k) {
        const double variance = (dsq - (dsum * dsum) / dn) / dn;
        dev[i] = to_counts(variance > 0 ? std::sqrt(variance) : 0.0);
      } else {
        dev[i] = TEST_PHASE_INVALID;
      }
      cnt[i] = n != 0 ? n : TEST_PHASE_INVALID;
    }
  }
  r.average = crop(avg, w, h);
  r.deviation = crop(dev, w, h);
  r.count = crop(cnt, w, h);
  return r;
}

}  // namespace harnix
