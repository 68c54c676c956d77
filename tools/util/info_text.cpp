#include <cinttypes>

#include "export/number_text.h"
#include "util/colour_bar.h"
#include "util/info_report.h"

namespace harnix {

namespace {

constexpr int LABEL_WIDTH = 20;

void line(std::FILE* out, const char* label, const std::string& value) {
  std::fprintf(out, "%-*s = %s\n", LABEL_WIDTH, label, value.c_str());
}

std::string window_text(const Window& w) {
  return "x " + std::to_string(w.x) + ", y " + std::to_string(w.y) + ", width " +
         std::to_string(w.width) + ", height " + std::to_string(w.height);
}

// A statistic in counts and in the file's common length unit; a count map's values are counts of
// something else than phase, and no height.
std::string statistic(double counts, bool integral, const FileFacts& f, const DisplayUnit& unit) {
  const std::string number = integral ? fixed_text(counts, 0) : general_text(counts, 7);
  if (f.counted != nullptr) return number + " " + f.counted;
  std::string s = number + " counts";
  if (f.scale.height_known)
    s += ", " + general_text(counts * f.scale.metres_per_count * unit.per_value, 6) + " " +
         unit.name;
  return s;
}

}  // namespace

void print_info_text(const FileFacts& f, std::FILE* out) {
  const LoadedFile& file = *f.file;
  const DataAttributes& a = file.attributes;
  line(out, "File", quoted(f.name));
  line(out, "Header",
       "variant " + std::to_string(header_variant(file.magic)) + " (magic " +
           magic_text(file.magic) + ", " + std::to_string(file.header_bytes) + " bytes)");
  line(out, "TimeStamp", std::to_string(a.TimeStamp) + " (" + utc_text(a.TimeStamp) + ")");
  line(out, "Comment", quoted(comment_text(a)));
  line(out, "CameraWidth", std::to_string(a.CameraWidth));
  line(out, "CameraHeight", std::to_string(a.CameraHeight));
  for (const AttributeValue& v : float_attributes(a)) {
    std::string text = shortest_text(v.value);
    if (*v.unit != '\0') text += std::string(" ") + v.unit;
    line(out, v.name, text);
  }
  line(out, "PhaseRes",
       std::to_string(a.PhaseRes) + " (" + phase_res_label(a.PhaseRes) + ", " +
           std::to_string(phase_res_counts(a.PhaseRes)) + " counts per fringe)");

  const IntensityMap& in = file.intensity;
  line(out, "Intensity window",
       in.matrix == nullptr ? "none"
                            : window_text(in.window) + ", " + std::to_string(in.n_buckets) +
                                  " buckets, range " + std::to_string(in.range));
  line(out, "Phase window", file.phase.matrix == nullptr ? "none" : window_text(file.phase.window));
  line(out, "Height per count",
       f.scale.height_known ? general_text(f.scale.metres_per_count, 6) + " m"
                            : "unknown (IntfScaleFactor x ObliquityFactor x WavelengthIn is not "
                              "a positive number)");
  line(out, "Lateral spacing",
       f.scale.spacing_source == nullptr
           ? "unknown (CameraRes and PixelWidth are not positive)"
           : shortest_text(float_in_units(static_cast<float>(f.scale.spacing), 1e6)) + " um (" +
                 f.scale.spacing_source + ")");
  if (file.phase.matrix == nullptr) return;

  if (f.counted != nullptr)
    line(out, "Values",
         std::string("counts of ") + f.counted + " per pixel (a count map), not heights");
  const PhaseStatistics& st = f.stats;
  const double percent =
      100.0 * static_cast<double>(st.valid_points) / static_cast<double>(st.total_points);
  line(out, "Valid points",
       std::to_string(st.valid_points) + " of " + std::to_string(st.total_points) + " (" +
           general_text(percent, 4) + " %)");
  if (st.valid_points == 0) return;
  const DisplayUnit unit =
      height_unit(st.min * f.scale.metres_per_count, st.max * f.scale.metres_per_count);
  const char* um = "um";  // the console gets plain ASCII
  const DisplayUnit shown{unit.per_value, unit.per_value == 1e9 ? "nm" : um};
  line(out, "Min", statistic(st.min, true, f, shown));
  line(out, "Max", statistic(st.max, true, f, shown));
  line(out, "Mean", statistic(st.mean, false, f, shown));
  line(out, "RMS", statistic(st.rms, false, f, shown));
  line(out, "Peak-to-valley", statistic(st.peak_to_valley, true, f, shown));
}

}  // namespace harnix
