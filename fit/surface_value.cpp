// The polynomial in Horner form in x, with coefficients that depend on y alone. The grouping is
// fixed, so every caller gets the same bits for the same pixel at any optimisation.
#include "fit/surface_value.h"

namespace harnix {

double surface_value(const SurfaceFit& fit, int32_t column, int32_t row) {
  const double x = static_cast<double>(column) - fit.center_x;
  const double y = static_cast<double>(row) - fit.center_y;
  const double constant = fit.offset + (fit.y_coef + (fit.x2y2_coef + fit.y2_coef) * y) * y;
  const double linear = fit.x_coef + fit.xy_coef * y;
  const double quadratic = fit.x2y2_coef + fit.x2_coef;
  return constant + (linear + quadratic * x) * x;
}

}  // namespace harnix
