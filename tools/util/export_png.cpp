#include "util/export_png.h"

#include <cstdint>

#include "export/number_text.h"
#include "surface/heights.h"
#include "util/colour_bar.h"

namespace harnix {

namespace {

std::string grouped(int64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<std::size_t>(i), "\xE2\x80\x89");  // thin space
  return digits;
}

std::string details_line(const ExportData& data, const PhaseStatistics& st) {
  const Window& w = data.map->window;
  std::string s = std::to_string(w.width) + " \xC3\x97 " + std::to_string(w.height) + " px";
  if (data.spacing > 0) s += ", " + general_text(data.spacing * 1e6, 4) + " \xC2\xB5m per px";
  s += ", " + grouped(st.valid_points) + " of " + grouped(st.total_points) + " points valid";
  if (data.per_count > 0 && *data.unit != '\0') {
    s += ", " + general_text(data.per_count * 1e12, 4) + " pm per count";
  } else {
    s += ", values in counts";
  }
  if (data.levelled != nullptr) s += std::string(", ") + data.levelling + " removed";
  return s;
}

}  // namespace

PreviewInput png_preview(const ExportData& data, const PngOptions& options) {
  const PhaseStatistics st = phase_statistics(*data.map);
  PreviewInput in{};
  in.map = data.map;
  in.colour_map = options.colour_map;
  in.map_pixels = options.map_pixels;
  in.metres_per_count = *data.unit != '\0' ? data.per_count : 0;
  in.title = data.title;
  in.comment = data.comment;
  in.details = details_line(data, st);
  in.levelled = data.levelled;
  const double lo_rank = options.full_range ? 0 : options.lo_percentile;
  const double hi_rank = options.full_range ? 100 : options.hi_percentile;
  if (data.levelled != nullptr) {
    const Window& w = data.map->window;
    std::vector<double> values = valid_levelled(
        data.levelled, static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height));
    in.lo = percentile(values, lo_rank);
    in.hi = percentile(values, hi_rank);
  } else if (options.full_range) {
    in.lo = st.min;
    in.hi = st.max;
  } else {
    std::vector<int32_t> values = valid_values(*data.map);
    in.lo = percentile(values, lo_rank);
    in.hi = percentile(values, hi_rank);
  }
  const std::string how = options.full_range
                              ? "full range"
                              : shortest_text(options.lo_percentile) + " to " +
                                    shortest_text(options.hi_percentile) + " percentile";
  // A flat map (or a clip range inside one step) still needs a range: one count either side.
  if (!(in.lo < in.hi)) {
    in.lo -= 1;
    in.hi += 1;
  }
  std::string ends;
  if (in.metres_per_count > 0) {
    const DisplayUnit unit = height_unit(in.lo * in.metres_per_count, in.hi * in.metres_per_count);
    const double k = in.metres_per_count * unit.per_value;
    ends = general_text(in.lo * k, 4) + " to " + general_text(in.hi * k, 4) + " " + unit.name;
  } else {
    ends = general_text(in.lo, 6) + " to " + general_text(in.hi, 6) + " counts";
  }
  in.range_note =
      std::string(colour_map_name(options.colour_map)) + " over " + ends + " (" + how + ")";
  return in;
}

bool write_png(const ExportData& data, const PngOptions& options, std::FILE* stream,
               std::string* message) {
  return write_preview_png(png_preview(data, options), stream, message);
}

}  // namespace harnix
