#include "averaging/input_report.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "averaging/input_sums.h"
#include "base/allocation.h"

namespace harnix {

namespace {

// Walks the compared pixels of an input: body(column, row, d) for each, in storage order.
template <typename Body>
void for_each_compared(const PhaseMap& input, double f, const WorkingMaps& maps, int16_t min_count,
                       Body body) {
  const Window& w = input.window;
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  const int16_t minimum = min_count < 1 ? int16_t{1} : min_count;
  const std::size_t stride = std::size_t(maps.camera.width);
  for (int32_t r = 0; r < w.height; ++r) {
    const int32_t* row = input.matrix + std::size_t(r) * std::size_t(w.width);
    const std::size_t at = std::size_t(w.y + r) * stride + std::size_t(w.x);
    const double* sum = maps.sum_avg.matrix + at;
    const int16_t* count = maps.count_avg.matrix + at;
    for (int32_t i = 0; i < w.width; ++i) {
      const int32_t v = row[i];
      if (v >= PHASE_INVALID || count[i] < minimum) continue;
      const double x = scaled ? double(v) * f : double(v);
      body(double(w.x + i), double(w.y + r), x - sum[i] / double(count[i]));
    }
  }
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

void compare_with_average(const PhaseMap& input, double f, const WorkingMaps& maps,
                          int16_t min_count, const ReportScale& scale, InputFigures& figures) {
  // First sweep: sums shifted by the first d and by the camera's centre, so that they hold
  // spreads rather than magnitudes; the centred moments follow from them.
  const double cx = (maps.camera.width - 1) / 2.0, cy = (maps.camera.height - 1) / 2.0;
  int64_t n = 0;
  double d0 = 0.0, su = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, syy = 0.0, sxu = 0.0,
         syu = 0.0;
  for_each_compared(input, f, maps, min_count, [&](double x, double y, double d) {
    if (n++ == 0) d0 = d;
    const double u = d - d0, px = x - cx, py = y - cy;
    su += u;
    sx += px;
    sy += py;
    sxx += px * px;
    sxy += px * py;
    syy += py * py;
    sxu += px * u;
    syu += py * u;
  });
  figures.compared_pixels = n;
  figures.has_tilt_x = figures.has_tilt_y = false;
  if (n == 0) return;
  const double count = double(n);
  const double mean_u = su / count, mean_x = sx / count, mean_y = sy / count;
  const double cxx = sxx - sx * mean_x, cxy = sxy - sx * mean_y, cyy = syy - sy * mean_y;
  const double cxu = sxu - sx * mean_u, cyu = syu - sy * mean_u;
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
  // Second sweep: the residuals themselves, rather than a difference of large sums.
  double sum_r2 = 0.0;
  for_each_compared(input, f, maps, min_count, [&](double x, double y, double d) {
    const double r = (d - d0 - mean_u) - bx * (x - cx - mean_x) - by * (y - cy - mean_y);
    sum_r2 += r * r;
  });
  figures.mean_diff_m = (d0 + mean_u) * scale.metres_per_count;
  figures.tilt_x = bx * scale.metres_per_count / scale.spacing_m;
  figures.tilt_y = by * scale.metres_per_count / scale.spacing_m;
  if (!(scale.spacing_m > 0.0)) figures.has_tilt_x = figures.has_tilt_y = false;
  figures.rms_diff_m = std::sqrt(sum_r2 / count) * scale.metres_per_count;
}

ErrorCode write_input_report(std::FILE* stream, const InputList& inputs,
                             const InputFigures* figures) {
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
      "rms_diff_m,outlier\r\n",
      stream);
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
    std::fputs("\r\n", stream);
  }
  return std::ferror(stream) ? ERR_CANT_WRITE_FILE : NO_ERROR;
}

}  // namespace harnix
