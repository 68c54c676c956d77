// Files written by the program read back as they were, and files read by the program are written
// back byte for byte (but for the header-format memo).
#include "datafile/data_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "maps/storage.h"
#include "tests/datafile/test_files.h"

namespace harnix {

namespace {

struct PassCase {
  uint32_t magic;
  int16_t phase_res;
};

void PrintTo(const PassCase& c, std::ostream* os) {
  *os << std::hex << c.magic;
}

// The file the program writes after reading `in` with every part; empty when either step fails.
TestFile read_and_write_back(const TestFile& in) {
  ScratchDir dir;
  OriginInfo origin;
  DataAttributes attributes;
  IntensityMap intensity;
  PhaseMap phase;
  const std::string p = dir.write("in.dat", in.bytes);
  if (read_data_file(p.c_str(), &origin, &attributes, &intensity, &phase) != NO_ERROR) return {};
  const std::string q = dir.path("out.dat");
  const ErrorCode written = write_data_file(q.c_str(), &origin, &attributes, &intensity, &phase);
  map_free(intensity);
  map_free(phase);
  return written == NO_ERROR ? ScratchDir::read(q) : TestFile{};
}

// Random header bytes with valid map descriptions: every field, named or not, numeric or
// carried, must come out as it went in; ZoomMag holds a signalling NaN, which must keep its bits.
class PassThroughTest : public ::testing::TestWithParam<PassCase> {};

TEST_P(PassThroughTest, HeaderBytesComeBackUnchanged) {
  TestFile in = TestFile::with_header(GetParam().magic);
  std::mt19937 random(GetParam().magic);
  for (std::size_t i = 10; i < in.bytes.size(); ++i) in.bytes[i] = uint8_t(random());
  in.set16(218, uint16_t(GetParam().phase_res));
  const bool long_header = in.bytes.size() == 4096;
  if (long_header) {
    in.set8(898, 3);  // the memo the reader sets, least significant byte first
    in.set8(899, 0);
    in.set32_le(1442, 0x7F800001);
  }
  in.add_intensity(-3, 4, 2, 1, 2, -7, {1, 2, 0xFFFF, 0x8000});
  in.add_phase(-1, -2, 2, 2, {5, -5, 0x7FFFFFF8, 0x7FFFFFFF});

  const TestFile out = read_and_write_back(in);
  ASSERT_EQ(in.bytes.size(), out.bytes.size());
  for (std::size_t i = 0; i < in.bytes.size(); ++i) ASSERT_EQ(in.bytes[i], out.bytes[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(DataFile, PassThroughTest,
                         ::testing::Values(PassCase{0x881B036F, 1}, PassCase{0x881B0370, 2},
                                           PassCase{0x881B0371, 0}));

// Line-feed, carriage-return and end-of-file (0x1A) bytes in the header and both blocks are data:
// neither reading nor writing may translate them or stop at them, as Windows does with files
// opened in text mode.
TEST(DataFile, TextControlBytesPassThrough) {
  TestFile in = TestFile::with_header(0x881B036F);
  for (std::size_t i = 10; i < 40; ++i) in.bytes[i] = "\n\x1A\r"[i % 3];
  in.add_intensity(0, 0, 2, 1, 1, 255, {0x0A1A, 0x0D0A});
  in.add_phase(0, 0, 2, 2, {0x0A0D0A1A, 0x1A1A0A0A, 0x0D0A0D0A, 0x001A000A});
  EXPECT_EQ(in.bytes, read_and_write_back(in).bytes);
}

// A long header read back from an otherwise empty extension is written long again: the memo.
TEST(DataFile, LongHeaderStaysLongThroughTheMemo) {
  TestFile in = TestFile::with_header(0x881B0371);
  in.add_phase(0, 0, 1, 1, {42});
  ScratchDir dir;
  DataAttributes attributes;
  PhaseMap phase;
  const std::string p = dir.write("in.dat", in.bytes);
  ASSERT_EQ(NO_ERROR, read_data_file(p.c_str(), nullptr, &attributes, nullptr, &phase));
  const std::string q = dir.path("out.dat");
  ASSERT_EQ(NO_ERROR, write_data_file(q.c_str(), nullptr, &attributes, nullptr, &phase));
  map_free(phase);
  const TestFile out = ScratchDir::read(q);
  EXPECT_EQ(0x881B0371u, out.get32(0));
  EXPECT_EQ(4096u + 4, out.bytes.size());
  EXPECT_EQ(3, out.bytes[898]);
  EXPECT_EQ(0, out.bytes[899]);
}

// Odd windows and every kind of value survive a write and a read.
TEST(DataFile, MapsRoundTrip) {
  const Window windows[] = {{0, 0, 1, 1}, {-5, -7, 1, 3}, {32000, 5, 7, 1}, {3, 4, 257, 129}};
  ScratchDir dir;
  for (const Window& w : windows) {
    PhaseMap out{};
    out.window = w;
    ASSERT_EQ(NO_ERROR, map_alloc(out));
    std::mt19937 random(uint32_t(w.width));
    for (uint32_t i = 0; i < out.size; ++i) out.matrix[i] = int32_t(random());
    out.matrix[0] = PHASE_INVALID;
    DataAttributes attributes{};
    attributes.PhaseRes = 1;
    attributes.IntfScaleFactor = 0.5f;
    const std::string p = dir.path("map.dat");
    ASSERT_EQ(NO_ERROR, write_data_file(p.c_str(), nullptr, &attributes, nullptr, &out));

    PhaseMap in{};
    DataAttributes back;
    ASSERT_EQ(NO_ERROR, read_data_file(p.c_str(), nullptr, &back, nullptr, &in));
    EXPECT_EQ(window_of(w), window_of(in.window));
    ASSERT_EQ(out.size, in.size);
    EXPECT_EQ(0, std::memcmp(out.matrix, in.matrix, 4 * std::size_t(in.size)));
    EXPECT_TRUE(same_attributes(attributes, back));
    map_free(out);
    map_free(in);
  }
}

// A name that starts with the UTF-16 mark names the file in the UTF-16 units after it. The
// name here, U+4E2D U+6587, has no zero byte in its units; it lies in the working directory.
TEST(DataFile, WideNamesOnBothSides) {
  ScratchDir dir;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path(""));
  const char narrow[] = "\xE4\xB8\xAD\xE6\x96\x87";
  const char wide[] = "\xFF\xFE\x2D\x4E\x87\x65";
  PhaseMap out{};
  out.window = {0, 0, 2, 1};
  ASSERT_EQ(NO_ERROR, map_alloc(out));
  map_fill(out, 11);
  EXPECT_EQ(NO_ERROR, write_data_file(wide, nullptr, nullptr, nullptr, &out));
  PhaseMap in{};
  EXPECT_EQ(NO_ERROR, read_data_file(narrow, nullptr, nullptr, nullptr, &in));
  map_free(in);
  EXPECT_EQ(NO_ERROR, read_data_file(wide, nullptr, nullptr, nullptr, &in));
  EXPECT_EQ(11, in.matrix != nullptr ? in.matrix[1] : 0);
  map_free(in);
  map_free(out);
  std::filesystem::current_path(previous);
}

}  // namespace

}  // namespace harnix
