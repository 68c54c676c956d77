// Fuzz target: one data file read from memory, then its attributes checked as the averaging run
// checks them.
//
// The bytes are read twice through a memory stream: once asking for every part (origin,
// attributes, intensity and phase maps), once as the run reads an input (no intensity map, so
// its block is skipped). Each read must end in NO_ERROR with maps whose storage covers their
// windows, or in an error code with the maps released. The attributes then go through
// validate_attributes with and without the camera size required, and a map that passes through
// the bounding-window search the run performs next.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datafile/data_file.h"
#include "datafile/validate.h"
#include "fuzz/fuzz_support.h"
#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// The reader's promise: on success a map with storage covers its window; on failure no map
// holds storage.
void check_read(ErrorCode rc, const IntensityMap* intensity, const PhaseMap& phase) {
  if (rc != NO_ERROR) {
    FUZZ_CHECK(phase.matrix == nullptr && phase.size == 0);
    FUZZ_CHECK(intensity == nullptr || intensity->matrix == nullptr);
    return;
  }
  if (phase.matrix != nullptr) FUZZ_CHECK(map_holds_window(phase));
  if (intensity != nullptr && intensity->matrix != nullptr) {
    const uint64_t n = uint64_t(intensity->n_buckets) * uint64_t(intensity->window.width) *
                       uint64_t(intensity->window.height);
    FUZZ_CHECK(n > 0 && n <= intensity->size);
  }
}

void validate(DataAttributes& attributes, const IntensityMap* intensity, PhaseMap& phase) {
  char text[512];
  for (bool camera_required : {true, false}) {
    DataAttributes copy = attributes;
    const ErrorCode rc = validate_attributes(&copy, intensity, &phase, camera_required, text);
    FUZZ_CHECK(std::strlen(text) < 57);
    if (rc != NO_ERROR) FUZZ_CHECK(text[0] != '\0');
  }
  if (phase.matrix != nullptr) {
    Window valid{};
    (void)phase_map_valid_window(phase, nullptr, &valid);
  }
}

void read_twice(std::vector<uint8_t>& bytes) {
  OriginInfo origin;
  DataAttributes attributes{};
  IntensityMap intensity;
  PhaseMap phase;
  std::FILE* stream = open_memory_stream(bytes);
  ErrorCode rc = read_data_stream(stream, &origin, &attributes, &intensity, &phase);
  std::fclose(stream);
  check_read(rc, &intensity, phase);
  if (rc == NO_ERROR) validate(attributes, &intensity, phase);
  map_free(intensity);
  map_free(phase);

  stream = open_memory_stream(bytes);
  rc = read_data_stream(stream, nullptr, &attributes, nullptr, &phase);
  std::fclose(stream);
  check_read(rc, nullptr, phase);
  if (rc == NO_ERROR) validate(attributes, nullptr, phase);
  map_free(phase);
}

}  // namespace

}  // namespace harnix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace harnix;
  std::vector<uint8_t> bytes(data, data + size);
  // The reader never allocates more than the bytes it was given can fill.
  const AllocationBalance balance(std::size_t{64} << 20);
  read_twice(bytes);
  balance.check();
  return 0;
}
