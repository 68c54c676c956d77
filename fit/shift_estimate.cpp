// Shift estimation by the plane-free correlation of the overlap, coarse to fine.
//
// For the pixels valid in both maps at shift s (weights w), with the basis phi = [1, c, t] of the
// overlap's centred column c and row t, the normal matrix M = sum w phi phi^T and the moments
// a = sum w phi A, b = sum w phi B give the plane-free products
//   Saa = sum w A^2 - a^T M^-1 a,  Sbb = sum w B^2 - b^T M^-1 b,  Sab = sum w A B - a^T M^-1 b,
// and r = Sab / sqrt(Saa Sbb). Each row is summed in the column alone (ten running sums), and the
// rows are weighed by t afterwards, so one pass over contiguous rows scores a shift.
#include "fit/shift_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/allocation.h"

namespace harnix {

namespace {

constexpr int32_t MIN_LEVEL_SIDE = 32;        // pixels a side the coarsest level keeps
constexpr int32_t COARSE_REACH = 3;           // the bound at the coarsest level, in its pixels
// Rows are thinned out beyond this many pixels at the levels below the coarsest: enough for a
// sub-pixel estimate far finer than asked, at a bounded cost whatever the map's size.
constexpr int64_t MAX_SCORED_PIXELS = 8192;
constexpr int64_t MIN_SCORED_OVERLAP = 16;    // pixels in common below which a shift is not scored
constexpr int32_t PEAK_EXCLUSION = 2;  // coarsest-level pixels around the best where no rival counts
constexpr int32_t MAX_CLIMB = 16;             // steps a finer level may climb
constexpr double MIN_PEAK_ROUNDNESS = 0.05;   // slowest over fastest rise of the misfit
constexpr int32_t MAX_VERTEX_MOVES = 2;       // times the final neighbourhood may follow its vertex

int32_t floor_div(int32_t v, int32_t d) {
  return v >= 0 ? v / d : -((-v + d - 1) / d);
}

// Solves the symmetric 3 x 3 system M u = v by Cramer's rule; false when M is singular.
bool solve3(const double m[3][3], const double v[3], double u[3]) {
  const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return false;
  const double c11 = m[0][0] * m[2][2] - m[0][2] * m[2][0];
  const double c12 = m[0][1] * m[2][0] - m[0][0] * m[2][1];
  const double c22 = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  u[0] = (c00 * v[0] + c01 * v[1] + c02 * v[2]) / det;
  u[1] = (c01 * v[0] + c11 * v[1] + c12 * v[2]) / det;
  u[2] = (c02 * v[0] + c12 * v[1] + c22 * v[2]) / det;
  return true;
}

// Plane p0 + p1 c + p2 t of the valid values, c and t centred on the window; false (plane 0)
// when it is not determined. Each row's sums are exact integers (a value below 2^31 times a
// column below 2^15, summed over fewer than 2^15 columns, stays below 2^61).
bool fit_plane(const PhaseMap& map, double plane[3]) {
  const Window& w = map.window;
  const double cc = (w.width - 1) / 2.0;
  const double ct = (w.height - 1) / 2.0;
  double m[3][3] = {};
  double v[3] = {};
  for (int32_t row = 0; row < w.height; ++row) {
    const int32_t* in = map.matrix + std::size_t(row) * std::size_t(w.width);
    int64_t n = 0, sc = 0, scc = 0, sv = 0, svc = 0;
    for (int32_t col = 0; col < w.width; ++col) {
      const int64_t valid = phase_valid(in[col]) ? 1 : 0;
      const int64_t value = valid * in[col];
      n += valid;
      sc += valid * col;
      scc += valid * col * col;
      sv += value;
      svc += value * col;
    }
    // Sums about the centre column from those about column 0.
    const double dn = double(n), dsv = double(sv);
    const double c1 = double(sc) - cc * dn;
    const double c2 = double(scc) - 2.0 * cc * double(sc) + cc * cc * dn;
    const double vc = double(svc) - cc * dsv;
    const double t = row - ct;
    m[0][0] += dn;
    m[0][1] += c1;
    m[0][2] += dn * t;
    m[1][1] += c2;
    m[1][2] += c1 * t;
    m[2][2] += dn * t * t;
    v[0] += dsv;
    v[1] += vc;
    v[2] += dsv * t;
  }
  m[1][0] = m[0][1];
  m[2][0] = m[0][2];
  m[2][1] = m[1][2];
  plane[0] = plane[1] = plane[2] = 0.0;
  if (m[0][0] < 3.0) return false;
  if (solve3(m, v, plane)) return true;
  plane[0] = v[0] / m[0][0];  // one line of pixels: the mean alone
  plane[1] = plane[2] = 0.0;
  return true;
}

// Level l from level l - 1: 2 x 2 blocks, valid with at least two valid pixels. A block's
// pixels outside the finer raster count as invalid (row or column index -1 or past the end).
void decimate(const ShiftLevel& fine, ShiftLevel& coarse) {
  coarse.valid = 0;
  for (int32_t row = 0; row < coarse.height; ++row) {
    const int32_t fy = 2 * (coarse.y + row) - fine.y;
    const bool top = fy >= 0, bottom = fy + 1 < fine.height;
    const std::size_t r0 = std::size_t(top ? fy : fy + 1) * std::size_t(fine.width);
    const std::size_t r1 = std::size_t(bottom ? fy + 1 : fy) * std::size_t(fine.width);
    const float ky0 = top ? 1.0f : 0.0f, ky1 = bottom ? 1.0f : 0.0f;
    float* out_v = coarse.value + std::size_t(row) * std::size_t(coarse.width);
    float* out_w = coarse.weight + std::size_t(row) * std::size_t(coarse.width);
    for (int32_t col = 0; col < coarse.width; ++col) {
      const int32_t fx = 2 * (coarse.x + col) - fine.x;
      const bool left = fx >= 0, right = fx + 1 < fine.width;
      const std::size_t c0 = std::size_t(left ? fx : fx + 1), c1 = std::size_t(right ? fx + 1 : fx);
      const float kx0 = left ? 1.0f : 0.0f, kx1 = right ? 1.0f : 0.0f;
      const float w00 = fine.weight[r0 + c0] * ky0 * kx0, w01 = fine.weight[r0 + c1] * ky0 * kx1;
      const float w10 = fine.weight[r1 + c0] * ky1 * kx0, w11 = fine.weight[r1 + c1] * ky1 * kx1;
      const float count = w00 + w01 + w10 + w11;
      const float sum = fine.value[r0 + c0] * w00 + fine.value[r0 + c1] * w01 +
                        fine.value[r1 + c0] * w10 + fine.value[r1 + c1] * w11;
      const bool valid = count >= 2.0f;
      out_v[col] = valid ? sum / count : 0.0f;
      out_w[col] = valid ? 1.0f : 0.0f;
      coarse.valid += valid;
    }
  }
}

// One shift's score at one level.
struct ShiftScore {
  double r;        // -2 when not scored
  double overlap;  // pixels in common (rows thinned out counted as their share)
};

constexpr double UNSCORED = -2.0;

ShiftScore score_shift(const ShiftLevel& a, const ShiftLevel& b, int32_t sx, int32_t sy) {
  // Reference pixel q meets input pixel q + s: q runs over both rasters' columns and rows.
  const int32_t col0 = std::max(a.x, b.x - sx);
  const int32_t col1 = std::min(a.x + a.width, b.x + b.width - sx);
  const int32_t row0 = std::max(a.y, b.y - sy);
  const int32_t row1 = std::min(a.y + a.height, b.y + b.height - sy);
  if (col1 <= col0 || row1 <= row0) return {UNSCORED, 0.0};
  const int64_t area = int64_t(col1 - col0) * int64_t(row1 - row0);
  const int32_t step = int32_t(std::max<int64_t>(1, (area + MAX_SCORED_PIXELS - 1) / MAX_SCORED_PIXELS));
  // Rows thinned out in the reference's own row numbers, so that every shift sees the same rows.
  const int32_t first = row0 + ((a.y - row0) % step + step) % step;
  const double cmid = (col1 - col0 - 1) / 2.0;
  const double tmid = (row1 - row0 - 1) / 2.0;
  double m00 = 0, m01 = 0, m02 = 0, m11 = 0, m12 = 0, m22 = 0;
  double a0 = 0, a1 = 0, a2 = 0, b0 = 0, b1 = 0, b2 = 0, saa = 0, sbb = 0, sab = 0;
  const int32_t n = col1 - col0;
  for (int32_t q = first; q < row1; q += step) {
    const std::size_t ia = std::size_t(q - a.y) * std::size_t(a.width) + std::size_t(col0 - a.x);
    const std::size_t ib =
        std::size_t(q + sy - b.y) * std::size_t(b.width) + std::size_t(col0 + sx - b.x);
    const float* __restrict va = a.value + ia;
    const float* __restrict wa = a.weight + ia;
    const float* __restrict vb = b.value + ib;
    const float* __restrict wb = b.weight + ib;
    double sw = 0, swc = 0, swcc = 0, sa = 0, sac = 0, sb = 0, sbc = 0, raa = 0, rbb = 0, rab = 0;
    for (int32_t i = 0; i < n; ++i) {
      const double c = i - cmid;
      const double w = double(wa[i]) * double(wb[i]);
      const double x = double(va[i]) * double(wb[i]);  // A where both are valid, else 0
      const double y = double(vb[i]) * double(wa[i]);
      sw += w;
      swc += w * c;
      swcc += w * c * c;
      sa += x;
      sac += x * c;
      sb += y;
      sbc += y * c;
      raa += x * x;
      rbb += y * y;
      rab += x * y;
    }
    const double t = q - row0 - tmid;
    m00 += sw;
    m01 += swc;
    m02 += sw * t;
    m11 += swcc;
    m12 += swc * t;
    m22 += sw * t * t;
    a0 += sa;
    a1 += sac;
    a2 += sa * t;
    b0 += sb;
    b1 += sbc;
    b2 += sb * t;
    saa += raa;
    sbb += rbb;
    sab += rab;
  }
  const double overlap = m00 * step;
  if (m00 < double(MIN_SCORED_OVERLAP)) return {UNSCORED, overlap};
  const double m[3][3] = {{m00, m01, m02}, {m01, m11, m12}, {m02, m12, m22}};
  const double va3[3] = {a0, a1, a2};
  const double vb3[3] = {b0, b1, b2};
  double ua[3], ub[3];
  if (!solve3(m, va3, ua) || !solve3(m, vb3, ub)) return {UNSCORED, overlap};
  const double paa = saa - (ua[0] * a0 + ua[1] * a1 + ua[2] * a2);
  const double pbb = sbb - (ub[0] * b0 + ub[1] * b1 + ub[2] * b2);
  const double pab = sab - (ua[0] * b0 + ua[1] * b1 + ua[2] * b2);
  if (!(paa > 0.0) || !(pbb > 0.0)) return {0.0, overlap};  // nothing but a plane: no signal
  return {std::clamp(pab / std::sqrt(paa * pbb), -1.0, 1.0), overlap};
}

// The bound of the search at level l: the level's share of max_shift, plus one pixel so that a
// peak just beyond the bound is seen as such.
int32_t level_reach(int32_t max_shift, int32_t l) {
  return (max_shift + (1 << l) - 1) / (1 << l) + 1;
}

// Climbs from (*sx, *sy) to a shift no neighbour of which scores higher, within +-reach; leaves
// the scores of the final 3 x 3 neighbourhood in around[dy + 1][dx + 1]. Scores already known
// from the previous neighbourhood are kept rather than formed again.
void climb(const ShiftLevel& a, const ShiftLevel& b, int32_t reach, double min_overlap_pixels,
           int32_t* sx, int32_t* sy, ShiftScore around[3][3]) {
  ShiftScore known[3][3];
  int32_t moved_x = 0, moved_y = 0;
  for (int32_t step = 0; step <= MAX_CLIMB; ++step) {
    for (int32_t dy = -1; dy <= 1; ++dy)
      for (int32_t dx = -1; dx <= 1; ++dx) {
        const int32_t kx = dx + moved_x, ky = dy + moved_y;  // in the previous neighbourhood
        if (step > 0 && kx >= -1 && kx <= 1 && ky >= -1 && ky <= 1) {
          around[dy + 1][dx + 1] = known[ky + 1][kx + 1];
          continue;
        }
        const int32_t x = *sx + dx, y = *sy + dy;
        ShiftScore s{UNSCORED, 0.0};
        if (std::abs(x) <= reach && std::abs(y) <= reach) s = score_shift(a, b, x, y);
        if (s.overlap < min_overlap_pixels) s.r = UNSCORED;
        around[dy + 1][dx + 1] = s;
      }
    int32_t best_dx = 0, best_dy = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
      for (int32_t dx = -1; dx <= 1; ++dx)
        if (around[dy + 1][dx + 1].r > around[best_dy + 1][best_dx + 1].r) {
          best_dx = dx;
          best_dy = dy;
        }
    if (best_dx == 0 && best_dy == 0) return;
    std::memcpy(known, around, sizeof known);
    moved_x = best_dx;
    moved_y = best_dy;
    *sx += best_dx;
    *sy += best_dy;
  }
}

// Vertex (*dx, *dy) of the quadratic through the 3 x 3 scores around a maximum: gradient from
// central differences, Hessian from second differences (the cross term from the corners, which
// matters: a ridge along a diagonal moves the row's maximum off the peak). False without a
// maximum there (a neighbour unscored, or the Hessian not negative definite).
bool vertex(const ShiftScore s[3][3], double* dx, double* dy) {
  for (int32_t i = 0; i < 9; ++i)
    if (s[i / 3][i % 3].r == UNSCORED) return false;
  const double gx = (s[1][2].r - s[1][0].r) / 2.0;
  const double gy = (s[2][1].r - s[0][1].r) / 2.0;
  const double hxx = s[1][2].r - 2.0 * s[1][1].r + s[1][0].r;
  const double hyy = s[2][1].r - 2.0 * s[1][1].r + s[0][1].r;
  const double hxy = (s[2][2].r - s[2][0].r - s[0][2].r + s[0][0].r) / 4.0;
  const double det = hxx * hyy - hxy * hxy;
  if (!(hxx < 0.0) || !(det > 0.0)) return false;
  *dx = -(hyy * gx - hxy * gy) / det;
  *dy = -(hxx * gy - hxy * gx) / det;
  return std::isfinite(*dx) && std::isfinite(*dy);
}

// Whether the misfit rises from the best of the coarsest level's scores (side x side) in every
// direction, the slowest rise at least MIN_PEAK_ROUNDNESS times the fastest (the eigenvalues of
// the second differences around it): a valley along which the shift is not determined fails.
bool peak_is_round(const double* scores, int32_t side, int32_t best) {
  const int32_t x = best % side, y = best / side;
  if (x < 1 || y < 1 || x > side - 2 || y > side - 2) return false;
  auto at = [&](int32_t dx, int32_t dy) { return scores[(y + dy) * side + x + dx]; };
  for (int32_t k = 0; k < 9; ++k)
    if (at(k % 3 - 1, k / 3 - 1) == UNSCORED) return false;
  // Second differences of the score r; the misfit 1 - r has the opposite signs.
  const double exx = -(at(1, 0) - 2.0 * at(0, 0) + at(-1, 0));
  const double eyy = -(at(0, 1) - 2.0 * at(0, 0) + at(0, -1));
  const double exy = -(at(1, 1) - at(1, -1) - at(-1, 1) + at(-1, -1)) / 4.0;
  const double half_trace = (exx + eyy) / 2.0;
  const double spread = std::sqrt((exx - eyy) * (exx - eyy) / 4.0 + exy * exy);
  const double slow = half_trace - spread, fast = half_trace + spread;
  return slow > 0.0 && slow >= MIN_PEAK_ROUNDNESS * fast;
}

// Share of the input's valid level-0 pixels that fall on valid reference pixels at s.
double exact_overlap(const ShiftLevel& a, const ShiftLevel& b, int32_t sx, int32_t sy) {
  if (b.valid == 0) return 0.0;
  const int32_t col0 = std::max(a.x, b.x - sx);
  const int32_t col1 = std::min(a.x + a.width, b.x + b.width - sx);
  const int32_t row0 = std::max(a.y, b.y - sy);
  const int32_t row1 = std::min(a.y + a.height, b.y + b.height - sy);
  int64_t both = 0;
  for (int32_t q = row0; q < row1; ++q) {
    const float* wa = a.weight + std::size_t(q - a.y) * std::size_t(a.width) + (col0 - a.x);
    const float* wb =
        b.weight + std::size_t(q + sy - b.y) * std::size_t(b.width) + (col0 + sx - b.x);
    for (int32_t i = 0; i < col1 - col0; ++i) both += wa[i] * wb[i] > 0.0f;
  }
  return double(both) / double(b.valid);
}

}  // namespace

void shift_pyramid_init(ShiftPyramid& p) {
  std::memset(&p, 0, sizeof p);
}

void shift_pyramid_free(ShiftPyramid& p) {
  mem_release(p.storage);
  shift_pyramid_init(p);
}

int32_t shift_levels(int32_t max_shift, int32_t width, int32_t height) {
  int32_t levels = 1;
  while (levels < MAX_SHIFT_LEVELS && level_reach(max_shift, levels - 1) > COARSE_REACH + 1 &&
         std::min(width, height) >> levels >= MIN_LEVEL_SIDE)
    ++levels;
  return levels;
}

ErrorCode shift_pyramid_build(const PhaseMap& map, int32_t levels, ShiftPyramid* p) {
  p->levels = 0;
  if (map.matrix == nullptr || map.window.width <= 0 || map.window.height <= 0)
    return ERR_INVALID_PARAM;
  if (levels < 1 || levels > MAX_SHIFT_LEVELS) return ERR_PARAM_OUT_OF_RANGE;
  ShiftLevel shape[MAX_SHIFT_LEVELS] = {};
  std::size_t floats = 0;
  for (int32_t l = 0; l < levels; ++l) {
    const int32_t d = 1 << l;
    ShiftLevel& s = shape[l];
    s.x = floor_div(map.window.x, d);
    s.y = floor_div(map.window.y, d);
    s.width = floor_div(map.window.x + map.window.width - 1, d) - s.x + 1;
    s.height = floor_div(map.window.y + map.window.height - 1, d) - s.y + 1;
    floats += 2 * std::size_t(s.width) * std::size_t(s.height);  // sides below 2^15: no overflow
  }
  if (floats > SIZE_MAX / sizeof(float)) return ERR_NO_MEM;
  const std::size_t bytes = floats * sizeof(float);
  if (p->capacity < bytes) {
    mem_release(p->storage);
    p->capacity = 0;
    p->storage = mem_allocate(bytes);
    if (p->storage == nullptr) return ERR_NO_MEM;
    p->capacity = bytes;
  }
  float* next = static_cast<float*>(p->storage);
  for (int32_t l = 0; l < levels; ++l) {
    const std::size_t n = std::size_t(shape[l].width) * std::size_t(shape[l].height);
    shape[l].value = next;
    shape[l].weight = next + n;
    next += 2 * n;
  }
  double plane[3];
  fit_plane(map, plane);
  const Window& w = map.window;
  ShiftLevel& base = shape[0];
  base.valid = 0;
  for (int32_t row = 0; row < w.height; ++row) {
    const int32_t* in = map.matrix + std::size_t(row) * std::size_t(w.width);
    float* v = base.value + std::size_t(row) * std::size_t(w.width);
    float* wt = base.weight + std::size_t(row) * std::size_t(w.width);
    const double level = plane[0] + plane[2] * (row - (w.height - 1) / 2.0) -
                         plane[1] * ((w.width - 1) / 2.0);
    int64_t valid = 0;
    for (int32_t col = 0; col < w.width; ++col) {
      const bool ok = phase_valid(in[col]);
      const double h = double(in[col]) - (level + plane[1] * col);
      v[col] = ok ? float(h) : 0.0f;
      wt[col] = ok ? 1.0f : 0.0f;
      valid += ok;
    }
    base.valid += valid;
  }
  for (int32_t l = 1; l < levels; ++l) decimate(shape[l - 1], shape[l]);
  std::memcpy(p->level, shape, sizeof shape);
  p->levels = levels;
  return NO_ERROR;
}

const char* shift_verdict_text(ShiftVerdict v) {
  switch (v) {
    case ShiftVerdict::FOUND: return "found";
    case ShiftVerdict::TOO_FEW_PIXELS: return "too few valid pixels";
    case ShiftVerdict::TOO_LITTLE_OVERLAP: return "too little overlap";
    case ShiftVerdict::NO_PEAK: return "no correlation peak (a flat surface, or nothing in common)";
    case ShiftVerdict::SEVERAL_PEAKS:
      return "no single peak (a periodic surface, one alike along a direction, or a shift beyond "
             "the bound)";
    case ShiftVerdict::BEYOND_BOUND: return "the peak lies beyond the bound";
  }
  return "unknown";
}

ErrorCode estimate_shift(const ShiftPyramid& reference, const ShiftPyramid& input,
                         const ShiftSearch& search, ShiftEstimate* out) {
  *out = ShiftEstimate{};
  if (search.max_shift < 0 || search.max_shift > MAX_SHIFT_BOUND ||
      !(search.min_overlap > 0.0 && search.min_overlap <= 1.0) || reference.levels < 1 ||
      reference.levels != input.levels)
    return ERR_PARAM_OUT_OF_RANGE;
  const int32_t top = reference.levels - 1;
  if (reference.level[0].valid < MIN_SHIFT_PIXELS || input.level[0].valid < MIN_SHIFT_PIXELS) {
    out->verdict = ShiftVerdict::TOO_FEW_PIXELS;
    return NO_ERROR;
  }
  // Every shift within reach at the coarsest level, and a margin beyond it wide enough to hold
  // rivals away from any best within reach.
  const ShiftLevel& ca = reference.level[top];
  const ShiftLevel& cb = input.level[top];
  const int32_t reach = level_reach(search.max_shift, top);
  const int32_t radius = std::max(reach + 1, PEAK_EXCLUSION + 1);
  const int32_t side = 2 * radius + 1;
  double* scores = static_cast<double*>(mem_allocate(std::size_t(side) * std::size_t(side) * sizeof(double)));
  if (scores == nullptr) return ERR_NO_MEM;
  const double coarse_min = search.min_overlap * double(cb.valid);
  int32_t best = -1;
  for (int32_t k = 0; k < side * side; ++k) {
    const int32_t x = k % side - radius, y = k / side - radius;
    const ShiftScore s = score_shift(ca, cb, x, y);
    scores[k] = s.overlap >= coarse_min ? s.r : UNSCORED;
    if (scores[k] != UNSCORED && std::abs(x) <= reach && std::abs(y) <= reach &&
        (best < 0 || scores[k] > scores[best]))
      best = k;
  }
  if (best < 0) {
    mem_release(scores);
    out->verdict = ShiftVerdict::TOO_LITTLE_OVERLAP;
    return NO_ERROR;
  }
  // The highest score away from the best: a second peak (periodic surface), a ridge along which
  // the shift is not determined (a surface alike along one direction), or the slope of a peak
  // that lies beyond the bound.
  double rival = UNSCORED;
  for (int32_t k = 0; k < side * side; ++k) {
    if (std::abs(k % side - best % side) > PEAK_EXCLUSION ||
        std::abs(k / side - best / side) > PEAK_EXCLUSION)
      rival = std::max(rival, scores[k]);
  }
  int32_t sx = best % side - radius;
  int32_t sy = best / side - radius;
  const bool round = peak_is_round(scores, side, best);
  const double coarse_best = scores[best];
  mem_release(scores);
  out->score = coarse_best;
  if (coarse_best < MIN_PEAK_SCORE) {
    out->verdict = ShiftVerdict::NO_PEAK;
    return NO_ERROR;
  }
  if (!round || (rival != UNSCORED && 1.0 - rival < PEAK_CONTRAST * (1.0 - coarse_best))) {
    out->verdict = ShiftVerdict::SEVERAL_PEAKS;
    return NO_ERROR;
  }
  // Finer levels climb from twice the coarser shift.
  ShiftScore around[3][3];
  for (int32_t l = top; l >= 0; --l) {
    if (l < top) {
      sx *= 2;
      sy *= 2;
    }
    climb(reference.level[l], input.level[l], level_reach(search.max_shift, l),
          search.min_overlap * double(input.level[l].valid), &sx, &sy, around);
  }
  // The whole shift is the one nearest the vertex: where the vertex lies over half a pixel away,
  // the neighbourhood moves there and is fitted again.
  const ShiftLevel& fa = reference.level[0];
  const ShiftLevel& fb = input.level[0];
  const int32_t fine_reach = level_reach(search.max_shift, 0);
  const double fine_min = search.min_overlap * double(fb.valid);
  double dx = 0.0, dy = 0.0;
  bool fitted = false;
  for (int32_t move = 0; move <= MAX_VERTEX_MOVES; ++move) {
    fitted = vertex(around, &dx, &dy);
    if (!fitted || (std::fabs(dx) <= 0.5 && std::fabs(dy) <= 0.5) || move == MAX_VERTEX_MOVES)
      break;
    const int32_t mx = int32_t(std::lround(dx)), my = int32_t(std::lround(dy));
    if (std::abs(sx + mx) > fine_reach - 1 || std::abs(sy + my) > fine_reach - 1) break;
    sx += mx;
    sy += my;
    for (int32_t k = 0; k < 9; ++k) {
      ShiftScore& s = around[k / 3][k % 3];
      s = score_shift(fa, fb, sx + k % 3 - 1, sy + k / 3 - 1);
      if (s.overlap < fine_min) s.r = UNSCORED;
    }
  }
  out->shift_x = sx;
  out->shift_y = sy;
  out->score = around[1][1].r;
  out->overlap = exact_overlap(fa, fb, sx, sy);
  if (std::abs(sx) > search.max_shift || std::abs(sy) > search.max_shift) {
    out->verdict = ShiftVerdict::BEYOND_BOUND;
  } else if (around[1][1].r == UNSCORED || out->overlap < search.min_overlap) {
    out->verdict = ShiftVerdict::TOO_LITTLE_OVERLAP;
  } else if (around[1][1].r < MIN_PEAK_SCORE) {
    out->verdict = ShiftVerdict::NO_PEAK;
  } else {
    out->verdict = ShiftVerdict::FOUND;
    if (fitted) {
      out->rest_x = std::clamp(dx, -0.5, 0.5);
      out->rest_y = std::clamp(dy, -0.5, 0.5);
    }
  }
  return NO_ERROR;
}

}  // namespace harnix
