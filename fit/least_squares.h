// Linear least-squares fit of a surface of one FitType to the valid values of a phase map.
//
// The normal equations M a = b of the type's basis (piston [1]; plane [1, y, x]; sphere
// [1, y, x, x^2 + y^2]; cylinder [1, y, x, xy, y^2, x^2]) are formed in closed form over the
// window and solved by solve_linear_system. Coordinates are whole-pixel offsets from
// window_center of the frame the fit is made in.
#ifndef HARNIX_FIT_LEAST_SQUARES_H_
#define HARNIX_FIT_LEAST_SQUARES_H_

#include <cstddef>
#include <cstdint>

#include "base/error_codes.h"
#include "fit/fit_model.h"
#include "fit/workspace.h"
#include "maps/map_types.h"
#include "maps/map_view.h"

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

// What a fit forms besides the surface.
struct FitOptions {
  // The residual root-mean-square, which needs the sum of squares of the values. Without it the
  // record's rms stays 0, for callers that only subtract the surface.
  bool residual = true;
};

// Forms M, b and the sum of squares S (S only with options.residual, else 0) of `type` over the
// view: x of the view's column c is x_first + c and y of its row r is y_first + r. Pixels at or
// above PHASE_INVALID are left out. Only the leading n x n block of m and the first n entries of
// b are written (n = fit_term_count(type)); M[0][0] is the point count. Every pixel is read
// once, with exact integer sums per row and per column, so the result does not depend on the
// order of the pixels while the sums stay below 2^53. ERR_NO_MEM when the workspace cannot grow
// (*sums untouched). Preconditions: type is 0..3; the view has pixels, at most 32767 a side;
// every |x|, |y| <= 32767.
ErrorCode accumulate_fit_sums(ConstPhaseView view, int32_t x_first, int32_t y_first, FitType type,
                              const FitOptions& options, SurfaceWorkspace& ws, FitSums* sums);

// A fit gathered in parts, for callers that split the work between threads. The view's rows
// are split into ranges, each gathered into one of up to MAX_FIT_PARTS parts; a part holds exact
// integer totals (per row, per column, the sum of squares), and fit_parts_finish weighs them in
// a fixed order: row after row, column after column, parts added exactly in part order. So the
// fit is the one fit_surface makes, bit for bit, however the rows are split among the parts.
constexpr int32_t MAX_FIT_PARTS = 256;

struct FitParts {
  ConstPhaseView view;  // a view without pixels has no rows here
  FitType type;
  FitOptions options;
  int32_t x_first;  // coordinates of the view's first column and row
  int32_t y_first;
  int32_t parts;
  void* storage;  // the totals, in the caller's workspace
};

// Bytes of workspace a fit in `parts` parts over a view of rows x cols pixels takes: a caller
// that reserves them beforehand (surface_workspace_reserve) makes fit_parts_begin unable to fail
// for want of memory.
std::size_t fit_parts_bytes(FitType type, int32_t rows, int32_t cols, int32_t parts);

// Checks as fit_surface (the same codes, leaving *fit the same), sets the fit's origin, and
// makes room for `parts` parts (clamped to 1..MAX_FIT_PARTS) in the workspace, every total 0
// (ERR_NO_MEM: *fit holds the type, the origin and zeros). The workspace must not be used for
// anything else, nor grown, until fit_parts_finish.
ErrorCode fit_parts_begin(ConstPhaseView view, const Window& frame, FitType type,
                          const FitOptions& options, int32_t parts, SurfaceWorkspace& ws,
                          FitParts* plan, SurfaceFit* fit);

// Gathers rows first_row .. first_row + rows - 1 of the plan's view into part `part`. Every row
// must be gathered exactly once, into any part; different parts may be gathered at the same time
// on different threads, one part by one thread at a time. Never fails.
void fit_parts_gather(const FitParts& plan, int32_t part, int32_t first_row, int32_t rows);

// fit_parts_gather of the plan's rows first_row .. first_row + rows.window.height - 1 whose
// values lie elsewhere, in `rows`: a view of those rows alone, as wide as the plan's view. The
// totals are those of gathering the plan's view holding the same values, so a caller may form
// the values a piece at a time in a small buffer. Never fails.
void fit_parts_gather_rows(const FitParts& plan, int32_t part, int32_t first_row,
                           ConstPhaseView rows);

// Solves the fit from the gathered parts; codes and the record as fit_surface.
ErrorCode fit_parts_finish(const FitParts& plan, SurfaceFit* fit);

// A piston gathered from the exact totals of its rows (ValueTotals, fit/fit_model.h), added in
// row order with piston_totals_add_row: count and sum weighed in doubles row after row, as a fit
// in parts weighs its row totals, the squares exact.
struct PistonTotals {
  double count = 0.0;
  double sum = 0.0;
  ValueTotals squares{};  // only its squares are used
};

inline void piston_totals_add_row(PistonTotals& p, const ValueTotals& row) {
  p.count += static_cast<double>(row.count);
  p.sum += static_cast<double>(row.sum);
  value_totals_add_squares(p.squares, row.squares_low, row.squares_high);
}

// The piston of the rows gathered in `totals`, values of a view within `frame`: fit_surface's
// piston over them in the coordinates of the frame, bit for bit, with its codes but for
// ERR_NO_MEM (it needs no workspace) and the record it leaves on each of them.
ErrorCode fit_piston_totals(const Window& frame, const PistonTotals& totals,
                            const FitOptions& options, SurfaceFit* fit);

// Fits a surface of `type` to the valid values of the view, in the coordinates of `frame`: the
// origin is window_center(frame), and the view's window lies within the frame, so one call
// serves a map over its own window (frame = the view's window) and a window of a larger field
// (frame = the field: the fit over the field holding the view's values and invalid values
// everywhere else, while only the view's pixels are read). On success *fit holds the type, its
// coefficients (unused ones 0), the residual root-mean-square (0 without options.residual), the
// origin and the number of valid points. The view is only read.
//   ERR_PARAM_OUT_OF_RANGE  type outside 0..3; *fit not touched
//   ERR_IMPROPER_WINDOW     a view with pixels that does not lie within the frame, or a frame
//                           whose last column or row lies beyond 32767; *fit holds the type
//                           and zeros
//   ERR_NO_UNIQUE_SOLUTION  the normal equations are singular: no valid point (a view without
//                           pixels included), all valid points in the centre row or column, or
//                           another pivot below SOLVER_PIVOT_LIMIT; *fit holds the type, the
//                           origin and zeros
//   ERR_NO_MEM              the workspace cannot grow; *fit holds the type, the origin and zeros
ErrorCode fit_surface(ConstPhaseView view, const Window& frame, FitType type,
                      const FitOptions& options, SurfaceWorkspace& ws, SurfaceFit* fit);

}  // namespace harnix

#endif  // HARNIX_FIT_LEAST_SQUARES_H_
