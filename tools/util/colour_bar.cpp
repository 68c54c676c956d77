// Tick step: the raw step (hi - lo) / wanted is rounded up to the next of 1, 2, 5 times a power
// of ten; ticks are the multiples of the step within [lo, hi]. The label shows the decimals the
// step has, so every label of one bar has the same number of decimals.
#include "util/colour_bar.h"

#include <algorithm>
#include <cmath>

#include "export/number_text.h"

namespace harnix {

namespace {

// Ticks closer than this fraction of a step to an end still count as inside: lo and hi are
// often round values that floating-point division misses by an ulp.
constexpr double END_SLACK = 1e-9;

double nice_step(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double mantissa = raw / power;
  if (mantissa <= 1) return power;
  if (mantissa <= 2) return 2 * power;
  if (mantissa <= 5) return 5 * power;
  return 10 * power;
}

}  // namespace

DisplayUnit height_unit(double lo_metres, double hi_metres) {
  const double largest = std::max(std::fabs(lo_metres), std::fabs(hi_metres));
  if (largest < 1e-6) return {1e9, "nm"};
  return {1e6, "\xC2\xB5m"};
}

std::vector<Tick> colour_bar_ticks(double lo, double hi, int wanted, bool integers) {
  std::vector<Tick> ticks;
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) return ticks;
  double step = nice_step((hi - lo) / std::max(1, wanted));
  if (integers) step = std::max(step, 1.0);
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + END_SLACK)));
  const double first = std::ceil(lo / step - END_SLACK);
  const double last = std::floor(hi / step + END_SLACK);
  for (double k = first; k <= last; ++k) {
    double value = k * step;
    if (value == 0) value = 0;  // no "-0"
    ticks.push_back({value, fixed_text(value, decimals)});
  }
  return ticks;
}

}  // namespace harnix
