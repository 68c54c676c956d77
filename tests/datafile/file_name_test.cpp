#include "datafile/file_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace harnix {

namespace {

struct NameCase {
  const char* label;
  std::string name;  // bytes as passed, without the terminating NUL
  bool converts;
  std::string path;
};

// "中文" is U+4E2D U+6587: no zero byte in either byte order. U+1F600 is D83D DE00.
TEST(PlatformFileName, Table) {
  const std::vector<NameCase> cases = {
      {"narrow", "a.dat", true, "a.dat"},
      {"narrow empty", "", true, ""},
      {"narrow high bytes", "\xC3\xA9t\xC3\xA9.dat", true, "\xC3\xA9t\xC3\xA9.dat"},
      {"only one mark byte", "\xFF", true, "\xFF"},
      {"mark bytes reversed in the middle", "a\xFF\xFE", true, "a\xFF\xFE"},
      {"least significant first", "\xFF\xFE\x2D\x4E\x87\x65", true, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"most significant first", "\xFE\xFF\x4E\x2D\x65\x87", true, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"mark only", "\xFF\xFE", true, ""},
      // The terminating NUL completes the last unit: "A" stored as 41 00 00 00.
      {"ascii unit ended by the terminator", "\xFF\xFE\x41", true, "A"},
      {"two-byte UTF-8", "\xFF\xFE\xE9\x01", true, "\xC7\xA9"},                  // U+01E9
      {"surrogate pair", "\xFF\xFE\x3D\xD8\x01\xDE", true, "\xF0\x9F\x98\x81"},  // U+1F601
      {"high surrogate then no unit", "\xFF\xFE\x3D\xD8", false, ""},
      {"high surrogate then a letter", "\xFF\xFE\x3D\xD8\x41\x42", false, ""},
      {"low surrogate alone", "\xFF\xFE\x01\xDE\x41\x42", false, ""},
  };
  for (const NameCase& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(c.converts, platform_file_name(c.name.c_str(), &out)) << c.label;
    EXPECT_EQ(c.path, out) << c.label;
  }
}

TEST(Utf16ToUtf8, StopsAtZeroUnitAndRefusesOddTrailingByte) {
  const unsigned char with_zero_unit[] = {0x41, 0x00, 0x42, 0x00, 0x00, 0x00, 0x43, 0x00};
  std::string out;
  EXPECT_TRUE(utf16_to_utf8(with_zero_unit, sizeof with_zero_unit, false, &out));
  EXPECT_EQ("AB", out);

  const unsigned char odd[] = {0x41, 0x00, 0x42};
  EXPECT_FALSE(utf16_to_utf8(odd, sizeof odd, false, &out));
  EXPECT_EQ("", out);

  // Every encoding length, most significant byte first: U+007F, U+07FF, U+FFFD, U+10FFFF.
  const unsigned char widths[] = {0x00, 0x7F, 0x07, 0xFF, 0xFF, 0xFD, 0xDB, 0xFF, 0xDF, 0xFF};
  EXPECT_TRUE(utf16_to_utf8(widths, sizeof widths, true, &out));
  EXPECT_EQ("\x7F\xDF\xBF\xEF\xBF\xBD\xF4\x8F\xBF\xBF", out);
}

}  // namespace

}  // namespace harnix
