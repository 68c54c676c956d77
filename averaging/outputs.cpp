#include "averaging/outputs.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

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

constexpr OutputDescriptor OUTPUTS[] = {
    {OutputKind::AVERAGE, "AvgOut", &RunSettings::AvgOutFile, "AvgOutFile", "Avg",
     "Height average map computed from %d input data files", form_average},
    {OutputKind::DEVIATION, "SdevOut", &RunSettings::SdevOutFile, "SdevOutFile", "Sdev",
     "Height standard deviation map computed from %d input data files", form_deviation},
    {OutputKind::COUNT, "CountOut", &RunSettings::CountOutFile, "CountOutFile", "Count",
     "Input count map computed from %d input data files", form_count},
};

// Device and inode of an existing file; false when the name cannot be examined.
bool file_identity(const char* name, dev_t* device, ino_t* inode) {
  std::string platform_name;
  if (!platform_file_name(name, &platform_name)) return false;
  struct stat st {};
  if (stat(platform_name.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

bool names_an_input(const char* output, const InputList& inputs) {
  dev_t out_device;
  ino_t out_inode;
  if (!file_identity(output, &out_device, &out_inode)) return false;  // nothing there yet
  for (const std::string& input : inputs.names) {
    dev_t device;
    ino_t inode;
    if (file_identity(input.c_str(), &device, &inode) && device == out_device && inode == out_inode)
      return true;
  }
  return false;
}

bool create_empty(const char* name, const InputList& inputs) {
  if (names_an_input(name, inputs)) return false;
  std::FILE* f = open_file(name, "w");
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

}  // namespace harnix
