#include "averaging/outputs.h"

#include <cstdio>
#include <string>

#include "averaging/file_stamp.h"
#include "datafile/file_name.h"
#include "maps/fused_ops.h"

namespace harnix {

namespace {

std::size_t camera_pixels(const WorkingMaps& m) {
  return std::size_t(m.camera.width) * std::size_t(m.camera.height);
}

ErrorCode form_average(WorkingMaps& m, int16_t min_count) {
  average_to_phase_span(m.sum_avg.matrix, m.count_avg.matrix, min_count, camera_pixels(m),
                        m.work.matrix);
  return NO_ERROR;
}

ErrorCode form_deviation(WorkingMaps& m, int16_t min_count) {
  return deviation_to_phase_span(deviation_sum(m).matrix, m.sum_sq.matrix,
                                 deviation_count(m).matrix, min_count, camera_pixels(m),
                                 m.work.matrix);
}

ErrorCode form_count(WorkingMaps& m, int16_t /*min_count*/) {
  count_to_phase_span(m.count_avg.matrix, camera_pixels(m), m.work.matrix);
  return NO_ERROR;
}

// The number of values rejected, where any input had a valid value.
ErrorCode form_rejected(WorkingMaps& m, int16_t /*min_count*/) {
  const std::size_t n = camera_pixels(m);
  for (std::size_t i = 0; i < n; ++i) {
    const int16_t r = m.rejected.matrix[i];
    m.work.matrix[i] = m.count_avg.matrix[i] + r > 0 ? int32_t(r) : PHASE_INVALID;
  }
  return NO_ERROR;
}

constexpr OutputDescriptor OUTPUTS[] = {
    {OutputKind::AVERAGE, "AvgOut", &RunSettings::AvgOutFile, "AvgOutFile", true, "Avg",
     "Height average map computed from %d input data files", form_average},
    {OutputKind::DEVIATION, "SdevOut", &RunSettings::SdevOutFile, "SdevOutFile", true, "Sdev",
     "Height standard deviation map computed from %d input data files", form_deviation},
    {OutputKind::COUNT, "CountOut", &RunSettings::CountOutFile, "CountOutFile", true, "Count",
     "Input count map computed from %d input data files", form_count},
    {OutputKind::REJECTED, "RejectOut", &RunSettings::RejectOutFile, "RejectOutFile", false,
     "Reject", "Rejected value count map computed from %d input data files", form_rejected},
};

bool create_empty(const char* name, const InputList& inputs) {
  if (names_an_input(name, inputs)) return false;
  std::FILE* f = open_file(name, "wb");
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

}  // namespace

std::span<const OutputDescriptor> output_descriptors() {
  return OUTPUTS;
}

const char* create_empty_outputs(const RunSettings& settings, const InputList& inputs) {
  for (const OutputDescriptor& output : output_descriptors()) {
    const char* name = output_file(settings, output);
    if (name != nullptr && !create_empty(name, inputs)) return name;
  }
  return nullptr;
}

bool names_an_input(const char* name, const InputList& inputs) {
  FileStamp out;
  if (!file_stamp(name, &out)) return false;  // nothing there yet
  for (const std::string& input : inputs.names) {
    FileStamp in;
    if (file_stamp(input.c_str(), &in) && same_file(in, out)) return true;
  }
  return false;
}

}  // namespace harnix
