// In-place arithmetic on height maps: scale, square, square root, average and difference.
//
// Every valid value v (v < REAL_INVALID, so never NaN) is replaced by f(v); invalid values stay.
// A product or square whose magnitude reaches the largest single-precision float L stops the
// pass (a NaN product does not). Averages are sum / count where the count reaches the minimum;
// differences beyond +-L, like an invalid operand, give the marker.
//
// The kernels pick between computed results instead of branching, so the compiler can run them
// on vector registers; a pass that may stop part-way first checks a chunk, then writes it.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr double LIMIT = REAL_INVALID;

// Elements checked before a chunk is written: 4 KiB, so the second look comes from L1.
constexpr std::size_t CHUNK = 512;

// Number of elements of m's window: 0 for an empty window, ERR_IMPROPER_WINDOW when the storage
// does not cover a non-empty one.
ErrorCode window_elements(const RealMap& m, std::size_t* n) {
  *n = 0;
  if (m.window.width <= 0 || m.window.height <= 0) return NO_ERROR;
  if (!map_holds_window(m)) return ERR_IMPROPER_WINDOW;
  *n = static_cast<std::size_t>(m.window.width) * static_cast<std::size_t>(m.window.height);
  return NO_ERROR;
}

// Replaces each valid value v by op(v), in storage order, stopping with ERR_FP_OVERFLOW at the
// first |op(v)| >= LIMIT with that value and all later ones unchanged.
template <typename Op>
ErrorCode apply_checked(RealMap& m, Op op) {
  std::size_t n = 0;
  const ErrorCode rc = window_elements(m, &n);
  if (rc != NO_ERROR) return rc;
  for (std::size_t base = 0; base < n; base += CHUNK) {
    double* v = m.matrix + base;
    const std::size_t len = std::min(CHUNK, n - base);
    // A flag kept as a double, set by a select: the form the compiler vectorises on any x86-64.
    double over = 0.0;
    for (std::size_t i = 0; i < len; ++i) {
      const double x = v[i];
      const double magnitude = std::fabs(op(x));
      over = (x < LIMIT) & (magnitude >= LIMIT) ? 1.0 : over;
    }
    if (over != 0.0) {
      // The chunk holds the stopping value: go one by one up to it.
      for (std::size_t i = 0; i < len; ++i) {
        const double x = v[i];
        if (!(x < LIMIT)) continue;
        const double p = op(x);
        if (std::fabs(p) >= LIMIT) break;
        v[i] = p;
      }
      return ERR_FP_OVERFLOW;
    }
    for (std::size_t i = 0; i < len; ++i) {
      const double x = v[i];
      const double p = op(x);
      v[i] = x < LIMIT ? p : x;
    }
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode real_map_scale(RealMap& m, double f) {
  return apply_checked(m, [f](double x) { return x * f; });
}

ErrorCode real_map_square(RealMap& m) {
  return apply_checked(m, [](double x) { return x * x; });
}

void real_map_sqrt(RealMap& m) {
  std::size_t n = 0;
  if (window_elements(m, &n) != NO_ERROR) return;
  double* v = m.matrix;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = v[i];
    const double root = std::sqrt(x > 0.0 ? x : 0.0);
    v[i] = x < LIMIT ? root : x;
  }
}

ErrorCode real_map_average(RealMap& out, const RealMap& sum, const CountMap& cnt, int16_t k) {
  if (window_relation(sum.window, cnt.window) != WindowRelation::WN_EQUAL ||
      window_relation(out.window, sum.window) != WindowRelation::WN_EQUAL) {
    return ERR_WINDOWS_MISMATCHED;
  }
  if (!map_holds_window(out) || !map_holds_window(sum) || !map_holds_window(cnt)) {
    return ERR_IMPROPER_WINDOW;
  }
  const int16_t minimum = k < 1 ? int16_t{1} : k;
  const std::size_t n =
      static_cast<std::size_t>(sum.window.width) * static_cast<std::size_t>(sum.window.height);
  const double* s = sum.matrix;
  const int16_t* c = cnt.matrix;
  double* o = out.matrix;  // may be the sum map itself: each element is read before it is written
  for (std::size_t i = 0; i < n; ++i) {
    const double total = s[i];
    const int16_t count = c[i];
    // The quotient is kept only where count >= minimum >= 1; elsewhere it is discarded.
    const double mean = total / static_cast<double>(count);
    o[i] = (total < LIMIT) & (count >= minimum) ? mean : REAL_INVALID;
  }
  return NO_ERROR;
}

ErrorCode real_map_subtract(const RealMap& a, const RealMap& b, RealMap& out) {
  if (window_relation(a.window, b.window) != WindowRelation::WN_EQUAL ||
      window_relation(a.window, out.window) != WindowRelation::WN_EQUAL) {
    return ERR_WINDOWS_MISMATCHED;
  }
  if (!map_holds_window(a) || !map_holds_window(b) || !map_holds_window(out)) {
    return ERR_IMPROPER_WINDOW;
  }
  // Equal windows over storage that covers them: the three maps are alike element by element.
  std::size_t n = 0;
  (void)window_elements(a, &n);
  const double* x = a.matrix;
  const double* y = b.matrix;
  double* d = out.matrix;  // may be a or b itself: element-wise
  for (std::size_t i = 0; i < n; ++i) {
    const double xi = x[i];
    const double yi = y[i];
    const double diff = xi - yi;
    // A NaN difference (-inf - -inf) fails the range test and becomes the marker too.
    d[i] = (xi < LIMIT) & (yi < LIMIT) & (std::fabs(diff) <= LIMIT) ? diff : REAL_INVALID;
  }
  return NO_ERROR;
}

}  // namespace harnix
