#include "reference/report_reference.h"

#include <algorithm>
#include <cmath>

#include "reference/reference_average.h"

namespace harnix {

namespace {

// Solves the n x n system a z = b (n <= 3) by elimination with partial pivoting.
std::vector<long double> solve(std::vector<std::vector<long double>> a,
                               std::vector<long double> b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(b[c], b[p]);
    for (std::size_t r = c + 1; r < n; ++r) {
      const long double m = a[r][c] / a[c][c];
      for (std::size_t k = c; k < n; ++k) a[r][k] -= m * a[c][k];
      b[r] -= m * b[c];
    }
  }
  std::vector<long double> z(n);
  for (std::size_t c = n; c-- > 0;) {
    long double s = b[c];
    for (std::size_t k = c + 1; k < n; ++k) s -= a[c][k] * z[k];
    z[c] = s / a[c][c];
  }
  return z;
}

}  // namespace

std::vector<ReportRow> reference_report(const std::vector<MeasurementFile>& inputs,
                                        int32_t min_count, const RejectionReference* rejection) {
  const MeasurementFile& first = inputs.front();
  const int w = first.camera_width, h = first.camera_height;
  const double r_out = test_phase_counts(first.phase_res);
  const long double metres = (long double)first.scale_factor * first.wavelength / r_out;
  const long double spacing = first.camera_res != 0 ? first.camera_res : first.pixel_width;
  auto kept = [&](std::size_t i, int px, int py) {
    const MeasurementFile& f = inputs[i];
    return rejection == nullptr ||
           !rejection->rejected[i][std::size_t(py - f.y) * f.width + (px - f.x)];
  };
  std::vector<long double> average(std::size_t(w) * h);
  std::vector<bool> average_valid(average.size(), false);
  for (int py = 0; py < h; ++py) {
    for (int px = 0; px < w; ++px) {
      long double sum = 0;
      int n = 0;
      for (std::size_t i = 0; i < inputs.size(); ++i) {
        double x;
        if (reference_scaled_value(inputs[i], first, r_out, px, py, &x) && kept(i, px, py)) {
          sum += x;
          ++n;
        }
      }
      average[std::size_t(py) * w + px] = n > 0 ? sum / n : 0;
      average_valid[std::size_t(py) * w + px] = n >= std::max(1, min_count);
    }
  }
  std::vector<ReportRow> rows(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    ReportRow& row = rows[i];
    struct Point {
      long double x, y, d;
    };
    std::vector<Point> points;
    for (int py = 0; py < h; ++py) {
      for (int px = 0; px < w; ++px) {
        double x;
        if (!reference_scaled_value(inputs[i], first, r_out, px, py, &x)) continue;
        ++row.valid;
        row.rejected += !kept(i, px, py);
        if (average_valid[std::size_t(py) * w + px])
          points.push_back(
              {(long double)px, (long double)py, x - average[std::size_t(py) * w + px]});
      }
    }
    row.compared = int64_t(points.size());
    if (points.empty()) continue;
    bool spans_x = false, spans_y = false;
    for (const Point& p : points) {
      spans_x = spans_x || p.x != points[0].x;
      spans_y = spans_y || p.y != points[0].y;
    }
    // Terms: 1, then x and y where the points span them.
    std::vector<long double (*)(const Point&)> terms = {[](const Point&) { return 1.0L; }};
    if (spans_x) terms.push_back([](const Point& p) { return p.x; });
    if (spans_y) terms.push_back([](const Point& p) { return p.y; });
    std::vector<std::vector<long double>> a(terms.size(), std::vector<long double>(terms.size()));
    std::vector<long double> b(terms.size());
    long double mean = 0;
    for (const Point& p : points) {
      mean += p.d;
      for (std::size_t r = 0; r < terms.size(); ++r) {
        b[r] += terms[r](p) * p.d;
        for (std::size_t c = 0; c < terms.size(); ++c) a[r][c] += terms[r](p) * terms[c](p);
      }
    }
    const std::vector<long double> z = solve(a, b);
    long double sq = 0;
    for (const Point& p : points) {
      long double fit = 0;
      for (std::size_t t = 0; t < terms.size(); ++t) fit += z[t] * terms[t](p);
      sq += (p.d - fit) * (p.d - fit);
    }
    row.mean = mean / points.size() * metres;
    row.rms = std::sqrt(sq / points.size()) * metres;
    if (spans_x) row.tilt_x = z[1] * metres / spacing;
    if (spans_y) row.tilt_y = z[spans_x ? 2 : 1] * metres / spacing;
  }
  std::vector<long double> rms;
  for (const ReportRow& row : rows)
    if (row.compared > 0) rms.push_back(row.rms);
  std::sort(rms.begin(), rms.end());
  const long double median = rms.empty()      ? 0
                             : rms.size() % 2 ? rms[rms.size() / 2]
                                              : (rms[rms.size() / 2 - 1] + rms[rms.size() / 2]) / 2;
  for (ReportRow& row : rows) row.outlier = row.compared > 0 && row.rms > 3 * median;
  return rows;
}

}  // namespace harnix
