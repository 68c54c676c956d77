// Fuzz target: the whole averaging run over two fuzzed data files, writing the average,
// deviation, count, minimum, maximum and range (with rejection, the rejection counts; with the
// sample deviation, the uncertainty; and the per-input report), on one thread and again on three.
//
// The input is split into run settings and two files (fuzz/run_input.h), which are written into a
// temporary directory made once per process. After each run:
//   - every block taken through the allocation hooks has been released;
//   - (with the verbose bit) every result the run tells of lies on the camera;
//   - after a successful run every output reads back as a complete data file with a phase map;
//   - after a failed one every output is either still empty or complete, never cut short;
//   - the report exists after a successful run only, and no temporary file stays behind;
//   - on three threads the run ends with the same code at the same step, every output the same.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "averaging/averaging_run.h"
#include "datafile/data_file.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/run_input.h"
#include "maps/storage.h"
#include "maps/window.h"

namespace harnix {

namespace {

// Working maps of cameras up to 90 x 90 pixels are made; larger ones meet ERR_NO_MEM. Every
// path of the run is reached with such cameras, and the passes over larger ones would only slow
// the fuzzer down.
constexpr std::size_t RUN_ALLOCATION_CAP = std::size_t{64} << 10;

struct Paths {
  std::string dir, first, second, average, deviation, count, rejected, report, low, high, range,
      uncertainty;
};

void remove_directory() {
  std::error_code ignored;
  std::filesystem::remove_all(
      std::filesystem::temp_directory_path() / ("harnix-fuzz-run-" + std::to_string(getpid())),
      ignored);
}

const Paths& paths() {
  static const Paths p = [] {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("harnix-fuzz-run-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::atexit(remove_directory);
    const std::string d = dir.string();
    return Paths{d,
                 d + "/a.dat",
                 d + "/b.dat",
                 d + "/avg.dat",
                 d + "/sdev.dat",
                 d + "/count.dat",
                 d + "/rejected.dat",
                 d + "/report.csv",
                 d + "/low.dat",
                 d + "/high.dat",
                 d + "/range.dat",
                 d + "/uncertainty.dat"};
  }();
  return p;
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
  FUZZ_CHECK(std::fclose(f) == 0);
}

// Checks what the run tells: each input's valid window ends on that input's own camera (windows
// may start left of or above the field, and an input of another camera size is told of before
// the comparison with the first input refuses it); each result window lies on the camera of the
// first input.
class CheckingObserver : public RunObserver {
 public:
  void input_read(const DataAttributes& a, const Window& valid) override {
    if (camera_.width == 0) camera_ = Window{0, 0, a.CameraWidth, a.CameraHeight};
    FUZZ_CHECK(valid.width > 0 && valid.height > 0);
    FUZZ_CHECK(int32_t{valid.x} + valid.width <= a.CameraWidth &&
               int32_t{valid.y} + valid.height <= a.CameraHeight);
  }
  void result_formed(const OutputDescriptor&, const Window& w) override {
    FUZZ_CHECK(w.width > 0 && w.height > 0 && window_within(w, camera_));
  }

 private:
  Window camera_{};
};

// The bytes of the file at `path`, or a text no file holds when there is none.
std::string contents(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "(no file)";
  std::string bytes;
  char block[4096];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
  std::fclose(f);
  return bytes;
}

// True when `path` is an empty file; otherwise it must read back completely.
bool empty_or_complete(const std::string& path) {
  struct stat st {};
  FUZZ_CHECK(stat(path.c_str(), &st) == 0);
  if (st.st_size == 0) return true;
  DataAttributes attributes{};
  PhaseMap phase;
  map_init(phase);
  const ErrorCode rc = read_data_file(path.c_str(), nullptr, &attributes, nullptr, &phase);
  FUZZ_CHECK(rc == NO_ERROR);
  FUZZ_CHECK(phase.matrix != nullptr);
  map_free(phase);
  return false;
}

}  // namespace

}  // namespace harnix

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace harnix;
  const Paths& p = paths();
  const RunInput in = split_run_input(data, size);
  write_bytes(p.first, in.first);
  write_bytes(p.second, in.second);

  RunSettings settings;
  settings.AvgOutFile = p.average.c_str();
  settings.SdevOutFile = p.deviation.c_str();
  settings.CountOutFile = p.count.c_str();
  settings.MinOutFile = p.low.c_str();
  settings.MaxOutFile = p.high.c_str();
  settings.RangeOutFile = p.range.c_str();
  if (in.sample) {
    settings.SdevType = DeviationType::SAMPLE;
    settings.UncertOutFile = p.uncertainty.c_str();
  }
  std::filesystem::remove(p.uncertainty);
  settings.SdevRemove = in.sdev_remove;
  settings.PhaseRes = in.phase_res;
  settings.Verbose = in.verbose;
  settings.MinValidCnt = in.min_valid_count;
  settings.Level = in.level;
  if (in.median) {
    settings.Combine = CombineMode::MEDIAN;
    settings.MemoryLimit = 0.01;
  }
  settings.Overwrite = true;
  if (in.reject) {
    settings.Reject = 1.5;
    settings.RejectIter = 2;
    settings.RejectOutFile = p.rejected.c_str();
  }
  if (in.report) settings.InputReportFile = p.report.c_str();
  std::filesystem::remove(p.report);
  InputList inputs;
  inputs.names = {p.first, p.second};

  bool ok;
  RunResult one;
  {
    const AllocationBalance balance(RUN_ALLOCATION_CAP);
    CheckingObserver observer;
    one = run_averaging(settings, inputs, in.verbose ? &observer : nullptr);
    ok = one.ok();
    balance.check();
  }
  // The same run on three threads ends the same way and leaves the same bytes in every output.
  const std::string* outputs[] = {&p.average, &p.deviation, &p.count, &p.rejected,
                                  &p.report,  &p.low,       &p.high,  &p.range,
                                  &p.uncertainty};
  std::string before[std::size(outputs)];
  for (std::size_t k = 0; k < std::size(outputs); ++k) before[k] = contents(*outputs[k]);
  std::filesystem::remove(p.report);
  {
    const AllocationBalance balance(RUN_ALLOCATION_CAP);
    settings.Threads = 3;
    const RunResult three = run_averaging(settings, inputs, nullptr);
    FUZZ_CHECK(three.code == one.code && three.step == one.step);
    balance.check();
  }
  for (std::size_t k = 0; k < std::size(outputs); ++k)
    FUZZ_CHECK(contents(*outputs[k]) == before[k]);
  for (const std::string* out : {&p.average, &p.deviation, &p.count, &p.low, &p.high, &p.range}) {
    const bool empty = empty_or_complete(*out);
    if (ok) FUZZ_CHECK(!empty);
  }
  if (in.sample) FUZZ_CHECK(!empty_or_complete(p.uncertainty) || !ok);
  if (in.reject) FUZZ_CHECK(!empty_or_complete(p.rejected) || !ok);
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(p.dir))
    files += entry.path().filename().string().rfind("report.csv", 0) == 0;
  FUZZ_CHECK(files == (ok && in.report ? 1u : 0u));
  // Aligned, the same inputs end the same way and leave the same bytes on one thread and on
  // three, with every allocation given back.
  settings.Align = AlignMode::SHIFT;
  settings.AlignMax = 3;
  RunResult aligned[2];
  std::string aligned_bytes[2][std::size(outputs)];
  for (int k = 0; k < 2; ++k) {
    std::filesystem::remove(p.report);
    const AllocationBalance balance(RUN_ALLOCATION_CAP);
    settings.Threads = k == 0 ? 1 : 3;
    aligned[k] = run_averaging(settings, inputs, nullptr);
    balance.check();
    for (std::size_t j = 0; j < std::size(outputs); ++j)
      aligned_bytes[k][j] = contents(*outputs[j]);
  }
  FUZZ_CHECK(aligned[0].code == aligned[1].code && aligned[0].step == aligned[1].step);
  for (std::size_t j = 0; j < std::size(outputs); ++j)
    FUZZ_CHECK(aligned_bytes[0][j] == aligned_bytes[1][j]);
  return 0;
}
