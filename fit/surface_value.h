// A fitted surface evaluated at a pixel in double precision, for callers that subtract it
// without rounding to counts (remove_surface rounds it to whole counts instead).
//
// With x = column - center_x and y = row - center_y (map columns and rows, the fit's origin):
//   s(x, y) = offset + x_coef x + y_coef y + x2y2_coef (x^2 + y^2)
//             + xy_coef x y + x2_coef x^2 + y2_coef y^2
// Every fit type is this one polynomial with its unused coefficients 0 (fit_model.h).
#ifndef HARNIX_FIT_SURFACE_VALUE_H_
#define HARNIX_FIT_SURFACE_VALUE_H_

#include <cstdint>

#include "fit/fit_model.h"

namespace harnix {

// The surface of `fit` at map column `column` and row `row`, in the map's phase counts.
// Precondition: `fit` comes from a successful fit (fit_surface, fit_robust_plane), so its
// unused coefficients are 0. Pure; no rounding beyond the double arithmetic.
double surface_value(const SurfaceFit& fit, int32_t column, int32_t row);

}  // namespace harnix

#endif  // HARNIX_FIT_SURFACE_VALUE_H_
