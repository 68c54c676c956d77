// Results handed over in memory: the same bytes as the files a run writes, for every output and
// the per-input report, with and without rejection and threads; and a run asked to stop.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "averaging/averaging_run.h"
#include "datafile/data_file.h"
#include "support/planoryx_bytes.h"
#include "support/run_directory.h"

namespace harnix {

namespace {

class ResultSinkTest : public RunDirectory {
 protected:
  void SetUp() override {
    RunDirectory::SetUp();
    uint32_t seed = 7;
    for (int i = 0; i < 6; ++i) {
      std::vector<int32_t> values(24 * 18);
      for (int32_t& v : values) {
        seed = seed * 1103515245u + 12345u;
        v = (seed >> 16) % 17 == 0 ? TEST_PHASE_INVALID : int32_t(seed >> 20) - 2048 + 30 * i;
      }
      inputs_.names.push_back(path(std::to_string(i) + ".dat"));
      write_input(std::to_string(i) + ".dat", full_field(24, 18, values));
    }
  }

  // The bytes the writer gives for a kept result.
  std::string written(const KeptResult& k) {
    const std::string name = path("kept.dat");
    EXPECT_EQ(NO_ERROR, write_data_file(name.c_str(), nullptr, &k.attributes, nullptr, &k.map));
    return read_file_bytes(name);
  }

  InputList inputs_;
};

TEST_F(ResultSinkTest, KeptResultsAreTheFilesBytes) {
  const struct {
    double reject;
    int32_t threads;
    RemovalMode remove;
  } cases[] = {{0, 1, RemovalMode::NONE}, {0, 2, RemovalMode::PLANE}, {2.0, 1, RemovalMode::PISTON},
               {2.0, 2, RemovalMode::NONE}};
  const std::string names[] = {path("a.dat"), path("s.dat"), path("c.dat"), path("r.dat")};
  const std::string report = path("report.csv");
  for (const auto& c : cases) {
    RunSettings files;
    files.AvgOutFile = names[0].c_str();
    files.SdevOutFile = names[1].c_str();
    files.CountOutFile = names[2].c_str();
    files.RejectOutFile = c.reject > 0 ? names[3].c_str() : nullptr;
    files.InputReportFile = report.c_str();
    files.Overwrite = true;
    files.MinValidCnt = 3;
    files.Reject = c.reject;
    files.Threads = c.threads;
    files.SdevRemove = c.remove;
    ASSERT_TRUE(run_averaging(files, inputs_).ok());

    RunSettings memory = files;  // the same run, nothing named
    memory.AvgOutFile = memory.SdevOutFile = memory.CountOutFile = memory.RejectOutFile = nullptr;
    memory.InputReportFile = nullptr;
    ResultSink sink;
    for (std::size_t i = 0; i < 4; ++i) sink.want[i] = true;  // the outputs named above
    sink.want_figures = true;
    memory.Sink = &sink;
    ASSERT_TRUE(run_averaging(memory, inputs_).ok());
    for (std::size_t i = 0; i < OUTPUT_COUNT; ++i) {
      ASSERT_EQ(i < 3 || (i == 3 && c.reject > 0), sink.results[i].formed) << i;
      if (sink.results[i].formed) {
        EXPECT_EQ(read_file_bytes(names[i]), written(sink.results[i]));
      }
    }
    ASSERT_EQ(inputs_.names.size(), sink.figures.size());
    const std::string kept_report = path("kept.csv");
    std::FILE* f = std::fopen(kept_report.c_str(), "wb");
    ASSERT_EQ(NO_ERROR, write_input_report(f, inputs_, sink.figures.data()));
    std::fclose(f);
    EXPECT_EQ(read_file_bytes(report), read_file_bytes(kept_report));
  }
}

TEST_F(ResultSinkTest, AStoppedRunEndsAfterItsFirstInputKeepingNothing) {
  for (int32_t threads : {1, 2}) {
    const std::atomic<bool> stop{true};
    RunSettings settings;
    settings.MinValidCnt = 1;
    settings.Threads = threads;
    settings.Stop = &stop;
    ResultSink sink;
    for (bool& w : sink.want) w = true;
    settings.Sink = &sink;
    int32_t passed = 0;
    struct Count : RunObserver {
      int32_t* n;
      explicit Count(int32_t* count) : n(count) {}
      void input_passed(int32_t, int32_t, int32_t) override { ++*n; }
    } observer(&passed);
    const RunResult r = run_averaging(settings, inputs_, &observer);
    EXPECT_EQ(RunStep::STOPPED, r.step);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(1, passed);
    for (const KeptResult& k : sink.results) EXPECT_FALSE(k.formed);
  }
}

}  // namespace

}  // namespace harnix
