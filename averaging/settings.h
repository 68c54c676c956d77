// The parsed command line: the process-wide RunSettings and InputList, written by the
// command-line parser and read by the averaging run.
#ifndef HARNIX_AVERAGING_SETTINGS_H_
#define HARNIX_AVERAGING_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace harnix {

constexpr int32_t MAX_INPUT_FILES = 10000;
constexpr int32_t SDEV_REMOVE_NONE = -1;
constexpr int32_t PHASE_RES_FROM_INPUT = -1;

struct RunSettings {
  const char* AvgOutFile = nullptr;    // output names refer to the argument texts themselves
  const char* SdevOutFile = nullptr;
  const char* CountOutFile = nullptr;
  int32_t SdevRemove = SDEV_REMOVE_NONE;  // -1 None, else 0 Piston, 1 Plane, 2 Sphere
  int32_t MinValidCnt = 0;                // 0: not given, until resolved
  double MinValidPct = 0.0;               // 0: not given
  int32_t PhaseRes = PHASE_RES_FROM_INPUT;  // -1: from the first input, else 0, 1, 2
  bool Overwrite = false;
  bool Verbose = false;
};

// Input data file names in the order given; each a private copy. Its length is NumInputFiles.
struct InputList {
  std::vector<std::string> names;
};

// The process-wide records.
RunSettings& run_settings();
InputList& input_list();

}  // namespace harnix

#endif  // HARNIX_AVERAGING_SETTINGS_H_
