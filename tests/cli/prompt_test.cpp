// The overwrite question: which answers go on, which end the program, and when it is not asked.
#include "cli/prompt.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cli_case.h"

namespace harnix {

namespace {

const std::string ASK_OUT = "Overwrite file \"out.dat\" (n) ? ";
const std::string ASK_OUT2 = "Overwrite file \"out2.dat\" (n) ? ";

CliCase answered(const std::string& label, const std::string& input, bool goes_on) {
  return {.label = label,
          .args = {"a.dat", "-AvgOut", "out.dat"},
          .out = ASK_OUT,
          .input = input,
          .reaches_run = goes_on};
}

std::vector<CliCase> prompt_cases() {
  return {
      answered("LowerY", "y\n", true),
      answered("UpperY", "Y\n", true),
      answered("One", "1\n", true),
      answered("Yes", "yes please\n", true),
      answered("YWithoutLineEnd", "y", true),
      answered("LowerN", "n\n", false),
      answered("EmptyLine", "\n", false),
      answered("LeadingBlank", " y\n", false),
      answered("OtherLetter", "x\n", false),
      answered("EndOfInput", "", false),
      // Outputs are asked about in the order average, deviation, count.
      {.label = "AskedInOutputOrder",
       .args = {"a.dat", "-CountOut", "out.dat", "-AvgOut", "out2.dat"},
       .out = ASK_OUT2,
       .input = "n\n",
       .files = {{"out2.dat", ""}}},
      {.label = "BothAnsweredYes",
       .args = {"a.dat", "-CountOut", "out.dat", "-AvgOut", "out2.dat"},
       .out = ASK_OUT2 + ASK_OUT,
       .input = "y\n1\n",
       .files = {{"out2.dat", ""}},
       .reaches_run = true},
      {.label = "SecondDeclined",
       .args = {"a.dat", "-SdevOut", "out.dat", "-AvgOut", "out2.dat"},
       .out = ASK_OUT2 + ASK_OUT,
       .input = "y\nn\n",
       .files = {{"out2.dat", ""}}},
      // The rest of a long answer must not answer the next question.
      {.label = "LongAnswerConsumedWhole",
       .args = {"a.dat", "-SdevOut", "out.dat", "-AvgOut", "out2.dat"},
       .out = ASK_OUT2 + ASK_OUT,
       .input = std::string(2000, 'y') + "\nn\n",
       .files = {{"out2.dat", ""}}},
      {.label = "PercentShownLiterally",
       .args = {"a.dat", "-AvgOut", "100%d%s.dat"},
       .out = "Overwrite file \"100%d%s.dat\" (n) ? ",
       .input = "n\n",
       .files = {{"100%d%s.dat", ""}}},
      {.label = "NotAskedWithOverwrite",
       .args = {"a.dat", "-Overwrite", "-AvgOut", "out.dat"},
       .reaches_run = true},
      {.label = "NotAskedForDirectory", .args = {"a.dat", "-AvgOut", "dir"}, .reaches_run = true},
      {.label = "NotAskedForNewFile", .args = {"a.dat", "-AvgOut", "new.dat"}, .reaches_run = true},
  };
}

class OverwritePrompt : public testing::TestWithParam<CliCase> {};
TEST_P(OverwritePrompt, EndToEnd) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, OverwritePrompt, testing::ValuesIn(prompt_cases()),
                         CliCaseName());

}  // namespace

}  // namespace harnix
