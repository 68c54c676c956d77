#include "util/info_parameters.h"
#include "util/info_report.h"

namespace harnix {

namespace {

nlohmann::json window_json(const Window& w) {
  return {{"x", w.x}, {"y", w.y}, {"width", w.width}, {"height", w.height}};
}

nlohmann::json statistics_json(const PhaseStatistics& st, double per_count) {
  return {{"min", st.min * per_count},
          {"max", st.max * per_count},
          {"mean", st.mean * per_count},
          {"rms", st.rms * per_count},
          {"peak_to_valley", st.peak_to_valley * per_count}};
}

}  // namespace

nlohmann::json info_json(const FileFacts& f) {
  const LoadedFile& file = *f.file;
  const DataAttributes& a = file.attributes;
  nlohmann::json j;
  j["file"] = f.name;
  j["header"] = {{"variant", header_variant(file.magic)},
                 {"magic", magic_text(file.magic)},
                 {"bytes", file.header_bytes}};

  nlohmann::json attributes = {{"TimeStamp", a.TimeStamp},
                               {"TimeStampUTC", utc_text(a.TimeStamp)},
                               {"comment", comment_text(a)},
                               {"CameraWidth", a.CameraWidth},
                               {"CameraHeight", a.CameraHeight}};
  for (const AttributeValue& v : float_attributes(a)) {
    const std::string key = *v.unit == '\0' ? v.name : std::string(v.name) + "_" + v.unit;
    attributes[key] = v.value;  // a NaN attribute becomes null
  }
  attributes["PhaseRes"] = a.PhaseRes;
  attributes["PhaseResLabel"] = phase_res_label(a.PhaseRes);
  attributes["CountsPerFringe"] = phase_res_counts(a.PhaseRes);
  j["attributes"] = attributes;

  const IntensityMap& in = file.intensity;
  j["intensity_window"] = nullptr;
  if (in.matrix != nullptr) {
    j["intensity_window"] = window_json(in.window);
    j["intensity_window"]["n_buckets"] = in.n_buckets;
    j["intensity_window"]["range"] = in.range;
  }
  j["phase_window"] = nullptr;
  if (file.phase.matrix != nullptr) j["phase_window"] = window_json(file.phase.window);

  j["height_per_count_m"] = nullptr;
  if (f.scale.height_known) j["height_per_count_m"] = f.scale.metres_per_count;
  j["lateral_spacing_m"] = nullptr;
  j["lateral_spacing_source"] = nullptr;
  if (f.scale.spacing_source != nullptr) {
    j["lateral_spacing_m"] = f.scale.spacing;
    j["lateral_spacing_source"] = f.scale.spacing_source;
  }

  j["statistics"] = nullptr;
  if (file.phase.matrix != nullptr) {
    const PhaseStatistics& st = f.stats;
    nlohmann::json s = {{"valid_points", st.valid_points},
                        {"total_points", st.total_points},
                        {"counts", nullptr},
                        {"metres", nullptr}};
    if (st.valid_points > 0) {
      s["counts"] = statistics_json(st, 1.0);
      if (f.scale.height_known && f.counted == nullptr)
        s["metres"] = statistics_json(st, f.scale.metres_per_count);
    }
    if (f.counted != nullptr) s["counted"] = f.counted;
    j["statistics"] = s;
  }
  j["parameters"] = parameters_json(f);
  return j;
}

}  // namespace harnix
