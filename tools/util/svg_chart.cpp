// Both charts share one frame: a plot area inside fixed margins, an x and a y axis mapping data
// values linearly onto it, ticks at the round values colour_bar_ticks picks for the preview's
// colour bar, and the axis titles below and (turned) left of the plot.
#include "util/svg_chart.h"

#include <algorithm>
#include <cmath>

#include "export/number_text.h"
#include "util/colour_bar.h"
#include "util/html_text.h"

namespace harnix {

namespace {

constexpr double WIDTH = 720;
constexpr double HEIGHT = 300;
constexpr double LEFT = 76;  // room for the y tick labels and the turned title
constexpr double RIGHT = 16;
constexpr double TOP = 24;
constexpr double BOTTOM = 54;  // room for the x tick labels and the title
constexpr double TICK_LENGTH = 5;
constexpr int WANTED_TICKS = 6;
// The y axis reaches a little above the highest bar so that it never touches the frame.
constexpr double HEADROOM = 1.05;
constexpr const char* BAR_COLOUR = "#3b6ea5";
constexpr const char* HIGHLIGHT_COLOUR = "#c0392b";

std::string num(double v) {
  return fixed_text(v, 1);
}

class Frame {
 public:
  // y_whole: the y values are counts, ticked at whole numbers only.
  Frame(double x_lo, double x_hi, double y_hi, bool y_whole)
      : x_lo_(x_lo), x_hi_(x_hi), y_hi_(y_hi), y_whole_(y_whole) {}

  double x(double v) const { return LEFT + (v - x_lo_) / (x_hi_ - x_lo_) * plot_width(); }
  double y(double v) const { return TOP + (1 - v / y_hi_) * plot_height(); }
  static double plot_width() { return WIDTH - LEFT - RIGHT; }
  static double plot_height() { return HEIGHT - TOP - BOTTOM; }

  std::string open(const std::string& label) const {
    return "<svg class=\"chart\" viewBox=\"0 0 " + num(WIDTH) + " " + num(HEIGHT) +
           "\" width=\"" + num(WIDTH) + "\" height=\"" + num(HEIGHT) +
           "\" role=\"img\" aria-label=\"" + html_escaped(label) + "\">\n<title>" +
           html_escaped(label) + "</title>\n";
  }

  // Both axes with their ticks, labels and titles; `x_ticks` at their values on the x axis.
  std::string axes(const std::vector<Tick>& x_ticks, const std::string& x_title,
                   const std::string& y_title) const {
    const double bottom = TOP + plot_height();
    std::string s = "<g class=\"axes\" stroke=\"#333\" fill=\"none\"><path d=\"M" + num(LEFT) +
                    " " + num(TOP) + "V" + num(bottom) + "H" + num(WIDTH - RIGHT) + "\"/>";
    for (const Tick& t : x_ticks)
      s += "<path d=\"M" + num(x(t.value)) + " " + num(bottom) + "v" + num(TICK_LENGTH) + "\"/>";
    const std::vector<Tick> y_ticks = colour_bar_ticks(0, y_hi_, WANTED_TICKS, y_whole_);
    for (const Tick& t : y_ticks)
      s += "<path d=\"M" + num(LEFT) + " " + num(y(t.value)) + "h" + num(-TICK_LENGTH) + "\"/>";
    s += "</g>\n<g class=\"labels\" font-family=\"sans-serif\" font-size=\"12\" fill=\"#222\">";
    for (const Tick& t : x_ticks)
      s += "<text x=\"" + num(x(t.value)) + "\" y=\"" + num(bottom + TICK_LENGTH + 14) +
           "\" text-anchor=\"middle\">" + html_escaped(t.label) + "</text>";
    for (const Tick& t : y_ticks)
      s += "<text x=\"" + num(LEFT - TICK_LENGTH - 3) + "\" y=\"" + num(y(t.value) + 4) +
           "\" text-anchor=\"end\">" + html_escaped(t.label) + "</text>";
    s += "<text class=\"x-title\" x=\"" + num(LEFT + plot_width() / 2) + "\" y=\"" +
         num(HEIGHT - 8) + "\" text-anchor=\"middle\" font-size=\"13\">" + html_escaped(x_title) +
         "</text>";
    const double mid = TOP + plot_height() / 2;
    s += "<text class=\"y-title\" x=\"16\" y=\"" + num(mid) + "\" transform=\"rotate(-90 16 " +
         num(mid) + ")\" text-anchor=\"middle\" font-size=\"13\">" + html_escaped(y_title) +
         "</text></g>\n";
    return s;
  }

  std::string bar(double x_from, double x_to, double value, const char* colour) const {
    const double top = y(value);
    return "<rect x=\"" + num(x(x_from)) + "\" y=\"" + num(top) + "\" width=\"" +
           fixed_text(x(x_to) - x(x_from), 3) + "\" height=\"" + num(y(0) - top) + "\" fill=\"" +
           colour + "\"/>";
  }

 private:
  double x_lo_, x_hi_, y_hi_;
  bool y_whole_;
};

}  // namespace

std::string histogram_svg(const Histogram& h, const std::string& x_title,
                          const std::string& label) {
  const int64_t highest = *std::max_element(h.bins.begin(), h.bins.end());
  const double x_hi = h.lo + h.width * static_cast<double>(h.bins.size());
  const Frame frame(h.lo, x_hi, std::max(1.0, highest * HEADROOM), true);
  std::string s = frame.open(label) + "<g class=\"bars\">";
  for (std::size_t i = 0; i < h.bins.size(); ++i) {
    if (h.bins[i] == 0) continue;
    const double from = h.lo + h.width * static_cast<double>(i);
    s += frame.bar(from, from + h.width, static_cast<double>(h.bins[i]), BAR_COLOUR);
  }
  s += "</g>\n";
  s += frame.axes(colour_bar_ticks(h.lo, x_hi, WANTED_TICKS, false), x_title, "Pixels");
  return s + "</svg>";
}

std::string bar_chart_svg(const std::vector<ChartBar>& bars, const std::string& x_title,
                          const std::string& y_title, const std::string& highlight_name,
                          const std::string& label) {
  double highest = 0;
  bool any_highlighted = false;
  for (const ChartBar& b : bars) {
    if (b.known) highest = std::max(highest, b.value);
    any_highlighted = any_highlighted || (b.known && b.highlighted);
  }
  const double n = static_cast<double>(bars.size());
  const Frame frame(-0.5, n - 0.5, highest > 0 ? highest * HEADROOM : 1.0, false);
  // Bars take 80 % of their slot, gaps the rest.
  std::string s = frame.open(label) + "<g class=\"bars\">";
  for (std::size_t i = 0; i < bars.size(); ++i) {
    if (!bars[i].known) continue;
    const double at = static_cast<double>(i);
    s += frame.bar(at - 0.4, at + 0.4, bars[i].value,
                   bars[i].highlighted ? HIGHLIGHT_COLOUR : BAR_COLOUR);
  }
  s += "</g>\n";
  // Ticks at round positions of the bars, labelled with the bars' own labels.
  std::vector<Tick> ticks = colour_bar_ticks(0, std::max(1.0, n - 1), WANTED_TICKS, true);
  ticks.erase(
      std::remove_if(ticks.begin(), ticks.end(), [&](const Tick& t) { return t.value >= n; }),
      ticks.end());
  for (Tick& t : ticks) t.label = bars[static_cast<std::size_t>(t.value)].tick;
  s += frame.axes(ticks, x_title, y_title);
  if (any_highlighted) {
    const double x = WIDTH - RIGHT - 110;
    s += "<g class=\"legend\" font-family=\"sans-serif\" font-size=\"12\"><rect x=\"" + num(x) +
         "\" y=\"6\" width=\"12\" height=\"12\" fill=\"" + HIGHLIGHT_COLOUR + "\"/><text x=\"" +
         num(x + 18) + "\" y=\"16\" fill=\"#222\">" + html_escaped(highlight_name) +
         "</text></g>\n";
  }
  return s + "</svg>";
}

}  // namespace harnix
