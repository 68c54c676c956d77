// Surface subtraction by fixed-point forward differences.
//
// Plane: along a row the surface grows by x_coef per pixel and from row to row by y_coef, so a
// running pair starts at the row's first pixel and adds the split step per pixel.
// Sphere: z(x, y) = [x2y2 (x^2 - x0^2) + x_coef (x - x0)] + [y_coef y + x2y2 (y^2 + x0^2) +
// x_coef x0 + offset]: a per-column table of the first bracket plus one split per row.
// Cylinder: the column part at row y is x2 (x^2 - x0^2) + x_coef (x - x0) + xy x y - xy x0 y0,
// which grows by xy x from row to row: a per-column pair and its per-column increment, plus
// one split per row of y2 y^2 + y_coef y + (xy y0 + x_coef + x2 x0) x0 + offset.
#include "fit/subtract.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "maps/window.h"

namespace harnix {

namespace {

constexpr int32_t ONE = int32_t{1} << SURFACE_FRACTION_BITS;
constexpr int32_t HALF = ONE / 2;
constexpr double SCALE = static_cast<double>(ONE);

// Surfaces are refused from this magnitude on, far inside the 64-bit integer parts and where
// a double still holds every integer exactly.
constexpr double SURFACE_LIMIT = 4503599627370496.0;  // 2^52

// Below this bound every integer part, rounding and partial sum of the plane and sphere lies
// within +-2^30, and their kernels run in 32-bit lanes.
constexpr double NARROW_LIMIT = 536870912.0;  // 2^29

struct Pair {
  int64_t i;
  int32_t f;
};

// Precondition: |v| < 2^52, so both conversions are exact truncations.
inline Pair split(double v) {
  const double whole = std::trunc(v);
  return {static_cast<int64_t>(whole), static_cast<int32_t>((v - whole) * SCALE)};
}

// Carry with the limit |f| >= 2^30. Carries and roundings are formed without branches: which
// way they go depends on the data and would be mispredicted often.
inline void carry(int64_t& i, int32_t& f) {
  const int32_t up = f >= ONE;
  const int32_t down = f <= -ONE;
  f += (down - up) * ONE;
  i += up - down;
}

// carry (limit |f| >= 2^30) followed by rounding the pair (one up for f >= 2^29, one down for
// f <= -2^29), for a pair used once: for |f| < 2^31 the two together add one for each of
// f >= 2^29 and f >= 3 2^29 and take one for each of f <= -2^29 and f <= -3 2^29.
inline int64_t carry_and_round(int64_t i, int32_t f) {
  constexpr int32_t THREE_HALVES = 3 * HALF;
  return i + (static_cast<int32_t>(f >= HALF) + static_cast<int32_t>(f >= THREE_HALVES) -
              static_cast<int32_t>(f <= -HALF) - static_cast<int32_t>(f <= -THREE_HALVES));
}

// The value v loses r when v is valid and the difference stays in the valid range; otherwise
// v is returned as it was.
inline int32_t subtracted(int32_t v, int64_t r) {
  const int64_t d = static_cast<int64_t>(v) - r;
  const bool ok = (v < PHASE_INVALID) & (d >= INT32_MIN) & (d < PHASE_INVALID);
  return ok ? static_cast<int32_t>(d) : v;
}

// Bound on the magnitude of every value the schemes below split or carry, for coordinates
// up to e in magnitude; not finite when a coefficient the type uses is not.
double surface_bound(const SurfaceFit& fit, double e) {
  using enum FitType;
  double linear = 0.0;
  double quadratic = 0.0;
  if (fit.type != piston) linear = std::fabs(fit.x_coef) + std::fabs(fit.y_coef);
  if (fit.type == sphere) quadratic = std::fabs(fit.x2y2_coef);
  if (fit.type == cylinder) {
    quadratic = std::fabs(fit.xy_coef) + std::fabs(fit.x2_coef) + std::fabs(fit.y2_coef);
  }
  return std::fabs(fit.offset) + 4.0 * linear * e + 8.0 * quadratic * e * e;
}

// The scheme runs over a window: x0, y0 are the coordinates of its first column and row, and
// every pair is formed as if it started there. A part of the window (all of it for
// remove_surface) is where pixels are read and written; the pairs at its first column and row
// come from the same arithmetic, taken in closed form or stepped without touching pixels.
struct Extent {
  int32_t x0;  // x of the window's first column
  int32_t y0;  // y of the window's first row
  int32_t cols;
  int32_t rows;
};

struct Part {
  int32_t col;  // first column of the part within the window
  int32_t row;  // first row of the part within the window
  int32_t cols;
  int32_t rows;
  PhaseView view;  // the part's pixels

  int32_t* start(int32_t j) const { return view.row(j); }
};

// The per-column tables of the sphere and cylinder, in the caller's workspace.
struct ColumnTables {
  int64_t* i;
  int32_t* i_narrow;  // sphere
  int32_t* f;
  int64_t* step_i;  // cylinder
  int32_t* step_f;  // cylinder
};

// Bytes of the column tables for `cols` columns: the cylinder's, the larger of the two.
constexpr std::size_t COLUMN_TABLE_BYTES = 2 * sizeof(int64_t) + 2 * sizeof(int32_t);

ColumnTables column_tables(const SurfaceWorkspace& ws, int32_t cols) {
  const auto n = static_cast<std::size_t>(cols);
  auto* wide = static_cast<int64_t*>(ws.storage);
  auto* narrow = reinterpret_cast<int32_t*>(wide + 2 * n);
  return ColumnTables{wide, narrow, narrow + n, wide + n, narrow};
}

// subtracted() for |r| < 2^30: the 32-bit difference wraps exactly when the true one leaves
// the 32-bit range, which happens only when v and r differ in sign and the difference takes
// r's sign.
inline int32_t subtracted_narrow(int32_t v, int32_t r) {
  const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(v) - static_cast<uint32_t>(r));
  const bool wrapped = ((v ^ r) & (v ^ d)) < 0;
  const bool ok = (v < PHASE_INVALID) & !wrapped & (d < PHASE_INVALID);
  return ok ? d : v;
}

// Kernels copy the part's sizes into locals: the pixels they write are 32-bit integers too, so
// the compiler could not otherwise know the loop bounds stay put.
void remove_piston(const Part& part, const SurfaceFit& fit) {
  const double o = fit.offset;
  const int64_t r = static_cast<int64_t>(o > 0.0 ? std::trunc(o + 0.5) : std::trunc(o - 0.5));
  // With one r for every pixel, the values that may lose it form one range [lo, hi): valid,
  // and with a difference in the valid range. Inside it the 32-bit wrapping difference is the
  // true one, so the loop runs in 32 bits without branches.
  const int64_t lo = std::max<int64_t>(INT32_MIN, INT32_MIN + r);
  const int64_t hi = std::min<int64_t>(PHASE_INVALID, PHASE_INVALID + r);
  if (lo >= hi) return;
  const int32_t lo32 = static_cast<int32_t>(lo);
  const int32_t hi32 = static_cast<int32_t>(hi);
  const uint32_t r32 = static_cast<uint32_t>(r);
  const int32_t cols = part.cols;
  for (int32_t j = 0; j < part.rows; ++j) {
    int32_t* px = part.start(j);
    for (int32_t c = 0; c < cols; ++c) {
      const int32_t v = px[c];
      const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(v) - r32);
      px[c] = (v >= lo32 && v < hi32) ? d : v;
    }
  }
}

// Plane, one row. The running pair of the scheme at column c of the window is (i_c, f_c) with
// i_c ONE + f_c = (Ir + c Ix) ONE + T_c, T_c = Fr + c Fx: each step adds the split column step
// and carries f only past +-ONE, and only in the direction of Fx. So f_c = T_c until T_c
// passes ONE (-ONE), and from then on f_c lies in (0, ONE] ([-ONE, 0)); either way f_c < 0
// exactly when T_c < 0. Rounding i_c up when f_c >= HALF and down when f_c <= -HALF is then
//   R_c = Ir + c Ix + floor((T_c + HALF - [T_c < 0]) / ONE),
// which needs no running state: the row splits into at most two spans of one sign of T, and
// in each the floor of an arithmetic progression (b + k e) / ONE with 0 <= b, e < ONE.
void plane_span(int32_t* px, int32_t n, int64_t a0, int64_t ia, int64_t t0, int32_t tx,
                bool narrow) {
  const int64_t e_whole = tx < 0 ? -1 : 0;
  const uint64_t e = static_cast<uint64_t>(tx - e_whole * ONE);
  const int64_t b_whole = t0 >> SURFACE_FRACTION_BITS;  // floor: arithmetic shift
  const uint64_t b = static_cast<uint64_t>(t0 - b_whole * ONE);
  const int64_t r0 = a0 + b_whole;
  const int64_t step = ia + e_whole;
  if (narrow) {
    // Every R and every partial sum lies within +-2^30: 32-bit lanes. b + k e stays below 2^46,
    // so as a double it is exact, and so is its scaling by 2^-30, whose truncation is the floor.
    uint32_t r_k = static_cast<uint32_t>(r0);
    const uint32_t step_32 = static_cast<uint32_t>(step);
    const double bd = static_cast<double>(b);
    const double ed = static_cast<double>(e);
    constexpr double INV_ONE = 1.0 / ONE;
    for (int32_t k = 0; k < n; ++k) {
      const double u = bd + static_cast<double>(k) * ed;
      const uint32_t carries = static_cast<uint32_t>(static_cast<int32_t>(u * INV_ONE));
      px[k] = subtracted_narrow(px[k], static_cast<int32_t>(r_k + carries));
      r_k += step_32;
    }
    return;
  }
  for (int32_t k = 0; k < n; ++k) {
    const uint64_t u = b + static_cast<uint64_t>(k) * e;
    const int64_t r = r0 + k * step + static_cast<int64_t>(u >> SURFACE_FRACTION_BITS);
    px[k] = subtracted(px[k], r);
  }
}

void plane_row(int32_t* px, const Part& part, Pair row, Pair step, bool narrow) {
  const int64_t fr = row.f;
  const int64_t fx = step.f;
  // [first, first + count) of the part's columns, relative to the window, with T_c < 0.
  const int64_t c_begin = part.col;
  const int64_t c_end = part.col + part.cols;
  int64_t neg_begin = c_end;
  int64_t neg_end = c_end;
  if (fx >= 0) {
    // T rises: negative below the first c with T_c >= 0.
    neg_begin = c_begin;
    neg_end = fr >= 0 ? c_begin : fx == 0 ? c_end : std::clamp((-fr + fx - 1) / fx, c_begin, c_end);
  } else {
    // T falls: negative from the first c with T_c < 0 on.
    neg_begin = fr < 0 ? c_begin : std::clamp(fr / -fx + 1, c_begin, c_end);
  }
  auto span = [&](int64_t from, int64_t to, int64_t offset) {
    if (from >= to) return;
    plane_span(px + (from - c_begin), static_cast<int32_t>(to - from), row.i + from * step.i,
               step.i, fr + offset + from * fx, step.f, narrow);
  };
  span(c_begin, neg_begin, HALF);
  span(neg_begin, neg_end, HALF - 1);
  span(neg_end, c_end, HALF);
}

void remove_plane(const Extent& e, const Part& part, const SurfaceFit& fit, bool narrow) {
  Pair row = split((e.y0 * fit.y_coef + fit.offset) + e.x0 * fit.x_coef);
  const Pair step_x = split(fit.x_coef);
  const Pair step_y = split(fit.y_coef);
  // The row pair is stepped from the window's first row: one addition per row.
  const int32_t end = part.row + part.rows;
  for (int32_t j = 0; j < end; ++j) {
    if (j >= part.row) plane_row(part.start(j - part.row), part, row, step_x, narrow);
    row.f += step_y.f;
    row.i += step_y.i + row.f / ONE;
    row.f %= ONE;
  }
}

void remove_sphere(const Extent& e, const Part& part, const SurfaceFit& fit, bool narrow,
                   const ColumnTables& tables) {
  const double c2 = fit.x2y2_coef;
  const double x0 = e.x0;
  const int32_t cols = part.cols;
  int64_t* const col_i = tables.i;
  int32_t* const col_i_narrow = tables.i_narrow;
  int32_t* const col_f = tables.f;
  for (int32_t c = 0; c < part.cols; ++c) {
    const double i = part.col + c;  // column within the window
    const Pair p = split((i * c2 + fit.x_coef + 2.0 * c2 * x0) * i);
    col_i[c] = p.i;
    col_i_narrow[c] = static_cast<int32_t>(p.i);
    col_f[c] = p.f;
  }
  const double k = x0 * c2 * x0 + (x0 * fit.x_coef + fit.offset);
  for (int32_t j = 0; j < part.rows; ++j) {
    const int64_t y = e.y0 + part.row + j;
    const Pair row =
        split((static_cast<double>(y) * fit.y_coef + k) + static_cast<double>(y * y) * c2);
    int32_t* px = part.start(j);
    if (narrow) {
      // carry_and_round in 32 bits: the integer parts stay within +-2^30.
      constexpr int32_t THREE_HALVES = 3 * HALF;
      const int32_t ri = static_cast<int32_t>(row.i);
      for (int32_t c = 0; c < cols; ++c) {
        const int32_t f = row.f + col_f[c];
        const int32_t r = ri + col_i_narrow[c] + static_cast<int32_t>(f >= HALF) +
                          static_cast<int32_t>(f >= THREE_HALVES) -
                          static_cast<int32_t>(f <= -HALF) -
                          static_cast<int32_t>(f <= -THREE_HALVES);
        px[c] = subtracted_narrow(px[c], r);
      }
      continue;
    }
    for (int32_t c = 0; c < cols; ++c) {
      px[c] = subtracted(px[c], carry_and_round(row.i + col_i[c], row.f + col_f[c]));
    }
  }
}

// The column pairs step from the window's first row down, so rows above the part are stepped
// without touching pixels.
void remove_cylinder(const Extent& e, const Part& part, const SurfaceFit& fit,
                     const ColumnTables& tables) {
  const double x0 = e.x0;
  const double y0 = e.y0;
  int64_t* const col_i = tables.i;
  int32_t* const col_f = tables.f;
  int64_t* const step_i = tables.step_i;
  int32_t* const step_f = tables.step_f;
  for (int32_t c = 0; c < part.cols; ++c) {
    const double i = part.col + c;
    const Pair step = split((x0 + i) * fit.xy_coef);
    step_i[c] = step.i;
    step_f[c] = step.f;
    const Pair p =
        split((i * fit.x2_coef + (2.0 * fit.x2_coef * x0 + fit.x_coef) + y0 * fit.xy_coef) * i);
    col_i[c] = p.i;
    col_f[c] = p.f;
  }
  const double k = (y0 * fit.xy_coef + fit.x_coef + x0 * fit.x2_coef) * x0 + fit.offset;
  for (int32_t j = 0; j < part.row + part.rows; ++j) {
    const bool inside = j >= part.row;
    int32_t* px = inside ? part.start(j - part.row) : nullptr;
    Pair row{0, 0};
    if (inside) {
      const double y = e.y0 + j;
      row = split((y * fit.y2_coef + fit.y_coef) * y + k);
    }
    for (int32_t c = 0; c < part.cols; ++c) {
      if (inside) px[c] = subtracted(px[c], carry_and_round(row.i + col_i[c], row.f + col_f[c]));
      col_i[c] += step_i[c];
      col_f[c] += step_f[c];
      carry(col_i[c], col_f[c]);
    }
  }
}

// The bound over the frame, then the kernel of the fit's type over the part. The part lies
// inside the frame and has pixels.
ErrorCode subtract_part(const Window& frame, const Part& part, const SurfaceFit& fit,
                        SurfaceWorkspace& ws) {
  int16_t own_cx = 0;
  int16_t own_cy = 0;
  window_center(frame, &own_cx, &own_cy);
  const int32_t cx = fit.center_x < 0 ? own_cx : fit.center_x;
  const int32_t cy = fit.center_y < 0 ? own_cy : fit.center_y;
  const Extent e{frame.x - cx, frame.y - cy, frame.width, frame.height};

  const double reach = std::fmax(std::fmax(std::abs(e.x0), std::abs(e.x0 + e.cols - 1)),
                                 std::fmax(std::abs(e.y0), std::abs(e.y0 + e.rows - 1))) +
                       1.0;
  // Written so that a NaN bound is refused too.
  const double bound = surface_bound(fit, reach);
  if (!(bound < SURFACE_LIMIT)) return ERR_FP_OVERFLOW;
  const bool narrow = bound < NARROW_LIMIT;

  using enum FitType;
  if (fit.type == sphere || fit.type == cylinder) {
    const ErrorCode rc =
        surface_workspace_reserve(ws, static_cast<std::size_t>(part.cols) * COLUMN_TABLE_BYTES);
    if (rc != NO_ERROR) return rc;
  }
  switch (fit.type) {
    case piston:
      remove_piston(part, fit);
      break;
    case plane:
      remove_plane(e, part, fit, narrow);
      break;
    case sphere:
      remove_sphere(e, part, fit, narrow, column_tables(ws, part.cols));
      break;
    case cylinder:
      remove_cylinder(e, part, fit, column_tables(ws, part.cols));
      break;
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode remove_surface(PhaseView view, const Window& frame, const SurfaceFit& fit,
                         SurfaceWorkspace& ws) {
  if (!fit_type_valid(fit.type)) return ERR_PARAM_OUT_OF_RANGE;
  if (!view.has_pixels()) return NO_ERROR;  // no pixel to change
  const Window& w = view.window;
  if (!window_within(w, frame)) return ERR_IMPROPER_WINDOW;
  const Part part{w.x - frame.x, w.y - frame.y, w.width, w.height, view};
  return subtract_part(frame, part, fit, ws);
}

}  // namespace harnix
