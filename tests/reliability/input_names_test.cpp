// Input and output names of any bytes, on the command line and in list files: names that are not
// UTF-8, very long names, names that start with the UTF-16 mark followed by an odd number of
// bytes or by an unpaired surrogate, names with format directives. Each is either opened as the
// file it names or reported with its bytes exactly as given, and the program ends with status 1;
// nothing crashes or reads another file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_directory.h"

namespace harnix {

namespace {

const std::vector<int32_t> VALUES = {1, 2, 3, 4, 5, 6};

std::string cannot_access(const std::string& name) {
  return "Harnix\nERROR: Cannot access input file \"" + name + "\"\n";
}

// A path of about `length` bytes inside the run directory, made of directories of 200 bytes.
std::string long_relative_path(std::size_t length) {
  std::string path;
  while (path.size() + 201 < length) path += std::string(200, 'd') + "/";
  return path + std::string(length - path.size(), 'f');
}

struct NameCase {
  const char* label;
  std::string argument;  // as passed on the command line or written as a list line
  std::string created;   // file created in the directory under this name ("": none)
  bool reads;            // the run succeeds, having read `created`
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) {
  return os << c.label;
}

const std::vector<NameCase>& name_cases() {
  static const std::vector<NameCase> cases = {
      {"Latin1Bytes", "caf\xe9.dat", "caf\xe9.dat", true},
      {"InvalidUtf8Missing", "\xc3\x28\xff.dat", "", false},
      {"FormatDirectives", "%s%n%x.dat", "", false},
      {"LineBreakInside", "a\rb\nc", "", false},
      {"VeryLongMissing", std::string(5000, 'n'), "", false},
      {"LongPathPresent", long_relative_path(700), long_relative_path(700), true},
      // The UTF-16 mark (least significant byte first) and one byte: the terminator completes
      // the unit, so the name is "a".
      {"MarkThenOddByte",
       "\xff\xfe"
       "a",
       "a", true},
      // Three bytes: the unit 0x6261 (U+6261) and "c".
      {"MarkThenThreeBytes",
       "\xff\xfe"
       "abc",
       "\xe6\x89\xa1"
       "c",
       true},
      // The mark most significant byte first and one byte: the unit 0x6100 (U+6100).
      {"SwappedMarkThenOddByte",
       "\xfe\xff"
       "a",
       "\xe6\x84\x80", true},
      {"MarkThenUnpairedSurrogate", "\xff\xfe\x01\xd8", "", false},
      {"MarkThenLowSurrogateFirst", "\xfe\xff\xdc\x01", "", false},
      {"MarkAlone", "\xff\xfe", "", false},
  };
  return cases;
}

class InputNameTest : public RunDirectory, public ::testing::WithParamInterface<NameCase> {
 protected:
  void SetUp() override {
    RunDirectory::SetUp();
    write_input("first.dat", full_field(3, 2, VALUES));
    const NameCase& c = GetParam();
    if (!c.created.empty()) {
      std::filesystem::create_directories(std::filesystem::path(path(c.created)).parent_path());
      write_input(c.created, full_field(3, 2, VALUES));
    }
  }

  void expect_outcome(const ProgramResult& r) {
    const NameCase& c = GetParam();
    if (c.reads) {
      EXPECT_EQ(0, r.status) << r.err;
      EXPECT_EQ("", r.err);
      EXPECT_EQ(2, read_output("count.dat").values.at(0)) << "both inputs counted";
    } else {
      EXPECT_EQ(1, r.status);
      // The name as given, up to a NUL that a list line may hold.
      EXPECT_EQ(cannot_access(c.argument.c_str()), r.err);
    }
  }
};

TEST_P(InputNameTest, OnTheCommandLine) {
  expect_outcome(harnix({"-CountOut", "count.dat", "first.dat", GetParam().argument}));
}

TEST_P(InputNameTest, AsAListFileLine) {
  write_file_bytes(path("list.txt"), "first.dat\n" + GetParam().argument + "\r\n");
  const NameCase& c = GetParam();
  const ProgramResult r = harnix({"-CountOut", "count.dat", "@list.txt"});
  if (c.argument.find_first_of("\r\n") != std::string::npos) {
    // A line break ends the line: the name is cut there and reported so.
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(cannot_access(c.argument.substr(0, c.argument.find_first_of("\r\n"))), r.err);
    return;
  }
  expect_outcome(r);
}

INSTANTIATE_TEST_SUITE_P(Names, InputNameTest, ::testing::ValuesIn(name_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

// List lines that no name could be: a UTF-16 list file (every other byte NUL), a line holding
// only a NUL, a line of 100000 bytes. Each ends in a message and status 1.
TEST_F(RunDirectory, ListLinesWithNulBytesOrHugeLengthAreRefusedCleanly) {
  write_input("first.dat", full_field(3, 2, VALUES));
  const std::string utf16_list(
      "\xff\xfe"
      "f\0i\0r\0s\0t\0.\0d\0a\0t\0\r\0\n\0"
      "x\0\r\0\n\0",
      30);
  for (const std::string& list :
       {utf16_list, std::string("first.dat\n\0\n", 12), "first.dat\n" + std::string(100000, 'z')}) {
    write_file_bytes(path("list.txt"), list);
    const ProgramResult r = harnix({"-CountOut", "count.dat", "@list.txt"});
    EXPECT_EQ(1, r.status);
    EXPECT_TRUE(r.err.starts_with("Harnix\nERROR: Cannot access input file \"")) << r.err;
  }
}

// Output names of the same kinds: a name that is not UTF-8 is created byte for byte, a UTF-16
// name with an unpaired surrogate cannot be created.
TEST_F(RunDirectory, OutputNamesOfAnyBytes) {
  write_input("first.dat", full_field(3, 2, VALUES));
  ProgramResult r = harnix({"-CountOut", "c\xe9\xff.dat", "first.dat", "first.dat"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(2, read_output("c\xe9\xff.dat").values.at(0));

  r = harnix({"-CountOut",
              "\xff\xfe"
              "\x01\xd8",
              "first.dat", "first.dat"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("Harnix\nERROR: Cannot create output file \"\xff\xfe\x01\xd8\"\n", r.err);

  r = harnix({"-CountOut",
              "\xff\xfe"
              "c",
              "first.dat", "first.dat"});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(2, read_output("c").values.at(0)) << "the UTF-16 name \"c\"";
}

}  // namespace

}  // namespace harnix
