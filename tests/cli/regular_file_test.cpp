#include "cli/regular_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/cli_case.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

TEST(IsRegularFile, KindsOfObject) {
  TempDir dir;
  dir.write("file", "x");
  dir.make_dir("sub");
  ASSERT_EQ(0, symlink(dir.file("file").c_str(), dir.file("link").c_str()));
  ASSERT_EQ(0, symlink(dir.file("gone").c_str(), dir.file("dangling").c_str()));
  EXPECT_TRUE(is_regular_file(dir.file("file").c_str()));
  EXPECT_TRUE(is_regular_file(dir.file("link").c_str()));
  EXPECT_FALSE(is_regular_file(dir.file("dangling").c_str()));
  EXPECT_FALSE(is_regular_file(dir.file("sub").c_str()));
  EXPECT_FALSE(is_regular_file(dir.file("gone").c_str()));
  EXPECT_FALSE(is_regular_file(""));
  EXPECT_FALSE(is_regular_file("/dev/null"));
}

// UTF-16 names on the command line, examined under their UTF-8 form.
const std::string WIDE_NAME = "\xFF\xFE\x2D\x4E\x87\x65";      // "中文" after the mark
const std::string UTF8_NAME = "\xE4\xB8\xAD\xE6\x96\x87";      // "中文"
const std::string BAD_WIDE_NAME = "\xFF\xFE\x3D\xD8\x41\x42";  // high surrogate, then "BA"

std::vector<CliCase> wide_name_cases() {
  return {
      {.label = "WideNameOfExistingFile",
       .args = {WIDE_NAME, "-AvgOut", "o"},
       .files = {{UTF8_NAME, "data"}},
       .reaches_run = true},
      // The bytes as such name a file, but the UTF-16 name does not.
      {.label = "WideNameNotConverted",
       .args = {WIDE_NAME, "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"" + WIDE_NAME + "\""),
       .files = {{WIDE_NAME, "data"}}},
      {.label = "UnpairedSurrogate",
       .args = {BAD_WIDE_NAME, "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"" + BAD_WIDE_NAME + "\""),
       .files = {{BAD_WIDE_NAME, "data"}}},
      // An existing output under a UTF-16 name is asked about, shown as typed.
  };
}

class WideName : public testing::TestWithParam<CliCase> {};
TEST_P(WideName, EndToEnd) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, WideName, testing::ValuesIn(wide_name_cases()),
                         CliCaseName());

}  // namespace

}  // namespace harnix
