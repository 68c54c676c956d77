// The engine's own account of a run: the events its observer receives, in order, and the result
// record of a failure (the messages built from them are checked byte for byte elsewhere).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "averaging/averaging_run.h"
#include "averaging/file_stamp.h"
#include "cli/run_messages.h"
#include "datafile/data_file.h"
#include "maps/storage.h"
#include "support/in_process_run.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

class Recorder : public RunObserver {
 public:
  void run_started(const RunSettings&) override { events.push_back("started"); }
  void input_started(int32_t index, const char*) override {
    events.push_back("input " + std::to_string(index));
  }
  void input_read(const DataAttributes&, const Window& w) override {
    events.push_back("read " + std::to_string(w.width) + "x" + std::to_string(w.height));
  }
  void result_formed(const OutputDescriptor& output, const Window&) override {
    events.push_back(std::string("formed ") + output.label);
  }
  void output_written(const char*) override { events.push_back("written"); }
  std::vector<std::string> events;
};

class RunResultTest : public RunDirectory {
 protected:
  RunResult run(const std::vector<MeasurementFile>& files, Recorder* recorder = nullptr) {
    inputs_.names.clear();
    for (std::size_t i = 0; i < files.size(); ++i) {
      inputs_.names.push_back(path(std::to_string(i) + ".dat"));
      write_input(std::to_string(i) + ".dat", files[i]);
    }
    avg_ = path("a.dat");
    count_ = path("c.dat");
    RunSettings settings;
    settings.AvgOutFile = avg_.c_str();
    settings.CountOutFile = count_.c_str();
    settings.MinValidCnt = 1;
    return run_averaging(settings, inputs_, recorder);
  }
  InputList inputs_;  // the result's file points into it
  std::string avg_, count_;
};

TEST_F(RunResultTest, ObserverHearsEveryStepInOrder) {
  Recorder recorder;
  const RunResult r =
      run({full_field(2, 1, {1, 2}), full_field(2, 1, {3, TEST_PHASE_INVALID})}, &recorder);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(NO_ERROR, r.code);
  const std::vector<std::string> want = {"started", "input 1",      "read 2x1",
                                         "input 2", "read 1x1",     "formed Avg",
                                         "written", "formed Count", "written"};
  EXPECT_EQ(want, recorder.events);
}

TEST_F(RunResultTest, FailuresNameTheirStepFileAndDetail) {
  MeasurementFile other_res = full_field(2, 1, {1, 2});
  other_res.camera_res *= 2;
  MeasurementFile no_phase = full_field(2, 1, {1, 2});
  no_phase.has_phase = false;
  const struct {
    std::vector<MeasurementFile> files;
    RunStep step;
    std::string file, detail;
  } cases[] = {
      {{full_field(2, 1, {1, 2}), other_res}, RunStep::MISMATCHED_INPUT, "1.dat", "CameraRes"},
      {{full_field(2, 1, {1, 2}), full_field(3, 1, {1, 2, 3})},
       RunStep::MISMATCHED_INPUT,
       "1.dat",
       "CameraWidth or CameraHeight"},
      {{no_phase}, RunStep::NO_HEIGHT_DATA, "0.dat", ""},
      {{full_field(2, 1, {TEST_PHASE_INVALID, TEST_PHASE_INVALID})},
       RunStep::NO_VALID_DATA,
       "0.dat",
       ""},
  };
  for (const auto& c : cases) {
    const RunResult r = run(c.files);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(c.step, r.step) << c.file;
    EXPECT_NE(NO_ERROR, r.code);
    EXPECT_EQ(path(c.file), r.file != nullptr ? r.file : "");
    EXPECT_EQ(c.detail, r.detail);
  }
}

// Changes one input when pass `pass` starts.
class Changer : public RunObserver {
 public:
  Changer(int32_t pass, std::function<void()> change) : pass_(pass), change_(std::move(change)) {}
  void pass_started(int32_t pass) override {
    if (pass == pass_) change_();
  }

 private:
  int32_t pass_;
  std::function<void()> change_;
};

TEST_F(RunResultTest, InputChangedBetweenPassesEndsTheRunNamingIt) {
  const std::string name = path("1.dat");
  const std::string bytes = encode_test_file(full_field(2, 1, {3, 4}));
  const std::vector<std::function<void()>> changes = {
      [&] { std::remove(name.c_str()); },
      [&] { write_file_bytes(name, bytes + "x"); },
      [&] {
        write_file_bytes(name + ".new", bytes);
        std::rename((name + ".new").c_str(), name.c_str());
      },
      [&] {
        const auto time = std::filesystem::last_write_time(name);
        std::filesystem::last_write_time(name, time - std::chrono::hours(1));
      },
  };
  // Pass 2 is the rejection round, pass 3 the report's, pass 4 the median's one band.
  for (int32_t pass : {2, 3, 4}) {
    for (const auto& change : changes) {
      write_input("0.dat", full_field(2, 1, {1, 2}));
      write_file_bytes(name, bytes);
      RunSettings settings;
      const std::string avg = path("a.dat"), report = path("r.csv");
      settings.AvgOutFile = avg.c_str();
      settings.InputReportFile = report.c_str();
      settings.Reject = 3;
      settings.MinValidCnt = 1;
      settings.Combine = CombineMode::MEDIAN;
      const InputList inputs{{path("0.dat"), name}};
      Changer changer(pass, change);
      const RunResult r = run_averaging(settings, inputs, &changer);
      EXPECT_EQ(RunStep::INPUT_CHANGED, r.step) << "pass " << pass;
      EXPECT_EQ(name, r.file != nullptr ? r.file : "");
      EXPECT_EQ("", read_file_bytes(avg));
      for (const auto& entry : std::filesystem::directory_iterator(dir_))
        EXPECT_NE(0u, entry.path().filename().string().rfind("r.csv", 0)) << "report left";
      EXPECT_EQ("Harnix\nERROR: Input file \"" + name + "\" changed during the run\n",
                capture_stderr([&] { print_run_failure(r); }));
    }
  }
}

// The stamps one read leaves, and how a read is judged against the first pass's stamp: from the
// file it had open, or by the name when it opened none.
TEST_F(RunResultTest, ReadStampsJudgeTheFileRead) {
  const std::string name = path("1.dat");
  write_file_bytes(name, encode_test_file(full_field(2, 1, {3, 4})));
  PhaseMap map;
  map_init(map);
  ReadStamps stamps;
  ASSERT_EQ(NO_ERROR, read_data_file_reusing(name.c_str(), nullptr, nullptr, &map, &stamps));
  map_free(map);
  EXPECT_TRUE(stamps.stamped && stamps.regular && read_was_steady(stamps));
  FileStamp recorded;
  ASSERT_TRUE(file_stamp(name.c_str(), &recorded));
  FileStamp grown = recorded, moved = recorded;
  ++grown.size;
  ++moved.identity.file;
  ReadStamps unopened, changing = stamps;
  changing.after = grown;
  const struct {
    const ReadStamps* read;
    const FileStamp* against;
    bool steady, unchanged;
  } cases[] = {{&stamps, &recorded, true, true},  {&stamps, &grown, true, false},
               {&stamps, &moved, true, false},    {&changing, &recorded, false, false},
               {&unopened, &recorded, true, true}, {&unopened, &grown, true, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.steady, read_was_steady(*c.read));
    EXPECT_EQ(c.unchanged, read_unchanged(name.c_str(), *c.read, *c.against));
  }
  std::remove(name.c_str());
  EXPECT_FALSE(read_unchanged(name.c_str(), unopened, recorded));
}

}  // namespace

}  // namespace harnix
