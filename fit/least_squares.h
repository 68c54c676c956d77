// Linear least-squares fit of a surface of one FitType to the valid values of a phase map.
//
// The normal equations M a = b of the type's basis (piston [1]; plane [1, y, x]; sphere
// [1, y, x, x^2 + y^2]; cylinder [1, y, x, xy, y^2, x^2]) are formed in closed form over the
// window and solved by solve_linear_system. Coordinates are whole-pixel offsets from
// window_center of the fitted window.
#ifndef HARNIX_FIT_LEAST_SQUARES_H_
#define HARNIX_FIT_LEAST_SQUARES_H_

#include <cstdint>

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "maps/map_types.h"

namespace harnix {

// Entries of square_sum_table: enough for any run of a 16-bit window.
constexpr int32_t SQUARE_SUM_COUNT = 32768;

// The process-wide table T[k] = 1^2 + 2^2 + ... + k^2 for k = 0..SQUARE_SUM_COUNT - 1 (T[0] = 0),
// every entry exact. Filled once, on the first call, and never changed afterwards; the first
// call is safe even from several threads at once.
const double* square_sum_table();

// The normal equations of one fit and the sum of squares of the values.
struct FitSums {
  double m[MAX_FIT_TERMS * MAX_FIT_TERMS];  // M[i][j] = sum phi_i phi_j at m[i * MAX_FIT_TERMS + j]
  double b[MAX_FIT_TERMS];                  // b[i] = sum phi_i z
  double s;                                 // S = sum z^2
};

// Forms M, b and S of `type` over a window of `rows` x `cols` pixels, where row_starts[r] is
// the address of the first window pixel of row r (r = 0..rows - 1); rows may lie anywhere.
// Pixels at or above PHASE_INVALID are left out. x of column c is c - (cols - 1) / 2 and y of
// row r is r - (rows - 1) / 2 (integer division). Only the leading n x n block of m and the
// first n entries of b are written (n = fit_term_count(type)); M[0][0] is the point count.
// Every pixel is read once, with integer sums per row and per column, so the result does not
// depend on the order of the pixels while the sums stay below 2^53.
// Preconditions: type is 0..3; 1 <= rows, cols <= 32767; every row holds cols readable values.
void accumulate_fit_sums(int32_t type, int32_t rows, int32_t cols, const int32_t* const* row_starts,
                         FitSums* sums);

// The same with the coordinates of the first column and row given: x of column c is x_first + c
// and y of row r is y_first + r; S only `with_square_sum` (else 0). Precondition as above, and
// every |x|, |y| <= 32767.
void accumulate_fit_sums_at(int32_t type, int32_t rows, int32_t cols, int32_t x_first,
                            int32_t y_first, const int32_t* const* row_starts, FitSums* sums,
                            bool with_square_sum);

// Fits a surface of `type` to the valid values of `map` inside `window` (nullptr: the map's own
// window). On success *fit holds the type, its coefficients (unused ones 0), the residual
// root-mean-square, the origin (window_center of the window) and the number of valid points,
// and *rms_out (when given) the same residual. The map is only read; no heap allocation.
//   ERR_PARAM_OUT_OF_RANGE  type outside 0..3; *fit not touched
//   ERR_IMPROPER_WINDOW     window neither inside nor equal to the map's window; *fit holds the
//                           type and zeros
//   ERR_NO_UNIQUE_SOLUTION  the normal equations are singular: no valid point (a window of
//                           zero width or height included), all valid points in the centre
//                           row or column, or another pivot below SOLVER_PIVOT_LIMIT; *fit
//                           holds the type, the origin and zeros
// *rms_out is written only on success. Precondition: the map holds storage for its window.
ErrorCode fit_surface(const PhaseMap& map, const Window* window, int32_t type, SurfaceFit* fit,
                      double* rms_out);

// The fit that fit_surface(padded, &window, ...) gives, where `padded` is a map over `window`
// holding map's values inside map.window and invalid values everywhere else: coordinates are
// offsets from window_center(window), and only the pixels of map.window are read, so the work
// follows the map's window, not the padded one. The record, the residual and the codes are
// exactly those of that call. Without `with_rms` the sum of squares of the values, which only
// the residual needs, is not formed: the record's rms stays 0 and *rms_out is not written, for
// callers that only subtract the surface. Codes:
//   ERR_PARAM_OUT_OF_RANGE  type outside 0..3; *fit not touched
//   ERR_IMPROPER_WINDOW     `window` of no width or height, or a map window with pixels that
//                           does not lie inside `window`; *fit holds the type and zeros
//   ERR_NO_UNIQUE_SOLUTION  as fit_surface (a map window without pixels included)
// Precondition: the map holds storage for its window.
ErrorCode fit_surface_padded(const PhaseMap& map, const Window& window, int32_t type,
                             SurfaceFit* fit, double* rms_out, bool with_rms);

}  // namespace harnix

#endif  // HARNIX_FIT_LEAST_SQUARES_H_
