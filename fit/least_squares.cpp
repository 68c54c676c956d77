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

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "base/vector_clones.h"
#include "fit/solver.h"
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
  // Adds another exact sum: the 128-bit sum is exact again.
  void merge(const SquareSum& other) {
    lo += other.lo;
    hi += other.hi + (lo < other.lo);
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

void fill_normal_equations(FitType type, const Moments& t, FitSums* sums) {
  using enum FitType;
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

// Exact totals of the valid pixels of one row: their count and sums of x, x^2, z and x z. The
// sum of x^2 is an integer below 2^53, so the double holds it exactly.
struct RowTotals {
  int64_t n;
  int64_t x;
  double xx;
  int64_t z;
  int64_t xz;
};

// Exact per-column totals of the valid pixels, kept where a type needs x^3, x^4 or x^2 z
// (sphere, cylinder) and x^3 y (cylinder): |sum z| < 2^46 and |sum y| < 2^30 for any 16-bit
// window.
struct ColumnTotals {
  int64_t* z;
  int32_t* n;
  int32_t* y;
};

constexpr bool has_columns(FitType type) {
  return type == FitType::sphere || type == FitType::cylinder;
}

// Piston needs only the count, sum z and sum z^2: a plain scan without runs, where an invalid
// pixel adds zeros instead of taking a branch. A row's squares (each below 2^62) are summed in
// two 64-bit halves, their high and low 32 bits, which no row of a 16-bit window can overflow:
// the row's exact sum without a carry per pixel, so the loop runs in vector lanes.
// The scans read rows first_row .. end_row - 1 of the view and write their row totals.
HARNIX_VECTOR_CLONES RowTotals piston_row(const int32_t* px, int32_t cols, SquareSum* s) {
  int64_t n = 0;
  int64_t z = 0;
  if (s == nullptr) {
    for (int32_t c = 0; c < cols; ++c) {
      const bool valid = px[c] < PHASE_INVALID;
      n += valid;
      z += valid ? px[c] : 0;
    }
    return RowTotals{n, 0, 0.0, z, 0};
  }
  uint64_t high = 0;
  uint64_t low = 0;
  for (int32_t c = 0; c < cols; ++c) {
    const bool valid = px[c] < PHASE_INVALID;
    const int32_t v = valid ? px[c] : 0;
    n += valid;
    z += v;
    const auto sq = static_cast<uint64_t>(static_cast<int64_t>(v) * v);
    high += sq >> 32;
    low += sq & 0xFFFFFFFFu;
  }
  const uint64_t shifted = high << 32;
  const uint64_t lo = shifted + low;
  s->merge(SquareSum{lo, (high >> 32) + (lo < shifted)});
  return RowTotals{n, 0, 0.0, z, 0};
}

template <bool SQUARES>
void scan_piston(ConstPhaseView view, int32_t first_row, int32_t end_row, RowTotals* rows,
                 SquareSum* s) {
  const int32_t cols = view.window.width;
  for (int32_t r = first_row; r < end_row; ++r) {
    rows[r] = piston_row(view.row(r), cols, SQUARES ? s : nullptr);
  }
}

// One scan for plane, sphere and cylinder: the row totals from the runs of valid pixels, and
// the column totals where the type keeps them.
template <FitType TYPE, bool SQUARES>
void scan_runs(ConstPhaseView view, int32_t first_row, int32_t end_row, int32_t x_first,
               int32_t y_first, RowTotals* rows, ColumnTotals columns, SquareSum* s) {
  constexpr bool COLUMNS = has_columns(TYPE);
  constexpr bool COLUMN_Y = TYPE == FitType::cylinder;
  const int32_t cols = view.window.width;
  const double* squares = square_sum_table();
  for (int32_t r = first_row; r < end_row; ++r) {
    const int32_t y = y_first + r;
    const int32_t* px = view.row(r);
    RowTotals row{0, 0, 0.0, 0, 0};
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
        if constexpr (SQUARES) s->add(v);
        if constexpr (COLUMNS) {
          columns.z[c] += v;
          ++columns.n[c];
        }
        if constexpr (COLUMN_Y) columns.y[c] += y;
      }
      const int32_t k = c - start;
      const int32_t p = x_first + start;
      const int32_t q = p + k - 1;
      row.n += k;
      row.x += static_cast<int64_t>(k) * (p + q) / 2;
      row.xx += run_sum_squares(squares, p, q);
      row.z += run_y;
      row.xz += static_cast<int64_t>(p + k) * run_y - run_z;
    }
    rows[r] = row;
  }
}

// Exact sums over the valid pixels of one row: their count and the sums of c, c^2, z and c z,
// c the index in the row. Without branches on the values, so that it runs on vector registers.
// The row goes in blocks of ROW_BLOCK columns c = b + j, each summed in 32-bit lanes (twice as
// many per register as 64-bit ones, and no 64-bit products, which AVX2 lacks), with z split as
// z = 2^16 h + l, l in [0, 2^16) and h in [-2^15, 2^15): per block, with j < 256, the sums of
// j, j^2 (< 2^24), l (< 2^24), h (< 2^23 in magnitude), l j (< 2^32, unsigned) and h j (< 2^31
// in magnitude) all fit their lanes, and the block's exact 64-bit sums follow as
//   sum z = 2^16 sum h + sum l,  sum c z = b sum z + 2^16 sum h j + sum l j,
//   sum c = n b + sum j,  sum c^2 = n b^2 + 2 b sum j + sum j^2.
// Every lane adds in unsigned arithmetic, which wraps; the true sums lie in range, so the
// signed ones are read back exactly.
struct RowSums {
  int64_t n, c, cc, z, cz;
};

constexpr int32_t ROW_BLOCK = 256;

HARNIX_VECTOR_CLONES RowSums row_sums(const int32_t* px, int32_t cols) {
  RowSums t{0, 0, 0, 0, 0};
  for (int32_t b = 0; b < cols; b += ROW_BLOCK) {
    const int32_t len = std::min(ROW_BLOCK, cols - b);
    const int32_t* p = px + b;
    uint32_t n = 0, sj = 0, sjj = 0, sl = 0, sh = 0, slj = 0, shj = 0;
    for (int32_t j = 0; j < len; ++j) {
      const int32_t v = p[j];
      const uint32_t mask = v < PHASE_INVALID ? UINT32_MAX : 0u;
      const uint32_t l = static_cast<uint32_t>(v) & 0xFFFFu & mask;
      const uint32_t h = static_cast<uint32_t>(v >> 16) & mask;  // arithmetic shift: floor
      const uint32_t jm = static_cast<uint32_t>(j) & mask;
      n -= mask;
      sj += jm;
      sjj += jm * jm;
      sl += l;
      sh += h;
      slj += l * jm;
      shj += h * jm;
    }
    const int64_t base = b;
    const int64_t z = int64_t{static_cast<int32_t>(sh)} * 65536 + int64_t{sl};
    const int64_t zj = int64_t{static_cast<int32_t>(shj)} * 65536 + int64_t{slj};
    t.n += n;
    t.c += int64_t{n} * base + sj;
    t.cc += int64_t{n} * base * base + 2 * base * sj + sjj;
    t.z += z;
    t.cz += base * z + zj;
  }
  return t;
}

// The column totals of one row, for the sphere and cylinder: the same additions as the runs
// make, column by column.
HARNIX_VECTOR_CLONES void add_columns(const int32_t* px, int32_t cols, int32_t y,
                                      bool with_y, ColumnTotals columns) {
  for (int32_t c = 0; c < cols; ++c) {
    const int32_t v = px[c];
    const int32_t valid = v < PHASE_INVALID;
    columns.z[c] += valid ? v : 0;
    columns.n[c] += valid;
  }
  if (!with_y) return;
  for (int32_t c = 0; c < cols; ++c) columns.y[c] += px[c] < PHASE_INVALID ? y : 0;
}

// The scan without the sum of squares, from the exact sums of row_sums: x = x_first + c gives
// sum x = n x_first + sum c, sum x^2 = n x_first^2 + 2 x_first sum c + sum c^2 and
// sum x z = x_first sum z + sum c z, the very integers the runs give (sum x^2 below 2^53, so
// exact as a double too).
template <FitType TYPE>
void scan_direct(ConstPhaseView view, int32_t first_row, int32_t end_row, int32_t x_first,
                 int32_t y_first, RowTotals* rows, ColumnTotals columns) {
  const int32_t cols = view.window.width;
  const int64_t x0 = x_first;
  for (int32_t r = first_row; r < end_row; ++r) {
    const int32_t* px = view.row(r);
    const RowSums t = row_sums(px, cols);
    rows[r] = RowTotals{t.n, t.n * x0 + t.c,
                        static_cast<double>(t.n * x0 * x0 + 2 * x0 * t.c + t.cc), t.z,
                        x0 * t.z + t.cz};
    if constexpr (has_columns(TYPE)) {
      add_columns(px, cols, y_first + r, TYPE == FitType::cylinder, columns);
    }
  }
}

// The window totals from the row totals, row after row, and from the column totals, column
// after column: the only sums that round, always formed in this order.
void weigh_rows(FitType type, const RowTotals* rows, int32_t count, int32_t y_first, Moments* t) {
  if (type == FitType::piston) {
    for (int32_t r = 0; r < count; ++r) {
      t->n += static_cast<double>(rows[r].n);
      t->z += static_cast<double>(rows[r].z);
    }
    return;
  }
  for (int32_t r = 0; r < count; ++r) {
    const RowTotals& row = rows[r];
    if (row.n == 0) continue;
    const double yd = y_first + r;
    const double y2 = yd * yd;
    const double n = static_cast<double>(row.n);
    const double sx = static_cast<double>(row.x);
    const double sz = static_cast<double>(row.z);
    t->n += n;
    t->y += yd * n;
    t->yy += y2 * n;
    t->yyy += y2 * yd * n;
    t->yyyy += y2 * y2 * n;
    t->x += sx;
    t->xy += yd * sx;
    t->xyy += y2 * sx;
    t->xyyy += y2 * yd * sx;
    t->xx += row.xx;
    t->xxy += yd * row.xx;
    t->xxyy += y2 * row.xx;
    t->z += sz;
    t->yz += yd * sz;
    t->yyz += y2 * sz;
    t->xz += static_cast<double>(row.xz);
    t->xyz += yd * static_cast<double>(row.xz);
  }
}

// The column totals of every part, added exactly (integers) part after part, then weighed
// column after column.
void weigh_columns(FitType type, const ColumnTotals* parts, int32_t n_parts, int32_t count,
                   int32_t x_first, Moments* t) {
  if (!has_columns(type)) return;
  const bool column_y = type == FitType::cylinder;
  for (int32_t c = 0; c < count; ++c) {
    int64_t z_total = 0;
    int32_t n_total = 0;
    int32_t y_total = 0;
    for (int32_t p = 0; p < n_parts; ++p) {
      z_total += parts[p].z[c];
      n_total += parts[p].n[c];
      if (column_y) y_total += parts[p].y[c];
    }
    const double x = x_first + c;
    const double x2 = x * x;
    const double n = n_total;
    const double z = static_cast<double>(z_total);
    t->xxx += x2 * x * n;
    t->xxxx += x2 * x2 * n;
    t->xxz += x2 * z;
    if (column_y) t->xxxy += x2 * x * y_total;
  }
}

template <bool SQUARES>
void scan(FitType type, ConstPhaseView view, int32_t first_row, int32_t end_row, int32_t x_first,
          int32_t y_first, RowTotals* rows, ColumnTotals columns, SquareSum* s) {
  if constexpr (!SQUARES) {
    // Without the residual every type takes the vector scan.
    switch (type) {
      case FitType::piston:
        scan_piston<false>(view, first_row, end_row, rows, s);
        break;
      case FitType::plane:
        scan_direct<FitType::plane>(view, first_row, end_row, x_first, y_first, rows, columns);
        break;
      case FitType::sphere:
        scan_direct<FitType::sphere>(view, first_row, end_row, x_first, y_first, rows, columns);
        break;
      case FitType::cylinder:
        scan_direct<FitType::cylinder>(view, first_row, end_row, x_first, y_first, rows, columns);
        break;
    }
    return;
  }
  switch (type) {
    case FitType::piston:
      scan_piston<SQUARES>(view, first_row, end_row, rows, s);
      break;
    case FitType::plane:
      scan_runs<FitType::plane, SQUARES>(view, first_row, end_row, x_first, y_first, rows, columns,
                                         s);
      break;
    case FitType::sphere:
      scan_runs<FitType::sphere, SQUARES>(view, first_row, end_row, x_first, y_first, rows, columns,
                                          s);
      break;
    case FitType::cylinder:
      scan_runs<FitType::cylinder, SQUARES>(view, first_row, end_row, x_first, y_first, rows,
                                            columns, s);
      break;
  }
}

// The storage of a fit in parts, in the workspace: the row totals of the whole view, then per
// part its exact sum of squares and its column totals, each part on cache lines of its own so
// that parts gathered at the same time do not share one.
constexpr std::size_t LINE = 64;

std::size_t round_to_line(std::size_t bytes) {
  return (bytes + LINE - 1) / LINE * LINE;
}

std::size_t part_bytes(FitType type, int32_t cols) {
  const std::size_t columns = has_columns(type) ? static_cast<std::size_t>(cols) * 16 : 0;
  return round_to_line(sizeof(SquareSum) + columns);
}

RowTotals* row_totals(const FitParts& plan) {
  return static_cast<RowTotals*>(plan.storage);
}

std::byte* part_base(const FitParts& plan, int32_t part) {
  const std::size_t rows = round_to_line(sizeof(RowTotals) * plan.view.window.height);
  return static_cast<std::byte*>(plan.storage) + rows +
         static_cast<std::size_t>(part) * part_bytes(plan.type, plan.view.window.width);
}

SquareSum* part_squares(const FitParts& plan, int32_t part) {
  return reinterpret_cast<SquareSum*>(part_base(plan, part));
}

ColumnTotals part_columns(const FitParts& plan, int32_t part) {
  if (!has_columns(plan.type)) return ColumnTotals{nullptr, nullptr, nullptr};
  const auto cols = static_cast<std::size_t>(plan.view.window.width);
  auto* z = reinterpret_cast<int64_t*>(part_base(plan, part) + sizeof(SquareSum));
  auto* n = reinterpret_cast<int32_t*>(z + cols);
  return ColumnTotals{z, n, n + cols};
}

// True when the window's last column and row lie within the 16-bit fields, so that its centre
// is its true centre and every coordinate about it fits in 16 bits.
bool within_field(const Window& w) {
  return static_cast<int32_t>(w.x) + w.width - 1 <= INT16_MAX &&
         static_cast<int32_t>(w.y) + w.height - 1 <= INT16_MAX;
}

// Sets up a fit in parts of a view with pixels whose first column and row have the coordinates
// x_first and y_first.
ErrorCode begin_parts(ConstPhaseView view, int32_t x_first, int32_t y_first, FitType type,
                      const FitOptions& options, int32_t parts, SurfaceWorkspace& ws,
                      FitParts* plan) {
  *plan = FitParts{view, type, options, x_first, y_first, parts, nullptr};
  const std::size_t each = part_bytes(type, view.window.width);
  const ErrorCode rc = surface_workspace_reserve(
      ws, fit_parts_bytes(type, view.window.height, view.window.width, parts));
  if (rc != NO_ERROR) return rc;
  plan->storage = ws.storage;
  for (int32_t p = 0; p < parts; ++p) {
    *part_squares(*plan, p) = SquareSum{};
    const ColumnTotals columns = part_columns(*plan, p);
    if (columns.z != nullptr) std::memset(columns.z, 0, each - sizeof(SquareSum));
  }
  return NO_ERROR;
}

// The normal equations from the gathered parts: rows in order, columns in order, the parts'
// exact totals added in part order.
void combine_parts(const FitParts& plan, FitSums* sums) {
  Moments t{};
  weigh_rows(plan.type, row_totals(plan), plan.view.window.height, plan.y_first, &t);
  SquareSum s;
  ColumnTotals columns[MAX_FIT_PARTS];
  for (int32_t p = 0; p < plan.parts; ++p) {
    s.merge(*part_squares(plan, p));
    columns[p] = part_columns(plan, p);
  }
  weigh_columns(plan.type, columns, plan.parts, plan.view.window.width, plan.x_first, &t);
  t.s = s.value();
  fill_normal_equations(plan.type, t, sums);
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

void fit_parts_gather(const FitParts& plan, int32_t part, int32_t first_row, int32_t rows) {
  const int32_t end_row = first_row + rows;
  RowTotals* totals = row_totals(plan);
  const ColumnTotals columns = part_columns(plan, part);
  SquareSum* s = part_squares(plan, part);
  if (plan.options.residual) {
    scan<true>(plan.type, plan.view, first_row, end_row, plan.x_first, plan.y_first, totals,
               columns, s);
  } else {
    scan<false>(plan.type, plan.view, first_row, end_row, plan.x_first, plan.y_first, totals,
                columns, s);
  }
}

void fit_parts_gather_rows(const FitParts& plan, int32_t part, int32_t first_row,
                           ConstPhaseView rows) {
  // The scans index the totals and the coordinates by the rows they read: those of `rows` are
  // the plan's rows from first_row on.
  RowTotals* totals = row_totals(plan) + first_row;
  const int32_t y_first = plan.y_first + first_row;
  const int32_t count = rows.window.height;
  const ColumnTotals columns = part_columns(plan, part);
  SquareSum* s = part_squares(plan, part);
  if (plan.options.residual) {
    scan<true>(plan.type, rows, 0, count, plan.x_first, y_first, totals, columns, s);
  } else {
    scan<false>(plan.type, rows, 0, count, plan.x_first, y_first, totals, columns, s);
  }
}

ErrorCode accumulate_fit_sums(ConstPhaseView view, int32_t x_first, int32_t y_first, FitType type,
                              const FitOptions& options, SurfaceWorkspace& ws, FitSums* sums) {
  FitParts plan{};
  const ErrorCode rc = begin_parts(view, x_first, y_first, type, options, 1, ws, &plan);
  if (rc != NO_ERROR) return rc;
  fit_parts_gather(plan, 0, 0, view.window.height);
  combine_parts(plan, sums);
  return NO_ERROR;
}

namespace {

// Solves the normal equations of `sums` and completes *fit (type and centre already set); the
// residual only with options.residual.
ErrorCode solve_fit(FitType type, const FitSums& sums, const FitOptions& options, SurfaceFit* fit) {
  const int32_t n = fit_term_count(type);
  double a[MAX_FIT_TERMS];
  if (solve_linear_system(n, STRIDE, sums.m, a, sums.b) != NO_ERROR) {
    return ERR_NO_UNIQUE_SOLUTION;
  }

  fit->npoints = static_cast<int32_t>(sums.m[0]);
  fit->offset = a[0];
  if (type != FitType::piston) {
    fit->y_coef = a[1];
    fit->x_coef = a[2];
  }
  if (type == FitType::sphere) fit->x2y2_coef = a[3];
  if (type == FitType::cylinder) {
    fit->xy_coef = a[3];
    fit->y2_coef = a[4];
    fit->x2_coef = a[5];
  }
  if (!options.residual) return NO_ERROR;
  double explained = 0.0;
  for (int32_t i = 0; i < n; ++i) explained += a[i] * sums.b[i];
  const double mean_square = (sums.s - explained) / fit->npoints;
  fit->rms = mean_square > 0.0 ? std::sqrt(mean_square) : 0.0;
  return NO_ERROR;
}

}  // namespace

std::size_t fit_parts_bytes(FitType type, int32_t rows, int32_t cols, int32_t parts) {
  const auto n = static_cast<std::size_t>(std::clamp(parts, 1, MAX_FIT_PARTS));
  return round_to_line(sizeof(RowTotals) * static_cast<std::size_t>(std::max(rows, 0))) +
         n * part_bytes(type, std::max(cols, 0));
}

ErrorCode fit_parts_begin(ConstPhaseView view, const Window& frame, FitType type,
                          const FitOptions& options, int32_t parts, SurfaceWorkspace& ws,
                          FitParts* plan, SurfaceFit* fit) {
  if (!fit_type_valid(type)) return ERR_PARAM_OUT_OF_RANGE;
  *fit = SurfaceFit{};
  fit->type = type;
  const bool pixels = view.has_pixels();
  if ((pixels && !window_within(view.window, frame)) || !within_field(frame)) {
    return ERR_IMPROPER_WINDOW;
  }
  window_center(frame, &fit->center_x, &fit->center_y);
  // A view without pixels has no rows to gather; it keeps every sum 0, so the first pivot fails.
  if (!pixels) view.window.width = view.window.height = 0;
  // Rows and columns of the frame outside the view hold no valid value: a row without one adds
  // nothing, and a column without one adds zeros, so the sums over the view alone are those
  // over the frame.
  return begin_parts(view, view.window.x - fit->center_x, view.window.y - fit->center_y, type,
                     options, std::clamp(parts, 1, MAX_FIT_PARTS), ws, plan);
}

ErrorCode fit_parts_finish(const FitParts& plan, SurfaceFit* fit) {
  FitSums sums{};
  if (plan.view.window.height > 0) combine_parts(plan, &sums);
  return solve_fit(plan.type, sums, plan.options, fit);
}

ErrorCode fit_piston_totals(const Window& frame, const PistonTotals& totals,
                            const FitOptions& options, SurfaceFit* fit) {
  *fit = SurfaceFit{};
  fit->type = FitType::piston;
  if (!within_field(frame)) return ERR_IMPROPER_WINDOW;
  window_center(frame, &fit->center_x, &fit->center_y);
  Moments t{};
  t.n = totals.count;
  t.z = totals.sum;
  if (options.residual) {
    t.s = SquareSum{totals.squares.squares_low, totals.squares.squares_high}.value();
  }
  FitSums sums{};
  fill_normal_equations(FitType::piston, t, &sums);
  return solve_fit(FitType::piston, sums, options, fit);
}

ErrorCode fit_surface(ConstPhaseView view, const Window& frame, FitType type,
                      const FitOptions& options, SurfaceWorkspace& ws, SurfaceFit* fit) {
  FitParts plan{};
  const ErrorCode rc = fit_parts_begin(view, frame, type, options, 1, ws, &plan, fit);
  if (rc != NO_ERROR) return rc;
  fit_parts_gather(plan, 0, 0, plan.view.window.height);
  return fit_parts_finish(plan, fit);
}

}  // namespace harnix
