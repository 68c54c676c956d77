// The record of a run: how its results were made, told to a RecordWriter (the command line's
// -RunRecord writes it as a JSON file, the Python module hands it over as a dict). It holds:
//   program, version, command_line (the arguments as given), started and ended (UTC, ISO 8601);
//   settings: every resolved setting of the run (record_settings, one line each);
//   inputs: each input's name as given, size in bytes and modification time, and with the
//     per-input report its figures, and with -Align its shift once estimated;
//   outputs: each output asked for, its option and name (null for a result kept in memory only),
//     whether it was written, its window on the camera and its number of valid points;
//   result: ok, or the step that failed, the file concerned, the code and any detail (for a run
//     refused before it began: the check that refused it and the error's text).
#ifndef HARNIX_AVERAGING_RUN_RECORD_H_
#define HARNIX_AVERAGING_RUN_RECORD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "averaging/input_report.h"
#include "averaging/record_writer.h"
#include "averaging/run_observer.h"
#include "averaging/run_result.h"
#include "averaging/settings.h"
#include "base/platform.h"
#include "maps/window.h"

namespace harnix {

// The command line as given to the program, for the record (none: an empty list).
struct CommandArguments {
  int count = 0;
  char** values = nullptr;
};

// The settings of a run, resolved (the minimum count, the rejection rounds, the threads), as one
// object. An option added later is one more line here.
void record_settings(const RunSettings& settings, RecordWriter& out);

// Watches a run, passing every event on to `inner` (when given), and keeps what the record needs.
// Starts the clock at construction.
class RunRecorder : public RunObserver {
 public:
  RunRecorder(const RunSettings& settings, const InputList& inputs, CommandArguments command,
              RunObserver* inner);

  void run_started(const RunSettings& settings) override;
  void pass_started(int32_t pass) override;
  void input_started(int32_t index, const char* name) override;
  void input_read(const DataAttributes& attributes, const Window& valid) override;
  void input_passed(int32_t pass, int32_t index, int32_t count) override;
  void input_levelled(int32_t index, const LevelFigures& level) override;
  void input_aligned(int32_t index, const InputShift& shift) override;
  void rejection_round(int32_t round, int64_t rejected) override;
  void inputs_compared(const InputFigures* figures, int32_t count) override;
  void result_formed(const OutputDescriptor& output, const Window& window) override;
  void output_written(const char* name) override;

  // Tells `out` the record of a run that ended with `result`, as one object. A result kept in
  // memory (RunSettings::Sink) is counted there, so the caller tells the record before it takes
  // the kept maps away.
  void record(const RunResult& result, RecordWriter& out) const;

  // Makes the record that of a run refused before it began: stopped at `step` (the words the
  // record names it by) with the error `text`, its inputs stamped now.
  void refuse(const char* step, const char* text);

  const RunSettings& settings() const { return settings_; }

 private:
  struct OutputSeen {
    const OutputDescriptor* output = nullptr;  // nullptr: the per-input report
    const char* name = nullptr;  // nullptr: kept in memory only
    bool formed = false;
    Window window{};
    bool written = false;
  };

  const RunSettings& settings_;
  const InputList& inputs_;
  CommandArguments command_;
  RunObserver* inner_;
  int64_t started_ms_;
  std::vector<FileStatus> stamps_;
  std::vector<bool> stamped_;
  std::vector<InputFigures> figures_;
  struct Shifted {
    bool known = false;
    InputShift shift{};
  };
  std::vector<Shifted> shifts_;  // with -Align, each input's once estimated
  std::vector<OutputSeen> outputs_;
  int32_t first_phase_res_ = -1;  // the first input's, once read
  const char* refused_step_ = nullptr;  // a run refused before it began
  std::string refused_text_;

  void stamp_inputs();
  // The valid points of `output` as kept in memory; -1 when it is not kept.
  int64_t kept_valid_points(const OutputDescriptor& output) const;
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_RECORD_H_
