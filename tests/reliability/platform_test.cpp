// What differs between systems (base/platform.h), seen through the program and run on each:
// names beyond ASCII (é, 測, an emoji outside the basic plane) open the files they name and
// create outputs under them, list files in UTF-8 or UTF-16 with a byte-order mark, and an output
// that names an input under another spelling is refused.
#include "base/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cli/list_file.h"
#include "support/in_process_run.h"
#include "support/planoryx_bytes.h"
#include "support/temp_dir.h"

namespace harnix {

namespace {

const std::vector<std::string> NAMES = {"é.dat", "測.dat", "😀.dat"};
const std::vector<int32_t> VALUES = {10, 20};

std::string measurement() {
  MeasurementFile f;
  f.camera_width = f.width = 2;
  f.camera_height = f.height = 1;
  f.values = VALUES;
  return encode_test_file(f);
}

// The names in a directory as the file system holds them, in UTF-8.
std::set<std::string> names_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(TempDir::native(dir.path()))) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

// UTF-16 units of UTF-8 text (known valid), least significant byte first unless `big`.
std::string utf16(const std::string& text, bool big) {
  std::string out;
  auto unit = [&](unsigned u) {
    out.push_back(char(big ? u >> 8 : u & 0xFF));
    out.push_back(char(big ? u & 0xFF : u >> 8));
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k)
      code = code << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += std::size_t(length);
    if (code < 0x10000) {
      unit(code);
    } else {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  return out;
}

struct ListCase {
  const char* label;
  std::string mark;
  const char* line_end;
  int utf16;  // 0: UTF-8, 1: UTF-16 least significant byte first, 2: most significant first
};

std::ostream& operator<<(std::ostream& os, const ListCase& c) {
  return os << c.label;
}

class ListEncodingTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ListEncodingTest, NamesBeyondAsciiAreReadAndAveraged) {
  const ListCase& c = GetParam();
  TempDir dir;
  std::string text;
  std::vector<std::string> paths;
  for (const std::string& name : NAMES) {
    write_file_bytes(dir.file(name), measurement());
    paths.push_back(dir.file(name));
    text += paths.back() + c.line_end;
  }
  const std::string list = dir.file("列表 é.txt");
  write_file_bytes(list, c.utf16 == 0 ? c.mark + text : c.mark + utf16(text, c.utf16 == 2));

  InputList read;
  bool ok = false;
  capture_stderr([&] { ok = read_list_file(list.c_str(), &read, true); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(paths, read.names);

  // The whole program, honouring marks on every system.
  std::string err;
  const int status = main_in_process({"-CountOut", dir.file("數 😀.dat"), "@" + list}, &err);
  ASSERT_EQ(0, status) << err;
  MeasurementFile count;
  ASSERT_TRUE(decode_test_file(read_file_bytes(dir.file("數 😀.dat")), &count));
  EXPECT_EQ(std::vector<int32_t>({3, 3}), count.values);
  EXPECT_TRUE(names_in(dir).contains("數 😀.dat")) << "the output is created under its name";
}

INSTANTIATE_TEST_SUITE_P(Lists, ListEncodingTest,
                         ::testing::Values(ListCase{"Utf8", "", "\n", 0},
                                           ListCase{"Utf8MarkCrLf", "\xEF\xBB\xBF", "\r\n", 0},
                                           ListCase{"Utf16LittleEndianCrLf", "\xFF\xFE", "\r\n", 1},
                                           ListCase{"Utf16BigEndian", "\xFE\xFF", "\n", 2}),
                         [](const auto& info) { return std::string(info.param.label); });

// UTF-16 that does not convert makes the list unreadable rather than naming some other file.
TEST(ListEncoding, UndecodableUtf16IsRefused) {
  TempDir dir;
  const std::string lone_surrogate = {'\xFF', '\xFE', 'a', '\0', '\x01', '\xD8', '\n', '\0'};
  const std::string odd_last_byte = {'\xFF', '\xFE', 'a', '\0', 'b'};
  for (const std::string& bytes : {lone_surrogate, odd_last_byte}) {
    write_file_bytes(dir.file("list.txt"), bytes);
    InputList read;
    bool ok = true;
    const std::string err =
        capture_stderr([&] { ok = read_list_file(dir.file("list.txt").c_str(), &read, true); });
    EXPECT_FALSE(ok);
    EXPECT_EQ("Harnix\nERROR: Cannot access list file \"" + dir.file("list.txt") + "\"\n", err);
  }
}

TEST(NamesBeyondAscii, OnTheCommandLine) {
  TempDir dir;
  std::vector<std::string> args = {"-AvgOut", dir.file("平均 é.dat")};
  for (const std::string& name : NAMES) {
    write_file_bytes(dir.file(name), measurement());
    args.push_back(dir.file(name));
  }
  std::string err;
  ASSERT_EQ(0, main_in_process(args, &err)) << err;
  EXPECT_TRUE(names_in(dir).contains("平均 é.dat"));
}

// Emptying an output that is an input would destroy it before it is read, whatever the name the
// output is given: the files are told apart by identity, not by name.
class OutputNamingAnInputTest : public ::testing::TestWithParam<const char*> {};

TEST_P(OutputNamingAnInputTest, IsRefusedAndTheInputKept) {
  TempDir dir;
  write_file_bytes(dir.file("in é.dat"), measurement());
  write_file_bytes(dir.file("other.dat"), measurement());
  dir.make_dir("sub");
  std::filesystem::create_hard_link(TempDir::native(dir.file("in é.dat")),
                                    TempDir::native(dir.file("link 測.dat")));
  const std::string output = dir.file(GetParam());
  std::string err;
  EXPECT_EQ(
      1, main_in_process(
             {"-Overwrite", "-AvgOut", output, dir.file("in é.dat"), dir.file("other.dat")}, &err));
  EXPECT_EQ("Harnix\nERROR: Cannot create output file \"" + output + "\"\n", err);
  EXPECT_EQ(measurement(), read_file_bytes(dir.file("in é.dat")));
}

// On Windows names differ in case and separator too.
const char* const SPELLINGS[] = {"in é.dat", "sub/../in é.dat",  "./in é.dat", "link 測.dat",
#ifdef _WIN32
                                  "IN É.DAT", "sub\\..\\in é.dat"
#endif
};

INSTANTIATE_TEST_SUITE_P(Spellings, OutputNamingAnInputTest, ::testing::ValuesIn(SPELLINGS));

}  // namespace

}  // namespace harnix
