// The record of a run (-RunRecord FILE): a JSON file, written whole when the run ends, also after
// a failure, that tells how its results were made. It holds:
//   program, version, command_line (the arguments as given), started and ended (UTC, ISO 8601);
//   settings: every resolved setting of the run (record_settings, one line each);
//   inputs: each input's name as given, size in bytes and modification time, and with the
//     per-input report its figures, and with -Align its shift once estimated;
//   outputs: each output asked for, its option and name, whether it was written, its window on
//     the camera and its number of valid points;
//   result: ok, or the step that failed, the file concerned, the code and any detail (for a run
//     refused before it began: the check that refused it and the error's text).
#ifndef HARNIX_CLI_RUN_RECORD_H_
#define HARNIX_CLI_RUN_RECORD_H_

#include <cstdint>
#include <string>
#include <vector>

#include "averaging/input_report.h"
#include "averaging/run_observer.h"
#include "averaging/run_result.h"
#include "averaging/settings.h"
#include "base/platform.h"
#include "cli/json_writer.h"
#include "maps/window.h"

namespace harnix {

// The command line as given to the program, for the record.
struct CommandArguments {
  int count = 0;
  char** values = nullptr;
};

// The settings of a run, resolved (the minimum count, the rejection rounds, the threads), as one
// JSON object. An option added later is one more line here.
void record_settings(const RunSettings& settings, JsonWriter& json);

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

  // The record's text for a run that ended with `result`.
  std::string record(const RunResult& result) const;

  // Writes the record to the file the settings name, whole or not at all. False with *message
  // set when it cannot be written.
  bool write(const RunResult& result, std::string* message) const;

  // Writes, as write does, the record of a run refused before it began: stopped at `step` (the
  // words the record names it by) with the error `text`, its inputs stamped now.
  bool write_refusal(const char* step, const char* text, std::string* message);

 private:
  struct OutputSeen {
    const OutputDescriptor* output = nullptr;  // nullptr: the per-input report
    const char* name = nullptr;
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
};

}  // namespace harnix

#endif  // HARNIX_CLI_RUN_RECORD_H_
