// What a run is asked to do: the RunSettings and the InputList, which the command line fills and
// hands to run_averaging. The field names mirror the command line's options.
#ifndef HARNIX_AVERAGING_SETTINGS_H_
#define HARNIX_AVERAGING_SETTINGS_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace harnix {

struct ResultSink;  // averaging/run_result.h

constexpr int32_t MAX_INPUT_FILES = 10000;
constexpr int32_t PHASE_RES_FROM_INPUT = -1;
constexpr int32_t MAX_REJECT_ROUNDS = 10;

// The surface removed from each input before its deviation values are summed (-SdevRemove):
// none, a least-squares piston, plane, sphere or cylinder, or the robust plane.
enum class RemovalMode : int32_t {
  NONE = -1,
  PISTON = 0,
  PLANE = 1,
  SPHERE = 2,
  CYLINDER = 3,
  ROBUST = 4,
};

// The divisor of the deviation (-SdevType): the number of values n, or n - 1.
enum class DeviationType : int32_t {
  POPULATION = 0,
  SAMPLE = 1,
};

// What the average output holds (-Combine): the mean of each pixel's values, or their median.
enum class CombineMode : int32_t {
  MEAN = 0,
  MEDIAN = 1,
};

// The median's share of the memory the program can count on when -MemoryLimit is not given, at
// most MEDIAN_DEFAULT_BYTES (also the budget when the system tells nothing): bands larger than
// that are no faster, their storage being handed out by the system page by page.
constexpr uint64_t MEDIAN_MEMORY_SHARE = 4;  // a quarter
constexpr uint64_t MEDIAN_DEFAULT_BYTES = uint64_t{64} << 20;
// The largest -MemoryLimit in MiB, 2^40: its bytes stay far inside 64 bits.
constexpr double MAX_MEMORY_LIMIT_MIB = 1099511627776.0;

// The level taken off each input, fitted to its difference from the stack, before anything else
// sees it (-Level): none, a piston or a plane (averaging/levelling.h).
enum class LevelMode : int32_t {
  NONE = 0,
  PISTON = 1,
  PLANE = 2,
};

// Lateral alignment before averaging (-Align): none, or each input moved on the camera by its
// whole-pixel shift from the first input.
enum class AlignMode : int32_t {
  NONE = 0,
  SHIFT = 1,
};

constexpr int32_t DEFAULT_ALIGN_MAX = 16;  // pixels each way
constexpr int32_t MAX_ALIGN_MAX = 512;

// The program's name: in every message of the command line and in the record of every run.
constexpr const char* PROGRAM_NAME = "Harnix";

struct RunSettings {
  const char* AvgOutFile = nullptr;  // output names refer to the argument texts themselves
  const char* SdevOutFile = nullptr;
  const char* CountOutFile = nullptr;
  const char* RejectOutFile = nullptr;    // needs Reject
  const char* MinOutFile = nullptr;
  const char* MaxOutFile = nullptr;
  const char* RangeOutFile = nullptr;
  const char* UncertOutFile = nullptr;
  const char* InputReportFile = nullptr;  // the per-input CSV report
  const char* RunRecordFile = nullptr;    // the JSON record of the run; the command line's own
  double Reject = 0.0;                    // K of the rejection test; 0: no rejection
  int32_t RejectIter = 0;                 // rejection rounds at most, 1..MAX_REJECT_ROUNDS; 0: 1
  RemovalMode SdevRemove = RemovalMode::NONE;
  DeviationType SdevType = DeviationType::POPULATION;
  CombineMode Combine = CombineMode::MEAN;
  double MemoryLimit = 0.0;  // MiB the median's bands may hold; 0: a share of the memory
  LevelMode Level = LevelMode::NONE;
  int32_t MinValidCnt = 0;                  // 0: not given, until resolved
  double MinValidPct = 0.0;                 // 0: not given
  int32_t PhaseRes = PHASE_RES_FROM_INPUT;  // -1: from the first input, else 0, 1, 2
  bool Overwrite = false;
  bool Verbose = false;
  int32_t Threads = 1;  // threads that add the inputs; 0: every core the process may use
  AlignMode Align = AlignMode::NONE;
  int32_t AlignMax = 0;  // the largest shift searched, 1..MAX_ALIGN_MAX; 0: DEFAULT_ALIGN_MAX
  // Where the caller takes results in memory, besides the files named above (nullptr: none).
  ResultSink* Sink = nullptr;
  // Set by another thread to end the run after the input being added (step STOPPED).
  const std::atomic<bool>* Stop = nullptr;
};

// AlignMax, resolved.
inline int32_t align_max_of(const RunSettings& settings) {
  return settings.AlignMax > 0 ? settings.AlignMax : DEFAULT_ALIGN_MAX;
}

// "None", "Piston", "Plane", "Sphere", "Cylinder" or "Robust" for an SdevRemove setting.
const char* sdev_remove_label(RemovalMode mode);

// "None", "Piston" or "Plane" for a Level setting.
const char* level_label(LevelMode mode);

// Input data file names in the order given; each a private copy. Its length is NumInputFiles.
struct InputList {
  std::vector<std::string> names;
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_SETTINGS_H_
