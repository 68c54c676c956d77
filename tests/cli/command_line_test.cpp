// The command line as a script meets it: every refusal with its message and status, the cases
// answered with the usage text alone, and commands that get through to the averaging run.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "averaging/band_team.h"
#include "support/cli_case.h"

namespace harnix {

namespace {

std::vector<std::string> numbered_names(int count) {
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    std::string name = "n";
    name += std::to_string(i);
    names.push_back(name);
  }
  return names;
}

const std::string LONG_TEXT(600, 'q');

std::vector<CliCase> refusals() {
  const std::string usage = USAGE_TEXT;
  const std::string threads_range =
      error_text("Threads value is out of range [1," + std::to_string(usable_cores()) + "]");
  return {
      {.label = "DashAlone",
       .args = {"-", "a.dat"},
       .err = error_text("Missing option name after prefix '/'")},
      {.label = "UnknownKeywordShort",
       .args = {"a.dat", "-Avg", "x"},
       .err = error_text("Unknown option \"/Avg\"")},
      {.label = "UnknownKeywordLonger",
       .args = {"a.dat", "-AvgOutFile", "x"},
       .err = error_text("Unknown option \"/AvgOutFile\"")},
      {.label = "UnknownKeywordLongerThan511",
       .args = {"a.dat", "-avgout" + LONG_TEXT, "x"},
       .err = error_text("Unknown option \"/avgout" + LONG_TEXT + "\"")},
      {.label = "MissingValueAsTyped",
       .args = {"a.dat", "-AVGOUT"},
       .err = error_text("Missing value after \"/AVGOUT\"")},
      {.label = "SdevRemoveAbbreviated",
       .args = {"a.dat", "-SdevRemove", "Plan", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown SdevRemove value \"Plan\"")},
      {.label = "SdevRemoveLongerThan511",
       .args = {"a.dat", "-SdevRemove", "plane" + LONG_TEXT},
       .out = usage,
       .err = error_text("Unknown SdevRemove value \"plane" + LONG_TEXT + "\"")},
      {.label = "CombineUnknown",
       .args = {"a.dat", "-Combine", "Mode", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown Combine value \"Mode\"")},
      {.label = "MemoryLimitZero",
       .args = {"a.dat", "-Combine", "Median", "-MemoryLimit", "0", "-AvgOut", "o"},
       .err = error_text("MemoryLimit value is out of range (0,1099511627776]")},
      {.label = "MemoryLimitText",
       .args = {"a.dat", "-Combine", "Median", "-MemoryLimit", "lots", "-AvgOut", "o"},
       .err = error_text("Invalid MemoryLimit value \"lots\"")},
      {.label = "MemoryLimitWithoutMedian",
       .args = {"a.dat", "b.dat", "-MemoryLimit", "64", "-AvgOut", "o"},
       .err = error_text("MemoryLimit needs Combine Median")},
      {.label = "SdevTypeUnknown",
       .args = {"a.dat", "-SdevType", "Unbiased", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown SdevType value \"Unbiased\"")},
      {.label = "LevelUnknown",
       .args = {"a.dat", "-Level", "Tilt", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown Level value \"Tilt\"")},
      {.label = "LevelEmpty",
       .args = {"a.dat", "-Level", "", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown Level value \"\"")},
      {.label = "LevelMissing",
       .args = {"a.dat", "-AvgOut", "o", "-Level"},
       .err = error_text("Missing value after \"/Level\"")},
      {.label = "LevelWithMedian",
       .args = {"a.dat", "-AvgOut", "o", "-Level", "Plane", "-Combine", "Median"},
       .reaches_run = true},
      {.label = "LevelAnyCase",
       .args = {"a.dat", "-AvgOut", "o", "-level", "pLaNe"},
       .reaches_run = true},
      {.label = "PhaseResUnknown",
       .args = {"a.dat", "-PhaseRes", "Ultra", "-AvgOut", "o"},
       .out = usage,
       .err = error_text("Unknown PhaseRes value \"Ultra\"")},
      {.label = "MinValidPctZero",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidPct", "0"},
       .err = error_text("MinValidPct value is out of range (0,100]")},
      {.label = "MinValidPctAbove100",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidPct", "100.5"},
       .err = error_text("MinValidPct value is out of range (0,100]")},
      {.label = "MinValidPctNan",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidPct", "nan"},
       .err = error_text("MinValidPct value is out of range (0,100]")},
      // Checked when applied: before the missing inputs are noticed.
      {.label = "MinValidPctZeroWithoutInputs",
       .args = {"-MinValidPct", "0"},
       .err = error_text("MinValidPct value is out of range (0,100]")},
      {.label = "RejectZero",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "0"},
       .err = error_text("Reject value is out of range (0,Inf)")},
      {.label = "RejectInfinite",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "inf"},
       .err = error_text("Reject value is out of range (0,Inf)")},
      {.label = "RejectNan",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "nan"},
       .err = error_text("Reject value is out of range (0,Inf)")},
      {.label = "RejectTrailingText",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "3x"},
       .err = error_text("Invalid Reject value \"3x\"")},
      {.label = "RejectIterZero",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "3", "-RejectIter", "0"},
       .err = error_text("RejectIter value is out of range [1,10]")},
      {.label = "RejectIterEleven",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "3", "-RejectIter", "11"},
       .err = error_text("RejectIter value is out of range [1,10]")},
      {.label = "RejectIterFraction",
       .args = {"a.dat", "-AvgOut", "o", "-Reject", "3", "-RejectIter", "1.5"},
       .err = error_text("Invalid RejectIter value \"1.5\"")},
      {.label = "AlignUnknown",
       .args = {"a.dat", "-AvgOut", "o", "-Align", "Shifts"},
       .out = usage,
       .err = error_text("Unknown Align value \"Shifts\"")},
      {.label = "AlignMaxZero",
       .args = {"a.dat", "-AvgOut", "o", "-Align", "shift", "-AlignMax", "0"},
       .err = error_text("AlignMax value is out of range [1,512]")},
      {.label = "AlignMaxAbove512",
       .args = {"a.dat", "-AvgOut", "o", "-Align", "shift", "-AlignMax", "513"},
       .err = error_text("AlignMax value is out of range [1,512]")},
      {.label = "AlignMaxFraction",
       .args = {"a.dat", "-AvgOut", "o", "-Align", "shift", "-AlignMax", "2.5"},
       .err = error_text("Invalid AlignMax value \"2.5\"")},
      {.label = "AlignWithMedian",
       .args = {"a.dat", "-AvgOut", "o", "-Align", "shift", "-Combine", "median"},
       .reaches_run = true},
      {.label = "AlignMaxWithoutAlign",
       .args = {"a.dat", "-AvgOut", "o", "-AlignMax", "4"},
       .err = error_text("AlignMax needs the Align Shift option")},
      {.label = "RejectIterWithoutReject",
       .args = {"a.dat", "-AvgOut", "o", "-RejectIter", "2"},
       .err = error_text("RejectIter needs the Reject option")},
      {.label = "RejectOutWithoutReject",
       .args = {"a.dat", "-AvgOut", "o", "-RejectOut", "r"},
       .err = error_text("RejectOut needs the Reject option")},
      {.label = "ThreadsZero",
       .args = {"a.dat", "-AvgOut", "o", "-Threads", "0"},
       .err = threads_range},
      {.label = "ThreadsBeyondTheCores",
       .args = {"a.dat", "-AvgOut", "o", "-Threads", std::to_string(usable_cores() + 1)},
       .err = threads_range},
      {.label = "ThreadsFraction",
       .args = {"a.dat", "-AvgOut", "o", "-Threads", "1.5"},
       .err = error_text("Invalid Threads value \"1.5\"")},
      {.label = "AtAlone",
       .args = {"@", "-AvgOut", "o"},
       .err = error_text("Missing list file name after prefix '@'")},
      {.label = "TooManyNamesOnCommandLine",
       .args = numbered_names(10001),
       .err = error_text("More than 10000 input filenames")},
      {.label = "NoInputFiles",
       .args = {"-AvgOut", "o"},
       .err = error_text("No input files specified")},
      {.label = "InputMissing",
       .args = {"a.dat", "missing.dat", "nothing.dat", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"missing.dat\"")},
      {.label = "InputIsDirectory",
       .args = {"dir", "a.dat", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"dir\"")},
      {.label = "InputEmptyName",
       .args = {"a.dat", "", "-AvgOut", "o"},
       .err = error_text("Cannot access input file \"\"")},
      // Only "-" introduces an option: /AvgOut and its value are two input names.
      {.label = "SlashIsAnInputName",
       .args = {"a.dat", "/AvgOut", "o"},
       .err = error_text("Cannot access input file \"/AvgOut\"")},
      // Inputs are checked before outputs, and a full list's names are all checked.
      {.label = "InputCheckedBeforeOutputs",
       .args = numbered_names(10000),
       .err = error_text("Cannot access input file \"n0\"")},
      {.label = "NoOutputFile",
       .args = {"a.dat", "b.dat", "-Verbose"},
       .err = error_text("No output file specified")},
      {.label = "MinValidCntAboveCount",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "4"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      {.label = "MinValidCntNegative",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "-2"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      {.label = "MinValidCntTrailingText",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", " +4abc"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      // Beyond 32 bits a count is out of range, never wrapped into range (2^32 + 3, -2^32 + 1).
      {.label = "MinValidCntWrapsTo3",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "4294967299"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      {.label = "MinValidCntWrapsTo1",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "-4294967295"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      {.label = "MinValidCntBeyond64Bits",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", "99999999999999999999999"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      // The same name twice counts twice.
      {.label = "LastCountKeptOutOfRange",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", "1", "-MinValidCnt", "5"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      {.label = "MinValidCntRepeatedName",
       .args = {"a.dat", "a.dat", "-AvgOut", "o", "-MinValidCnt", "3"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]")},
      // Two outputs naming one file would keep only the last written; an output that is the
      // list file would replace it. Both are refused before any question or file is made.
      {.label = "OutputsNameOneFile",
       .args = {"a.dat", "-AvgOut", "same.dat", "-SdevOut", "same.dat"},
       .err = error_text("Output files \"same.dat\" and \"same.dat\" are one file")},
      {.label = "OutputsNameOneExistingFile",
       .args = {"a.dat", "-CountOut", "out.dat", "-InputReport", "dir/../out.dat"},
       .err = error_text("Output files \"out.dat\" and \"dir/../out.dat\" are one file")},
      {.label = "OutputsNameOneNewFile",
       .args = {"a.dat", "-SdevOut", "./new.dat", "-RejectOut", "new.dat", "-Reject", "3"},
       .err = error_text("Output files \"./new.dat\" and \"new.dat\" are one file")},
      {.label = "OutputIsTheListFile",
       .args = {"-Overwrite", "-AvgOut", "o", "-SdevOut", "./list.txt", "@list.txt"},
       .err = error_text("Output file \"./list.txt\" is the list file"),
       .files = {{"list.txt", "a.dat\n"}}},
      // A refusal comes before any overwrite question.
      {.label = "MinValidCntBeforePrompt",
       .args = {"a.dat", "-AvgOut", "out.dat", "-MinValidCnt", "2"},
       .err = error_text("MinValidCnt is out of range [1,NumInputFiles]"),
       .input = "y\n"},
  };
}

std::vector<CliCase> usage_only() {
  const std::string usage = USAGE_TEXT;
  return {
      {.label = "NoArguments", .args = {}, .out = usage},
      {.label = "SingleInputName", .args = {"a.dat"}, .out = usage},
      {.label = "LoneListFile", .args = {"@list.txt"}, .out = usage},
      {.label = "MinValidCntNoDigits",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", "abc"},
       .out = usage},
      {.label = "MinValidCntSignOnly",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", "-"},
       .out = usage},
      {.label = "MinValidCntEmpty",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", ""},
       .out = usage},
      {.label = "MinValidPctNoNumber",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidPct", "."},
       .out = usage},
      {.label = "MinValidPctText",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidPct", "half"},
       .out = usage},
      {.label = "ListAfterInputName",
       .args = {"a.dat", "@list.txt", "-AvgOut", "o"},
       .out = usage,
       .files = {{"list.txt", "b.dat\n"}}},
      {.label = "ListAfterList",
       .args = {"@list.txt", "@list.txt", "-AvgOut", "o"},
       .out = usage,
       .files = {{"list.txt", "b.dat\n"}}},
      {.label = "InputNameAfterList",
       .args = {"@list.txt", "a.dat", "-AvgOut", "o"},
       .out = usage,
       .files = {{"list.txt", "b.dat\n"}}},
      // The list file is never read when it comes after an input name.
      {.label = "ListAfterInputNotRead", .args = {"a.dat", "@missing.txt"}, .out = usage},
  };
}

std::vector<CliCase> accepted() {
  return {
      {.label = "KeywordsAnyCase",
       .args = {"a.dat", "-avgout", "o1", "-SDEVOUT", "o2", "-CountOut", "o3", "-sdevremove",
                "SPHERE", "-PhaseRes", "high", "-VERBOSE"},
       .reaches_run = true},
      {.label = "OptionsAfterNames",
       .args = {"a.dat", "b.dat", "-AvgOut", "o", "-SdevRemove", "None", "-PhaseRes", "Normal"},
       .reaches_run = true},
      {.label = "ValueLooksLikeOption",
       .args = {"a.dat", "-AvgOut", "-Verbose"},
       .reaches_run = true},
      {.label = "VersionAsValue", .args = {"a.dat", "-AvgOut", "-Version"}, .reaches_run = true},
      // An option given twice keeps its last value.
      {.label = "LastCountKept",
       .args = {"a.dat", "-AvgOut", "o", "-MinValidCnt", "5", "-MinValidCnt", "1"},
       .reaches_run = true},
      {.label = "LastOutputKept",
       .args = {"a.dat", "-AvgOut", "out.dat", "-AvgOut", "new.dat"},
       .reaches_run = true},
      {.label = "MinValidCntZeroMeansAll",
       .args = {"a.dat", "b.dat", "-AvgOut", "o", "-MinValidCnt", "0"},
       .reaches_run = true},
      {.label = "MinValidCntInRange",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "3"},
       .reaches_run = true},
      {.label = "MinValidCntReadLikeStrtol",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "  +3abc"},
       .reaches_run = true},
      // The percentage decides; the count is never range-tested.
      {.label = "MinValidPctWinsOverCnt",
       .args = {"a.dat", "b.dat", "c.dat", "-AvgOut", "o", "-MinValidCnt", "7", "-MinValidPct",
                "50"},
       .reaches_run = true},
      {.label = "MinValidPctWinsOverHugeCnt",
       .args = {"a.dat", "-MinValidCnt", "4294967299", "-AvgOut", "o", "-MinValidPct", "100"},
       .reaches_run = true},
      {.label = "EveryNewOption",
       .args = {"a.dat", "-SdevOut", "s", "-SdevRemove", "Cylinder", "-Reject", "2.5",
                "-RejectIter", "10", "-RejectOut", "r", "-InputReport", "i.csv"},
       .reaches_run = true},
      {.label = "RobustRemoval",
       .args = {"a.dat", "-SdevOut", "s", "-SdevRemove", "robust"},
       .reaches_run = true},
      // The report alone is an output, and asks before it replaces a file.
      {.label = "ReportAloneAsksBeforeOverwriting",
       .args = {"a.dat", "-InputReport", "out.dat"},
       .out = "Overwrite file \"out.dat\" (n) ? ",
       .input = "y\n",
       .reaches_run = true},
      {.label = "ThreadsInRange",
       .args = {"a.dat", "-AvgOut", "o", "-threads", "1", "-Threads",
                std::to_string(usable_cores())},
       .reaches_run = true},
      // Names alike in their last part, in other folders, are other files.
      {.label = "OutputsInOtherFolders",
       .args = {"-AvgOut", "n.dat", "-SdevOut", "dir/n.dat", "-CountOut", "dir/list.txt",
                "@list.txt"},
       .files = {{"list.txt", "a.dat\n"}},
       .reaches_run = true},
      {.label = "RepeatedNameCountsTwice",
       .args = {"a.dat", "a.dat", "-AvgOut", "o", "-MinValidCnt", "2"},
       .reaches_run = true},
  };
}

// -Version answers with the name and version and ends the program where it stands: options
// before it are still checked, nothing after it is.
std::vector<CliCase> version() {
  const std::string line = std::string("Harnix ") + HARNIX_VERSION + "\n";
  return {
      {.label = "Alone", .args = {"-Version"}, .out = line, .status = 0},
      {.label = "AnyCase", .args = {"-VERSION"}, .out = line, .status = 0},
      {.label = "AfterACommand",
       .args = {"a.dat", "-AvgOut", "out.dat", "-version", "-Bogus"},
       .out = line,
       .status = 0},
      {.label = "AfterAnUnknownOption",
       .args = {"-Bogus", "-Version"},
       .err = error_text("Unknown option \"/Bogus\"")},
      {.label = "AbbreviatedAlone", .args = {"-Vers"}, .out = USAGE_TEXT},
  };
}

class Refusal : public testing::TestWithParam<CliCase> {};
TEST_P(Refusal, PrintsMessageAndExitsWith1) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, Refusal, testing::ValuesIn(refusals()), CliCaseName());

class UsageOnly : public testing::TestWithParam<CliCase> {};
TEST_P(UsageOnly, PrintsUsageAndExitsWith1) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, UsageOnly, testing::ValuesIn(usage_only()), CliCaseName());

class Version : public testing::TestWithParam<CliCase> {};
TEST_P(Version, PrintsNameAndVersion) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, Version, testing::ValuesIn(version()), CliCaseName());

class Accepted : public testing::TestWithParam<CliCase> {};
TEST_P(Accepted, ReachesTheRun) {
  check_cli_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(CommandLine, Accepted, testing::ValuesIn(accepted()), CliCaseName());

}  // namespace

}  // namespace harnix
