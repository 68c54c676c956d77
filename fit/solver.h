// Solution of the small dense linear systems of the surface fits.
#ifndef HARNIX_FIT_SOLVER_H_
#define HARNIX_FIT_SOLVER_H_

#include <cstdint>

#include "base/error_codes.h"

namespace harnix {

// A pivot whose magnitude is below this is taken as zero. The test is absolute: the normal
// matrices of the fits hold sums of integer powers of pixel coordinates, so a non-singular one
// has pivots far above it whatever the size of the window.
constexpr double SOLVER_PIVOT_LIMIT = 1e-10;

// Solves a * x = b for x by Gaussian elimination with partial pivoting and back substitution.
//   n       number of unknowns, 1..MAX_FIT_TERMS
//   stride  distance in doubles between consecutive rows of a, at least n
//   a       n x n matrix, row by row (read only)
//   x       receives the n unknowns
//   b       n right-hand sides (read only)
// The pivot of each column is the row, from the diagonal down, of largest magnitude; on a tie
// the upper row stays. Returns NO_ERROR with x filled; ERR_NO_UNIQUE_SOLUTION when a pivot's
// magnitude is below SOLVER_PIVOT_LIMIT (the last column's included), x then not written;
// ERR_PARAM_OUT_OF_RANGE for n outside 1..MAX_FIT_TERMS or a stride below n. a and b are never
// changed; no heap allocation.
ErrorCode solve_linear_system(int32_t n, int32_t stride, const double* a, double* x,
                              const double* b);

}  // namespace harnix

#endif  // HARNIX_FIT_SOLVER_H_
