// A damaged second input, damaged in every way one byte or one cut can damage it: the file cut at
// every length, and every header byte the program interprets set to 0x00, 0x7F, 0x80 and 0xFF. Each
// run either succeeds with complete outputs or fails with a message, and never leaves an output
// that reads as a complete file unless the run succeeded.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "averaging/settings.h"
#include "support/in_process_run.h"
#include "support/planoryx_bytes.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;

class HostileSecondInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MeasurementFile f;
    f.camera_width = 4;
    f.camera_height = 3;
    f.x = 1;
    f.width = 3;
    f.height = 2;
    f.values = {7, -3, X, 12, 100000, 5};
    good_ = encode_test_file(f);
    dir_.write("a.dat", good_);
    names_ = {dir_.file("avg.dat"), dir_.file("sdev.dat"), dir_.file("count.dat")};
    settings_.AvgOutFile = names_[0].c_str();
    settings_.SdevOutFile = names_[1].c_str();
    settings_.CountOutFile = names_[2].c_str();
    settings_.SdevRemove = RemovalMode::PLANE;
    settings_.MinValidCnt = 1;
    inputs_.names = {dir_.file("a.dat"), dir_.file("b.dat")};
  }

  // Runs with `second` as the second input; returns whether the run succeeded.
  bool run_with(const std::string& second, const std::string& what) {
    write_file_bytes(dir_.file("b.dat"), second);
    const InProcessRun r = run_in_process(settings_, inputs_);
    for (const std::string& name : names_) {
      const std::string bytes = read_file_bytes(name);
      MeasurementFile decoded;
      const bool complete = decode_test_file(bytes, &decoded);
      if (r.ok) {
        EXPECT_TRUE(complete) << name << " after " << what;
      } else {
        EXPECT_TRUE(bytes.empty() || complete) << name << " after " << what;
      }
    }
    if (!r.ok) {
      EXPECT_TRUE(r.err.starts_with("Harnix\nERROR: ")) << what << ": " << r.err;
    } else {
      EXPECT_EQ("", r.err) << what;
    }
    return r.ok;
  }

  TempDir dir_;
  std::string good_;
  std::vector<std::string> names_;
  RunSettings settings_;
  InputList inputs_;
};

TEST_F(HostileSecondInputTest, EveryCutIsReportedAsAReadError) {
  ASSERT_TRUE(run_with(good_, "the whole file"));
  for (std::size_t n = 0; n < good_.size(); ++n) {
    EXPECT_FALSE(run_with(good_.substr(0, n), "a cut at " + std::to_string(n))) << n;
  }
}

// The header bytes the program interprets, as [first, last] offsets: the magic, header format and
// size, the origin, both map descriptions, TimeStamp, the four factors and CameraRes, PhaseRes,
// CameraWidth and CameraHeight, PixelWidth and PixelHeight. The other bytes are carried only.
constexpr std::pair<std::size_t, std::size_t> kInterpreted[] = {
    {0, 79}, {164, 191}, {218, 219}, {234, 237}, {486, 493}};

TEST_F(HostileSecondInputTest, EveryInterpretedHeaderByteOfAnyValueEndsCleanly) {
  for (const auto& [first, last] : kInterpreted) {
    for (std::size_t at = first; at <= last; ++at) {
      for (unsigned char value : {0x00, 0x7F, 0x80, 0xFF}) {
        std::string bad = good_;
        bad[at] = char(value);
        run_with(bad, "byte " + std::to_string(at) + " = " + std::to_string(value));
      }
    }
  }
}

}  // namespace

}  // namespace harnix
