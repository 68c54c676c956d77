#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <thread>

#include "datafile/data_file.h"
#include "maps/storage.h"
#include "support/failing_allocator.h"
#include "tests/datafile/test_files.h"

namespace harnix {

namespace {

const std::vector<int32_t> PHASE = {1, -2, 0x7FFFFFF8, 0x12345678, -0x12345678, 2147483639};
const std::vector<uint16_t> INTENSITY = {0, 1, 0x8000, 0xFFFF, 0x1234, 7, 8, 9};

// A 4096-byte-header file with two 2x2 intensity planes at (1, 2) and a 3x2 phase map at
// (10, 20).
TestFile full_file(uint32_t magic = 0x881B0371) {
  TestFile f = TestFile::with_header(magic);
  f.add_intensity(1, 2, 2, 2, 2, 255, INTENSITY);
  f.add_phase(10, 20, 3, 2, PHASE);
  return f;
}

class ReaderTest : public ::testing::Test {
 protected:
  ErrorCode read(const TestFile& f, bool with_intensity = true, bool with_phase = true) {
    const std::string p = dir_.write("in.dat", f.bytes);
    return read_data_file(p.c_str(), &origin_, &attributes_, with_intensity ? &intensity_ : nullptr,
                          with_phase ? &phase_ : nullptr);
  }
  void TearDown() override {
    map_free(intensity_);
    map_free(phase_);
  }

  ScratchDir dir_;
  OriginInfo origin_{};
  DataAttributes attributes_{};
  IntensityMap intensity_{};
  PhaseMap phase_{};
};

TEST_F(ReaderTest, ReadsWindowsValuesAndAttributes) {
  TestFile f = full_file();
  f.set16(10, 0xFFFE);  // OriginInfo kind -2
  std::memcpy(&f.bytes[12], "origin", 6);
  f.set16(46, 9);
  f.set32(76, 1700000000);
  std::memcpy(&f.bytes[80], "a comment", 9);
  f.set_float(164, 0.5f);
  f.set_float(168, 632.8e-9f);
  f.set_float(176, 1.25f);
  f.set_float(184, 2e-6f);
  f.set16(218, 1);
  f.set16(234, 640);
  f.set16(236, 480);
  f.set_float(486, 7.4e-6f);
  f.set_float(490, 7.5e-6f);
  f.set32_le(1442, 0x40200000);  // 2.5f, least significant byte first
  f.set16(188, 0x1234);          // an unnamed 16-bit field, kept at its offset in host order
  f.set32(1002, 0xA1B2C3D4);     // an unnamed 32-bit field
  f.set8(304, 0x5A);             // a carried byte area, kept as stored
  ASSERT_EQ(NO_ERROR, read(f));

  EXPECT_EQ(-2, origin_.kind);
  EXPECT_STREQ("origin", origin_.text);
  EXPECT_EQ(9, origin_.numbers[2]);
  EXPECT_EQ(1700000000, attributes_.TimeStamp);
  EXPECT_STREQ("a comment", attributes_.comment);
  EXPECT_EQ(0.5f, attributes_.IntfScaleFactor);
  EXPECT_EQ(632.8e-9f, attributes_.WavelengthIn);
  EXPECT_EQ(1.25f, attributes_.ObliquityFactor);
  EXPECT_EQ(2e-6f, attributes_.CameraRes);
  EXPECT_EQ(1, attributes_.PhaseRes);
  EXPECT_EQ(640, attributes_.CameraWidth);
  EXPECT_EQ(480, attributes_.CameraHeight);
  EXPECT_EQ(7.4e-6f, attributes_.PixelWidth);
  EXPECT_EQ(7.5e-6f, attributes_.PixelHeight);
  EXPECT_EQ(2.5f, attributes_.ZoomMag);
  uint16_t u16;
  std::memcpy(&u16, &attributes_.other[188], 2);
  EXPECT_EQ(0x1234, u16);
  uint32_t u32;
  std::memcpy(&u32, &attributes_.other[1002], 4);
  EXPECT_EQ(0xA1B2C3D4u, u32);
  EXPECT_EQ(0x5A, attributes_.other[304]);
  EXPECT_EQ(3, attributes_.other[898]);  // memo of a 4096-byte header, least significant first
  EXPECT_EQ(0, attributes_.other[899]);

  EXPECT_EQ((std::vector<int>{1, 2, 2, 2}), window_of(intensity_.window));
  EXPECT_EQ(2, intensity_.n_buckets);
  EXPECT_EQ(255, intensity_.range);
  ASSERT_EQ(8u, intensity_.size);
  EXPECT_EQ(INTENSITY, std::vector<uint16_t>(intensity_.matrix, intensity_.matrix + 8));
  EXPECT_EQ((std::vector<int>{10, 20, 3, 2}), window_of(phase_.window));
  ASSERT_EQ(6u, phase_.size);
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
}

TEST_F(ReaderTest, ShortHeaderLeavesExtendedAttributesZeroAndNoMemo) {
  TestFile f = full_file(0x881B036F);
  attributes_.ZoomMag = 9.0f;  // overwritten: the reader fills the whole record
  ASSERT_EQ(NO_ERROR, read(f));
  EXPECT_EQ(0.0f, attributes_.ZoomMag);
  EXPECT_EQ(0, attributes_.other[898]);
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
}

TEST_F(ReaderTest, HeaderSizeFollowsTheMagicAlone) {
  TestFile f = full_file(0x881B0371);
  f.set16(4, 1);    // header_format says 1
  f.set32(6, 834);  // header_size says 834
  ASSERT_EQ(NO_ERROR, read(f));
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
}

// Optional parts: a block whose map is not asked for is skipped, and the next one is still found.
TEST_F(ReaderTest, SkipsBlocksNotAskedFor) {
  ASSERT_EQ(NO_ERROR, read(full_file(), false, true));
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
  ASSERT_EQ(NO_ERROR, read(full_file(), true, false));
  EXPECT_EQ(8u, intensity_.size);
  const std::string p = dir_.write("only.dat", full_file().bytes);
  EXPECT_EQ(NO_ERROR, read_data_file(p.c_str(), nullptr, nullptr, nullptr, nullptr));
}

TEST_F(ReaderTest, NoPhaseBlockLeavesAnEmptyMap) {
  TestFile f = TestFile::with_header(0x881B036F);
  f.set16(64, 5);  // a window without a byte count describes no block
  f.set16(68, 3);
  f.set16(70, 3);
  phase_.window = {1, 2, 3, 4};
  ASSERT_EQ(NO_ERROR, read(f));
  EXPECT_EQ(nullptr, phase_.matrix);
  EXPECT_EQ(0u, phase_.size);
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), window_of(phase_.window));
}

// One record read over and over: storage large enough is kept (the same address), a file
// without a phase block or a damaged one leaves an empty window and the storage, and a larger
// block replaces it.
TEST_F(ReaderTest, ReusingReaderKeepsStorageThatIsLargeEnough) {
  auto file_of = [](int width, int height) {
    TestFile f = TestFile::with_header(0x881B036F);
    std::vector<int32_t> values(static_cast<std::size_t>(width * height));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int32_t>(i) * 7 - 50;
    f.add_phase(3, 4, width, height, values);
    return std::make_pair(f, values);
  };
  auto read_reusing = [&](const TestFile& f) {
    const std::string p = dir_.write("in.dat", f.bytes);
    return read_data_file_reusing(p.c_str(), nullptr, &attributes_, &phase_);
  };
  const auto [big, big_values] = file_of(6, 5);
  ASSERT_EQ(NO_ERROR, read_reusing(big));
  EXPECT_EQ(big_values, std::vector<int32_t>(phase_.matrix, phase_.matrix + 30));
  const int32_t* storage = phase_.matrix;

  const auto [small, small_values] = file_of(2, 3);
  ASSERT_EQ(NO_ERROR, read_reusing(small));
  EXPECT_EQ(storage, phase_.matrix);
  EXPECT_EQ(30u, phase_.size);
  EXPECT_EQ((std::vector<int>{3, 4, 2, 3}), window_of(phase_.window));
  EXPECT_EQ(small_values, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));

  TestFile damaged = big;
  damaged.truncate(damaged.bytes.size() - 4);
  EXPECT_EQ(ERR_CORRUPT_DATA_FILE, read_reusing(damaged));
  TestFile no_phase = TestFile::with_header(0x881B036F);
  EXPECT_EQ(NO_ERROR, read_reusing(no_phase));
  for (const TestFile* f : {&damaged, &no_phase}) {
    read_reusing(*f);
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), window_of(phase_.window));
    EXPECT_EQ(storage, phase_.matrix);
  }

  const auto [bigger, bigger_values] = file_of(7, 5);
  ASSERT_EQ(NO_ERROR, read_reusing(bigger));
  EXPECT_EQ(35u, phase_.size);
  EXPECT_EQ(bigger_values, std::vector<int32_t>(phase_.matrix, phase_.matrix + 35));
}

// Camera rows read alone: the window cut to them with the full read's values of those rows, none
// when they miss the window; a file the full read refuses is refused whatever rows are asked.
TEST_F(ReaderTest, PartialRowsAreThoseOfTheFullRead) {
  std::vector<int32_t> values(4 * 5);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = int32_t(i) * 3 - 7;
  TestFile f = TestFile::with_header(0x881B036F);
  f.add_intensity(0, 0, 2, 2, 1, 255, {1, 2, 3, 4});
  f.add_phase(2, 10, 4, 5, values);  // camera rows 10 to 14
  const std::string p = dir_.write("in.dat", f.bytes);
  const struct {
    int32_t first, count;
    int16_t y, height;  // the window read
  } cases[] = {{0, 100, 10, 5}, {11, 2, 11, 2}, {0, 11, 10, 1}, {14, 9, 14, 1}, {0, 10, 10, 0},
               {15, 4, 15, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(NO_ERROR, read_phase_rows_reusing(p.c_str(), &attributes_, c.first, c.count, &phase_))
        << c.first;
    EXPECT_EQ((std::vector<int>{2, c.height > 0 ? c.y : phase_.window.y, 4, c.height}),
              window_of(phase_.window))
        << c.first;
    if (c.height == 0) continue;
    const auto from = values.begin() + (c.y - 10) * 4;
    EXPECT_EQ(std::vector<int32_t>(from, from + c.height * 4),
              std::vector<int32_t>(phase_.matrix, phase_.matrix + c.height * 4))
        << c.first;
  }
  TestFile cut = f;
  cut.truncate(cut.bytes.size() - 4);
  const std::string q = dir_.write("cut.dat", cut.bytes);
  EXPECT_EQ(ERR_CORRUPT_DATA_FILE, read_phase_rows_reusing(q.c_str(), &attributes_, 0, 1, &phase_));
  EXPECT_EQ(ERR_INVALID_PARAM, read_phase_rows_reusing(p.c_str(), &attributes_, -1, 1, &phase_));
  // Into storage the caller keeps: two rows (8 values) fit, three do not and leave it in place.
  int32_t kept[8];
  PhaseMap into{8, {}, 0, 0, kept};
  ASSERT_EQ(NO_ERROR, read_phase_rows_into(p.c_str(), &attributes_, 11, 2, &into));
  EXPECT_EQ(std::vector<int32_t>(values.begin() + 4, values.begin() + 12),
            std::vector<int32_t>(kept, kept + 8));
  EXPECT_EQ(ERR_IMPROPER_WINDOW, read_phase_rows_into(p.c_str(), &attributes_, 11, 3, &into));
  EXPECT_EQ(kept, into.matrix);
  EXPECT_EQ(8u, into.size);
}

// The phase byte count only says whether the block exists: width x height values are read.
TEST_F(ReaderTest, ShortPhaseByteCountStillReadsTheWholeWindow) {
  TestFile f = full_file();
  f.set32(72, 4);  // phase byte count 4 for a 3x2 window
  ASSERT_EQ(NO_ERROR, read(f));
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
}

// One damaged file per error code: each row damages the good file and names the answer.
struct DamageCase {
  const char* defect;
  std::function<void(TestFile&)> damage;
  ErrorCode rc;
  bool with_intensity = true;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
  *os << c.defect;
}

class DamagedFileTest : public ReaderTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFileTest, AnswersItsCodeAndReleasesTheMaps) {
  TestFile f = full_file();
  GetParam().damage(f);
  EXPECT_EQ(GetParam().rc, read(f, GetParam().with_intensity, true)) << GetParam().defect;
  EXPECT_EQ(nullptr, intensity_.matrix);
  EXPECT_EQ(0u, intensity_.size);
  EXPECT_EQ(nullptr, phase_.matrix);
  EXPECT_EQ(0u, phase_.size);
}

const DamageCase DAMAGE[] = {
    {"empty", [](TestFile& f) { f.truncate(0); }, ERR_PREMATURE_EOF},
    {"three_bytes", [](TestFile& f) { f.truncate(3); }, ERR_PREMATURE_EOF},
    {"zero_magic", [](TestFile& f) { f.set32(0, 0); }, ERR_NOT_A_DATA_FILE},
    {"little_endian_magic", [](TestFile& f) { f.set32(0, 0x71031B88); }, ERR_NOT_A_DATA_FILE},
    {"long_header_cut_at_2000", [](TestFile& f) { f.truncate(2000); }, ERR_PREMATURE_EOF},
    {"short_header_cut_at_833",
     [](TestFile& f) {
       f.set32(0, 0x881B036F);
       f.truncate(833);
     },
     ERR_PREMATURE_EOF},
    {"phase_width_negative", [](TestFile& f) { f.set16(68, 0xFFFF); }, ERR_DATASET_DIM_TOO_LARGE},
    {"phase_height_32768", [](TestFile& f) { f.set16(70, 0x8000); }, ERR_DATASET_DIM_TOO_LARGE},
    {"intensity_width_negative", [](TestFile& f) { f.set16(52, 0xFFFE); },
     ERR_DATASET_DIM_TOO_LARGE},
    {"intensity_buckets_negative", [](TestFile& f) { f.set16(56, 0xFFFF); },
     ERR_DATASET_DIM_TOO_LARGE},
    {"phase_width_zero", [](TestFile& f) { f.set16(68, 0); }, ERR_PARAM_OUT_OF_RANGE},
    {"intensity_height_zero", [](TestFile& f) { f.set16(54, 0); }, ERR_PARAM_OUT_OF_RANGE},
    {"phase_one_value_short", [](TestFile& f) { f.truncate(f.bytes.size() - 4); },
     ERR_CORRUPT_DATA_FILE},
    {"phase_one_byte_short", [](TestFile& f) { f.truncate(f.bytes.size() - 1); },
     ERR_CORRUPT_DATA_FILE},
    {"phase_byte_count_above_window", [](TestFile& f) { f.set32(72, 28); }, ERR_CORRUPT_DATA_FILE},
    {"intensity_byte_count_above_planes", [](TestFile& f) { f.set32(60, 18); },
     ERR_CORRUPT_DATA_FILE},
    {"intensity_byte_count_below_planes", [](TestFile& f) { f.set32(60, 14); },
     ERR_CORRUPT_DATA_FILE},
    {"cut_inside_intensity", [](TestFile& f) { f.truncate(4096 + 6); }, ERR_CORRUPT_DATA_FILE},
    {"cut_inside_skipped_intensity", [](TestFile& f) { f.truncate(4096 + 6); },
     ERR_CORRUPT_DATA_FILE, false},
};

INSTANTIATE_TEST_SUITE_P(Reader, DamagedFileTest, ::testing::ValuesIn(DAMAGE),
                         [](const auto& info) { return std::string(info.param.defect); });

TEST_F(ReaderTest, MissingFileCannotBeOpened) {
  EXPECT_EQ(ERR_CANT_OPEN_FILE,
            read_data_file(dir_.path("absent.dat").c_str(), nullptr, nullptr, nullptr, &phase_));
}

// A header promising more than the file holds is answered before the storage is allocated.
TEST_F(ReaderTest, TooShortFileIsRefusedBeforeAnyLargeAllocation) {
  const std::function<void(TestFile&)> hostile[] = {
      [](TestFile& f) {  // a 16000 x 16000 phase map (1 GB) in a 4 KB file
        f.set16(68, 16000);
        f.set16(70, 16000);
        f.set32(72, 1024000000);
      },
      [](TestFile& f) {  // a 32767 x 32767 intensity plane (2 GB)
        f.set16(52, 32767);
        f.set16(54, 32767);
        f.set16(56, 1);
        f.set32(60, 2u * 32767 * 32767);
      },
  };
  for (const auto& damage : hostile) {
    TestFile f = full_file();
    damage(f);
    FailingAllocator counter(0);
    EXPECT_EQ(ERR_CORRUPT_DATA_FILE, read(f));
    // The same bytes in a memory stream, which has no descriptor to ask for its size.
    std::FILE* memory = fmemopen(f.bytes.data(), f.bytes.size(), "rb");
    ASSERT_NE(nullptr, memory);
    EXPECT_EQ(ERR_CORRUPT_DATA_FILE, read_data_stream(memory, nullptr, nullptr, nullptr, &phase_));
    std::fclose(memory);
    EXPECT_LT(counter.largest(), 1u << 20);
  }
}

TEST_F(ReaderTest, AllocationFailureIsNoMemAndReleasesEverything) {
  for (int fail_at : {1, 2}) {  // the intensity planes, then the phase map
    FailingAllocator counter(fail_at);
    EXPECT_EQ(ERR_NO_MEM, read(full_file()));
    EXPECT_EQ(nullptr, intensity_.matrix);
    EXPECT_EQ(nullptr, phase_.matrix);
    EXPECT_EQ(fail_at - 1, counter.releases()) << fail_at;
  }
}

// A stream that cannot seek (a pipe): the header and a skipped block are read through.
TEST_F(ReaderTest, ReadsFromAPipe) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  const std::vector<uint8_t> bytes = full_file().bytes;
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += std::size_t(n);
    }
    close(fds[1]);
  });
  std::FILE* stream = fdopen(fds[0], "rb");
  ASSERT_NE(nullptr, stream);
  EXPECT_EQ(NO_ERROR, read_data_stream(stream, nullptr, &attributes_, nullptr, &phase_));
  writer.join();
  std::fclose(stream);
  EXPECT_EQ(PHASE, std::vector<int32_t>(phase_.matrix, phase_.matrix + 6));
}

}  // namespace

}  // namespace harnix
