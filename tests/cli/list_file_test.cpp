// The list file: line ends, blanks, long lines, and the files that cannot serve as a list.
#include "cli/list_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/cli_case.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

struct TrimCase {
  std::string text;
  std::string trimmed;
  std::size_t removed;
};

TEST(TrimBlanks, RemovesOnlyOuterSpacesTabsAndLineFeeds) {
  const std::vector<TrimCase> cases = {
      {"", "", 0},
      {"a.dat", "a.dat", 0},
      {"  a b.dat\t", "a b.dat", 3},
      {"\n\t a\tb \n", "a\tb", 5},
      {" \t\n ", "", 4},
      {"\ra.dat\r", "\ra.dat\r", 0},  // a carriage return is no blank
      {"\va\f", "\va\f", 0},
  };
  for (const TrimCase& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(c.removed, trim_blanks(text)) << "[" << c.text << "]";
    EXPECT_EQ(c.trimmed, text) << "[" << c.text << "]";
  }
}

std::string lines_of(int count, const std::string& prefix) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += prefix;
    text += std::to_string(i);
    text += '\n';
  }
  return text;
}

std::vector<CliCase> list_cases() {
  return {
      {.label = "LineFeedEnds",
       .args = {"@l.txt", "-AvgOut", "o"},
       .files = {{"l.txt", "a.dat\nb.dat\n"}},
       .reaches_run = true},
      {.label = "CarriageReturnLineFeedEnds",
       .args = {"@l.txt", "-AvgOut", "o"},
       .files = {{"l.txt", "a.dat\r\nb.dat\r\n"}},
       .reaches_run = true},
      {.label = "NoFinalLineEnd",
       .args = {"@l.txt", "-AvgOut", "o"},
       .files = {{"l.txt", "a.dat\nb.dat"}},
       .reaches_run = true},
      {.label = "BlankLinesSkipped",
       .args = {"-AvgOut", "o", "@l.txt"},
       .files = {{"l.txt", "\n  \r\n\ta.dat\t\n\n \t \nb.dat  \r\n"}},
       .reaches_run = true},
      {.label = "TenThousandNames",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"n0\""),
       .files = {{"l.txt", lines_of(10000, "n")}}},
      // The names as read show in the message for the first one that is missing.
      {.label = "CarriageReturnCut",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"missing.dat\""),
       .files = {{"l.txt", "a.dat\r\nmissing.dat\r\nb.dat\r\n"}}},
      {.label = "CutAtFirstCarriageReturn",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"x\""),
       .files = {{"l.txt", "x\ry.dat\n"}}},
      {.label = "InnerBlanksKept",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"a b.dat\""),
       .files = {{"l.txt", "  a b.dat\t\n"}}},
      {.label = "QuotesAreNameCharacters",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"\"a.dat\"\""),
       .files = {{"l.txt", "\"a.dat\"\n"}}},
      {.label = "LongMissingNameWhole",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"" + std::string(1500, 'z') + "\""),
       .files = {{"l.txt", std::string(1500, 'z') + "\n"}}},
      {.label = "Missing",
       .args = {"@none.txt", "-AvgOut", "o"},
       .err = error_text("Cannot access list file \"none.txt\"")},
      {.label = "Directory",
       .args = {"@dir", "-AvgOut", "o"},
       .err = error_text("Cannot access list file \"dir\"")},
      {.label = "Empty",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Empty list file \"l.txt\""),
       .files = {{"l.txt", ""}}},
      {.label = "OnlyBlanks",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("Empty list file \"l.txt\""),
       .files = {{"l.txt", " \n\t\t\r\n\n   "}}},
      {.label = "TooManyNames",
       .args = {"@l.txt", "-AvgOut", "o"},
       .err = error_text("More than 10000 input filenames"),
       .files = {{"l.txt", lines_of(10001, "n")}}},
      // The list is read when met: its refusal comes before that of an unknown option after it.
      {.label = "ReadWhenMet",
       .args = {"@l.txt", "-Bogus"},
       .err = error_text("Empty list file \"l.txt\""),
       .files = {{"l.txt", "\n"}}},
  };
}

class ListFile : public testing::TestWithParam<CliCase> {};
TEST_P(ListFile, EndToEnd) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, ListFile, testing::ValuesIn(list_cases()), CliCaseName());

TEST(ListFile, UnreadableFileCannotBeAccessed) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir dir;
  dir.write("l.txt", "a.dat\n");
  chmod(dir.file("l.txt").c_str(), 0);
  InputList list;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(read_list_file(dir.file("l.txt").c_str(), &list));
  EXPECT_EQ(error_text("Cannot access list file \"" + dir.file("l.txt") + "\""),
            testing::internal::GetCapturedStderr());
  EXPECT_TRUE(list.names.empty());
}

}  // namespace

}  // namespace harnix
