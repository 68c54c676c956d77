// Sq, Sa, Sp, Sv, Sz, Ssk and Sku of the deviations z from the mean, as the top of
// height_parameters.h defines them.
// Two passes: the mean first, then every power of the deviations from it, which avoids the
// cancellation of sum(h^2) - n mean^2. Sums run in storage order, so the result is the same to
// the bit at any optimisation. Deviations of valid phase counts stay below 2^32, so the fourth
// powers and their sums stay far inside the double range.
#include "surface/height_parameters.h"

#include <algorithm>
#include <cmath>

namespace harnix {

HeightParameters height_parameters(const std::vector<double>& counts, double metres_per_count) {
  HeightParameters p{};
  double sum = 0;
  for (double c : counts)
    if (!std::isnan(c)) {
      sum += c;
      ++p.points;
    }
  if (p.points == 0) return p;
  const double n = static_cast<double>(p.points);
  const double mean = sum / n;
  double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
  double lo = 0, hi = 0;
  for (double c : counts) {
    if (std::isnan(c)) continue;
    const double d = c - mean;
    const double d2 = d * d;
    s1 += std::fabs(d);
    s2 += d2;
    s3 += d2 * d;
    s4 += d2 * d2;
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  const double sq = std::sqrt(s2 / n);
  p.sq = sq * metres_per_count;
  p.sa = s1 / n * metres_per_count;
  p.sp = hi * metres_per_count;
  p.sv = (0.0 - lo) * metres_per_count;  // 0 - x: a flat map gives +0, not -0
  p.sz = p.sp + p.sv;
  p.shape_known = p.points >= 3 && sq > 0;
  if (p.shape_known) {
    p.ssk = s3 / n / (sq * sq * sq);
    p.sku = s4 / n / (sq * sq * sq * sq);
  }
  return p;
}

}  // namespace harnix
