// The averaging run step by step over camera-sized working maps (see straightforward_run.h):
// a copy of the run before its passes were fused, with its working maps, left as it was.
#include "reference/straightforward_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "averaging/outputs.h"
#include "averaging/tolerance.h"
#include "base/error_codes.h"
#include "cli/console.h"
#include "cli/progress_report.h"
#include "datafile/attributes.h"
#include "datafile/data_file.h"
#include "datafile/validate.h"
#include "fit/remove.h"
#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// The failure's message has been printed where it happened.
constexpr ErrorCode ALREADY_REPORTED = ErrorCode(-1);

struct WorkingMaps {
  PhaseMap work_phase;
  RealMap work_height;
  RealMap sum_avg;
  CountMap count_avg;
  RealMap sum_dev;
  CountMap count_dev;
  RealMap sum_sq;
  CountMap count_sq;
};

void working_maps_init(WorkingMaps& maps) {
  map_init(maps.work_phase);
  map_init(maps.work_height);
  map_init(maps.sum_avg);
  map_init(maps.count_avg);
  map_init(maps.sum_dev);
  map_init(maps.count_dev);
  map_init(maps.sum_sq);
  map_init(maps.count_sq);
}

template <typename Map>
ErrorCode create_over(Map& map, const Window& window) {
  map.window = window;
  return map_alloc(map);
}

// The memory bound of the optimised run is left out: the tests never come near it.
ErrorCode working_maps_create(WorkingMaps& maps, int16_t width, int16_t height) {
  const Window camera{0, 0, width, height};
  ErrorCode rc = NO_ERROR;
  if ((rc = create_over(maps.work_phase, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.work_height, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_avg, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_avg, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_dev, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_dev, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.sum_sq, camera)) != NO_ERROR) return rc;
  if ((rc = create_over(maps.count_sq, camera)) != NO_ERROR) return rc;
  map_fill(maps.sum_avg, REAL_INVALID);
  map_fill(maps.sum_dev, REAL_INVALID);
  map_fill(maps.sum_sq, REAL_INVALID);
  map_fill(maps.count_avg, int16_t{0});
  map_fill(maps.count_dev, int16_t{0});
  map_fill(maps.count_sq, int16_t{0});
  return NO_ERROR;
}

void working_maps_free(WorkingMaps& maps) {
  map_free(maps.work_phase);
  map_free(maps.work_height);
  map_free(maps.sum_avg);
  map_free(maps.count_avg);
  map_free(maps.sum_dev);
  map_free(maps.count_dev);
  map_free(maps.sum_sq);
  map_free(maps.count_sq);
}

// Scaling is skipped when F lies this close to 1, so that inputs taken like the first are
// neither multiplied nor re-rounded.
constexpr double SCALE_FACTOR_EPSILON = 1e-10;

// Size of the buffer the validation text is written into.
constexpr int VALIDATION_TEXT_BYTES = 512;

struct RunState {
  WorkingMaps maps;
  PhaseMap input_map;         // each input in its own window; later each output in its window
  OriginInfo input_origin;    // filled by the reader, read by nobody
  DataAttributes attributes;  // the current input's
  DataAttributes reference;   // the first input's
  bool have_reference;
  int32_t out_code;    // output PhaseRes code
  int32_t out_counts;  // output counts per fringe
  int32_t latest_stamp;
};

// Camera size, CameraRes and ZoomMag of a later input against the first.
ErrorCode check_geometry(const DataAttributes& ref, const DataAttributes& a, const char* name) {
  if (a.CameraWidth != ref.CameraWidth || a.CameraHeight != ref.CameraHeight) {
    print_error_line("%s\nERROR: Input file \"%s\" has mismatched CameraWidth or CameraHeight\n",
                     PROGRAM_NAME, name);
    return ALREADY_REPORTED;
  }
  if (!within_tolerance(ref.CameraRes, a.CameraRes, GEOMETRY_TOLERANCE_PERCENT)) {
    print_error_line("%s\nERROR: Input file \"%s\" has mismatched CameraRes\n", PROGRAM_NAME, name);
    return ALREADY_REPORTED;
  }
  if (!within_tolerance(ref.ZoomMag, a.ZoomMag, GEOMETRY_TOLERANCE_PERCENT)) {
    print_error_line("%s\nERROR: Input file \"%s\" has mismatched ZoomMag\n", PROGRAM_NAME, name);
    return ALREADY_REPORTED;
  }
  return NO_ERROR;
}

double phase_scale_factor(const DataAttributes& a, const DataAttributes& ref, int32_t out_counts) {
  const double numerator = double(a.IntfScaleFactor) * double(out_counts) *
                           double(a.ObliquityFactor) * double(a.WavelengthIn);
  const double denominator = double(phase_res_counts(a.PhaseRes)) * double(ref.IntfScaleFactor) *
                             1.0 * double(ref.WavelengthIn);
  return numerator / denominator;
}

// Reads one input and checks it; on success input_map holds its phase map and `valid` the
// bounding window of its valid values.
ErrorCode read_input(const RunSettings& settings, int32_t index, const char* name, RunState& run,
                     Window* valid) {
  if (settings.Verbose) report_input_name(index, name);
  ErrorCode rc = read_data_file(name, &run.input_origin, &run.attributes, nullptr, &run.input_map);
  if (rc != NO_ERROR) {
    print_error_line("%s\nERROR: Error reading input file \"%s\"\n", PROGRAM_NAME, name);
    return rc;
  }
  char text[VALIDATION_TEXT_BYTES] = "";
  rc = validate_attributes(&run.attributes, nullptr, &run.input_map, true, text);
  if (rc != NO_ERROR) {
    print_error_line("%s\nERROR: Invalid attribute information in input file \"%s\"\n",
                     PROGRAM_NAME, name);
    print_error_line("%s\n", text);
    return rc;
  }
  if (run.input_map.matrix == nullptr) {
    print_error_line("%s\nERROR: Input file \"%s\" contains no height data\n", PROGRAM_NAME, name);
    return ALREADY_REPORTED;
  }
  rc = phase_map_valid_window(run.input_map, nullptr, valid);
  if (rc == ERR_ALL_BAD_DATA) {
    print_error_line("%s\nERROR: Input file \"%s\" contains no valid data points\n", PROGRAM_NAME,
                     name);
    return ALREADY_REPORTED;
  }
  if (rc != NO_ERROR) return rc;
  const DataAttributes& a = run.attributes;
  if (a.TimeStamp > run.latest_stamp) run.latest_stamp = a.TimeStamp;
  if (settings.Verbose) report_input_attributes(a, *valid);
  return NO_ERROR;
}

// Adds the input in input_map (released here) to the sums.
ErrorCode add_input(const RunSettings& settings, RunState& run) {
  WorkingMaps& m = run.maps;
  map_fill(m.work_phase, PHASE_INVALID);
  const Window in_window = run.input_map.window;
  ErrorCode rc = phase_map_copy_window(run.input_map, in_window, m.work_phase, in_window);
  map_free(run.input_map);
  if (rc != NO_ERROR) return rc;
  if ((rc = phase_to_real(m.work_phase, m.work_height)) != NO_ERROR) return rc;

  const double f = phase_scale_factor(run.attributes, run.reference, run.out_counts);
  // Finite positive factors always give a finite positive F. Should a factor that is not a
  // number or infinite ever pass the attribute checks, F would turn every value into nonsense
  // (or, being NaN, fail the test below and skip the scaling unnoticed): end the run instead.
  if (!(f > 0.0) || !std::isfinite(f)) return ERR_PARAM_OUT_OF_RANGE;
  if (std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON) {
    if ((rc = real_map_scale(m.work_height, f)) != NO_ERROR) return rc;
    if ((rc = real_to_phase(m.work_height, m.work_phase)) != NO_ERROR) return rc;
  }
  if ((rc = real_map_accumulate(m.work_height, m.sum_avg, m.count_avg)) != NO_ERROR) return rc;

  if (settings.SdevOutFile == nullptr) return NO_ERROR;
  if (settings.SdevRemove != RemovalMode::NONE) {
    // A fit that fails leaves the map as it was: the input then enters unremoved. The options
    // Piston, Plane and Sphere are the fits 0, 1 and 2.
    (void)remove_best_fit(m.work_phase, int32_t(settings.SdevRemove), nullptr);
  }
  if ((rc = phase_to_real(m.work_phase, m.work_height)) != NO_ERROR) return rc;
  if ((rc = real_map_accumulate(m.work_height, m.sum_dev, m.count_dev)) != NO_ERROR) return rc;
  if ((rc = real_map_square(m.work_height)) != NO_ERROR) return rc;
  return real_map_accumulate(m.work_height, m.sum_sq, m.count_sq);
}

ErrorCode accumulate_inputs(const RunSettings& settings, const InputList& inputs, RunState& run) {
  for (std::size_t i = 0; i < inputs.names.size(); ++i) {
    const char* name = inputs.names[i].c_str();
    Window valid{};
    ErrorCode rc = read_input(settings, int32_t(i + 1), name, run, &valid);
    if (rc != NO_ERROR) return rc;
    if (!run.have_reference) {
      run.reference = run.attributes;
      run.have_reference = true;
      if (settings.PhaseRes == PHASE_RES_FROM_INPUT) {
        run.out_code = run.attributes.PhaseRes;
        run.out_counts = phase_res_counts(run.out_code);
      }
      rc = working_maps_create(run.maps, run.reference.CameraWidth, run.reference.CameraHeight);
      if (rc != NO_ERROR) return rc;
    } else if ((rc = check_geometry(run.reference, run.attributes, name)) != NO_ERROR) {
      return rc;
    }
    if ((rc = add_input(settings, run)) != NO_ERROR) return rc;
  }
  return NO_ERROR;
}

void set_comment(DataAttributes& out, const char* format, int32_t n_inputs) {
  char text[256];
  std::snprintf(text, sizeof text, format, int(n_inputs));
  // At most 81 characters and a terminating zero.
  const std::size_t length = std::min(std::strlen(text), sizeof out.comment - 1);
  std::memset(out.comment, 0, sizeof out.comment);
  std::memcpy(out.comment, text, length);
}

// Where the result lies on the camera: the bounding window of the valid values of work_phase.
// The average has a message of its own for a map without any; the other two end with
// ERR_ALL_BAD_DATA.
ErrorCode result_window(const PhaseMap& result, bool is_average, Window* w) {
  const ErrorCode rc = phase_map_valid_window(result, nullptr, w);
  if (rc == ERR_ALL_BAD_DATA && is_average) {
    print_error_line("%s\nERROR: Height average map contains no valid data points\n", PROGRAM_NAME);
    return ALREADY_REPORTED;
  }
  return rc;
}

// Cuts work_phase to the bounding window of its valid values and writes it.
ErrorCode write_result(const RunSettings& settings, const char* name, bool is_average,
                       const char* prefix, const char* comment_format, int32_t n_inputs,
                       DataAttributes& out, RunState& run) {
  Window w{};
  ErrorCode rc = result_window(run.maps.work_phase, is_average, &w);
  if (rc != NO_ERROR) return rc;
  if ((rc = map_resize(run.input_map, w, ResizeOptions{.reuse_larger = true})) != NO_ERROR)
    return rc;
  if ((rc = phase_map_copy_window(run.maps.work_phase, w, run.input_map, w)) != NO_ERROR) return rc;
  if (settings.Verbose) report_result_window(prefix, w);
  set_comment(out, comment_format, n_inputs);
  if ((rc = write_data_file(name, nullptr, &out, nullptr, &run.input_map)) != NO_ERROR) return rc;
  if (settings.Verbose) report_wrote(name);
  return NO_ERROR;
}

void build_output_attributes(const RunState& run, DataAttributes& out) {
  std::memset(&out, 0, sizeof out);
  const DataAttributes& ref = run.reference;
  out.TimeStamp = run.latest_stamp;
  out.CameraWidth = ref.CameraWidth;
  out.CameraHeight = ref.CameraHeight;
  out.PixelWidth = ref.PixelWidth;
  out.PixelHeight = ref.PixelHeight;
  out.CameraRes = ref.CameraRes;
  out.IntfScaleFactor = ref.IntfScaleFactor;
  out.WavelengthIn = ref.WavelengthIn;
  out.ObliquityFactor = 1.0f;
  out.PhaseRes = int16_t(run.out_code);
  out.ZoomMag = ref.ZoomMag;
}

ErrorCode write_average(const RunSettings& settings, int32_t n, int16_t min_count,
                        DataAttributes& out, RunState& run) {
  WorkingMaps& m = run.maps;
  ErrorCode rc = real_map_average(m.work_height, m.sum_avg, m.count_avg, min_count);
  if (rc != NO_ERROR) return rc;
  if ((rc = real_to_phase(m.work_height, m.work_phase)) != NO_ERROR) return rc;
  return write_result(settings, settings.AvgOutFile, true, "Avg",
                      "Height average map computed from %d input data files", n, out, run);
}

ErrorCode write_deviation(const RunSettings& settings, int32_t n, int16_t min_count,
                          DataAttributes& out, RunState& run) {
  WorkingMaps& m = run.maps;
  ErrorCode rc = real_map_square(m.sum_dev);
  if (rc != NO_ERROR) return rc;
  if ((rc = real_map_average(m.work_height, m.sum_dev, m.count_dev, min_count)) != NO_ERROR)
    return rc;
  if ((rc = real_map_subtract(m.sum_sq, m.work_height, m.sum_sq)) != NO_ERROR) return rc;
  if ((rc = real_map_average(m.work_height, m.sum_sq, m.count_sq, min_count)) != NO_ERROR)
    return rc;
  real_map_sqrt(m.work_height);
  if ((rc = real_to_phase(m.work_height, m.work_phase)) != NO_ERROR) return rc;
  return write_result(settings, settings.SdevOutFile, false, "Sdev",
                      "Height standard deviation map computed from %d input data files", n, out,
                      run);
}

ErrorCode write_count(const RunSettings& settings, int32_t n, DataAttributes& out, RunState& run) {
  WorkingMaps& m = run.maps;
  // Both maps lie on the camera window, so their storage runs in step.
  const std::size_t pixels = std::size_t(m.count_avg.window.width) * m.count_avg.window.height;
  const int16_t* counts = m.count_avg.matrix;
  int32_t* phase = m.work_phase.matrix;
  for (std::size_t i = 0; i < pixels; ++i) phase[i] = counts[i] != 0 ? counts[i] : PHASE_INVALID;
  return write_result(settings, settings.CountOutFile, false, "Count",
                      "Input count map computed from %d input data files", n, out, run);
}

ErrorCode write_results(const RunSettings& settings, int32_t n, RunState& run) {
  DataAttributes out;
  build_output_attributes(run, out);
  // The resolved minimum lies in [1, N], N at most 10000; clamp anything else into the counts'
  // range (a minimum of 0 or less counts as 1).
  const int32_t min_valid = settings.MinValidCnt > INT16_MAX ? INT16_MAX : settings.MinValidCnt;
  const int16_t min_count = int16_t(min_valid < 0 ? 0 : min_valid);
  ErrorCode rc = NO_ERROR;
  if (settings.AvgOutFile != nullptr &&
      (rc = write_average(settings, n, min_count, out, run)) != NO_ERROR)
    return rc;
  if (settings.SdevOutFile != nullptr &&
      (rc = write_deviation(settings, n, min_count, out, run)) != NO_ERROR)
    return rc;
  if (settings.CountOutFile != nullptr && (rc = write_count(settings, n, out, run)) != NO_ERROR)
    return rc;
  return NO_ERROR;
}

}  // namespace

bool straightforward_run_averaging(const RunSettings& settings, const InputList& inputs) {
  if (const char* name = create_empty_outputs(settings, inputs)) {
    print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME, name);
    return false;
  }
  if (settings.Verbose) report_settings(settings);

  RunState run{};
  working_maps_init(run.maps);
  map_init(run.input_map);
  run.out_code = settings.PhaseRes;
  if (settings.PhaseRes != PHASE_RES_FROM_INPUT) {
    run.out_counts = phase_res_counts(settings.PhaseRes);
    if (settings.Verbose) report_output_phase_res(settings.PhaseRes);
  }

  ErrorCode status = accumulate_inputs(settings, inputs, run);
  // No input at all leaves nothing to write; the command line never calls with an empty list.
  if (status == NO_ERROR && !run.have_reference) status = ERR_INVALID_PARAM;
  if (status == NO_ERROR) status = write_results(settings, int32_t(inputs.names.size()), run);

  working_maps_free(run.maps);
  map_free(run.input_map);
  if (status == NO_ERROR) return true;
  if (status != ALREADY_REPORTED)
    print_error_line("%s\nERROR: %s\n", PROGRAM_NAME, error_name(status));
  return false;
}

}  // namespace harnix
