// A process ended by SIGINT, SIGTERM or SIGHUP leaves no temporary file behind, writes the text
// that erases its progress line, and ends with that signal's own status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "base/platform.h"
#include "support/run_directory.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

namespace fs = std::filesystem;

bool has_temporary_file(const std::string& dir) {
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().find(".tmp-") != std::string::npos) return true;
  return false;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
  return text;
}

class InterruptTest : public RunDirectory, public ::testing::WithParamInterface<int> {};

// In a child: two temporary files and the erase text, then the signal.
TEST_P(InterruptTest, RemovesTemporaryFilesAndErases) {
  int err[2];
  ASSERT_EQ(0, pipe(err));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(err[1], STDERR_FILENO);
    prepare_process();
    std::string a, b;
    if (create_temporary_file(path("a.csv"), &a) == nullptr ||
        create_temporary_file(path("b.png"), &b) == nullptr)
      std::_Exit(98);
    set_interrupt_text("\r\033[K");
    std::raise(GetParam());
    std::_Exit(99);
  }
  close(err[1]);
  const std::string written = read_all(err[0]);
  close(err[0]);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(GetParam(), WTERMSIG(status));
  EXPECT_EQ("\r\033[K", written);
  EXPECT_FALSE(has_temporary_file(dir_));
}

// harnix itself, interrupted while its per-input report is being made: it is held in the middle
// of the run by a standard output stream that nobody reads, once the verbose report has filled
// the pipe.
TEST_P(InterruptTest, RunLeavesNoReportDebris) {
  std::string list;
  for (int i = 0; i < 200; ++i) list += "in.dat\n";
  write_input("in.dat", full_field(3, 2, {5, 6, 7, 8, 9, 10}));
  write_file_bytes(path("list.txt"), list);
  int out[2];
  ASSERT_EQ(0, pipe(out));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    if (chdir(dir_.c_str()) != 0) std::_Exit(98);
    execl(HARNIX_EXE, HARNIX_EXE, "-Verbose", "-AvgOut", "a.dat", "-InputReport", "r.csv",
          "@list.txt", nullptr);
    std::_Exit(97);
  }
  close(out[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!has_temporary_file(dir_) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(has_temporary_file(dir_)) << "the report's temporary file was made";
  kill(child, GetParam());
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  close(out[0]);  // only now: a write into a closed pipe would end it by another signal
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(GetParam(), WTERMSIG(status));
  EXPECT_FALSE(has_temporary_file(dir_));
  EXPECT_FALSE(fs::exists(path("r.csv")));
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) {
                           return std::string(info.param == SIGINT    ? "Int"
                                              : info.param == SIGTERM ? "Term"
                                                                      : "Hup");
                         });

}  // namespace

}  // namespace harnix
