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
#include <cstring>

#include "base/vector_clones.h"
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

// The scheme runs over the frame: x0, y0 are the coordinates of its first column and row, and
// every pair is formed as if it started there. The view (the part of the frame) is where pixels
// are read and written; the pairs at its first column and at the first row of a range of its
// rows come from the same arithmetic, taken in closed form or stepped without touching pixels,
// so that any range of rows can be subtracted on its own.
//
// Column tables, in the plan's workspace: the sphere's pairs of every column (16 bytes a
// column), or the cylinder's pairs at the frame's first row and their steps (24 bytes a
// column). The cylinder's running pairs (12 bytes a column) are the scratch of a range.
struct SphereTables {
  int64_t* i;
  int32_t* i_narrow;
  int32_t* f;
};

struct CylinderTables {
  int64_t* i;  // at the frame's first row
  int64_t* step_i;
  int32_t* f;
  int32_t* step_f;
};

constexpr std::size_t SPHERE_BYTES = sizeof(int64_t) + 2 * sizeof(int32_t);
constexpr std::size_t CYLINDER_BYTES = 2 * sizeof(int64_t) + 2 * sizeof(int32_t);
constexpr std::size_t CYLINDER_SCRATCH_BYTES = sizeof(int64_t) + sizeof(int32_t);

std::size_t table_bytes(FitType type, int32_t cols) {
  const auto n = static_cast<std::size_t>(cols < 0 ? 0 : cols);
  if (type == FitType::sphere) return n * SPHERE_BYTES;
  if (type == FitType::cylinder) return n * CYLINDER_BYTES;
  return 0;
}

// A range's scratch, rounded up to whole cache lines: every area starts 8-byte aligned for its
// 64-bit pairs, and ranges subtracted at the same time share no line.
std::size_t scratch_bytes(FitType type, int32_t cols) {
  if (type != FitType::cylinder || cols < 1) return 0;
  return (static_cast<std::size_t>(cols) * CYLINDER_SCRATCH_BYTES + 63) / 64 * 64;
}

SphereTables sphere_tables(const SubtractionPlan& plan) {
  const auto n = static_cast<std::size_t>(plan.view.window.width);
  auto* i = static_cast<int64_t*>(plan.tables);
  auto* narrow = reinterpret_cast<int32_t*>(i + n);
  return SphereTables{i, narrow, narrow + n};
}

CylinderTables cylinder_tables(const SubtractionPlan& plan) {
  const auto n = static_cast<std::size_t>(plan.view.window.width);
  auto* i = static_cast<int64_t*>(plan.tables);
  auto* f = reinterpret_cast<int32_t*>(i + 2 * n);
  return CylinderTables{i, i + n, f, f + n};
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
void remove_piston(const SubtractionPlan& plan, int32_t first, int32_t end) {
  const SurfaceFit& fit = plan.fit;
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
  const int32_t cols = plan.view.window.width;
  for (int32_t j = first; j < end; ++j) {
    int32_t* px = plan.view.row(j);
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
//
// A span's progression: R_k = r0 + k step + floor((b + k e) / ONE), 0 <= b, e < ONE.
struct SpanSteps {
  uint64_t b;
  uint64_t e;
  int64_t r0;
  int64_t step;
};

inline SpanSteps span_steps(int64_t a0, int64_t ia, int64_t t0, int32_t tx) {
  const int64_t e_whole = tx < 0 ? -1 : 0;
  const int64_t b_whole = t0 >> SURFACE_FRACTION_BITS;  // floor: arithmetic shift
  return SpanSteps{static_cast<uint64_t>(t0 - b_whole * ONE),
                   static_cast<uint64_t>(tx - e_whole * ONE), a0 + b_whole, ia + e_whole};
}

// The narrow scheme: every R and every partial sum lies within +-2^30, in 32-bit lanes. With
// k < 2^15 and e = 2^15 e_high + e_low (both below 2^15), A = b + k e_low < 2^31 and
// B = k e_high < 2^30, so floor((b + k e) / ONE) = (B >> 15) + ((A + ((B mod 2^15) << 15)) >> 30),
// every step within 32 bits unsigned. A, B and r0 + k step advance by additions, which the
// compiler turns into vector lanes without any product.
struct NarrowSteps {
  uint32_t a;
  uint32_t e_low;
  uint32_t e_high;
  uint32_t r;
  uint32_t step;
};

inline NarrowSteps narrow_steps(int64_t a0, int64_t ia, int64_t t0, int32_t tx) {
  const SpanSteps s = span_steps(a0, ia, t0, tx);
  return NarrowSteps{static_cast<uint32_t>(s.b), static_cast<uint32_t>(s.e & 0x7FFF),
                     static_cast<uint32_t>(s.e >> 15), static_cast<uint32_t>(s.r0),
                     static_cast<uint32_t>(s.step)};
}

// each(k, R_k) for k = 0 .. n - 1 of the narrow scheme.
template <typename Each>
[[gnu::always_inline]] inline void narrow_each(int32_t n, const NarrowSteps& s, Each&& each) {
  uint32_t a_part = s.a;
  uint32_t b_part = 0;
  uint32_t r_k = s.r;
  for (int32_t k = 0; k < n; ++k) {
    const uint32_t carries =
        (b_part >> 15) + ((a_part + ((b_part & 0x7FFFu) << 15)) >> SURFACE_FRACTION_BITS);
    each(k, static_cast<int32_t>(r_k + carries));
    a_part += s.e_low;
    b_part += s.e_high;
    r_k += s.step;
  }
}

// The value each of the n pixels at px holds once it has lost its R_k, handed to
// sink(k, value) in column order.
template <typename Sink>
[[gnu::always_inline]] inline void plane_values(const int32_t* px, int32_t n, int64_t a0,
                                                int64_t ia, int64_t t0, int32_t tx, bool narrow,
                                                Sink&& sink) {
  if (narrow) {
    narrow_each(n, narrow_steps(a0, ia, t0, tx),
                [&](int32_t k, int32_t r) { sink(k, subtracted_narrow(px[k], r)); });
    return;
  }
  const SpanSteps s = span_steps(a0, ia, t0, tx);
  for (int32_t k = 0; k < n; ++k) {
    const uint64_t u = s.b + static_cast<uint64_t>(k) * s.e;
    const int64_t r = s.r0 + k * s.step + static_cast<int64_t>(u >> SURFACE_FRACTION_BITS);
    sink(k, subtracted(px[k], r));
  }
}

HARNIX_VECTOR_CLONES void plane_span(int32_t* px, int32_t n, int64_t a0, int64_t ia, int64_t t0,
                                     int32_t tx, bool narrow) {
  plane_values(px, n, a0, ia, t0, tx, narrow, [px](int32_t k, int32_t v) { px[k] = v; });
}

// The totals of the valid values plane_span would leave, added to *t; the squares in two
// halves, their high and low 32 bits, as the piston's row scan sums them (no row of a 16-bit
// window overflows either), and only with `squares`. The narrow scheme is written out here
// with its own sums, which then stay in vector lanes.
template <bool SQUARES>
[[gnu::always_inline]] inline void plane_span_sums(const int32_t* px, int32_t n, int64_t a0,
                                                   int64_t ia, int64_t t0, int32_t tx,
                                                   bool narrow, ValueTotals* t) {
  int64_t count = 0;
  int64_t sum = 0;
  uint64_t high = 0;
  uint64_t low = 0;
  // z is the value the subtraction leaves where valid (a valid value stays valid, an invalid
  // one as it is), 0 elsewhere.
  const auto add = [&](int32_t valid, int32_t z) {
    count += valid;
    sum += z;
    if constexpr (SQUARES) {
      const auto sq = static_cast<uint64_t>(static_cast<int64_t>(z) * z);
      high += sq >> 32;
      low += sq & 0xFFFFFFFFu;
    }
  };
  if (narrow) {
    // subtracted_narrow in masks, which the vectoriser takes where it refuses the selections.
    narrow_each(n, narrow_steps(a0, ia, t0, tx), [&](int32_t k, int32_t r) {
      const int32_t v = px[k];
      const auto d = static_cast<int32_t>(static_cast<uint32_t>(v) - static_cast<uint32_t>(r));
      const int32_t valid = v < PHASE_INVALID;
      const int32_t kept = (((v ^ r) & (v ^ d)) >> 31) | -static_cast<int32_t>(d >= PHASE_INVALID);
      add(valid, ((d & ~kept) | (v & kept)) & -valid);
    });
  } else {
    plane_values(px, n, a0, ia, t0, tx, false, [&](int32_t, int32_t v) {
      const int32_t valid = v < PHASE_INVALID;
      add(valid, valid != 0 ? v : 0);
    });
  }
  t->count += count;
  t->sum += sum;
  const uint64_t shifted = high << 32;
  const uint64_t lo = shifted + low;
  value_totals_add_squares(*t, lo, (high >> 32) + (lo < shifted));
}

HARNIX_VECTOR_CLONES void plane_span_totals(const int32_t* px, int32_t n, int64_t a0, int64_t ia,
                                            int64_t t0, int32_t tx, bool narrow, bool squares,
                                            ValueTotals* t) {
  if (squares) {
    plane_span_sums<true>(px, n, a0, ia, t0, tx, narrow, t);
  } else {
    plane_span_sums<false>(px, n, a0, ia, t0, tx, narrow, t);
  }
}

// The spans of one row of one sign of T, each handed to span(px, count, a0, ia, t0, tx).
template <typename Span>
void plane_row(int32_t* px, const SubtractionPlan& plan, Pair row, Pair step, Span&& span) {
  const int64_t fr = row.f;
  const int64_t fx = step.f;
  // [first, first + count) of the view's columns, relative to the frame, with T_c < 0.
  const int64_t c_begin = plan.col;
  const int64_t c_end = plan.col + plan.view.window.width;
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
  auto part = [&](int64_t from, int64_t to, int64_t offset) {
    if (from >= to) return;
    span(px + (from - c_begin), static_cast<int32_t>(to - from), row.i + from * step.i, step.i,
         fr + offset + from * fx, step.f);
  };
  part(c_begin, neg_begin, HALF);
  part(neg_begin, neg_end, HALF - 1);
  part(neg_end, c_end, HALF);
}

// The row pair is stepped from the frame's first row: one addition per row; row(px, row pair,
// column step) for each row of the range.
template <typename Row>
void plane_rows(const SubtractionPlan& plan, int32_t first, int32_t end, Row&& each) {
  const SurfaceFit& fit = plan.fit;
  Pair row = split((plan.y0 * fit.y_coef + fit.offset) + plan.x0 * fit.x_coef);
  const Pair step_x = split(fit.x_coef);
  const Pair step_y = split(fit.y_coef);
  for (int32_t j = 0; j < plan.row + end; ++j) {
    if (j >= plan.row + first) each(plan.view.row(j - plan.row), row, step_x);
    row.f += step_y.f;
    row.i += step_y.i + row.f / ONE;
    row.f %= ONE;
  }
}

void remove_plane(const SubtractionPlan& plan, int32_t first, int32_t end) {
  const bool narrow = plan.narrow;
  plane_rows(plan, first, end, [&](int32_t* px, Pair row, Pair step) {
    plane_row(px, plan, row, step,
              [narrow](int32_t* p, int32_t n, int64_t a0, int64_t ia, int64_t t0, int32_t tx) {
                plane_span(p, n, a0, ia, t0, tx, narrow);
              });
  });
}

void sphere_tables_fill(const SubtractionPlan& plan) {
  const SurfaceFit& fit = plan.fit;
  const double c2 = fit.x2y2_coef;
  const double x0 = plan.x0;
  const SphereTables t = sphere_tables(plan);
  for (int32_t c = 0; c < plan.view.window.width; ++c) {
    const double i = plan.col + c;  // column within the frame
    const Pair p = split((i * c2 + fit.x_coef + 2.0 * c2 * x0) * i);
    t.i[c] = p.i;
    t.i_narrow[c] = static_cast<int32_t>(p.i);
    t.f[c] = p.f;
  }
}

void remove_sphere(const SubtractionPlan& plan, int32_t first, int32_t end) {
  const SurfaceFit& fit = plan.fit;
  const double c2 = fit.x2y2_coef;
  const double x0 = plan.x0;
  const int32_t cols = plan.view.window.width;
  const SphereTables t = sphere_tables(plan);
  const int64_t* const col_i = t.i;
  const int32_t* const col_i_narrow = t.i_narrow;
  const int32_t* const col_f = t.f;
  const double k = x0 * c2 * x0 + (x0 * fit.x_coef + fit.offset);
  for (int32_t j = first; j < end; ++j) {
    const int64_t y = plan.y0 + plan.row + j;
    const Pair row =
        split((static_cast<double>(y) * fit.y_coef + k) + static_cast<double>(y * y) * c2);
    int32_t* px = plan.view.row(j);
    if (plan.narrow) {
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

void cylinder_tables_fill(const SubtractionPlan& plan) {
  const SurfaceFit& fit = plan.fit;
  const double x0 = plan.x0;
  const double y0 = plan.y0;
  const CylinderTables t = cylinder_tables(plan);
  for (int32_t c = 0; c < plan.view.window.width; ++c) {
    const double i = plan.col + c;
    const Pair step = split((x0 + i) * fit.xy_coef);
    t.step_i[c] = step.i;
    t.step_f[c] = step.f;
    const Pair p =
        split((i * fit.x2_coef + (2.0 * fit.x2_coef * x0 + fit.x_coef) + y0 * fit.xy_coef) * i);
    t.i[c] = p.i;
    t.f[c] = p.f;
  }
}

// The column pair after k steps of carry() from (i, f) by (si, sf), in closed form. With
// T = f + k sf: while T has not passed +-ONE in the direction of sf, no carry was made and the
// fraction is T; once it has, every step keeps the fraction in [0, ONE) (sf >= 0) or (-ONE, 0]
// (sf < 0), so the carries made are floor(T / ONE) (or -floor(-T / ONE)). |T| < 2^46.
inline Pair stepped(int64_t i, int32_t f, int64_t si, int32_t sf, int64_t k) {
  const int64_t t = f + k * sf;
  int64_t q = 0;
  if (sf >= 0 && t >= 0) q = t / ONE;
  if (sf < 0 && t <= 0) q = -(-t / ONE);
  return Pair{i + k * si + q, static_cast<int32_t>(t - q * ONE)};
}

// The column pairs step from the frame's first row down; a range starts from them in closed
// form at its first row.
void remove_cylinder(const SubtractionPlan& plan, int32_t first, int32_t end, void* scratch) {
  const SurfaceFit& fit = plan.fit;
  const int32_t cols = plan.view.window.width;
  const CylinderTables t = cylinder_tables(plan);
  auto* col_i = static_cast<int64_t*>(scratch);
  auto* col_f = reinterpret_cast<int32_t*>(col_i + cols);
  for (int32_t c = 0; c < cols; ++c) {
    const Pair p = stepped(t.i[c], t.f[c], t.step_i[c], t.step_f[c], plan.row + first);
    col_i[c] = p.i;
    col_f[c] = p.f;
  }
  const double x0 = plan.x0;
  const double y0 = plan.y0;
  const double k = (y0 * fit.xy_coef + fit.x_coef + x0 * fit.x2_coef) * x0 + fit.offset;
  for (int32_t j = first; j < end; ++j) {
    int32_t* px = plan.view.row(j);
    const double y = plan.y0 + plan.row + j;
    const Pair row = split((y * fit.y2_coef + fit.y_coef) * y + k);
    for (int32_t c = 0; c < cols; ++c) {
      px[c] = subtracted(px[c], carry_and_round(row.i + col_i[c], row.f + col_f[c]));
      col_i[c] += t.step_i[c];
      col_f[c] += t.step_f[c];
      carry(col_i[c], col_f[c]);
    }
  }
}

}  // namespace

std::size_t subtraction_bytes(FitType type, int32_t cols, int32_t ranges) {
  const auto areas = static_cast<std::size_t>(ranges < 1 ? 1 : ranges);
  return table_bytes(type, cols) + areas * scratch_bytes(type, cols);
}

ErrorCode subtraction_begin(PhaseView view, const Window& frame, const SurfaceFit& fit,
                            int32_t ranges, SurfaceWorkspace& ws, SubtractionPlan* plan) {
  if (!fit_type_valid(fit.type)) return ERR_PARAM_OUT_OF_RANGE;
  *plan = SubtractionPlan{};
  plan->fit = fit;
  if (!view.has_pixels()) return NO_ERROR;  // no pixel to change
  const Window& w = view.window;
  if (!window_within(w, frame)) return ERR_IMPROPER_WINDOW;

  int16_t own_cx = 0;
  int16_t own_cy = 0;
  window_center(frame, &own_cx, &own_cy);
  const int32_t cx = fit.center_x < 0 ? own_cx : fit.center_x;
  const int32_t cy = fit.center_y < 0 ? own_cy : fit.center_y;
  const int32_t x0 = frame.x - cx;
  const int32_t y0 = frame.y - cy;
  const double reach = std::fmax(std::fmax(std::abs(x0), std::abs(x0 + frame.width - 1)),
                                 std::fmax(std::abs(y0), std::abs(y0 + frame.height - 1))) +
                       1.0;
  // Written so that a NaN bound is refused too.
  const double bound = surface_bound(fit, reach);
  if (!(bound < SURFACE_LIMIT)) return ERR_FP_OVERFLOW;

  const std::size_t tables = table_bytes(fit.type, w.width);
  const std::size_t scratch = scratch_bytes(fit.type, w.width);
  const ErrorCode rc = surface_workspace_reserve(ws, subtraction_bytes(fit.type, w.width, ranges));
  if (rc != NO_ERROR) return rc;
  *plan = SubtractionPlan{view,
                          fit,
                          x0,
                          y0,
                          w.x - frame.x,
                          w.y - frame.y,
                          bound < NARROW_LIMIT,
                          ws.storage,
                          static_cast<std::byte*>(ws.storage) + tables,
                          scratch};
  if (fit.type == FitType::sphere) sphere_tables_fill(*plan);
  if (fit.type == FitType::cylinder) cylinder_tables_fill(*plan);
  return NO_ERROR;
}

void subtract_rows(const SubtractionPlan& plan, int32_t slot, int32_t first_row, int32_t rows) {
  if (rows < 1 || !plan.view.has_pixels()) return;
  const int32_t end = first_row + rows;
  switch (plan.fit.type) {
    case FitType::piston:
      remove_piston(plan, first_row, end);
      break;
    case FitType::plane:
      remove_plane(plan, first_row, end);
      break;
    case FitType::sphere:
      remove_sphere(plan, first_row, end);
      break;
    case FitType::cylinder:
      remove_cylinder(plan, first_row, end,
                      static_cast<std::byte*>(plan.scratch) +
                          static_cast<std::size_t>(slot) * plan.scratch_bytes);
      break;
  }
}

void subtracted_totals(const SubtractionPlan& plan, int32_t first_row, int32_t rows, bool squares,
                       ValueTotals* totals) {
  const bool narrow = plan.narrow;
  plane_rows(plan, first_row, first_row + rows, [&](int32_t* px, Pair row, Pair step) {
    ValueTotals* t = totals++;
    *t = ValueTotals{};
    plane_row(px, plan, row, step,
              [&](int32_t* p, int32_t n, int64_t a0, int64_t ia, int64_t t0, int32_t tx) {
                plane_span_totals(p, n, a0, ia, t0, tx, narrow, squares, t);
              });
  });
}

ErrorCode reading_plan_begin(ConstPhaseView view, const Window& frame, const SurfaceFit& fit,
                             SurfaceWorkspace& ws, SubtractionPlan* plan) {
  // The plan's view is writable only for subtract_rows, which never sees this plan.
  const PhaseView rows{const_cast<int32_t*>(view.data), view.stride, view.window};
  return subtraction_begin(rows, frame, fit, 1, ws, plan);
}

ErrorCode remove_surface(PhaseView view, const Window& frame, const SurfaceFit& fit,
                         SurfaceWorkspace& ws) {
  SubtractionPlan plan{};
  const ErrorCode rc = subtraction_begin(view, frame, fit, 1, ws, &plan);
  if (rc == NO_ERROR) subtract_rows(plan, 0, 0, view.window.height);
  return rc;
}

}  // namespace harnix
