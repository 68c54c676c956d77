// What a writer by temporary file and rename does to the name it is given: a regular file or a
// missing name is replaced whole; a symbolic link is followed and the file it leads to replaced
// in its own folder, the link kept; a device or a pipe is written in place and never replaced.
// The same for harnix's per-input report and harnix-util's export and report pages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/run_directory.h"

namespace harnix {

namespace {

namespace fs = std::filesystem;

struct Writer {
  const char* label;
  bool util;
  std::vector<std::string> args;  // OUT stands for the output name
};

const Writer WRITERS[] = {
    {"InputReport", false, {"-Overwrite", "-InputReport", "OUT", "in.dat", "in.dat"}},
    {"Export", true, {"export", "in.dat", "--format", "xyz", "-o", "OUT"}},
    {"Report", true, {"report", "in.dat", "-o", "OUT"}},
};

class OutputTargetTest : public RunDirectory, public ::testing::WithParamInterface<Writer> {
 protected:
  void SetUp() override {
    RunDirectory::SetUp();
    write_input("in.dat", full_field(3, 2, {5, 60, 7, 8, 90, 10}));
    fs::create_directory(path("sub"));
  }

  ProgramResult write_to(const std::string& out) {
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args)
      if (a == "OUT") a = out;
    return GetParam().util ? util(args) : harnix(args);
  }

  // No temporary file left in the directory or in sub/.
  void expect_no_debris() {
    for (const char* folder : {"", "sub"})
      for (const auto& entry : fs::directory_iterator(path(folder)))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp-"))
            << entry.path();
  }
};

TEST_P(OutputTargetTest, LinkIsFollowedAndKept) {
  write_file_bytes(path("sub/old.out"), "old");
  fs::create_symlink("sub/old.out", path("link.out"));
  fs::create_symlink("sub/new.out", path("dangling.out"));
  for (const char* name : {"link.out", "dangling.out"}) {
    const ProgramResult r = write_to(name);
    ASSERT_EQ(0, r.status) << name << r.err;
    EXPECT_TRUE(fs::is_symlink(path(name))) << name;
  }
  const std::string written = read_file_bytes(path("sub/old.out"));
  EXPECT_NE("old", written);
  EXPECT_EQ(written, read_file_bytes(path("sub/new.out")));
  expect_no_debris();
}

TEST_P(OutputTargetTest, DeviceIsWrittenInPlace) {
  fs::create_symlink("/dev/null", path("null.out"));
  fs::create_symlink("/dev/full", path("full.out"));
  EXPECT_EQ(0, write_to("null.out").status);
  const ProgramResult full = write_to("full.out");
  EXPECT_EQ(1, full.status) << "a full device fails the output";
  EXPECT_NE(std::string::npos, full.err.find(GetParam().util ? "full.out" : "ERR_CANT_WRITE_FILE"))
      << full.err;
  for (const char* name : {"null.out", "full.out"}) EXPECT_TRUE(fs::is_symlink(path(name)));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  expect_no_debris();
}

TEST_P(OutputTargetTest, PipeTakesTheBytes) {
  ASSERT_EQ(0, mkfifo(path("pipe.out").c_str(), 0600));
  std::string received;
  std::thread reader([&] {
    const int fd = open(path("pipe.out").c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
      received.append(buffer, std::size_t(n));
    if (fd >= 0) close(fd);
  });
  const ProgramResult r = write_to("pipe.out");
  // A writer that never opened the pipe would leave the reader waiting: open it once more.
  const int release = open(path("pipe.out").c_str(), O_WRONLY | O_NONBLOCK);
  if (release >= 0) close(release);
  reader.join();
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_FALSE(received.empty());
  EXPECT_TRUE(fs::is_fifo(path("pipe.out")));
  expect_no_debris();
}

INSTANTIATE_TEST_SUITE_P(Writers, OutputTargetTest, ::testing::ValuesIn(WRITERS),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace

}  // namespace harnix
