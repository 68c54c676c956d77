// jet is the piecewise-linear map of t = i / 255 in [0, 1]:
//   red = clamp(1.5 - |4t - 3|), green = clamp(1.5 - |4t - 2|), blue = clamp(1.5 - |4t - 1|),
// dark blue at 0, blue-cyan-yellow-red in between, dark red at 1. Scaled to 8 bits every channel
// is 382.5 - |4i - 255k| (k = 3, 2, 1), always a half, so it is computed in integers with the
// halves rounded up: 383 - |4i - 255k|, clamped to 0..255. gray is i on all three channels.
// viridis is the published table.
#include "util/colour_maps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace harnix {

namespace {

uint8_t channel(double v) {
  return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

uint8_t jet_channel(int i, int k) {
  return static_cast<uint8_t>(std::clamp(383 - std::abs(4 * i - 255 * k), 0, 255));
}

}  // namespace

bool parse_colour_map(const char* name, ColourMapKind* kind) {
  if (std::strcmp(name, "viridis") == 0) {
    *kind = CMAP_VIRIDIS;
  } else if (std::strcmp(name, "gray") == 0 || std::strcmp(name, "grey") == 0) {
    *kind = CMAP_GRAY;
  } else if (std::strcmp(name, "jet") == 0) {
    *kind = CMAP_JET;
  } else {
    return false;
  }
  return true;
}

const char* colour_map_name(ColourMapKind kind) {
  switch (kind) {
    case CMAP_GRAY:
      return "gray";
    case CMAP_JET:
      return "jet";
    default:
      return "viridis";
  }
}

void colour_map_palette(ColourMapKind kind, Rgb palette[COLOUR_MAP_ENTRIES]) {
  for (int i = 0; i < COLOUR_MAP_ENTRIES; ++i) {
    switch (kind) {
      case CMAP_GRAY:
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
        break;
      case CMAP_JET:
        palette[i] = {jet_channel(i, 3), jet_channel(i, 2), jet_channel(i, 1)};
        break;
      default:
        palette[i] = {channel(VIRIDIS_TABLE[i][0]), channel(VIRIDIS_TABLE[i][1]),
                      channel(VIRIDIS_TABLE[i][2])};
        break;
    }
  }
}

int colour_index(double v, double lo, double hi) {
  const double bin = std::floor((v - lo) / (hi - lo) * COLOUR_MAP_ENTRIES);
  return static_cast<int>(std::clamp(bin, 0.0, static_cast<double>(COLOUR_MAP_ENTRIES - 1)));
}

}  // namespace harnix
