#include "reference/rejection_reference.h"

#include <cmath>

#include "reference/reference_average.h"

namespace harnix {

RejectionReference reference_rejection(const std::vector<MeasurementFile>& inputs,
                                       int32_t phase_res, double k, int rounds) {
  const MeasurementFile& first = inputs.front();
  const int w = first.camera_width, h = first.camera_height;
  const double r_out = test_phase_counts(phase_res >= 0 ? phase_res : first.phase_res);
  RejectionReference r;
  for (const MeasurementFile& f : inputs) r.rejected.emplace_back(f.values.size(), false);
  r.counts.assign(std::size_t(w) * h, TEST_PHASE_INVALID);
  struct Value {
    std::size_t input, index;
    long double x;
    bool kept;
  };
  std::vector<std::vector<Value>> pixels(std::size_t(w) * h);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        double x;
        if (!reference_scaled_value(inputs[i], first, r_out, px, py, &x)) continue;
        const MeasurementFile& f = inputs[i];
        const std::size_t index = std::size_t(py - f.y) * f.width + (px - f.x);
        pixels[std::size_t(py) * w + px].push_back({i, index, x, true});
        r.counts[std::size_t(py) * w + px] = 0;
      }
    }
  }
  for (int round = 0; round < rounds; ++round) {
    int64_t rejected = 0;
    for (std::size_t p = 0; p < pixels.size(); ++p) {
      std::vector<Value>& values = pixels[p];
      std::vector<bool> out(values.size(), false);
      long double n = 0;
      for (const Value& v : values) n += v.kept;
      if (n < 3) continue;
      for (std::size_t j = 0; j < values.size(); ++j) {
        if (!values[j].kept) continue;
        long double mean = 0, sq = 0;
        for (std::size_t o = 0; o < values.size(); ++o)
          if (o != j && values[o].kept) mean += values[o].x;
        mean /= n - 1;
        for (std::size_t o = 0; o < values.size(); ++o)
          if (o != j && values[o].kept) sq += (values[o].x - mean) * (values[o].x - mean);
        const long double s = std::sqrt(sq / (n - 2));
        out[j] = std::fabs(values[j].x - mean) > (long double)k * std::max(s, 1.0L);
      }
      for (std::size_t j = 0; j < values.size(); ++j) {
        if (!out[j]) continue;
        values[j].kept = false;
        r.rejected[values[j].input][values[j].index] = true;
        ++r.counts[p];
        ++rejected;
      }
    }
    r.per_round.push_back(rejected);
    if (rejected == 0) break;
  }
  return r;
}

std::vector<MeasurementFile> without_rejected(std::vector<MeasurementFile> inputs,
                                              const RejectionReference& reference) {
  for (std::size_t i = 0; i < inputs.size(); ++i)
    for (std::size_t j = 0; j < inputs[i].values.size(); ++j)
      if (reference.rejected[i][j]) inputs[i].values[j] = TEST_PHASE_INVALID;
  return inputs;
}

}  // namespace harnix
