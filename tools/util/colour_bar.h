// Labels of a preview's colour bar: the display unit and evenly spaced round tick values.
#ifndef HARNIX_TOOLS_UTIL_COLOUR_BAR_H_
#define HARNIX_TOOLS_UTIL_COLOUR_BAR_H_

#include <string>
#include <vector>

namespace harnix {

struct DisplayUnit {
  double per_value;  // display units per value of the range (1e9 for metres shown in nm)
  const char* name;  // "nm", "µm", or "" for plain values
};

// nm when both ends of [lo, hi] metres lie within 1 µm of zero, else µm.
DisplayUnit height_unit(double lo_metres, double hi_metres);

struct Tick {
  double value;       // in display units, lo <= value <= hi
  std::string label;  // value with as many decimals as the step needs ("-0.5", "12")
};

// Round values (1, 2 or 5 times a power of ten apart) in [lo, hi] (display units, lo < hi),
// about `wanted` of them (at least 2 when the range holds two). With `integers` the step is at
// least 1 (for counts). Returns no ticks when lo or hi is not finite.
std::vector<Tick> colour_bar_ticks(double lo, double hi, int wanted, bool integers);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_COLOUR_BAR_H_
