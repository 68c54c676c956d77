#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "datafile/data_file.h"
#include "maps/map_view.h"
#include "maps/storage.h"
#include "support/failing_allocator.h"
#include "support/planoryx_bytes.h"
#include "tests/datafile/test_files.h"

namespace harnix {

namespace {

class WriterTest : public ::testing::Test {
 protected:
  WriterTest() {
    phase_.window = {10, 20, 3, 2};
    EXPECT_EQ(NO_ERROR, map_alloc(phase_));
    const int32_t values[] = {1, -2, 0x7FFFFFF8, 0x12345678, -0x12345678, 0};
    std::memcpy(phase_.matrix, values, sizeof values);
  }
  ~WriterTest() override {
    map_free(phase_);
    map_free(intensity_);
  }
  // Writes and returns the file's bytes.
  TestFile write(const DataAttributes* attributes, const OriginInfo* origin = nullptr,
                 const IntensityMap* intensity = nullptr, bool with_phase = true) {
    const std::string p = dir_.path("out.dat");
    EXPECT_EQ(NO_ERROR, write_data_file(p.c_str(), origin, attributes, intensity,
                                        with_phase ? &phase_ : nullptr));
    return ScratchDir::read(p);
  }

  ScratchDir dir_;
  PhaseMap phase_{};
  IntensityMap intensity_{};
};

// The phase block as a reader of the format sees it: 3x2 at (10, 20), 24 big-endian bytes.
void expect_phase_block(const TestFile& f, std::size_t header_size) {
  EXPECT_EQ(10, f.get16(64));
  EXPECT_EQ(20, f.get16(66));
  EXPECT_EQ(3, f.get16(68));
  EXPECT_EQ(2, f.get16(70));
  EXPECT_EQ(24u, f.get32(72));
  ASSERT_EQ(header_size + 24, f.bytes.size());
  const std::vector<uint8_t> expected = {0x00, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFE,
                                         0x7F, 0xFF, 0xFF, 0xF8, 0x12, 0x34, 0x56, 0x78,
                                         0xED, 0xCB, 0xA9, 0x88, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(expected, std::vector<uint8_t>(f.bytes.begin() + long(header_size), f.bytes.end()));
}

TEST_F(WriterTest, WithoutAttributesWritesFormatOneAndZeros) {
  const TestFile f = write(nullptr);
  EXPECT_EQ(0x881B036Fu, f.get32(0));
  EXPECT_EQ(1, f.get16(4));
  EXPECT_EQ(834u, f.get32(6));
  for (std::size_t i = 10; i < 64; ++i) EXPECT_EQ(0, f.bytes[i]) << i;
  for (std::size_t i = 76; i < 834; ++i) EXPECT_EQ(0, f.bytes[i]) << i;
  expect_phase_block(f, 834);
}

// Each variant: what in the attributes chooses it, and the magic, format and size written.
struct VariantCase {
  const char* name;
  void (*set)(DataAttributes&);
  uint32_t magic;
  uint16_t format;
  uint32_t size;
};

const VariantCase VARIANTS[] = {
    {"normal", [](DataAttributes& a) { a.PhaseRes = 1; }, 0x881B036F, 1, 834},
    {"negative_res", [](DataAttributes& a) { a.PhaseRes = -1; }, 0x881B036F, 1, 834},
    {"super", [](DataAttributes& a) { a.PhaseRes = 2; }, 0x881B0370, 2, 834},
    {"unknown_res", [](DataAttributes& a) { a.PhaseRes = 7; }, 0x881B0370, 2, 834},
    {"zoom", [](DataAttributes& a) { a.PhaseRes = 2, a.ZoomMag = 1.0f; }, 0x881B0371, 3, 4096},
    {"memo", [](DataAttributes& a) { a.other[898] = 3; }, 0x881B0371, 3, 4096},
    {"last_carried_byte", [](DataAttributes& a) { a.other[4095] = 1; }, 0x881B0371, 3, 4096},
    {"other_at_838", [](DataAttributes& a) { a.other[839] = 1; }, 0x881B0371, 3, 4096},
    // 834..837 lie beyond a short header but do not decide a long one.
    {"carried_834_only", [](DataAttributes& a) { a.other[834] = 1; }, 0x881B036F, 1, 834},
    // Bytes of other[] under a named field are not part of the file.
    {"shadow_of_zoom", [](DataAttributes& a) { a.other[1442] = 1; }, 0x881B036F, 1, 834},
};

void PrintTo(const VariantCase& c, std::ostream* os) {
  *os << c.name;
}

class VariantTest : public WriterTest, public ::testing::WithParamInterface<VariantCase> {};

TEST_P(VariantTest, ChosenFromTheAttributes) {
  DataAttributes a{};
  GetParam().set(a);
  const TestFile f = write(&a);
  EXPECT_EQ(GetParam().magic, f.get32(0));
  EXPECT_EQ(GetParam().format, f.get16(4));
  EXPECT_EQ(GetParam().size, f.get32(6));
  expect_phase_block(f, GetParam().size);
}

INSTANTIATE_TEST_SUITE_P(Writer, VariantTest, ::testing::ValuesIn(VARIANTS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriterTest, NamedAttributesAtTheirOffsets) {
  DataAttributes a{};
  a.TimeStamp = 0x01020304;
  std::strcpy(a.comment, "Average of 12 files");
  a.IntfScaleFactor = 0.5f;
  a.WavelengthIn = 632.8e-9f;
  a.ObliquityFactor = 1.25f;
  a.CameraRes = 2e-6f;
  a.PhaseRes = 2;
  a.CameraWidth = 640;
  a.CameraHeight = -480;
  a.PixelWidth = 7.4e-6f;
  a.PixelHeight = 7.5e-6f;
  a.ZoomMag = 2.5f;
  uint16_t u16 = 0xBEEF;
  std::memcpy(&a.other[188], &u16, 2);
  uint32_t u32 = 0xA1B2C3D4;
  std::memcpy(&a.other[1446], &u32, 4);
  a.other[246] = 0x11;  // carried bytes go out as they are
  a.other[247] = 0x22;
  a.other[898] = 3;
  OriginInfo origin{};
  origin.kind = 0x0102;
  std::memcpy(origin.text, "instrument", 10);
  origin.numbers[0] = -1;
  const TestFile f = write(&a, &origin);

  EXPECT_EQ(0x881B0371u, f.get32(0));
  EXPECT_EQ(0x0102, f.get16(10));
  EXPECT_EQ(0, std::memcmp(&f.bytes[12], "instrument", 10));
  EXPECT_EQ(0xFFFF, f.get16(42));
  EXPECT_EQ(0x01020304u, f.get32(76));
  EXPECT_STREQ("Average of 12 files", reinterpret_cast<const char*>(&f.bytes[80]));
  EXPECT_EQ(0.5f, f.get_float(164));
  EXPECT_EQ(632.8e-9f, f.get_float(168));
  EXPECT_EQ(1.25f, f.get_float(176));
  EXPECT_EQ(2e-6f, f.get_float(184));
  EXPECT_EQ(2, f.get16(218));
  EXPECT_EQ(640, f.get16(234));
  EXPECT_EQ(0x10000 - 480, f.get16(236));
  EXPECT_EQ(7.4e-6f, f.get_float(486));
  EXPECT_EQ(7.5e-6f, f.get_float(490));
  EXPECT_EQ(0xBEEF, f.get16(188));
  EXPECT_EQ(0xA1B2C3D4u, f.get32(1446));
  EXPECT_EQ(0x11, f.bytes[246]);
  EXPECT_EQ(0x22, f.bytes[247]);
  // The two fields stored least significant byte first.
  EXPECT_EQ((std::vector<uint8_t>{3, 0}), std::vector<uint8_t>(&f.bytes[898], &f.bytes[900]));
  EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x20, 0x40}),  // 2.5f
            std::vector<uint8_t>(&f.bytes[1442], &f.bytes[1446]));
  expect_phase_block(f, 4096);
}

TEST_F(WriterTest, IntensityBlockPrecedesThePhaseBlock) {
  intensity_.window = {1, 2, 2, 1};
  intensity_.n_buckets = 2;
  intensity_.range = 255;
  ASSERT_EQ(NO_ERROR, map_alloc(intensity_));
  const uint16_t values[] = {0x0102, 0xFFFE, 0, 0x8000};
  std::memcpy(intensity_.matrix, values, sizeof values);
  const TestFile f = write(nullptr, nullptr, &intensity_);
  EXPECT_EQ(1, f.get16(48));
  EXPECT_EQ(2, f.get16(50));
  EXPECT_EQ(2, f.get16(52));
  EXPECT_EQ(1, f.get16(54));
  EXPECT_EQ(2, f.get16(56));
  EXPECT_EQ(255, f.get16(58));
  EXPECT_EQ(8u, f.get32(60));
  const std::vector<uint8_t> block = {0x01, 0x02, 0xFF, 0xFE, 0x00, 0x00, 0x80, 0x00};
  EXPECT_EQ(block, std::vector<uint8_t>(&f.bytes[834], &f.bytes[842]));
  TestFile phase_only = f;
  phase_only.bytes.erase(phase_only.bytes.begin() + 834, phase_only.bytes.begin() + 842);
  expect_phase_block(phase_only, 834);
  EXPECT_EQ(0x0102, intensity_.matrix[0]);  // the caller's map stays in host order
}

TEST_F(WriterTest, IntensityAloneHasNoPhaseBlock) {
  intensity_.window = {0, 0, 1, 1};
  intensity_.n_buckets = 1;
  ASSERT_EQ(NO_ERROR, map_alloc(intensity_));
  intensity_.matrix[0] = 0xABCD;
  const TestFile f = write(nullptr, nullptr, &intensity_, false);
  EXPECT_EQ(2u, f.get32(60));
  EXPECT_EQ(0u, f.get32(72));
  EXPECT_EQ((std::vector<uint8_t>(6, 0)), std::vector<uint8_t>(&f.bytes[64], &f.bytes[70]));
  EXPECT_EQ(836u, f.bytes.size());
}

TEST_F(WriterTest, CallersMapAndAttributesAreNotChanged) {
  std::vector<int32_t> before(phase_.matrix, phase_.matrix + 6);
  DataAttributes a{};
  a.ZoomMag = 3.0f;
  a.IntfScaleFactor = 0.5f;
  const DataAttributes copy = a;
  write(&a);
  EXPECT_EQ(before, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
  EXPECT_TRUE(same_attributes(copy, a));
}

// Maps that cannot be written are refused before a byte reaches the stream.
TEST_F(WriterTest, RefusedMapsWriteNothing) {
  int32_t one = 1;
  struct Case {
    const char* what;
    PhaseMap phase;
  } cases[] = {
      {"no storage", PhaseMap{0, {0, 0, 3, 2}, 0, 0, nullptr}},
      {"window larger than storage", PhaseMap{1, {0, 0, 1, 2}, 0, 0, &one}},
      {"negative width", PhaseMap{1, {0, 0, -1, 1}, 0, 0, &one}},
      // 4 x 32767 x 32767 bytes do not fit the header's byte count (never read: size is faked)
      {"block beyond 32-bit count", PhaseMap{UINT32_MAX, {0, 0, 32767, 32767}, 0, 0, &one}},
  };
  for (const Case& c : cases) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ(ERR_INVALID_PARAM, write_data_stream(stream, nullptr, nullptr, nullptr, &c.phase))
        << c.what;
    EXPECT_EQ(0L, std::ftell(stream)) << c.what;
    std::fclose(stream);
  }
  std::FILE* stream = std::tmpfile();
  EXPECT_EQ(ERR_INVALID_PARAM, write_data_stream(stream, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(0L, std::ftell(stream));
  std::fclose(stream);
}

// A region of a larger map, written from a view with the larger map's stride: the very bytes of
// a map of that region. Views without storage or with overlapping rows write nothing.
TEST_F(WriterTest, ViewWithAStrideWritesTheBytesOfAMapOfItsWindow) {
  PhaseMap field{};
  field.window = {8, 19, 6, 4};
  ASSERT_EQ(NO_ERROR, map_alloc(field));
  for (uint32_t i = 0; i < field.size; ++i) field.matrix[i] = -7 - static_cast<int32_t>(i);
  for (int r = 0; r < 2; ++r)
    std::memcpy(map_point(field, 10, 20 + r), phase_.matrix + 3 * r, 3 * sizeof(int32_t));
  ConstPhaseView view{};
  ASSERT_EQ(NO_ERROR, region_view(field, phase_.window, &view));
  const std::string p = dir_.path("view.dat");
  ASSERT_EQ(NO_ERROR, write_data_file(p.c_str(), nullptr, nullptr, nullptr, view));
  expect_phase_block(ScratchDir::read(p), 834);

  for (ConstPhaseView bad :
       {ConstPhaseView{nullptr, 6, {0, 0, 3, 2}}, ConstPhaseView{view.data, 2, view.window}}) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ(ERR_INVALID_PARAM, write_data_stream(stream, nullptr, nullptr, nullptr, bad));
    EXPECT_EQ(0L, std::ftell(stream));
    std::fclose(stream);
  }
  map_free(field);
}

// Written in place, a file ends up with the bytes of one emptied first, whatever it held; a
// name that is no regular file is written as ever.
TEST_F(WriterTest, InPlaceWritesTheBytesOfAnEmptiedFile) {
  ConstPhaseView view{phase_.matrix, 3, phase_.window};
  const std::string want = dir_.path("want.dat"), p = dir_.path("in_place.dat");
  ASSERT_EQ(NO_ERROR, write_data_file(want.c_str(), nullptr, nullptr, nullptr, view));
  for (std::size_t held : {std::size_t(0), std::size_t(1), std::size_t(858), std::size_t(5000)}) {
    if (held > 0) write_file_bytes(p, std::string(held, char(0xAB)));
    ASSERT_EQ(NO_ERROR, write_data_file_in_place(p.c_str(), nullptr, nullptr, nullptr, view));
    EXPECT_EQ(ScratchDir::read(want).bytes, ScratchDir::read(p).bytes) << held;
  }
  EXPECT_EQ(NO_ERROR, write_data_file_in_place("/dev/null", nullptr, nullptr, nullptr, view));
  EXPECT_EQ(ERR_CANT_WRITE_FILE,
            write_data_file_in_place("/dev/full", nullptr, nullptr, nullptr, view));
}

// Given the storage of its values, the writer leaves the bytes and codes of the ordinary one in
// place, for a whole map and for a region of a larger field (rows a stride apart), over a file
// that held more or less than it writes; a refused view is left as it was.
TEST_F(WriterTest, ConsumingWriterWritesWhatTheOrdinaryOneWrites) {
  PhaseMap field{};
  field.window = {8, 19, 6, 4};
  ASSERT_EQ(NO_ERROR, map_alloc(field));
  for (uint32_t i = 0; i < field.size; ++i) field.matrix[i] = 0x01020304 * int32_t(i + 1) - 7;
  DataAttributes long_header{};
  long_header.other[4095] = 1;
  const Window region = {9, 20, 4, 2};
  const std::string want = dir_.path("want.dat"), p = dir_.path("consumed.dat");
  for (const Window& w : {field.window, region}) {
    const DataAttributes* headers[] = {nullptr, &long_header};
    for (const DataAttributes* a : headers) {
      for (std::size_t held : {std::size_t(0), std::size_t(5000)}) {
        PhaseMap copy{};
        copy.window = field.window;
        ASSERT_EQ(NO_ERROR, map_alloc(copy));
        std::copy_n(field.matrix, field.size, copy.matrix);
        ConstPhaseView view{};
        PhaseView given{};
        ASSERT_EQ(NO_ERROR, region_view(static_cast<const PhaseMap&>(field), w, &view));
        ASSERT_EQ(NO_ERROR, region_view(copy, w, &given));
        ASSERT_EQ(NO_ERROR, write_data_file(want.c_str(), nullptr, a, nullptr, view));
        write_file_bytes(p, std::string(held, char(0xAB)));
        EXPECT_EQ(NO_ERROR, write_data_file_in_place_consuming(p.c_str(), nullptr, a, given));
        EXPECT_EQ(ScratchDir::read(want).bytes, ScratchDir::read(p).bytes)
            << w.width << " wide, " << held << " bytes held";
        map_free(copy);
      }
    }
  }
  const PhaseView whole = map_view(field);
  EXPECT_EQ(NO_ERROR, write_data_file_in_place_consuming("/dev/null", nullptr, nullptr, whole));
  EXPECT_EQ(ERR_CANT_WRITE_FILE,
            write_data_file_in_place_consuming("/dev/full", nullptr, nullptr, whole));

  std::vector<int32_t> before = {1, 2, 3, 4, 5, 6};
  std::vector<int32_t> values = before;
  for (PhaseView bad :
       {PhaseView{nullptr, 6, {0, 0, 3, 2}}, PhaseView{values.data(), 2, {0, 0, 3, 2}}}) {
    write_file_bytes(p, "old");
    EXPECT_EQ(ERR_INVALID_PARAM,
              write_data_file_in_place_consuming(p.c_str(), nullptr, nullptr, bad));
    EXPECT_EQ(ERR_INVALID_PARAM,
              write_data_file_in_place(want.c_str(), nullptr, nullptr, nullptr, bad));
    EXPECT_EQ(ScratchDir::read(want).bytes, ScratchDir::read(p).bytes);
    EXPECT_EQ(before, values);
  }
  map_free(field);
}

TEST_F(WriterTest, StreamWriterAppendsAtTheEnd) {
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(nullptr, stream);
  std::fputs("abc", stream);
  std::rewind(stream);
  ASSERT_EQ(NO_ERROR, write_data_stream(stream, nullptr, nullptr, nullptr, &phase_));
  EXPECT_EQ(3L + 834 + 24, std::ftell(stream));
  std::fclose(stream);
}

// Every failure to get the bytes to the file is reported: a full device, whether the bytes fail
// in a write or only in the final flush, a stream that cannot seek, a name that cannot be
// created.
TEST_F(WriterTest, FailuresToWriteAreReported) {
  EXPECT_EQ(ERR_CANT_WRITE_FILE, write_data_file("/dev/full", nullptr, nullptr, nullptr, &phase_));
  PhaseMap large{};
  large.window = {0, 0, 512, 512};
  ASSERT_EQ(NO_ERROR, map_alloc(large));
  map_fill(large, 5);
  EXPECT_EQ(ERR_CANT_WRITE_FILE, write_data_file("/dev/full", nullptr, nullptr, nullptr, &large));
  map_free(large);

  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  std::FILE* pipe_end = fdopen(fds[1], "wb");
  EXPECT_EQ(ERR_CANT_WRITE_FILE, write_data_stream(pipe_end, nullptr, nullptr, nullptr, &phase_));
  std::fclose(pipe_end);
  close(fds[0]);

  EXPECT_EQ(ERR_CANT_CREATE_FILE, write_data_file(dir_.path("no/such/dir.dat").c_str(), nullptr,
                                                  nullptr, nullptr, &phase_));
}

TEST_F(WriterTest, AllocationFailureIsNoMem) {
  FailingAllocator counter(1);
  std::FILE* stream = std::tmpfile();
  EXPECT_EQ(ERR_NO_MEM, write_data_stream(stream, nullptr, nullptr, nullptr, &phase_));
  const uint16_t v = 1;
  EXPECT_EQ(ERR_NO_MEM, write_swapped_shorts(&v, 1, stream));
  std::fclose(stream);
}

// More values than one buffer holds: every write converts its own part, the input is unchanged.
TEST(WriteSwappedShorts, SpansSeveralBuffers) {
  std::vector<uint16_t> values(70000);
  std::mt19937 random(7);
  for (uint16_t& v : values) v = uint16_t(random());
  const std::vector<uint16_t> before = values;
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(nullptr, stream);
  ASSERT_EQ(NO_ERROR, write_swapped_shorts(values.data(), values.size(), stream));
  std::rewind(stream);
  std::vector<uint8_t> bytes(2 * values.size() + 1);
  ASSERT_EQ(2 * values.size(), std::fread(bytes.data(), 1, bytes.size(), stream));
  std::fclose(stream);
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(values[i], uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1])) << i;
  }
  EXPECT_EQ(before, values);
}

}  // namespace

}  // namespace harnix
