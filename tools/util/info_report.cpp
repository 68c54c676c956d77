#include "util/info_report.h"

#include <cstdio>

#include "export/number_text.h"

namespace harnix {

std::vector<AttributeValue> float_attributes(const DataAttributes& a) {
  return {
      {"IntfScaleFactor", "", float_in_units(a.IntfScaleFactor, 1)},
      {"ObliquityFactor", "", float_in_units(a.ObliquityFactor, 1)},
      {"WavelengthIn", "nm", float_in_units(a.WavelengthIn, 1e9)},
      {"CameraRes", "um", float_in_units(a.CameraRes, 1e6)},
      {"PixelWidth", "um", float_in_units(a.PixelWidth, 1e6)},
      {"PixelHeight", "um", float_in_units(a.PixelHeight, 1e6)},
      {"ZoomMag", "", float_in_units(a.ZoomMag, 1)},
  };
}

std::string magic_text(uint32_t magic) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(magic));
  return text;
}

}  // namespace harnix
