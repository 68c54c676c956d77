// False-colour maps for previews: 256 colours from the lowest to the highest value of a range.
//
// A value v of the range [lo, hi] takes entry floor((v - lo) / (hi - lo) * 256), clamped to
// 0..255: the 256 entries split the range into equal bins, lo takes entry 0 and hi entry 255,
// and values outside the range take the nearer end. Invalid points take INVALID_COLOUR, which
// none of the maps contains.
#ifndef HARNIX_TOOLS_UTIL_COLOUR_MAPS_H_
#define HARNIX_TOOLS_UTIL_COLOUR_MAPS_H_

#include <cstdint>

namespace harnix {

constexpr int COLOUR_MAP_ENTRIES = 256;

// viridis as published, red, green and blue in 0..1.
extern const float VIRIDIS_TABLE[COLOUR_MAP_ENTRIES][3];

enum ColourMapKind : int32_t {
  CMAP_VIRIDIS = 0,  // dark violet to yellow, perceptually uniform (the default)
  CMAP_GRAY = 1,     // black to white
  CMAP_JET = 2,      // dark blue, cyan, yellow, dark red
};

struct Rgb {
  uint8_t r;
  uint8_t g;
  uint8_t b;
};

// Magenta: far from every entry of the three maps, so a dropout never reads as a height.
constexpr Rgb INVALID_COLOUR = {255, 0, 255};

// "viridis", "gray" (or "grey") or "jet"; false for any other name.
bool parse_colour_map(const char* name, ColourMapKind* kind);
const char* colour_map_name(ColourMapKind kind);

// The map's 256 colours, each channel rounded to 8 bits.
void colour_map_palette(ColourMapKind kind, Rgb palette[COLOUR_MAP_ENTRIES]);

// Entry of v in [lo, hi] by the rule above. Precondition: lo < hi and v is not NaN.
int colour_index(double v, double lo, double hi);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_COLOUR_MAPS_H_
