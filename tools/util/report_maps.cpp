// Histogram bins: 64 equal bins over the range of the valid values, except that values which are
// all whole counts (every map as stored) get bins a whole number of counts wide, starting half a
// count below the smallest: each count then falls into exactly one bin and no bin catches one
// more count value than its neighbours, which would draw a comb of the counts' spacing.
#include "util/report_maps.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "util/colour_bar.h"
#include "util/export_png.h"
#include "util/loaded_file.h"

namespace harnix {

namespace {

constexpr int HISTOGRAM_BINS = 64;

struct LoadedFileGuard {
  LoadedFile* file;
  ~LoadedFileGuard() { release_loaded_file(file); }
};

// Bins of `counts` (valid values in counts, not empty), shown at `per_count` display units each.
Histogram histogram_of(const std::vector<double>& counts, double per_count, const char* unit) {
  const auto [lo_at, hi_at] = std::minmax_element(counts.begin(), counts.end());
  const double lo = *lo_at;
  const double hi = *hi_at;
  const bool whole =
      std::all_of(counts.begin(), counts.end(), [](double v) { return v == std::floor(v); });
  double start = lo;
  double width = (hi - lo) / HISTOGRAM_BINS;
  std::size_t n = HISTOGRAM_BINS;
  if (whole) {
    width = std::ceil((hi - lo + 1) / HISTOGRAM_BINS);
    start = lo - 0.5;
    n = static_cast<std::size_t>(std::floor((hi - lo) / width)) + 1;
  } else if (!(lo < hi)) {
    start = lo - 0.5;
    width = 1;
    n = 1;
  }
  Histogram h{start * per_count, width * per_count, std::vector<int64_t>(n, 0), unit};
  for (double v : counts) {
    const double bin = std::floor((v - start) / width);
    h.bins[std::min(n - 1, static_cast<std::size_t>(std::max(0.0, bin)))] += 1;
  }
  return h;
}

Spread spread_of(std::vector<double> counts, double metres_per_count) {
  const double nm_per_count = metres_per_count * 1e9;
  double sum = 0;
  double squares = 0;
  for (double v : counts) {
    sum += v;
    squares += v * v;
  }
  const double n = static_cast<double>(counts.size());
  return {true, sum / n * nm_per_count, percentile(counts, 50) * nm_per_count,
          std::sqrt(squares / n) * nm_per_count};
}

}  // namespace

ResultKind result_kind(const std::string& comment) {
  static const struct {
    const char* start;
    ResultKind kind;
  } KINDS[] = {{"Height average map", RESULT_AVERAGE},
                {"Height standard deviation map", RESULT_DEVIATION},
                {"Input count map", RESULT_COUNT},
                {"Rejected value count map", RESULT_REJECTED},
                {"Height minimum map", RESULT_MINIMUM},
                {"Height maximum map", RESULT_MAXIMUM},
                {"Height range map", RESULT_RANGE},
                {"Height uncertainty map", RESULT_UNCERTAINTY}};
  for (const auto& k : KINDS)
    if (comment.rfind(k.start, 0) == 0) return k.kind;
  return RESULT_OTHER;
}

const char* counted_values(ResultKind kind) {
  return kind == RESULT_COUNT ? "inputs" : kind == RESULT_REJECTED ? "rejected values" : nullptr;
}

const char* result_kind_title(ResultKind kind) {
  switch (kind) {
    case RESULT_AVERAGE:
      return "Height average";
    case RESULT_DEVIATION:
      return "Height standard deviation";
    case RESULT_COUNT:
      return "Input count";
    case RESULT_REJECTED:
      return "Rejected value count";
    case RESULT_MINIMUM:
      return "Height minimum";
    case RESULT_MAXIMUM:
      return "Height maximum";
    case RESULT_RANGE:
      return "Height range";
    case RESULT_UNCERTAINTY:
      return "Uncertainty of the height average";
    default:
      return "Result map";
  }
}

const char* result_title(const ResultSection& section) {
  const bool median = section.comment.rfind("Height average map (median)", 0) == 0;
  if (section.kind == RESULT_AVERAGE && median) return "Height median";
  return result_kind_title(section.kind);
}

int64_t stated_inputs(const std::string& comment) {
  const std::string before = "computed from ";
  const std::string after = " input data files";
  const std::size_t at = comment.find(before);
  if (at == std::string::npos) return -1;
  const std::size_t first = at + before.size();
  std::size_t end = first;
  while (end < comment.size() && std::isdigit(static_cast<unsigned char>(comment[end]))) ++end;
  // Nine digits and fewer stay far inside int64_t.
  if (end == first || end - first > 9 || comment.compare(end, after.size(), after) != 0) return -1;
  return std::stoll(comment.substr(first, end - first));
}

bool analyse_result(const char* path, Levelling level, ResultSection* s, std::string* message) {
  LoadedFile file{};
  std::string error;
  if (!load_data_file(path, false, &file, &error)) {
    *message = quoted(path) + " " + error;
    return false;
  }
  LoadedFileGuard guard{&file};
  *s = ResultSection{};
  s->name = printable_text(path, std::strlen(path));
  s->comment = comment_text(file.attributes);
  s->kind = result_kind(s->comment);
  s->attributes = file.attributes;
  s->scale = height_scale(file.attributes);
  s->stats = phase_statistics(file.phase);
  s->window = file.phase.matrix != nullptr ? file.phase.window : Window{};
  s->levelling = "none";
  if (file.phase.matrix == nullptr || s->stats.valid_points == 0) {
    s->note = file.phase.matrix == nullptr ? "holds no phase map" : "holds no valid points";
    return true;
  }

  const bool counts_kind = s->kind == RESULT_COUNT || s->kind == RESULT_REJECTED;
  const bool heights = !counts_kind && s->scale.height_known;
  const bool levelled = s->kind == RESULT_AVERAGE || s->kind == RESULT_OTHER ||
                        s->kind == RESULT_MINIMUM || s->kind == RESULT_MAXIMUM;
  const Levelling applied = levelled ? level : LEVEL_NONE;
  std::vector<double> values;
  if (!level_map(file.phase, applied, &values, &error)) {
    *message = quoted(path) + " " + error;
    return false;
  }
  s->levelling = levelling_name(applied);

  const std::string title = printable_text(base_name(path).c_str(), base_name(path).size());
  const ExportData data{&file.phase,
                        title,
                        s->comment,
                        heights ? s->scale.metres_per_count : 1.0,
                        heights ? "m" : "",
                        s->scale.spacing,
                        applied != LEVEL_NONE ? values.data() : nullptr,
                        s->levelling,
                        &file.attributes};
  const int longer = std::max(s->window.width, s->window.height);
  const PngOptions png{CMAP_VIRIDIS, counts_kind, 0.5, 99.5,
                       longer > REPORT_MAX_MAP_PIXELS ? REPORT_MAX_MAP_PIXELS : 0};
  if (!preview_png_bytes(png_preview(data, png), &s->png, &error)) {
    *message = quoted(path) + " " + error;
    return false;
  }

  if (s->kind == RESULT_AVERAGE && heights) {
    s->parameters = height_parameters(values, s->scale.metres_per_count);
    s->parameters_known = s->parameters.points > 0;
  }
  if (s->kind != RESULT_AVERAGE && s->kind != RESULT_DEVIATION) return true;
  std::vector<double> valid = valid_levelled(values.data(), values.size());
  if (heights) {
    const auto [lo, hi] = std::minmax_element(valid.begin(), valid.end());
    const DisplayUnit unit =
        height_unit(*lo * s->scale.metres_per_count, *hi * s->scale.metres_per_count);
    s->histogram = histogram_of(valid, s->scale.metres_per_count * unit.per_value, unit.name);
  } else {
    s->histogram = histogram_of(valid, 1, "counts");
  }
  if (s->kind == RESULT_DEVIATION && heights)
    s->spread = spread_of(std::move(valid), s->scale.metres_per_count);
  return true;
}

}  // namespace harnix
