// The surface fit model: fit types, the record of one fitted surface and its coordinates.
//
//   piston    z = offset
//   plane     z = offset + x_coef x + y_coef y
//   sphere    z = offset + x_coef x + y_coef y + x2y2_coef (x^2 + y^2)
//   cylinder  z = offset + x_coef x + y_coef y + xy_coef x y + x2_coef x^2 + y2_coef y^2
//
// x = map column - center_x and y = map row - center_y, whole pixels, y growing down the rows.
// Coefficients are in the map's phase counts per pixel (per pixel squared for quadratic terms).
// The origin of a fit is window_center of the window fitted.
#ifndef HARNIX_FIT_FIT_MODEL_H_
#define HARNIX_FIT_FIT_MODEL_H_

#include <cstdint>

namespace harnix {

// The enumerators keep the names the surfaces have in the field.
enum class FitType : int32_t {
  piston = 0,
  plane = 1,
  sphere = 2,
  cylinder = 3,
};

// Capacity of the normal-equation solver and the row stride of the normal matrix handed to it.
// The surface fits use at most 6 terms.
constexpr int32_t MAX_FIT_TERMS = 37;

struct SurfaceFit {
  FitType type;
  double offset;
  double x_coef;
  double y_coef;
  double x2y2_coef;  // sphere only
  double xy_coef;    // cylinder only
  double x2_coef;    // cylinder only
  double y2_coef;    // cylinder only
  double rms;        // root-mean-square residual over the points used, phase counts
  int16_t center_x;  // map column of the coordinate origin
  int16_t center_y;  // map row of the coordinate origin
  int32_t npoints;   // valid points used
};

// Exact totals of a set of phase values: how many, their sum, and the sum of their squares in
// 128 bits (squares_high 2^64 + squares_low). A piston fit follows from them alone.
struct ValueTotals {
  int64_t count = 0;
  int64_t sum = 0;
  uint64_t squares_low = 0;
  uint64_t squares_high = 0;
};

// Adds the 128-bit sum high 2^64 + low to the squares of t, exactly.
inline void value_totals_add_squares(ValueTotals& t, uint64_t low, uint64_t high) {
  t.squares_low += low;
  t.squares_high += high + (t.squares_low < low);
}

// Number of coefficients of a fit type (1, 3, 4, 6), or 0 for a value outside 0..3.
int32_t fit_term_count(FitType type);

// True for the four fit types 0..3; a FitType may hold any 32-bit value read from elsewhere.
inline bool fit_type_valid(FitType type) {
  const auto v = static_cast<int32_t>(type);
  return v >= 0 && v <= 3;
}

}  // namespace harnix

#endif  // HARNIX_FIT_FIT_MODEL_H_
