// The fixed-point subtraction done the plain way, pixel by pixel over the whole window with the
// running pairs stepped exactly as described: a split per row, a step and a carry per pixel,
// the carry and rounding written out with branches. The fast kernels (closed forms, spans,
// 32-bit lanes, work over a part of the window) must subtract the very same integers.
#ifndef HARNIX_TESTS_REFERENCE_SUBTRACT_REFERENCE_H_
#define HARNIX_TESTS_REFERENCE_SUBTRACT_REFERENCE_H_

#include <cmath>
#include <cstdint>
#include <vector>

#include "fit/fit_model.h"
#include "maps/map_types.h"

namespace harnix {

namespace subtract_reference {

constexpr int64_t ONE = int64_t{1} << 30;
constexpr int64_t HALF = ONE / 2;

struct Pair {
  int64_t i;
  int64_t f;
};

inline Pair split(double v) {
  const double whole = std::trunc(v);
  return {static_cast<int64_t>(whole),
          static_cast<int64_t>((v - whole) * static_cast<double>(ONE))};
}

// limit_inclusive: carry at |f| >= ONE, else only at |f| > ONE (the plane's column step).
inline void carry(Pair& p, bool limit_inclusive) {
  if (limit_inclusive ? p.f >= ONE : p.f > ONE) {
    p.f -= ONE;
    p.i += 1;
  } else if (limit_inclusive ? p.f <= -ONE : p.f < -ONE) {
    p.f += ONE;
    p.i -= 1;
  }
}

inline int64_t rounded(Pair p) {
  if (p.f >= HALF) return p.i + 1;
  if (p.f <= -HALF) return p.i - 1;
  return p.i;
}

inline void subtract(int32_t& v, int64_t r) {
  if (v >= PHASE_INVALID) return;
  const int64_t d = int64_t{v} - r;
  if (d >= INT32_MIN && d < PHASE_INVALID) v = static_cast<int32_t>(d);
}

// Subtracts `fit` over the whole of `window`, which must equal the map's window, after the
// checks of remove_surface have passed. values[r * width + c] is column c of row r.
inline void remove(std::vector<int32_t>& values, const Window& window, const SurfaceFit& fit) {
  const int32_t cols = window.width;
  const int32_t rows = window.height;
  const int32_t cx = fit.center_x < 0 ? (2 * window.x + cols - 1) >> 1 : fit.center_x;
  const int32_t cy = fit.center_y < 0 ? (2 * window.y + rows - 1) >> 1 : fit.center_y;
  const int32_t x0 = window.x - cx;
  const int32_t y0 = window.y - cy;
  auto at = [&](int32_t c, int32_t r) -> int32_t& {
    return values[size_t(r) * size_t(cols) + size_t(c)];
  };
  using enum FitType;
  if (fit.type == piston) {
    const double o = fit.offset;
    const int64_t r = static_cast<int64_t>(o > 0 ? std::trunc(o + 0.5) : std::trunc(o - 0.5));
    for (int32_t j = 0; j < rows; ++j)
      for (int32_t c = 0; c < cols; ++c) subtract(at(c, j), r);
    return;
  }
  if (fit.type == plane) {
    Pair row = split((y0 * fit.y_coef + fit.offset) + x0 * fit.x_coef);
    const Pair sx = split(fit.x_coef);
    const Pair sy = split(fit.y_coef);
    for (int32_t j = 0; j < rows; ++j) {
      Pair p = row;
      for (int32_t c = 0; c < cols; ++c) {
        subtract(at(c, j), rounded(p));
        p.i += sx.i;
        p.f += sx.f;
        carry(p, false);
      }
      row.f += sy.f;
      row.i += sy.i + row.f / ONE;  // truncated division: the remainder keeps row.f's sign
      row.f %= ONE;
    }
    return;
  }
  const double dx0 = x0;
  const double dy0 = y0;
  std::vector<Pair> col(static_cast<size_t>(cols)), step(static_cast<size_t>(cols));
  for (int32_t c = 0; c < cols; ++c) {
    const double i = c;
    if (fit.type == sphere) {
      col[size_t(c)] = split((i * fit.x2y2_coef + fit.x_coef + 2.0 * fit.x2y2_coef * dx0) * i);
    } else {
      step[size_t(c)] = split((dx0 + i) * fit.xy_coef);
      col[size_t(c)] =
          split((i * fit.x2_coef + (2.0 * fit.x2_coef * dx0 + fit.x_coef) + dy0 * fit.xy_coef) * i);
    }
  }
  const double k = fit.type == sphere
                       ? dx0 * fit.x2y2_coef * dx0 + (dx0 * fit.x_coef + fit.offset)
                       : (dy0 * fit.xy_coef + fit.x_coef + dx0 * fit.x2_coef) * dx0 + fit.offset;
  for (int32_t j = 0; j < rows; ++j) {
    const int64_t y = y0 + j;
    const Pair row = fit.type == sphere
                         ? split((double(y) * fit.y_coef + k) + double(y * y) * fit.x2y2_coef)
                         : split((double(y) * fit.y2_coef + fit.y_coef) * double(y) + k);
    for (int32_t c = 0; c < cols; ++c) {
      Pair p{row.i + col[size_t(c)].i, row.f + col[size_t(c)].f};
      carry(p, true);
      subtract(at(c, j), rounded(p));
      if (fit.type == cylinder) {
        col[size_t(c)].i += step[size_t(c)].i;
        col[size_t(c)].f += step[size_t(c)].f;
        carry(col[size_t(c)], true);
      }
    }
  }
}

}  // namespace subtract_reference

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_SUBTRACT_REFERENCE_H_
