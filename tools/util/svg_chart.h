// Charts of the report as inline SVG: a histogram and a bar chart, each with both axes ticked at
// round values and titled with their quantity and unit. The charts scale with the page (viewBox)
// and use the reader's sans-serif font; every text in them is escaped.
#ifndef HARNIX_TOOLS_UTIL_SVG_CHART_H_
#define HARNIX_TOOLS_UTIL_SVG_CHART_H_

#include <string>
#include <vector>

#include "util/report_maps.h"

namespace harnix {

// The <svg> element of `h` (bins not empty): bars of the counts over the value axis titled
// `x_title` ("Height (nm)"), the y axis titled "Pixels". `label` names the chart for readers
// that cannot see it.
std::string histogram_svg(const Histogram& h, const std::string& x_title, const std::string& label);

struct ChartBar {
  std::string tick;  // the x axis label of the bar ("3")
  bool known;        // false: no bar (an empty cell)
  double value;      // >= 0 when known
  bool highlighted;  // drawn in the warning colour
};

// The <svg> element of `bars` (at least one known) side by side in their order, on a y axis from
// 0 titled `y_title`, the x axis titled `x_title`; a legend names the highlighted colour
// `highlight_name` when a bar has it.
std::string bar_chart_svg(const std::vector<ChartBar>& bars, const std::string& x_title,
                          const std::string& y_title, const std::string& highlight_name,
                          const std::string& label);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_SVG_CHART_H_
