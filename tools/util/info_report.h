// What harnix-util info shows about one file, and its two forms: aligned text for people and a
// JSON value for scripts. Both show the same facts in the same units: lengths of attributes in
// nm (WavelengthIn) or um (CameraRes, PixelWidth, PixelHeight), statistics in phase counts and
// in metres.
#ifndef HARNIX_TOOLS_UTIL_INFO_REPORT_H_
#define HARNIX_TOOLS_UTIL_INFO_REPORT_H_

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "export/utc_text.h"  // utc_text, shown beside each time stamp
#include "surface/height_parameters.h"
#include "surface/heights.h"
#include "util/loaded_file.h"

namespace harnix {

struct FileFacts {
  std::string name;        // the file name as given, made printable
  const LoadedFile* file;  // read with its intensity map
  HeightScale scale;
  PhaseStatistics stats;  // of the phase map (no points when there is none)
  // The height parameters of the levelled map (info_parameters.h); parameters_known is false
  // when they were not computed or the map has no valid point or no height scale.
  bool parameters_known = false;
  HeightParameters parameters{};
  const char* levelling = "none";
  // What the values count when the comment names a count map (report_maps.h counted_values):
  // shown as counts, never as heights; nullptr for a map of heights.
  const char* counted = nullptr;
};

// A single-precision attribute shown in people's units.
struct AttributeValue {
  const char* name;  // "WavelengthIn"
  const char* unit;  // "nm", "um" or "" (dimensionless)
  double value;      // in that unit, rounded to the attribute's single precision
};

// IntfScaleFactor, ObliquityFactor, WavelengthIn, CameraRes, PixelWidth, PixelHeight, ZoomMag.
std::vector<AttributeValue> float_attributes(const DataAttributes& a);

// "0x881B0371".
std::string magic_text(uint32_t magic);

// Writes the text block of one file (no blank line after it).
void print_info_text(const FileFacts& facts, std::FILE* out);

// The JSON object of one file.
nlohmann::json info_json(const FileFacts& facts);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_INFO_REPORT_H_
