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
#include <cstdlib>

#include "maps/storage.h"
#include "maps/window.h"

namespace {

constexpr int32_t ONE = int32_t{1} << SURFACE_FRACTION_BITS;
constexpr int32_t HALF = ONE / 2;
constexpr double SCALE = static_cast<double>(ONE);

// Surfaces are refused from this magnitude on, far inside the 64-bit integer parts and where
// a double still holds every integer exactly.
constexpr double SURFACE_LIMIT = 4503599627370496.0;  // 2^52

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

inline int64_t round_pair(int64_t i, int32_t f) {
  return i + static_cast<int64_t>(f >= HALF) - static_cast<int64_t>(f <= -HALF);
}

// carry (limit |f| >= 2^30) followed by round_pair, for a pair used once: for |f| < 2^31 the
// two together add one for each of f >= 2^29 and f >= 3 2^29 and take one for each of
// f <= -2^29 and f <= -3 2^29.
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
  double linear = 0.0;
  double quadratic = 0.0;
  if (fit.type != piston) linear = std::fabs(fit.x_coef) + std::fabs(fit.y_coef);
  if (fit.type == sphere) quadratic = std::fabs(fit.x2y2_coef);
  if (fit.type == cylinder) {
    quadratic = std::fabs(fit.xy_coef) + std::fabs(fit.x2_coef) + std::fabs(fit.y2_coef);
  }
  return std::fabs(fit.offset) + 4.0 * linear * e + 8.0 * quadratic * e * e;
}

struct Extent {
  int32_t x0;  // x of the window's first column
  int32_t y0;  // y of the window's first row
  int32_t cols;
  int32_t rows;
};

void remove_piston(int32_t* const* rows, const Extent& e, const SurfaceFit& fit) {
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
  for (int32_t j = 0; j < e.rows; ++j) {
    int32_t* px = rows[j];
    for (int32_t c = 0; c < e.cols; ++c) {
      const int32_t v = px[c];
      const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(v) - r32);
      px[c] = (v >= lo32 && v < hi32) ? d : v;
    }
  }
}

// One row of the plane from the pair (i, f). The column step's two parts share the sign of
// x_coef, so f only ever moves one way and only that carry can occur; testing just that one
// keeps the pixel-to-pixel dependency short. Along a row the carry waits until |f| exceeds
// 2^30: f = +-2^30 still rounds right.
template <bool Rising>
void plane_row(int32_t* px, int32_t cols, int64_t i, int32_t f, Pair step) {
  for (int32_t c = 0; c < cols; ++c) {
    px[c] = subtracted(px[c], round_pair(i, f));
    i += step.i;
    f += step.f;
    if constexpr (Rising) {
      const bool up = f > ONE;
      f = up ? f - ONE : f;
      i += up;
    } else {
      const bool down = f < -ONE;
      f = down ? f + ONE : f;
      i -= down;
    }
  }
}

void remove_plane(int32_t* const* rows, const Extent& e, const SurfaceFit& fit) {
  Pair row = split((e.y0 * fit.y_coef + fit.offset) + e.x0 * fit.x_coef);
  const Pair step_x = split(fit.x_coef);
  const Pair step_y = split(fit.y_coef);
  for (int32_t j = 0; j < e.rows; ++j) {
    if (step_x.f >= 0) {
      plane_row<true>(rows[j], e.cols, row.i, row.f, step_x);
    } else {
      plane_row<false>(rows[j], e.cols, row.i, row.f, step_x);
    }
    row.f += step_y.f;
    row.i += step_y.i + row.f / ONE;
    row.f %= ONE;
  }
}

void remove_sphere(int32_t* const* rows, const Extent& e, const SurfaceFit& fit) {
  const double c2 = fit.x2y2_coef;
  const double x0 = e.x0;
  int64_t col_i[MAX_SURFACE_COLUMNS];
  int32_t col_f[MAX_SURFACE_COLUMNS];
  for (int32_t c = 0; c < e.cols; ++c) {
    const double i = c;
    const Pair p = split((i * c2 + fit.x_coef + 2.0 * c2 * x0) * i);
    col_i[c] = p.i;
    col_f[c] = p.f;
  }
  const double k = x0 * c2 * x0 + (x0 * fit.x_coef + fit.offset);
  for (int32_t j = 0; j < e.rows; ++j) {
    const int64_t y = e.y0 + j;
    const Pair row =
        split((static_cast<double>(y) * fit.y_coef + k) + static_cast<double>(y * y) * c2);
    int32_t* px = rows[j];
    for (int32_t c = 0; c < e.cols; ++c) {
      px[c] = subtracted(px[c], carry_and_round(row.i + col_i[c], row.f + col_f[c]));
    }
  }
}

void remove_cylinder(int32_t* const* rows, const Extent& e, const SurfaceFit& fit) {
  const double x0 = e.x0;
  const double y0 = e.y0;
  int64_t col_i[MAX_SURFACE_COLUMNS];
  int32_t col_f[MAX_SURFACE_COLUMNS];
  int64_t step_i[MAX_SURFACE_COLUMNS];
  int32_t step_f[MAX_SURFACE_COLUMNS];
  for (int32_t c = 0; c < e.cols; ++c) {
    const double i = c;
    const Pair step = split((x0 + i) * fit.xy_coef);
    step_i[c] = step.i;
    step_f[c] = step.f;
    const Pair p =
        split((i * fit.x2_coef + (2.0 * fit.x2_coef * x0 + fit.x_coef) + y0 * fit.xy_coef) * i);
    col_i[c] = p.i;
    col_f[c] = p.f;
  }
  const double k = (y0 * fit.xy_coef + fit.x_coef + x0 * fit.x2_coef) * x0 + fit.offset;
  for (int32_t j = 0; j < e.rows; ++j) {
    const double y = e.y0 + j;
    const Pair row = split((y * fit.y2_coef + fit.y_coef) * y + k);
    int32_t* px = rows[j];
    for (int32_t c = 0; c < e.cols; ++c) {
      px[c] = subtracted(px[c], carry_and_round(row.i + col_i[c], row.f + col_f[c]));
      col_i[c] += step_i[c];
      col_f[c] += step_f[c];
      carry(col_i[c], col_f[c]);
    }
  }
}

}  // namespace

ErrorCode remove_surface(PhaseMap& map, const Window& window, const SurfaceFit& fit) {
  if (!fit_type_valid(fit.type)) return ERR_PARAM_OUT_OF_RANGE;
  if (!window_within(window, map.window)) return ERR_IMPROPER_WINDOW;
  if (window.width < 1 || window.height < 1) return NO_ERROR;  // no pixel to change

  int16_t own_cx = 0;
  int16_t own_cy = 0;
  window_center(window, &own_cx, &own_cy);
  const int32_t cx = fit.center_x < 0 ? own_cx : fit.center_x;
  const int32_t cy = fit.center_y < 0 ? own_cy : fit.center_y;
  const Extent e{window.x - cx, window.y - cy, window.width, window.height};

  const double reach = std::fmax(std::fmax(std::abs(e.x0), std::abs(e.x0 + e.cols - 1)),
                                 std::fmax(std::abs(e.y0), std::abs(e.y0 + e.rows - 1))) +
                       1.0;
  // Written so that a NaN bound is refused too.
  if (!(surface_bound(fit, reach) < SURFACE_LIMIT)) return ERR_FP_OVERFLOW;

  int32_t* rows[MAX_MAP_ROWS];
  map_rows(map, &window, rows);
  switch (fit.type) {
    case piston:
      remove_piston(rows, e, fit);
      break;
    case plane:
      remove_plane(rows, e, fit);
      break;
    case sphere:
      remove_sphere(rows, e, fit);
      break;
    default:
      remove_cylinder(rows, e, fit);
      break;
  }
  return NO_ERROR;
}
