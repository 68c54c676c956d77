// The PNG export: a preview figure of one loaded file.
#ifndef HARNIX_TOOLS_UTIL_EXPORT_PNG_H_
#define HARNIX_TOOLS_UTIL_EXPORT_PNG_H_

#include <cstdio>
#include <string>

#include "export/export_formats.h"
#include "util/colour_maps.h"
#include "util/preview.h"

namespace harnix {

struct PngOptions {
  ColourMapKind colour_map;
  bool full_range;       // colour range from the smallest to the largest valid value
  double lo_percentile;  // otherwise these percentiles of the valid values, 0 <= lo < hi <= 100
  double hi_percentile;
  int map_pixels;  // 0 or PREVIEW_MIN_PIXELS..PREVIEW_MAX_PIXELS
};

// The figure of `data` (whose map holds at least one valid point): its colour range by
// `options`, the caption and the details line. The result points into `data`. Throws
// std::bad_alloc when memory runs out.
PreviewInput png_preview(const ExportData& data, const PngOptions& options);

// Draws png_preview(data, options) and writes the PNG to `stream`. Throws std::bad_alloc when
// memory runs out.
bool write_png(const ExportData& data, const PngOptions& options, std::FILE* stream,
               std::string* message);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_EXPORT_PNG_H_
