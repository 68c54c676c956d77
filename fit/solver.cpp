// Gaussian elimination with partial pivoting on the augmented matrix [A | b], then back
// substitution (Golub and Van Loan, Matrix Computations, 3.2 and 3.4). The working copy has
// MAX_FIT_TERMS rows and its right-hand side in column MAX_FIT_TERMS whatever n is; only the
// leading n columns and that last one take part, the columns between stay zero.
#include "fit/solver.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "fit/fit_model.h"

namespace harnix {

namespace {

constexpr int32_t RHS = MAX_FIT_TERMS;  // column of the right-hand side in the working copy

}  // namespace

ErrorCode solve_linear_system(int32_t n, int32_t stride, const double* a, double* x,
                              const double* b) {
  if (n < 1 || n > MAX_FIT_TERMS || stride < n) return ERR_PARAM_OUT_OF_RANGE;

  double w[MAX_FIT_TERMS][MAX_FIT_TERMS + 1];
  std::memset(w, 0, sizeof w);
  for (int32_t i = 0; i < n; ++i) {
    const double* row = a + static_cast<std::ptrdiff_t>(i) * stride;
    for (int32_t j = 0; j < n; ++j) w[i][j] = row[j];
    w[i][RHS] = b[i];
  }

  for (int32_t k = 0; k < n; ++k) {
    int32_t pivot = k;
    for (int32_t r = k + 1; r < n; ++r) {
      if (std::fabs(w[r][k]) > std::fabs(w[pivot][k])) pivot = r;
    }
    if (pivot != k) {
      double tmp[MAX_FIT_TERMS + 1];
      std::memcpy(tmp, w[k], sizeof tmp);
      std::memcpy(w[k], w[pivot], sizeof tmp);
      std::memcpy(w[pivot], tmp, sizeof tmp);
    }
    // Written so that a NaN pivot fails too.
    if (!(std::fabs(w[k][k]) >= SOLVER_PIVOT_LIMIT)) return ERR_NO_UNIQUE_SOLUTION;
    for (int32_t r = k + 1; r < n; ++r) {
      const double f = -w[r][k] / w[k][k];
      w[r][k] = 0.0;
      for (int32_t c = k + 1; c < n; ++c) w[r][c] = f * w[k][c] + w[r][c];
      w[r][RHS] = f * w[k][RHS] + w[r][RHS];
    }
  }

  for (int32_t i = n - 1; i >= 0; --i) {
    for (int32_t j = n - 1; j > i; --j) w[i][RHS] -= w[i][j] * x[j];
    x[i] = w[i][RHS] / w[i][i];
  }
  return NO_ERROR;
}

}  // namespace harnix
