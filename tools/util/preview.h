// A phase map drawn as a false-colour figure and written as PNG.
//
// The figure holds, from top to bottom: a caption (the title in bold, the comment, a details
// line), the map with its colour bar to the right, and a footer with the invalid colour's swatch
// and the colour range. Row 0 of the map is drawn at the top, column 0 at the left, as the camera
// sees them. The map is drawn at `map_pixels` on its longer side (0: its own size, enlarged by a
// whole factor to at least 480 pixels, reduced to at most 2048), each figure pixel showing the
// map pixel under its centre; text scales with the drawing so the figure reads the same at any
// size.
#ifndef HARNIX_TOOLS_UTIL_PREVIEW_H_
#define HARNIX_TOOLS_UTIL_PREVIEW_H_

#include <cstdio>
#include <string>

#include "maps/map_types.h"
#include "util/colour_maps.h"

namespace harnix {

struct PreviewInput {
  const PhaseMap* map;  // holds storage and at least one valid point
  double lo;            // colour range in phase counts, lo < hi
  double hi;
  double metres_per_count;  // > 0: values are heights (bar in nm or µm); 0: plain counts
  ColourMapKind colour_map;
  std::string title;    // UTF-8, one line each
  std::string comment;  // may be empty
  std::string details;
  std::string range_note;  // how the range was chosen, e.g. "0.5 to 99.5 percentile"
  int map_pixels;          // 0, or the longer side of the drawn map (16..8192)
  // When given, the values drawn instead of the map's, in counts, one per map point (NaN where
  // invalid); the map then gives only the window.
  const double* levelled = nullptr;
};

constexpr int PREVIEW_MIN_PIXELS = 16;
constexpr int PREVIEW_MAX_PIXELS = 8192;

// Draws the figure and writes it to `stream` as PNG, then releases the font caches (below). On
// failure returns false with `*message` set; bytes may have reached the stream.
bool write_preview_png(const PreviewInput& input, std::FILE* stream, std::string* message);

// Draws the figure and appends its PNG bytes to `*png`, keeping the font caches for the next
// figure. On failure returns false with `*message` set; `*png` may have grown. Throws
// std::bad_alloc when memory runs out.
bool preview_png_bytes(const PreviewInput& input, std::string* png, std::string* message);

// cairo and fontconfig keep the fonts they loaded for the life of the process; a one-shot tool
// hands them back after its last figure so that leak checkers see a clean exit. No figure may be
// drawn afterwards.
void release_preview_fonts();

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_PREVIEW_H_
