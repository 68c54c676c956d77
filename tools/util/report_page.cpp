// The page skeleton and the result sections. The Content-Security-Policy forbids every script and
// every fetch but data: images, so that even a text that slipped through unescaped could run
// nothing and the page never reaches the network.
#include "util/report_page.h"

#include <cstdint>
#include <iterator>

#include "datafile/byte_order.h"
#include "export/number_text.h"
#include "util/colour_bar.h"
#include "util/html_text.h"
#include "util/loaded_file.h"
#include "util/svg_chart.h"

namespace harnix {

namespace {

constexpr const char* STYLE =
    "body{font-family:'DejaVu Sans',sans-serif;color:#222;background:#fff;max-width:1100px;"
    "margin:1.5em auto;padding:0 1em;line-height:1.4}\n"
    "h1{font-size:1.6em;margin-bottom:.2em}\n"
    "h2{border-bottom:2px solid #3b6ea5;padding-bottom:.15em;margin-top:1.8em}\n"
    "h3{font-size:1.05em;margin-bottom:.3em}\n"
    "table{border-collapse:collapse;margin:.5em 0}\n"
    "th,td{border:1px solid #ccc;padding:.2em .6em;text-align:left;vertical-align:top}\n"
    "thead th{background:#eef2f7}\n"
    "td.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}\n"
    "tr.outlier td{background:#fbe3e0}\n"
    "tr.outlier td.flag{color:#c0392b;font-weight:bold}\n"
    "figure{margin:1em 0}\n"
    ".map{display:flex;flex-wrap:wrap;gap:0 2em;align-items:flex-start}\n"
    ".figures{flex:1 1 20em}\n"
    "table.facts th{white-space:nowrap}\n"
    "figcaption{font-size:.9em;color:#555}\n"
    "img,svg.chart{max-width:100%;height:auto}\n"
    ".file{font-family:monospace;font-weight:normal;overflow-wrap:anywhere}\n"
    "td.file{min-width:16em}\n"
    ".comment{font-style:italic}\n"
    ".warning{background:#fff4d6;border:1px solid #e0b84c;padding:.4em .6em}\n"
    "footer{margin-top:2em;font-size:.85em;color:#666}\n";

const char* kind_class(ResultKind kind) {
  static const char* const CLASSES[] = {"average", "deviation", "count",       "rejected",
                                        "minimum", "maximum",   "range",       "uncertainty",
                                        "other"};
  static_assert(std::size(CLASSES) == RESULT_OTHER + 1, "a class for every kind");
  return CLASSES[kind];
}

std::string text_element(const char* tag, const std::string& text, const char* cls = nullptr) {
  std::string open = std::string("<") + tag;
  if (cls != nullptr) open += std::string(" class=\"") + cls + "\"";
  return open + ">" + html_escaped(text) + "</" + tag + ">\n";
}

// A length in nm below 1 µm, else in µm, with `digits` significant digits.
std::string length_text(double metres, int digits = 4) {
  const DisplayUnit unit = height_unit(metres, metres);
  return general_text(metres * unit.per_value, digits) + " " + unit.name;
}

// The preview as an <img>, its size taken from the PNG's header (width and height, big-endian,
// at bytes 16 and 20) so that the page lays out before the image is decoded.
std::string preview_image(const ResultSection& s) {
  std::string size;
  if (s.png.size() >= 24)
    size = " width=\"" + std::to_string(load_be32(reinterpret_cast<const uint8_t*>(&s.png[16]))) +
           "\" height=\"" +
           std::to_string(load_be32(reinterpret_cast<const uint8_t*>(&s.png[20]))) + "\"";
  std::string alt = std::string(result_title(s)) + " map of " + base_name(s.name);
  if (std::string(s.levelling) != "none") alt += std::string(", ") + s.levelling + " removed";
  return "<figure class=\"preview\"><img src=\"" + data_uri("image/png", s.png) + "\" alt=\"" +
         html_escaped(alt) + "\"" + size + "/></figure>\n";
}

std::string map_facts(const ResultSection& s) {
  const Window& w = s.window;
  std::string rows = fact_row(
      "Map window", std::to_string(w.width) + " \xC3\x97 " + std::to_string(w.height) +
                        " px at column " + std::to_string(w.x) + ", row " + std::to_string(w.y));
  const double percent =
      100.0 * static_cast<double>(s.stats.valid_points) / static_cast<double>(s.stats.total_points);
  rows += fact_row("Valid points", std::to_string(s.stats.valid_points) + " of " +
                                       std::to_string(s.stats.total_points) + " (" +
                                       general_text(percent, 4) + " %)");
  if (s.kind == RESULT_COUNT || s.kind == RESULT_REJECTED)
    rows += fact_row("Counts", "from " + fixed_text(s.stats.min, 0) + " to " +
                                   fixed_text(s.stats.max, 0) + ", mean " +
                                   general_text(s.stats.mean, 4));
  return "<table class=\"facts\"><tbody>\n" + rows + "</tbody></table>\n";
}

std::string parameters_table(const ResultSection& s) {
  const HeightParameters& p = s.parameters;
  struct Row {
    const char* name;
    std::string value;
    const char* meaning;
  } rows[] = {
      {"Sq", length_text(p.sq), "root mean square height"},
      {"Sa", length_text(p.sa), "arithmetic mean height"},
      {"Sp", length_text(p.sp), "highest peak"},
      {"Sv", length_text(p.sv), "deepest valley"},
      {"Sz", length_text(p.sz), "maximum height, Sp + Sv"},
      {"Ssk", p.shape_known ? general_text(p.ssk, 4) : "undefined", "skewness"},
      {"Sku", p.shape_known ? general_text(p.sku, 4) : "undefined", "kurtosis"},
  };
  std::string t =
      "<h3>Height parameters</h3>\n<table class=\"parameters\">"
      "<thead><tr><th>Parameter</th><th>Value</th><th>Meaning</th></tr></thead><tbody>\n";
  for (const Row& r : rows)
    t += std::string("<tr><th scope=\"row\">") + r.name + "</th><td class=\"num\">" +
         html_escaped(r.value) + "</td><td>" + r.meaning + "</td></tr>\n";
  return t + "</tbody></table>\n<p>Over " + std::to_string(p.points) +
         " valid points, heights measured from their mean, levelling: " + s.levelling + ".</p>\n";
}

// What the map means comes from the run's record: without it the removal behind the map is
// unknown, and a deviation that holds the tilt between measurements is no repeatability.
std::string repeatability_table(const Spread& r, const RunRecordSummary* run) {
  const std::string meaning =
      run != nullptr ? deviation_meaning(*run)
                     : "Without the run's record (--run) the removal behind the map is not known: "
                       "it may hold the tilt or form that changed between measurements.";
  return "<h3>Spread</h3>\n<table class=\"repeatability\"><tbody>\n" +
         fact_row("Mean standard deviation", general_text(r.mean_nm, 4) + " nm") +
         fact_row("Median standard deviation", general_text(r.median_nm, 4) + " nm") +
         fact_row("RMS standard deviation", general_text(r.rms_nm, 4) + " nm") +
         "</tbody></table>\n<p>Over the valid pixels of the map. The RMS, sqrt(mean(s\xC2\xB2)), "
         "is the deviation of one measurement pooled over the field.</p>\n" +
         text_element("p", meaning, "meaning");
}

std::string histogram_figure(const ResultSection& s) {
  const bool heights = s.kind == RESULT_AVERAGE;
  const std::string quantity = heights ? "Height" : "Standard deviation";
  const std::string x_title = quantity + " (" + s.histogram.unit + ")";
  const std::string label = "Histogram of " +
                            std::string(heights ? "heights" : "standard deviations") + " of " +
                            base_name(s.name);
  std::string caption = label;
  if (heights && std::string(s.levelling) != "none")
    caption += std::string(", ") + s.levelling + " removed";
  return "<h3>Histogram</h3>\n<figure class=\"histogram\">" +
         histogram_svg(s.histogram, x_title, label) + "<figcaption>" + html_escaped(caption) +
         "</figcaption></figure>\n";
}

std::string result_section(const ResultSection& s, std::size_t number,
                           const RunRecordSummary* run) {
  std::string h = "<section id=\"result-" + std::to_string(number) + "\" class=\"result " +
                  kind_class(s.kind) + "\">\n<h2>" + result_title(s) +
                  " <span class=\"file\">" + html_escaped(s.name) + "</span></h2>\n";
  if (!s.comment.empty()) h += text_element("p", s.comment, "comment");
  if (s.png.empty())
    return h + text_element("p", "This file " + s.note + ".", "warning") + "</section>\n";
  // The preview with its figures beside it, or below on a narrow screen.
  h += "<div class=\"map\">\n" + preview_image(s) + "<div class=\"figures\">\n" + map_facts(s);
  if (s.parameters_known) h += parameters_table(s);
  if (s.spread.known) h += repeatability_table(s.spread, run);
  h += "</div>\n</div>\n";
  if (!s.histogram.bins.empty()) h += histogram_figure(s);
  return h + "</section>\n";
}

std::string page_title(const ReportContent& c) {
  std::string names;
  for (const ResultSection& s : c.results) names += (names.empty() ? "" : ", ") + base_name(s.name);
  return "Harnix report: " + names;
}

}  // namespace

std::string report_html(const ReportContent& c) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
      "style-src 'unsafe-inline'\"/>\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"/>\n"
      "<meta name=\"generator\" content=\"harnix-util " HARNIX_VERSION "\"/>\n" +
      text_element("title", page_title(c)) + "<style>\n" + STYLE + "</style>\n</head>\n<body>\n" +
      "<header>\n<h1>Surface measurement report</h1>\n" +
      text_element("p", std::to_string(c.results.size()) + " result file" +
                            (c.results.size() == 1 ? "" : "s") + " of an averaging run") +
      "</header>\n";
  page += summary_section(c);
  for (std::size_t i = 0; i < c.results.size(); ++i) page += result_section(c.results[i], i + 1, c.run);
  if (c.inputs_name != nullptr) page += inputs_section(c);
  return page + "<footer><p>Written by harnix-util " HARNIX_VERSION
                ". Heights from phase counts \xC3\x97 IntfScaleFactor \xC3\x97 ObliquityFactor "
                "\xC3\x97 WavelengthIn / counts per fringe.</p></footer>\n</body>\n</html>\n";
}

}  // namespace harnix
