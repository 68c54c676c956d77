// Outputs that cannot be written: a device that is full, a file-size limit, and a directory that
// disappears after the outputs were checked. The run reports ERR_CANT_WRITE_FILE or
// ERR_CANT_CREATE_FILE and fails (exit status 1); outputs written before stay complete and those
// after stay empty.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/in_process_run.h"
#include "support/run_directory.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

constexpr int32_t X = TEST_PHASE_INVALID;
const std::vector<int32_t> VALUES = {5, 6, X, 8, 9, 10};

struct FullDeviceCase {
  const char* label;
  int full;  // which output goes to /dev/full: 0 average, 1 deviation, 2 count
};

std::ostream& operator<<(std::ostream& os, const FullDeviceCase& c) {
  return os << c.label;
}

class FullDeviceTest : public RunDirectory, public ::testing::WithParamInterface<FullDeviceCase> {};

TEST_P(FullDeviceTest, ReportsCantWriteAndKeepsEarlierOutputsComplete) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this machine";
  write_input("in.dat", full_field(3, 2, VALUES));
  std::vector<std::string> outputs = {"a.dat", "s.dat", "c.dat"};
  const int full = GetParam().full;
  outputs[std::size_t(full)] = "/dev/full";
  const ProgramResult r = harnix(
      {"-AvgOut", outputs[0], "-SdevOut", outputs[1], "-CountOut", outputs[2], "in.dat", "in.dat"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Harnix\nERROR: ERR_CANT_WRITE_FILE\n", r.err);
  for (int i = 0; i < 3; ++i) {
    if (i == full) continue;
    const std::string bytes = read_file_bytes(path(outputs[std::size_t(i)]));
    if (i < full) {
      MeasurementFile f;
      EXPECT_TRUE(decode_test_file(bytes, &f)) << outputs[std::size_t(i)] << " is complete";
    } else {
      EXPECT_EQ("", bytes) << outputs[std::size_t(i)] << " stays empty";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Outputs, FullDeviceTest,
                         ::testing::Values(FullDeviceCase{"Average", 0},
                                           FullDeviceCase{"Deviation", 1},
                                           FullDeviceCase{"Count", 2}),
                         [](const auto& info) { return std::string(info.param.label); });

// What harnix prints on the standard output stream (the verbose report, the version, the usage
// text) must reach it: written into a full device, the command fails with a message.
class FullStandardOutputTest : public RunDirectory,
                               public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(FullStandardOutputTest, FailsWithAMessage) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full on this machine";
  write_input("in.dat", full_field(3, 2, VALUES));
  std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" >/dev/full", HARNIX_EXE};
  args.insert(args.end(), GetParam().begin(), GetParam().end());
  const ProgramResult r = run_program("/bin/sh", args, "", dir_);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("Harnix\nERROR: Cannot write to the standard output\n"))
      << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FullStandardOutputTest,
    ::testing::Values(std::vector<std::string>{"-Version"}, std::vector<std::string>{},
                      std::vector<std::string>{"-Verbose", "-AvgOut", "a.dat", "in.dat"}));

// In a child: harnix writing a 3 x 2 average (834 + 24 bytes) in `dir` under an 840-byte
// file-size limit.
[[noreturn]] void average_under_file_size_limit(const std::string& dir) {
  const rlimit limit{840, 840};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || chdir(dir.c_str()) != 0) std::_Exit(98);
  execl(HARNIX_EXE, HARNIX_EXE, "-AvgOut", "a.dat", "in.dat", "in.dat", nullptr);
  std::_Exit(97);
}

// A file-size limit (ulimit -f) below the size of the output: the write fails and is reported;
// the limit's signal does not end the program.
TEST_F(RunDirectory, FileSizeLimitIsAWriteFailure) {
  write_input("in.dat", full_field(3, 2, VALUES));
  EXPECT_EXIT(average_under_file_size_limit(dir_), ::testing::ExitedWithCode(1),
              "Harnix\nERROR: ERR_CANT_WRITE_FILE\n");
}

// Opens `fifo` for writing once the run has opened it for reading (giving up after 20 s), then
// calls `meanwhile` and feeds `bytes` through it.
void feed_fifo_when_opened(const std::string& fifo, const std::string& bytes,
                           const std::function<void()>& meanwhile) {
  int fd = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && errno == ENXIO &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (fd < 0) return;
  meanwhile();
  fcntl(fd, F_SETFL, 0);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += std::size_t(n);
  }
  close(fd);
}

// The last input is a FIFO: while the run waits for its bytes, the directory holding the outputs
// (already created empty by the run) is removed.
TEST(VanishingDirectory, ReportsCantCreate) {
  TempDir dir;
  dir.write("in.dat", encode_test_file(full_field(3, 2, VALUES)));
  const std::string fifo = dir.file("pipe.dat");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  dir.make_dir("out");
  const std::string average = dir.file("out/a.dat");
  const std::string count = dir.file("out/c.dat");
  RunSettings settings;
  settings.AvgOutFile = average.c_str();
  settings.CountOutFile = count.c_str();
  settings.MinValidCnt = 1;
  InputList inputs;
  inputs.names = {dir.file("in.dat"), fifo};

  bool outputs_were_created = false;
  std::thread feeder(feed_fifo_when_opened, fifo, encode_test_file(full_field(3, 2, VALUES)), [&] {
    outputs_were_created = std::filesystem::exists(average);
    std::filesystem::remove_all(dir.file("out"));
  });
  const InProcessRun r = run_in_process(settings, inputs);
  feeder.join();
  EXPECT_TRUE(outputs_were_created);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ("Harnix\nERROR: ERR_CANT_CREATE_FILE\n", r.err);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
}

}  // namespace

}  // namespace harnix
