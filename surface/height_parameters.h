// The areal height parameters of a levelled map.
//
// Over the n valid points, with heights h_i in metres and z_i = h_i - mean(h):
//   Sq = sqrt(sum z^2 / n)            root mean square height
//   Sa = sum |z| / n                  arithmetic mean height
//   Sp = max z,  Sv = -min z          highest peak, deepest valley (both >= 0)
//   Sz = Sp + Sv                      maximum height
//   Ssk = (sum z^3 / n) / Sq^3        skewness (0 for a symmetric distribution)
//   Sku = (sum z^4 / n) / Sq^4        kurtosis (3 for a normal distribution, 1.5 for a sinusoid)
// Ssk and Sku are defined only for n >= 3 and Sq > 0.
#ifndef HARNIX_SURFACE_HEIGHT_PARAMETERS_H_
#define HARNIX_SURFACE_HEIGHT_PARAMETERS_H_

#include <cstdint>
#include <vector>

namespace harnix {

struct HeightParameters {
  int64_t points;             // valid points used; the lengths below are 0 when there is none
  double sq, sa, sp, sv, sz;  // metres
  bool shape_known;           // ssk and sku are defined (else 0)
  double ssk, sku;
};

// The parameters of `counts` (one value per point, NaN where invalid, as level_map gives them)
// at `metres_per_count` (> 0). Every sum is formed in counts and the lengths scaled once at the
// end: a map of equal values gives exactly 0, and Ssk and Sku, which do not depend on the
// scale, cannot underflow or divide by zero however small the scale is.
HeightParameters height_parameters(const std::vector<double>& counts, double metres_per_count);

}  // namespace harnix

#endif  // HARNIX_SURFACE_HEIGHT_PARAMETERS_H_
