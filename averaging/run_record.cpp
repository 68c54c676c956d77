#include "averaging/run_record.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "averaging/band_team.h"
#include "averaging/file_stamp.h"
#include "averaging/option_words.h"
#include "averaging/outputs.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "datafile/data_file.h"
#include "maps/storage.h"

namespace harnix {

namespace {

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// "2026-05-04T13:02:09" followed by `fraction` (".123", or empty) and "Z"; null when the system
// cannot break the time down.
void put_utc(RecordWriter& json, int64_t seconds, const char* fraction) {
  std::tm t{};
  if (!utc_time(std::time_t(seconds), &t)) {
    json.null();
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%sZ", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, fraction);
  json.string(text);
}

void put_ms(RecordWriter& json, int64_t ms) {
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03d", int(ms % 1000));
  put_utc(json, ms / 1000, fraction);
}

void put_window(RecordWriter& json, const Window& w) {
  json.begin_object();
  json.field("x", int32_t(w.x));
  json.field("y", int32_t(w.y));
  json.field("width", int32_t(w.width));
  json.field("height", int32_t(w.height));
  json.end_object();
}

void put_figures(RecordWriter& json, const InputFigures& f) {
  json.begin_object();
  json.field("valid_pixels", f.valid_pixels);
  json.field("rejected_pixels", f.rejected_pixels);
  json.field("compared_pixels", f.compared_pixels);
  const bool compared = f.compared_pixels > 0;
  json.key("mean_diff_m");
  compared ? json.number(f.mean_diff_m) : json.null();
  json.key("tilt_x");
  compared && f.has_tilt_x ? json.number(f.tilt_x) : json.null();
  json.key("tilt_y");
  compared && f.has_tilt_y ? json.number(f.tilt_y) : json.null();
  json.key("rms_diff_m");
  compared ? json.number(f.rms_diff_m) : json.null();
  json.end_object();
}

void put_shift(RecordWriter& json, const InputShift& s) {
  json.begin_object();
  json.field("x", s.x);
  json.field("y", s.y);
  json.field("rest_x", s.rest_x);
  json.field("rest_y", s.rest_y);
  json.field("peak_score", s.score);
  json.field("overlap", s.overlap);
  json.end_object();
}

// The words of a run step, as the record names where a run stopped.
const char* step_name(RunStep step) {
  switch (step) {
    case RunStep::DONE:
      return "done";
    case RunStep::CREATE_OUTPUT:
      return "create output";
    case RunStep::READ_INPUT:
      return "read input";
    case RunStep::CHECK_ATTRIBUTES:
      return "check attributes";
    case RunStep::NO_HEIGHT_DATA:
      return "no height data";
    case RunStep::NO_VALID_DATA:
      return "no valid data";
    case RunStep::MISMATCHED_INPUT:
      return "mismatched input";
    case RunStep::INPUT_CHANGED:
      return "input changed";
    case RunStep::ACCUMULATE:
      return "accumulate";
    case RunStep::EMPTY_AVERAGE:
      return "empty average";
    case RunStep::EMPTY_RESULT:
      return "empty result";
    case RunStep::MEDIAN_BUDGET:
      return "median budget";
    case RunStep::WRITE_OUTPUT:
      return "write output";
    case RunStep::ALIGN_INPUT:
      return "align input";
    case RunStep::STOPPED:
      return "stopped";
  }
  return "unknown";
}

int64_t valid_count(const PhaseMap& phase) {
  const std::size_t n = std::size_t(phase.window.width) * std::size_t(phase.window.height);
  int64_t valid = 0;
  for (std::size_t i = 0; i < n; ++i) valid += phase.matrix[i] < PHASE_INVALID ? 1 : 0;
  return valid;
}

// The valid points of the data file `name`; -1 when it cannot be read.
int64_t valid_points(const char* name) {
  OriginInfo origin{};
  DataAttributes attributes{};
  PhaseMap phase;
  map_init(phase);
  int64_t valid = -1;
  if (read_data_file_reusing(name, &origin, &attributes, &phase) == NO_ERROR)
    valid = valid_count(phase);
  map_free(phase);
  return valid;
}

}  // namespace

void record_settings(const RunSettings& s, RecordWriter& json) {
  const bool rejecting = s.Reject > 0;
  json.begin_object();
  for (const OutputDescriptor& output : output_descriptors())
    json.field(output.option, output_file(s, output));
  json.field("InputReport", s.InputReportFile);
  json.field("RunRecord", s.RunRecordFile);
  json.field("MinValidCnt", s.MinValidCnt);
  json.key("MinValidPct");
  s.MinValidPct > 0 ? json.number(s.MinValidPct) : json.null();
  json.field("SdevRemove", sdev_remove_label(s.SdevRemove));
  json.field("SdevType", option_label(s.SdevType, DEVIATION_TYPE_WORDS));
  json.field("Combine", option_label(s.Combine, COMBINE_WORDS));
  json.field("Level", level_label(s.Level));
  json.key("MemoryLimit");
  s.MemoryLimit > 0 ? json.number(s.MemoryLimit) : json.null();
  json.field("PhaseRes", s.PhaseRes == PHASE_RES_FROM_INPUT ? "FirstInput"
                                                            : phase_res_label(s.PhaseRes));
  json.key("Reject");
  rejecting ? json.number(s.Reject) : json.null();
  json.key("RejectIter");
  rejecting ? json.integer(s.RejectIter == 0 ? 1 : s.RejectIter) : json.null();
  json.field("Threads", s.Threads > 0 ? s.Threads : usable_cores());
  if (s.Align != AlignMode::NONE) {  // a record without alignment keeps its lines
    json.field("Align", option_label(s.Align, ALIGN_WORDS));
    json.field("AlignMax", align_max_of(s));
  }
  json.field("Overwrite", s.Overwrite);
  json.field("Verbose", s.Verbose);
  json.end_object();
}

RunRecorder::RunRecorder(const RunSettings& settings, const InputList& inputs,
                         CommandArguments command, RunObserver* inner)
    : settings_(settings),
      inputs_(inputs),
      command_(command),
      inner_(inner),
      started_ms_(now_ms()) {
  for (const OutputDescriptor& output : output_descriptors())
    if (output_asked(settings, output))
      outputs_.push_back(OutputSeen{&output, output_file(settings, output)});
  if (settings.InputReportFile != nullptr)
    outputs_.push_back(OutputSeen{nullptr, settings.InputReportFile});
}

void RunRecorder::stamp_inputs() {
  stamps_.resize(inputs_.names.size());
  stamped_.resize(inputs_.names.size());
  for (std::size_t i = 0; i < inputs_.names.size(); ++i)
    stamped_[i] = file_stamp(inputs_.names[i].c_str(), &stamps_[i]);
}

void RunRecorder::run_started(const RunSettings& settings) {
  stamp_inputs();  // as the run is about to read them; the run itself refuses any that change
  if (inner_ != nullptr) inner_->run_started(settings);
}

void RunRecorder::pass_started(int32_t pass) {
  if (inner_ != nullptr) inner_->pass_started(pass);
}

void RunRecorder::input_started(int32_t index, const char* name) {
  if (inner_ != nullptr) inner_->input_started(index, name);
}

void RunRecorder::input_read(const DataAttributes& attributes, const Window& valid) {
  if (first_phase_res_ < 0) first_phase_res_ = attributes.PhaseRes;
  if (inner_ != nullptr) inner_->input_read(attributes, valid);
}

void RunRecorder::input_passed(int32_t pass, int32_t index, int32_t count) {
  if (inner_ != nullptr) inner_->input_passed(pass, index, count);
}

void RunRecorder::input_levelled(int32_t index, const LevelFigures& level) {
  if (inner_ != nullptr) inner_->input_levelled(index, level);
}

void RunRecorder::input_aligned(int32_t index, const InputShift& shift) {
  if (index >= 1 && std::size_t(index) <= inputs_.names.size()) {
    if (shifts_.size() < inputs_.names.size()) shifts_.resize(inputs_.names.size());
    shifts_[std::size_t(index - 1)] = Shifted{true, shift};
  }
  if (inner_ != nullptr) inner_->input_aligned(index, shift);
}

void RunRecorder::rejection_round(int32_t round, int64_t rejected) {
  if (inner_ != nullptr) inner_->rejection_round(round, rejected);
}

void RunRecorder::inputs_compared(const InputFigures* figures, int32_t count) {
  figures_.assign(figures, figures + count);
  if (inner_ != nullptr) inner_->inputs_compared(figures, count);
}

void RunRecorder::result_formed(const OutputDescriptor& output, const Window& window) {
  for (OutputSeen& seen : outputs_) {
    if (seen.output != &output) continue;
    seen.formed = true;
    seen.window = window;
  }
  if (inner_ != nullptr) inner_->result_formed(output, window);
}

void RunRecorder::output_written(const char* name) {
  for (OutputSeen& seen : outputs_)
    if (seen.name != nullptr && seen.name == name) seen.written = true;
  if (inner_ != nullptr) inner_->output_written(name);
}

void RunRecorder::record(const RunResult& result, RecordWriter& json) const {
  json.begin_object();
  json.field("program", PROGRAM_NAME);
  json.field("version", HARNIX_VERSION);
  json.key("command_line");
  json.begin_array();
  for (int i = 0; i < command_.count; ++i) json.string(command_.values[i]);
  json.end_array();
  json.key("started");
  put_ms(json, started_ms_);
  json.key("ended");
  put_ms(json, now_ms());

  json.key("result");
  json.begin_object();
  json.field("ok", refused_step_ == nullptr && result.ok());
  if (refused_step_ != nullptr) {
    json.field("failed_at", refused_step_);
    json.field("file", nullptr);
    json.field("code", nullptr);
    json.field("detail", refused_text_);
  } else if (!result.ok()) {
    json.field("failed_at", step_name(result.step));
    json.field("file", result.file);
    json.field("code", error_name(result.code));
    json.key("detail");
    result.detail[0] != '\0' ? json.string(result.detail) : json.null();
  }
  json.end_object();

  json.key("settings");
  record_settings(settings_, json);
  json.key("output_phase_res");
  const int32_t phase_res = settings_.PhaseRes != PHASE_RES_FROM_INPUT ? settings_.PhaseRes
                                                                       : first_phase_res_;
  phase_res >= 0 ? json.string(phase_res_label(phase_res)) : json.null();

  json.key("inputs");
  json.begin_array();
  for (std::size_t i = 0; i < inputs_.names.size(); ++i) {
    json.begin_object();
    json.field("name", inputs_.names[i]);
    if (i < stamps_.size() && stamped_[i]) {
      json.field("size", stamps_[i].size);
      int64_t seconds;
      int32_t nanoseconds;
      modified_since_1970(stamps_[i], &seconds, &nanoseconds);
      char fraction[16];
      std::snprintf(fraction, sizeof fraction, ".%09d", int(nanoseconds));
      json.key("modified");
      put_utc(json, seconds, fraction);
    } else {
      json.field("size", nullptr);
      json.field("modified", nullptr);
    }
    if (i < figures_.size()) {
      json.key("figures");
      put_figures(json, figures_[i]);
    }
    if (i < shifts_.size() && shifts_[i].known) {
      json.key("shift");
      put_shift(json, shifts_[i].shift);
    }
    json.end_object();
  }
  json.end_array();

  json.key("outputs");
  json.begin_array();
  for (const OutputSeen& seen : outputs_) {
    json.begin_object();
    json.field("option", seen.output != nullptr ? seen.output->option : "InputReport");
    json.field("name", seen.name);
    json.field("written", seen.written);
    if (seen.output != nullptr) {
      json.key("window");
      seen.formed ? put_window(json, seen.window) : json.null();
      const int64_t valid = seen.written                        ? valid_points(seen.name)
                            : seen.name == nullptr && seen.formed ? kept_valid_points(*seen.output)
                                                                  : -1;
      json.key("valid_points");
      valid >= 0 ? json.integer(valid) : json.null();
    }
    json.end_object();
  }
  json.end_array();
  json.end_object();
}

int64_t RunRecorder::kept_valid_points(const OutputDescriptor& output) const {
  const ResultSink* sink = settings_.Sink;
  const auto index = std::size_t(&output - output_descriptors().data());
  if (sink == nullptr || !sink->results[index].formed) return -1;
  return valid_count(sink->results[index].map);
}

void RunRecorder::refuse(const char* step, const char* text) {
  refused_step_ = step;
  refused_text_ = text;
  stamp_inputs();
}

}  // namespace harnix
