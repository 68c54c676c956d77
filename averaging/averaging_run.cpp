// The averaging run: one pass over the inputs, then up to three result maps.
//
// Every input is placed in the camera field and brought to the output's phase scale by
//   F = (S_i * R_out * O_i * L_i) / (R_i * S_ref * 1.0 * L_ref)
// (S the interferometric scale factor, O the obliquity factor, L the wavelength, R the counts per
// fringe; each product evaluated left to right), so that a count of every input stands for the
// height of a count of the output, whose obliquity factor is 1. Per pixel, with n valid values:
//   average   = sum(F v) / n                          (scaled values, before rounding)
//   deviation = sqrt((sum(x^2) - sum(x)^2 / n) / n)   (x: the rounded scaled values, after an
//                                                      optional best-fit surface is removed)
//   count     = n
// A pixel with fewer than max(1, MinValidCnt) values is a dropout in the average and deviation.
//
// Each input is read into one map kept from input to input and added to the sums over its own
// window only (averaging/input_sums.h); each result is formed in one pass over the camera field
// (maps/fused_ops.h). The values are those of the plain chain of element operations over
// camera-sized maps, bit for bit.
#include "averaging/averaging_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "averaging/console.h"
#include "averaging/input_sums.h"
#include "averaging/output_check.h"
#include "averaging/progress_report.h"
#include "averaging/tolerance.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "datafile/data_file.h"
#include "datafile/validate.h"
#include "maps/element_ops.h"
#include "maps/fused_ops.h"
#include "maps/storage.h"

namespace harnix {

// Size of the buffer the validation text is written into.
constexpr int VALIDATION_TEXT_BYTES = 512;

struct RunState {
  WorkingMaps maps;
  PhaseMap input_map;         // each input in its own window, in storage kept from input to input
  OriginInfo input_origin;    // filled by the reader, read by nobody
  DataAttributes attributes;  // the current input's
  DataAttributes reference;   // the first input's
  bool have_reference;
  int32_t out_code;    // output PhaseRes code
  int32_t out_counts;  // output counts per fringe
  int32_t latest_stamp;
};

// Camera size, CameraRes and ZoomMag of a later input against the first.
static ErrorCode check_geometry(const DataAttributes& ref, const DataAttributes& a,
                                const char* name) {
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

static double phase_scale_factor(const DataAttributes& a, const DataAttributes& ref,
                                 int32_t out_counts) {
  const double numerator = double(a.IntfScaleFactor) * double(out_counts) *
                           double(a.ObliquityFactor) * double(a.WavelengthIn);
  const double denominator = double(phase_res_counts(a.PhaseRes)) * double(ref.IntfScaleFactor) *
                             1.0 * double(ref.WavelengthIn);
  return numerator / denominator;
}

// Reads one input and checks it; on success input_map holds its phase map and `valid` the
// bounding window of its valid values.
static ErrorCode read_input(const RunSettings& settings, int32_t index, const char* name,
                            RunState& run, Window* valid) {
  if (settings.Verbose) report_input_name(index, name);
  ErrorCode rc = read_data_file_reusing(name, &run.input_origin, &run.attributes, &run.input_map);
  if (rc != NO_ERROR) {
    print_error_line("%s\nERROR: Error reading input file \"%s\"\n", PROGRAM_NAME, name);
    return rc;
  }
  // A file without a phase block leaves the record with an empty window (and the storage of
  // earlier inputs, which must not take part in the checks).
  const bool has_phase = run.input_map.window.width > 0 && run.input_map.window.height > 0;
  char text[VALIDATION_TEXT_BYTES] = "";
  rc = validate_attributes(&run.attributes, nullptr, has_phase ? &run.input_map : nullptr, true,
                           text);
  if (rc != NO_ERROR) {
    print_error_line("%s\nERROR: Invalid attribute information in input file \"%s\"\n",
                     PROGRAM_NAME, name);
    print_error_line("%s\n", text);
    return rc;
  }
  if (!has_phase) {
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

// Adds the input in input_map to the sums.
static ErrorCode add_input(const RunSettings& settings, RunState& run) {
  const double f = phase_scale_factor(run.attributes, run.reference, run.out_counts);
  const int32_t remove_mode =
      settings.SdevOutFile != nullptr ? settings.SdevRemove : SDEV_REMOVE_NONE;
  return add_input_to_sums(run.maps, run.input_map, f, remove_mode);
}

static ErrorCode accumulate_inputs(const RunSettings& settings, const InputList& inputs,
                                   RunState& run) {
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
      const bool deviation = settings.SdevOutFile != nullptr;
      rc = working_maps_create(run.maps, run.reference.CameraWidth, run.reference.CameraHeight,
                               deviation, deviation && settings.SdevRemove != SDEV_REMOVE_NONE);
      if (rc != NO_ERROR) return rc;
    } else if ((rc = check_geometry(run.reference, run.attributes, name)) != NO_ERROR) {
      return rc;
    }
    if ((rc = add_input(settings, run)) != NO_ERROR) return rc;
  }
  return NO_ERROR;
}

static void set_comment(DataAttributes& out, const char* format, int32_t n_inputs) {
  char text[256];
  std::snprintf(text, sizeof text, format, int(n_inputs));
  // At most 81 characters and a terminating zero.
  const std::size_t length = std::min(std::strlen(text), sizeof out.comment - 1);
  std::memset(out.comment, 0, sizeof out.comment);
  std::memcpy(out.comment, text, length);
}

// Where the result lies on the camera: the bounding window of the valid values of the work map.
// The average has a message of its own for a map without any; the other two end with
// ERR_ALL_BAD_DATA.
static ErrorCode result_window(const PhaseMap& result, bool is_average, Window* w) {
  const ErrorCode rc = phase_map_valid_window(result, nullptr, w);
  if (rc == ERR_ALL_BAD_DATA && is_average) {
    print_error_line("%s\nERROR: Height average map contains no valid data points\n", PROGRAM_NAME);
    return ALREADY_REPORTED;
  }
  return rc;
}

// Cuts the result in the work map to the bounding window of its valid values and writes it.
static ErrorCode write_result(const RunSettings& settings, const char* name, bool is_average,
                              const char* prefix, const char* comment_format, int32_t n_inputs,
                              DataAttributes& out, RunState& run) {
  const PhaseMap& work = run.maps.work;
  Window w{};
  ErrorCode rc = result_window(work, is_average, &w);
  if (rc != NO_ERROR) return rc;
  // The window's rows move to the front of the work map's storage, to be written as a map of
  // that window. Each row moves to a lower address than it came from, past every row before
  // it, so the copy in storage order reads every row before it is overwritten.
  PhaseMap cut = work;
  cut.window = w;
  if ((rc = phase_map_copy_window(work, w, cut, w)) != NO_ERROR) return rc;
  if (settings.Verbose) report_result_window(prefix, w);
  set_comment(out, comment_format, n_inputs);
  if ((rc = write_data_file(name, nullptr, &out, nullptr, &cut)) != NO_ERROR) return rc;
  if (settings.Verbose) report_wrote(name);
  return NO_ERROR;
}

static void build_output_attributes(const RunState& run, DataAttributes& out) {
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

static std::size_t camera_pixels(const WorkingMaps& m) {
  return std::size_t(m.camera.width) * std::size_t(m.camera.height);
}

static ErrorCode write_average(const RunSettings& settings, int32_t n, int16_t min_count,
                               DataAttributes& out, RunState& run) {
  WorkingMaps& m = run.maps;
  average_to_phase_span(m.sum_avg.matrix, m.count_avg.matrix, min_count, camera_pixels(m),
                        m.work.matrix);
  return write_result(settings, settings.AvgOutFile, true, "Avg",
                      "Height average map computed from %d input data files", n, out, run);
}

static ErrorCode write_deviation(const RunSettings& settings, int32_t n, int16_t min_count,
                                 DataAttributes& out, RunState& run) {
  WorkingMaps& m = run.maps;
  const ErrorCode rc =
      deviation_to_phase_span(deviation_sum(m).matrix, m.sum_sq.matrix, deviation_count(m).matrix,
                              min_count, camera_pixels(m), m.work.matrix);
  if (rc != NO_ERROR) return rc;
  return write_result(settings, settings.SdevOutFile, false, "Sdev",
                      "Height standard deviation map computed from %d input data files", n, out,
                      run);
}

static ErrorCode write_count(const RunSettings& settings, int32_t n, DataAttributes& out,
                             RunState& run) {
  WorkingMaps& m = run.maps;
  count_to_phase_span(m.count_avg.matrix, camera_pixels(m), m.work.matrix);
  return write_result(settings, settings.CountOutFile, false, "Count",
                      "Input count map computed from %d input data files", n, out, run);
}

static ErrorCode write_results(const RunSettings& settings, int32_t n, RunState& run) {
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

bool run_averaging(const RunSettings& settings, const InputList& inputs) {
  if (!create_empty_outputs(settings, inputs)) return false;
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

bool run_averaging() {
  return run_averaging(run_settings(), input_list());
}

}  // namespace harnix
