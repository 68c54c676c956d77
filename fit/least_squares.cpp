// Least-squares surface fit by normal equations formed in closed form.
//
// For the basis phi_0..phi_{n-1} of a fit type and the valid points (x_k, y_k, z_k) the
// coefficients a minimise sum (z - sum a_i phi_i)^2 and satisfy M a = b with
// M[i][j] = sum phi_i phi_j and b[i] = sum phi_i z. The residual mean square then follows from
// the same sums without a second pass: (S - sum a_i b_i) / N with S = sum z^2.
//
// Every entry of M and b is a product sum x^i y^j (z) over the points. A row is scanned once;
// over each run of consecutive valid pixels from x = p to q (k pixels) the coordinate sums are
// arithmetic series: sum x = k (p + q) / 2 and sum x^2 from the table of sums of squares, and
// sum x z = (p + k) Y - Z with Y the running sum of z along the run and Z the sum of the running
// sums, so no pixel is multiplied by its coordinate. Row totals are then weighted by powers of
// the row's y, and the per-column totals of count, z and y (gathered in the same scan) by powers
// of the column's x. Per-row and per-column totals and S are exact integers; only the weighting
// by coordinate powers, and the conversion of S, round.
#include "fit/least_squares.h"

#include <array>
#include <cmath>
#include <cstring>

#include "fit/solver.h"
#include "maps/storage.h"
#include "maps/window.h"

namespace harnix {

namespace {

constexpr int32_t STRIDE = MAX_FIT_TERMS;

// Window totals of the coordinate and value moments, named by their monomial.
struct Moments {
  double n, y, yy, yyy, yyyy;
  double x, xy, xyy, xyyy;
  double xx, xxy, xxyy;
  double xxx, xxxx, xxxy;
  double z, yz, yyz, xz, xyz, xxz;
  double s;
};

// Exact sum of squares of 32-bit values: each square is below 2^62, and the 64-bit low word
// counts its wrap-arounds in the high word, so S is exact until it is read as a double.
struct SquareSum {
  uint64_t lo = 0;
  uint64_t hi = 0;
  void add(int32_t v) {
    const uint64_t sq = static_cast<uint64_t>(static_cast<int64_t>(v) * v);
    lo += sq;
    hi += lo < sq;
  }
  double value() const {
    return static_cast<double>(hi) * 18446744073709551616.0 + static_cast<double>(lo);
  }
};

// Sum of x^2 for x = p..q (p <= q) from the table of sums of squares.
inline double run_sum_squares(const double* t, int32_t p, int32_t q) {
  if (q < 0) return t[-p] - t[-q - 1];
  if (p > 0) return t[q] - t[p - 1];
  return t[-p] + t[q];
}

void set_symmetric(FitSums* sums, int32_t i, int32_t j, double v) {
  sums->m[i * STRIDE + j] = v;
  sums->m[j * STRIDE + i] = v;
}

void fill_normal_equations(int32_t type, const Moments& t, FitSums* sums) {
  set_symmetric(sums, 0, 0, t.n);
  sums->b[0] = t.z;
  sums->s = t.s;
  if (type == piston) return;

  // Basis order: 1, y, x, then sphere x^2 + y^2, or cylinder xy, y^2, x^2.
  set_symmetric(sums, 0, 1, t.y);
  set_symmetric(sums, 0, 2, t.x);
  set_symmetric(sums, 1, 1, t.yy);
  set_symmetric(sums, 1, 2, t.xy);
  set_symmetric(sums, 2, 2, t.xx);
  sums->b[1] = t.yz;
  sums->b[2] = t.xz;
  if (type == sphere) {
    set_symmetric(sums, 0, 3, t.xx + t.yy);
    set_symmetric(sums, 1, 3, t.yyy + t.xxy);
    set_symmetric(sums, 2, 3, t.xxx + t.xyy);
    set_symmetric(sums, 3, 3, t.xxxx + 2.0 * t.xxyy + t.yyyy);
    sums->b[3] = t.xxz + t.yyz;
  } else if (type == cylinder) {
    set_symmetric(sums, 0, 3, t.xy);
    set_symmetric(sums, 0, 4, t.yy);
    set_symmetric(sums, 0, 5, t.xx);
    set_symmetric(sums, 1, 3, t.xyy);
    set_symmetric(sums, 1, 4, t.yyy);
    set_symmetric(sums, 1, 5, t.xxy);
    set_symmetric(sums, 2, 3, t.xxy);
    set_symmetric(sums, 2, 4, t.xyy);
    set_symmetric(sums, 2, 5, t.xxx);
    set_symmetric(sums, 3, 3, t.xxyy);
    set_symmetric(sums, 3, 4, t.xyyy);
    set_symmetric(sums, 3, 5, t.xxxy);
    set_symmetric(sums, 4, 4, t.yyyy);
    set_symmetric(sums, 4, 5, t.xxyy);
    set_symmetric(sums, 5, 5, t.xxxx);
    sums->b[3] = t.xyz;
    sums->b[4] = t.yyz;
    sums->b[5] = t.xxz;
  }
}

// Piston needs only the count, sum z and sum z^2: a plain scan without runs, where an invalid
// pixel adds zeros instead of taking a branch.
template <bool Squares>
void accumulate_piston(int32_t rows, int32_t cols, const int32_t* const* row_starts, Moments* t) {
  SquareSum s;
  for (int32_t r = 0; r < rows; ++r) {
    const int32_t* px = row_starts[r];
    int64_t n = 0;
    int64_t z = 0;
    for (int32_t c = 0; c < cols; ++c) {
      const bool valid = px[c] < PHASE_INVALID;
      const int32_t v = valid ? px[c] : 0;
      n += valid;
      z += v;
      if constexpr (Squares) s.add(v);
    }
    t->n += static_cast<double>(n);
    t->z += static_cast<double>(z);
  }
  t->s = s.value();
}

// One scan for plane, sphere and cylinder. Column totals are kept only where a type needs
// x^3, x^4 or x^2 z (sphere, cylinder) and x^3 y (cylinder).
template <int32_t Type, bool Squares>
void accumulate_runs(int32_t rows, int32_t cols, int32_t x_first, int32_t y_first,
                     const int32_t* const* row_starts, Moments* t) {
  constexpr bool kColumns = Type == sphere || Type == cylinder;
  constexpr bool kColumnY = Type == cylinder;
  constexpr int32_t kColumnCount = kColumns ? SQUARE_SUM_COUNT : 1;
  constexpr int32_t kColumnYCount = kColumnY ? SQUARE_SUM_COUNT : 1;

  // Column totals: |sum z| < 2^46 and |sum y| < 2^30 for any 16-bit window.
  int64_t col_z[kColumnCount];
  int32_t col_n[kColumnCount];
  int32_t col_y[kColumnYCount];
  if constexpr (kColumns) {
    std::memset(col_z, 0, sizeof(int64_t) * static_cast<size_t>(cols));
    std::memset(col_n, 0, sizeof(int32_t) * static_cast<size_t>(cols));
  }
  if constexpr (kColumnY) std::memset(col_y, 0, sizeof(int32_t) * static_cast<size_t>(cols));

  const double* squares = square_sum_table();
  SquareSum s;

  for (int32_t r = 0; r < rows; ++r) {
    const int32_t y = y_first + r;
    const int32_t* px = row_starts[r];
    int64_t row_n = 0;
    int64_t row_x = 0;
    double row_xx = 0.0;
    int64_t row_z = 0;
    int64_t row_xz = 0;
    int32_t c = 0;
    for (;;) {
      while (c < cols && px[c] >= PHASE_INVALID) ++c;
      if (c == cols) break;
      const int32_t start = c;
      int64_t run_y = 0;  // running sum of z along the run
      int64_t run_z = 0;  // sum of the running sums
      for (; c < cols; ++c) {
        const int32_t v = px[c];
        if (v >= PHASE_INVALID) break;
        run_y += v;
        run_z += run_y;
        if constexpr (Squares) s.add(v);
        if constexpr (kColumns) {
          col_z[c] += v;
          ++col_n[c];
        }
        if constexpr (kColumnY) col_y[c] += y;
      }
      const int32_t k = c - start;
      const int32_t p = x_first + start;
      const int32_t q = p + k - 1;
      row_n += k;
      row_x += static_cast<int64_t>(k) * (p + q) / 2;
      row_xx += run_sum_squares(squares, p, q);
      row_z += run_y;
      row_xz += static_cast<int64_t>(p + k) * run_y - run_z;
    }
    if (row_n == 0) continue;

    const double yd = y;
    const double y2 = yd * yd;
    const double n = static_cast<double>(row_n);
    const double sx = static_cast<double>(row_x);
    const double sz = static_cast<double>(row_z);
    t->n += n;
    t->y += yd * n;
    t->yy += y2 * n;
    t->yyy += y2 * yd * n;
    t->yyyy += y2 * y2 * n;
    t->x += sx;
    t->xy += yd * sx;
    t->xyy += y2 * sx;
    t->xyyy += y2 * yd * sx;
    t->xx += row_xx;
    t->xxy += yd * row_xx;
    t->xxyy += y2 * row_xx;
    t->z += sz;
    t->yz += yd * sz;
    t->yyz += y2 * sz;
    t->xz += static_cast<double>(row_xz);
    t->xyz += yd * static_cast<double>(row_xz);
  }
  t->s = s.value();

  if constexpr (kColumns) {
    for (int32_t c = 0; c < cols; ++c) {
      const double x = x_first + c;
      const double x2 = x * x;
      const double n = col_n[c];
      const double z = static_cast<double>(col_z[c]);
      t->xxx += x2 * x * n;
      t->xxxx += x2 * x2 * n;
      t->xxz += x2 * z;
      if constexpr (kColumnY) t->xxxy += x2 * x * col_y[c];
    }
  }
}

}  // namespace

const double* square_sum_table() {
  // A function-local static is initialised exactly once, safely even under concurrent first
  // calls. Each entry is an integer below 2^44, so the ascending sums are exact.
  static const std::array<double, SQUARE_SUM_COUNT> table = [] {
    std::array<double, SQUARE_SUM_COUNT> t{};
    t[0] = 0.0;
    for (int32_t k = 1; k < SQUARE_SUM_COUNT; ++k) {
      t[k] = t[k - 1] + static_cast<double>(k) * static_cast<double>(k);
    }
    return t;
  }();
  return table.data();
}

namespace {

template <bool Squares>
bool accumulate_moments(int32_t type, int32_t rows, int32_t cols, int32_t x_first,
                        int32_t y_first, const int32_t* const* row_starts, Moments* t) {
  switch (type) {
    case piston:
      accumulate_piston<Squares>(rows, cols, row_starts, t);
      return true;
    case plane:
      accumulate_runs<plane, Squares>(rows, cols, x_first, y_first, row_starts, t);
      return true;
    case sphere:
      accumulate_runs<sphere, Squares>(rows, cols, x_first, y_first, row_starts, t);
      return true;
    case cylinder:
      accumulate_runs<cylinder, Squares>(rows, cols, x_first, y_first, row_starts, t);
      return true;
    default:
      return false;
  }
}

}  // namespace

void accumulate_fit_sums_at(int32_t type, int32_t rows, int32_t cols, int32_t x_first,
                            int32_t y_first, const int32_t* const* row_starts, FitSums* sums,
                            bool with_square_sum) {
  Moments t{};
  const bool known =
      with_square_sum
          ? accumulate_moments<true>(type, rows, cols, x_first, y_first, row_starts, &t)
          : accumulate_moments<false>(type, rows, cols, x_first, y_first, row_starts, &t);
  if (known) fill_normal_equations(type, t, sums);
}

void accumulate_fit_sums(int32_t type, int32_t rows, int32_t cols, const int32_t* const* row_starts,
                         FitSums* sums) {
  accumulate_fit_sums_at(type, rows, cols, -((cols - 1) / 2), -((rows - 1) / 2), row_starts, sums,
                         true);
}

namespace {

// Solves the normal equations of `sums` and completes *fit (type and centre already set); the
// residual only `with_rms`.
ErrorCode solve_fit(int32_t type, const FitSums& sums, SurfaceFit* fit, double* rms_out,
                    bool with_rms) {
  const int32_t n = fit_term_count(type);
  double a[MAX_FIT_TERMS];
  if (solve_linear_system(n, STRIDE, sums.m, a, sums.b) != NO_ERROR) {
    return ERR_NO_UNIQUE_SOLUTION;
  }

  fit->npoints = static_cast<int32_t>(sums.m[0]);
  fit->offset = a[0];
  if (type != piston) {
    fit->y_coef = a[1];
    fit->x_coef = a[2];
  }
  if (type == sphere) fit->x2y2_coef = a[3];
  if (type == cylinder) {
    fit->xy_coef = a[3];
    fit->y2_coef = a[4];
    fit->x2_coef = a[5];
  }
  if (!with_rms) return NO_ERROR;
  double explained = 0.0;
  for (int32_t i = 0; i < n; ++i) explained += a[i] * sums.b[i];
  const double mean_square = (sums.s - explained) / fit->npoints;
  fit->rms = mean_square > 0.0 ? std::sqrt(mean_square) : 0.0;
  if (rms_out) *rms_out = fit->rms;
  return NO_ERROR;
}

}  // namespace

ErrorCode fit_surface(const PhaseMap& map, const Window* window, int32_t type, SurfaceFit* fit,
                      double* rms_out) {
  if (!fit_type_valid(type)) return ERR_PARAM_OUT_OF_RANGE;
  *fit = SurfaceFit{};
  fit->type = type;

  const Window w = window ? *window : map.window;
  if (window && !window_within(*window, map.window)) return ERR_IMPROPER_WINDOW;
  window_center(w, &fit->center_x, &fit->center_y);

  // A window without pixels keeps every sum 0, so the first pivot fails.
  FitSums sums{};
  if (w.width > 0 && w.height > 0) {
    int32_t* row_starts[MAX_MAP_ROWS];
    map_rows(map, &w, row_starts);
    accumulate_fit_sums(type, w.height, w.width, row_starts, &sums);
  }
  return solve_fit(type, sums, fit, rms_out, true);
}

ErrorCode fit_surface_padded(const PhaseMap& map, const Window& window, int32_t type,
                             SurfaceFit* fit, double* rms_out, bool with_rms) {
  if (!fit_type_valid(type)) return ERR_PARAM_OUT_OF_RANGE;
  *fit = SurfaceFit{};
  fit->type = type;
  // As fit_surface over the padded map with `window` given: a window of no width or height is
  // disjoint even from itself.
  if (!window_within(window, window)) return ERR_IMPROPER_WINDOW;
  const Window& part = map.window;
  const bool has_pixels = part.width > 0 && part.height > 0;
  if (has_pixels && !window_within(part, window)) return ERR_IMPROPER_WINDOW;
  window_center(window, &fit->center_x, &fit->center_y);

  // Rows and columns of the padding hold no valid value: a row without one adds nothing, and a
  // column without one adds zeros, so the sums over the part alone are those over the window.
  FitSums sums{};
  if (has_pixels) {
    int32_t* row_starts[MAX_MAP_ROWS];
    map_rows(map, nullptr, row_starts);
    accumulate_fit_sums_at(type, part.height, part.width, part.x - fit->center_x,
                           part.y - fit->center_y, row_starts, &sums, with_rms);
  }
  return solve_fit(type, sums, fit, rms_out, with_rms);
}

}  // namespace harnix
