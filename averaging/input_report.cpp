#include "averaging/input_report.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "averaging/input_sums.h"
#include "base/allocation.h"
#include "base/vector_clones.h"

namespace harnix {

namespace {

// Sums over an input's compared pixels, shifted so that they hold spreads rather than
// magnitudes: u = d - d0 (d0 the first compared d), X and Y the column and row less the camera's
// centre.
struct ShiftedSums {
  double n = 0, u = 0, x = 0, y = 0, xx = 0, xy = 0, yy = 0, xu = 0, yu = 0, uu = 0;
};

// Four doubles, the lanes of a row's sums: lane l takes the pixels i = l mod 4 (and the tail
// lane 0), the same bits with any instruction set.
typedef double Lanes __attribute__((vector_size(32)));
typedef int64_t LaneMask __attribute__((vector_size(32)));
typedef int32_t LaneInts __attribute__((vector_size(16)));

// One row's part of the sums, from `values` and the average `a` over `width` pixels, levelled by
// `p` when given. One pass, four pixels at a time, u = d - d0 (0 where not compared): the counts
// and the sums of i = X - x0 and i^2 are whole numbers below 2^53 (exact in any order); those of
// u, i u and u^2 run in the four lanes, so that the additions for neighbouring pixels need not
// wait for each other, and are combined as (0 + 1) + (2 + 3), i u as its halves 0 + 1 and 2 + 3.
HARNIX_VECTOR_CLONES ReportRowPart row_part(const int32_t* __restrict values,
                                            const double* __restrict a, int32_t width,
                                            double factor, double d0, const LevelRow* p) {
  const bool levelled = p != nullptr;
  const LevelRow row = levelled ? *p : LevelRow{};
  constexpr int32_t LANES = 4;
  const Lanes step = {0.0, 1.0, 2.0, 3.0};
  Lanes n = {}, si = {}, sii = {}, su = {}, siu = {}, suu = {};
  LaneMask valid = {};
  int32_t i = 0;
  for (; i + LANES <= width; i += LANES) {
    LaneInts vi;
    Lanes ai;
    __builtin_memcpy(&vi, values + i, sizeof vi);
    __builtin_memcpy(&ai, a + i, sizeof ai);
    const Lanes col = double(i) + step;
    const LaneMask ok = __builtin_convertvector(vi < PHASE_INVALID, LaneMask);
    const LaneMask c = ok & (ai == ai);  // NaN: no average there
    Lanes x = __builtin_convertvector(vi, Lanes) * factor;
    if (levelled) x = x - (row.base + row.cx * (row.dx + col));
    const Lanes u = c ? (x - ai) - d0 : Lanes{};
    const Lanes one = c ? Lanes{1.0, 1.0, 1.0, 1.0} : Lanes{};
    valid -= ok;
    n += one;
    si += one * col;
    sii += one * (col * col);
    su += u;
    siu += col * u;
    suu += u * u;
  }
  for (; i < width; ++i) {
    const bool ok = values[i] < PHASE_INVALID;
    valid[0] += ok;
    if (!ok || a[i] != a[i]) continue;
    double x = double(values[i]) * factor;
    if (levelled) x = x - level_at(row, std::size_t(i));
    const double u = (x - a[i]) - d0;
    n[0] += 1.0;
    si[0] += double(i);
    sii[0] += double(i) * double(i);
    su[0] += u;
    siu[0] += double(i) * u;
    suu[0] += u * u;
  }
  const auto total = [](const Lanes& l) { return (l[0] + l[1]) + (l[2] + l[3]); };
  return ReportRowPart{total(n),
                       total(si),
                       total(sii),
                       total(su),
                       siu[0] + siu[1],
                       siu[2] + siu[3],
                       total(suu),
                       (valid[0] + valid[1]) + (valid[2] + valid[3])};
}

// Adds one row's part (Y = y, its first column at X = x0) to the sums: X and Y enter through
// the row's totals.
void add_part(const ReportRowPart& part, double x0, double y, ShiftedSums& s) {
  const double count = part.count;
  const double row_u = part.u;
  const double x = count * x0 + part.i1;  // sum of X over the row
  s.n += count;
  s.u += row_u;
  s.x += x;
  s.xx += count * x0 * x0 + 2.0 * x0 * part.i1 + part.ii;
  s.xu += x0 * row_u + part.iu_low + part.iu_high;
  s.uu += part.uu;
  s.y += count * y;
  s.yy += count * y * y;
  s.xy += x * y;
  s.yu += row_u * y;
}

// The number with 10 significant digits ("%.10g", never "-0").
void put_number(std::FILE* stream, double value) {
  std::fprintf(stream, ",%.10g", value + 0.0);
}

// `text` as one CSV field: quoted, with its quotes doubled, when it holds a comma, a quote or a
// line break.
void put_field(std::FILE* stream, const char* text) {
  bool quote = false;
  for (const char* c = text; *c != '\0'; ++c)
    quote = quote || *c == ',' || *c == '"' || *c == '\r' || *c == '\n';
  if (!quote) {
    std::fputs(text, stream);
    return;
  }
  std::fputc('"', stream);
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '"') std::fputc('"', stream);
    std::fputc(*c, stream);
  }
  std::fputc('"', stream);
}

}  // namespace

void average_for_report(const WorkingMaps& maps, int16_t min_count, std::size_t from,
                        std::size_t count, RealMap& average) {
  const int16_t minimum = min_count < 1 ? int16_t{1} : min_count;
  const double* sum = maps.sum_avg.matrix + from;
  const int16_t* counts = maps.count_avg.matrix + from;
  double* out = average.matrix + from;
  for (std::size_t i = 0; i < count; ++i)
    out[i] = counts[i] >= minimum ? sum[i] / double(counts[i]) : NAN;
}

namespace {

// The input's row r and the average's row beside it.
const int32_t* input_row(const PhaseMap& input, int32_t r) {
  return input.matrix + std::size_t(r) * std::size_t(input.window.width);
}

const double* average_row(const RealMap& average, const Window& w, int32_t r) {
  return average.matrix + std::size_t(w.y + r) * std::size_t(average.window.width) +
         std::size_t(w.x);
}

// Unscaled values are multiplied by 1, which changes none.
double factor_of(double f) {
  return std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON ? f : 1.0;
}

}  // namespace

bool report_shift(const PhaseMap& input, double f, const RealMap& average,
                  const InputLevel* level, double* d0) {
  const Window& w = input.window;
  const double factor = factor_of(f);
  *d0 = 0.0;
  for (int32_t r = 0; r < w.height; ++r) {
    const int32_t* values = input_row(input, r);
    const double* a = average_row(average, w, r);
    for (int32_t i = 0; i < w.width; ++i) {
      if (values[i] < PHASE_INVALID && a[i] == a[i]) {
        const double x = double(values[i]) * factor;
        *d0 = level != nullptr
                  ? (x - level_at(level_row(*level, w.x, w.y + r), std::size_t(i))) - a[i]
                  : x - a[i];
        return true;
      }
    }
  }
  return false;
}

void report_row_parts(const PhaseMap& input, double f, const RealMap& average,
                      const InputLevel* level, double d0, RowRange rows, ReportRowPart* parts) {
  const Window& w = input.window;
  const double factor = factor_of(f);
  for (int32_t r = rows.first; r < rows.first + rows.count; ++r) {
    const LevelRow p = level != nullptr ? level_row(*level, w.x, w.y + r) : LevelRow{};
    parts[r] = row_part(input_row(input, r), average_row(average, w, r), w.width, factor, d0,
                        level != nullptr ? &p : nullptr);
  }
}

void report_figures(const PhaseMap& input, const RealMap& average, const ReportScale& scale,
                    bool found, double d0, const ReportRowPart* parts, InputFigures& figures) {
  const Window& w = input.window;
  const double cx = (average.window.width - 1) / 2.0, cy = (average.window.height - 1) / 2.0;
  figures.has_tilt_x = figures.has_tilt_y = false;
  figures.compared_pixels = 0;
  figures.valid_pixels = 0;
  for (int32_t r = 0; r < w.height; ++r) figures.valid_pixels += parts[r].valid;
  if (!found) return;
  ShiftedSums s;
  for (int32_t r = 0; r < w.height; ++r) add_part(parts[r], w.x - cx, w.y + r - cy, s);
  figures.compared_pixels = int64_t(s.n);

  // Centred moments from the shifted sums.
  const double mean_u = s.u / s.n, mean_x = s.x / s.n, mean_y = s.y / s.n;
  const double cxx = s.xx - s.x * mean_x, cxy = s.xy - s.x * mean_y, cyy = s.yy - s.y * mean_y;
  const double cxu = s.xu - s.x * mean_u, cyu = s.yu - s.y * mean_u, cuu = s.uu - s.u * mean_u;
  // Slopes of the plane; a direction the pixels do not span is left out. Pixel coordinates are
  // whole numbers: a spread below a quarter means none (two pixels give a half), and a
  // determinant this small relative to its terms means one line.
  double bx = 0.0, by = 0.0;
  const double det = cxx * cyy - cxy * cxy;
  if (cxx > 0.25 && cyy > 0.25 && det > 1e-9 * cxx * cyy) {
    bx = (cyy * cxu - cxy * cyu) / det;
    by = (cxx * cyu - cxy * cxu) / det;
    figures.has_tilt_x = figures.has_tilt_y = true;
  } else if (cxx > 0.25 && cxx >= cyy) {
    bx = cxu / cxx;
    figures.has_tilt_x = true;
  } else if (cyy > 0.25) {
    by = cyu / cyy;
    figures.has_tilt_y = true;
  }
  // What the plane leaves of the spread of d; never below 0 after rounding.
  const double residual = cuu - bx * cxu - by * cyu;
  figures.mean_diff_m = (d0 + mean_u) * scale.metres_per_count;
  figures.tilt_x = bx * scale.metres_per_count / scale.spacing_m;
  figures.tilt_y = by * scale.metres_per_count / scale.spacing_m;
  figures.rms_diff_m = std::sqrt(std::max(residual, 0.0) / s.n) * scale.metres_per_count;
  if (!(scale.spacing_m > 0.0)) figures.has_tilt_x = figures.has_tilt_y = false;
}

ErrorCode write_input_report(std::FILE* stream, const InputList& inputs,
                             const InputFigures* figures, bool levelled,
                             const InputShift* shifts) {
  const std::size_t count = inputs.names.size();
  auto* rms = static_cast<double*>(mem_allocate(std::max<std::size_t>(count, 1) * sizeof(double)));
  if (rms == nullptr) return ERR_NO_MEM;
  std::size_t compared = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (figures[i].compared_pixels > 0) rms[compared++] = figures[i].rms_diff_m;
  double median = 0.0;
  if (compared > 0) {
    std::sort(rms, rms + compared);
    median =
        compared % 2 == 1 ? rms[compared / 2] : (rms[compared / 2 - 1] + rms[compared / 2]) / 2.0;
  }
  mem_release(rms);

  std::fputs(
      "index,file,valid_pixels,rejected_pixels,compared_pixels,mean_diff_m,tilt_x,tilt_y,"
      "rms_diff_m,outlier",
      stream);
  if (levelled) std::fputs(",level_piston_m,level_tilt_x,level_tilt_y,level_left_out", stream);
  if (shifts != nullptr)
    std::fputs(",shift_x_px,shift_y_px,rest_x_px,rest_y_px,peak_score,overlap", stream);
  std::fputs("\r\n", stream);
  for (std::size_t i = 0; i < count; ++i) {
    const InputFigures& g = figures[i];
    std::fprintf(stream, "%zu,", i + 1);
    put_field(stream, inputs.names[i].c_str());
    std::fprintf(stream, ",%lld,%lld,%lld", static_cast<long long>(g.valid_pixels),
                 static_cast<long long>(g.rejected_pixels),
                 static_cast<long long>(g.compared_pixels));
    if (g.compared_pixels > 0) {
      put_number(stream, g.mean_diff_m);
      if (g.has_tilt_x)
        put_number(stream, g.tilt_x);
      else
        std::fputc(',', stream);
      if (g.has_tilt_y)
        put_number(stream, g.tilt_y);
      else
        std::fputc(',', stream);
      put_number(stream, g.rms_diff_m);
      std::fputs(g.rms_diff_m > 3.0 * median ? ",yes" : ",no", stream);
    } else {
      std::fputs(",,,,,", stream);
    }
    if (levelled && g.level.levelled) {
      put_number(stream, g.level.piston_m);
      put_number(stream, g.level.tilt_x);
      put_number(stream, g.level.tilt_y);
      std::fprintf(stream, ",%lld", static_cast<long long>(g.level.left_out));
    } else if (levelled) {
      std::fputs(",,,,", stream);  // left unlevelled: too few points for its fit
    }
    if (shifts != nullptr) {
      const InputShift& s = shifts[i];
      std::fprintf(stream, ",%d,%d", int(s.x), int(s.y));
      put_number(stream, s.rest_x);
      put_number(stream, s.rest_y);
      put_number(stream, s.score);
      put_number(stream, s.overlap);
    }
    std::fputs("\r\n", stream);
  }
  return std::ferror(stream) ? ERR_CANT_WRITE_FILE : NO_ERROR;
}

}  // namespace harnix
