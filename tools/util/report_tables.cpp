// The report's summary of the run and its per-input comparison.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "export/number_text.h"
#include "util/colour_bar.h"
#include "util/html_text.h"
#include "util/info_report.h"
#include "util/loaded_file.h"
#include "util/report_page.h"
#include "util/svg_chart.h"

namespace harnix {

namespace {

constexpr const char* NO_FIGURE = "\xE2\x80\x93";  // en dash

std::string lower_first(std::string text) {
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}

std::string inputs_text(const ReportContent& c, bool* differ) {
  std::string all;
  int64_t first = -1;
  *differ = false;
  for (const ResultSection& s : c.results) {
    const int64_t n = stated_inputs(s.comment);
    if (n < 0) continue;
    if (first >= 0 && n != first) *differ = true;
    if (first < 0) first = n;
    all += (all.empty() ? "" : ", ") + std::to_string(n) + " (" + base_name(s.name) + ")";
  }
  if (first < 0) return "not stated in the result files' comments";
  return *differ ? all : std::to_string(first);
}

// The facts in which a later result file differs from the first, as "camera size, time stamp".
std::string disagreements(const ReportContent& c, bool inputs_differ) {
  const DataAttributes& a = c.results[0].attributes;
  bool camera = false, resolution = false, spacing = false, stamp = false;
  for (const ResultSection& s : c.results) {
    const DataAttributes& b = s.attributes;
    camera = camera || b.CameraWidth != a.CameraWidth || b.CameraHeight != a.CameraHeight;
    resolution = resolution || b.PhaseRes != a.PhaseRes;
    spacing = spacing || s.scale.spacing != c.results[0].scale.spacing;
    stamp = stamp || b.TimeStamp != a.TimeStamp;
  }
  std::string list;
  const std::pair<bool, const char*> facts[] = {{inputs_differ, "number of inputs"},
                                                {camera, "camera size"},
                                                {resolution, "phase resolution"},
                                                {spacing, "lateral spacing"},
                                                {stamp, "time stamp"}};
  for (const auto& [differs, name] : facts)
    if (differs) list += (list.empty() ? "" : ", ") + std::string(name);
  return list;
}

std::string levelling_text(Levelling level) {
  if (level == LEVEL_NONE) return "none: every map as stored";
  return std::string(levelling_name(level)) +
         ": taken off the height maps before their previews, histograms and parameters; the "
         "standard deviation and count maps are shown as stored";
}

std::string figure_cell(const Figure& f, double factor, bool whole) {
  if (!f.known) return "<td class=\"num\">" + std::string(NO_FIGURE) + "</td>";
  return "<td class=\"num\">" +
         (whole ? fixed_text(f.value, 0) : general_text(f.value * factor, 4)) + "</td>";
}

std::string rms_chart(const std::vector<InputRow>& rows) {
  double highest = 0;
  bool any = false;
  for (const InputRow& r : rows)
    if (r.rms_diff_m.known) highest = std::max(highest, r.rms_diff_m.value), any = true;
  if (!any) return "<p>No input has an rms_diff figure to chart.</p>\n";
  const DisplayUnit unit = height_unit(0, highest);
  // Lengths beyond any instrument's would overflow the chart's scale.
  if (!std::isfinite(highest * unit.per_value * 2))
    return "<p>The rms_diff figures are too large to chart.</p>\n";
  std::vector<ChartBar> bars;
  for (const InputRow& r : rows)
    bars.push_back({std::to_string(r.index), r.rms_diff_m.known,
                    r.rms_diff_m.value * unit.per_value, r.outlier == OUTLIER_YES});
  const std::string label = "RMS difference from the average per input";
  return "<figure class=\"rms-chart\">" +
         bar_chart_svg(bars, "Input (index)", std::string("RMS difference (") + unit.name + ")",
                       "outlier", label) +
         "<figcaption>" + label + ", after each input's tilt is removed.</figcaption></figure>\n";
}

}  // namespace

std::string fact_row(const std::string& label, const std::string& value) {
  return "<tr><th scope=\"row\">" + html_escaped(label) + "</th><td>" + html_escaped(value) +
         "</td></tr>\n";
}

std::string summary_section(const ReportContent& c) {
  const ResultSection& first = c.results[0];
  const DataAttributes& a = first.attributes;
  bool inputs_differ = false;
  std::string rows = fact_row("Input measurements", inputs_text(c, &inputs_differ));
  std::string files;
  for (const ResultSection& s : c.results)
    files += (files.empty() ? "" : ", ") + base_name(s.name) + " (" +
             lower_first(result_title(s)) + ")";
  rows += fact_row("Result files", files);
  rows += fact_row("Camera", std::to_string(a.CameraWidth) + " \xC3\x97 " +
                                 std::to_string(a.CameraHeight) + " px");
  rows +=
      fact_row("Lateral spacing",
               first.scale.spacing_source == nullptr
                   ? "unknown (CameraRes and PixelWidth are not positive)"
                   : shortest_text(float_in_units(static_cast<float>(first.scale.spacing), 1e6)) +
                         " \xC2\xB5m per pixel (" + first.scale.spacing_source + ")");
  std::string resolution = std::string(phase_res_label(a.PhaseRes)) + ", " +
                           std::to_string(phase_res_counts(a.PhaseRes)) + " counts per fringe";
  if (first.scale.height_known)
    resolution += "; " + general_text(first.scale.metres_per_count * 1e12, 4) + " pm per count";
  rows += fact_row("Output phase resolution", resolution);
  rows += fact_row("Wavelength", shortest_text(float_in_units(a.WavelengthIn, 1e9)) + " nm");
  rows += fact_row("Time stamp", utc_text(a.TimeStamp) + " (UTC; the latest input's)");
  rows += fact_row("Levelling", levelling_text(c.level));
  if (c.inputs_name != nullptr) {
    const auto outliers = std::count_if(c.inputs.begin(), c.inputs.end(),
                                        [](const InputRow& r) { return r.outlier == OUTLIER_YES; });
    rows += fact_row("Per-input report", printable_text(c.inputs_name, std::strlen(c.inputs_name)) +
                                             ": " + std::to_string(c.inputs.size()) +
                                             " inputs, outliers: " + std::to_string(outliers));
  }
  if (c.run != nullptr) {
    const RunRecordSummary& r = *c.run;
    rows += fact_row("Run record", printable_text(r.name.c_str(), r.name.size()) + ": " +
                                       r.program + ", " + r.started + " to " + r.ended +
                                       (r.ok ? ", succeeded" : ", failed at " + r.failure));
    for (const auto& [name, value] : r.settings) rows += fact_row(name, value);
  }
  std::string section =
      "<section id=\"summary\">\n<h2>Run summary</h2>\n"
      "<table class=\"facts\"><tbody>\n" +
      rows + "</tbody></table>\n";
  const std::string differ = disagreements(c, inputs_differ);
  if (!differ.empty())
    section += "<p class=\"warning\">" +
               html_escaped("The result files differ in " + differ +
                            ": they may come from different runs. The summary shows the first "
                            "file's values.") +
               "</p>\n";
  return section + "</section>\n";
}

std::string inputs_section(const ReportContent& c) {
  std::string s =
      "<section id=\"inputs\">\n<h2>Per-input comparison</h2>\n<p>Each input against "
      "the final average, from <span class=\"file\">" +
      html_escaped(printable_text(c.inputs_name, std::strlen(c.inputs_name))) +
      "</span>. Outliers are highlighted.</p>\n"
      "<table class=\"inputs\"><thead><tr><th>Index</th><th>File</th>"
      "<th>Valid px</th><th>Rejected px</th><th>Compared px</th>"
      "<th>Mean difference (nm)</th><th>Tilt x (\xC2\xB5rad)</th>"
      "<th>Tilt y (\xC2\xB5rad)</th><th>RMS difference (nm)</th><th>Outlier</th>"
      "</tr></thead><tbody>\n";
  for (const InputRow& r : c.inputs) {
    const bool outlier = r.outlier == OUTLIER_YES;
    s += std::string(outlier ? "<tr class=\"outlier\">" : "<tr>") + "<td class=\"num\">" +
         std::to_string(r.index) + "</td><td class=\"file\">" + html_escaped(r.file) + "</td>" +
         figure_cell(r.valid_pixels, 1, true) + figure_cell(r.rejected_pixels, 1, true) +
         figure_cell(r.compared_pixels, 1, true) + figure_cell(r.mean_diff_m, 1e9, false) +
         figure_cell(r.tilt_x, 1e6, false) + figure_cell(r.tilt_y, 1e6, false) +
         figure_cell(r.rms_diff_m, 1e9, false) + "<td class=\"flag\">" +
         (r.outlier == OUTLIER_UNKNOWN ? NO_FIGURE
          : outlier                    ? "yes"
                                       : "no") +
         "</td></tr>\n";
  }
  return s + "</tbody></table>\n" + rms_chart(c.inputs) + "</section>\n";
}

}  // namespace harnix
