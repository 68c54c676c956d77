#include "datafile/header_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> random_bytes(std::size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

// The table describes every header byte exactly once, in file order, and gives every field its
// own bytes of the record.
TEST(HeaderLayout, TableTilesTheHeaderAndTheRecord) {
  int32_t next = 0;
  std::vector<std::pair<std::size_t, std::size_t>> record;
  for (const HeaderField& f : header_fields()) {
    EXPECT_EQ(next, f.offset) << f.name;
    if (f.coding == FieldCoding::kBytes) {
      EXPECT_EQ(1, f.width) << f.offset;
    } else {
      EXPECT_TRUE(f.width == 2 || f.width == 4) << f.offset;
    }
    EXPECT_TRUE(f.offset + f.width * f.count <= HEADER_SIZE_SHORT || f.offset >= HEADER_SIZE_SHORT)
        << "field at " << f.offset << " straddles the end of a short header";
    next = f.offset + f.width * f.count;
    record.emplace_back(f.record_offset, f.record_offset + std::size_t(f.width * f.count));
  }
  EXPECT_EQ(HEADER_SIZE_LONG, next);
  std::sort(record.begin(), record.end());
  for (std::size_t i = 0; i < record.size(); ++i) {
    EXPECT_LE(record[i].second, sizeof(DataHeader));
    if (i > 0) {
      EXPECT_LE(record[i - 1].second, record[i].first) << "record bytes shared";
    }
  }
}

// Decoding then encoding any 4096 bytes gives them back: no byte is lost or moved.
TEST(HeaderLayout, EncodeUndoesDecode) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const std::vector<uint8_t> bytes = random_bytes(HEADER_SIZE_LONG, seed);
    DataHeader header;
    decode_header(bytes.data(), HEADER_SIZE_LONG, &header);
    std::vector<uint8_t> again(HEADER_SIZE_LONG, 0xEE);
    encode_header(header, again.data());
    EXPECT_EQ(bytes, again) << seed;
  }
}

// Swapping reverses big-endian numbers in place and leaves byte areas and the two
// least-significant-first fields alone; twice is no change.
TEST(HeaderLayout, SwapHeader) {
  const std::vector<uint8_t> bytes = random_bytes(HEADER_SIZE_LONG, 9);
  std::vector<uint8_t> swapped = bytes;
  swap_header(swapped.data(), HEADER_SIZE_LONG);
  auto reversed = [&](std::size_t offset, std::size_t width) {
    return std::equal(&bytes[offset], &bytes[offset + width],
                      std::make_reverse_iterator(&swapped[offset + width]));
  };
  auto unchanged = [&](std::size_t offset, std::size_t width) {
    return std::equal(&bytes[offset], &bytes[offset + width], &swapped[offset]);
  };
  EXPECT_TRUE(reversed(0, 4));      // magic
  EXPECT_TRUE(reversed(4, 2));      // header_format
  EXPECT_TRUE(reversed(164, 4));    // IntfScaleFactor
  EXPECT_TRUE(reversed(188, 2));    // first of five unnamed 16-bit fields
  EXPECT_TRUE(reversed(196, 2));    // last of them
  EXPECT_TRUE(reversed(1446, 4));   // unnamed 32-bit field after ZoomMag
  EXPECT_TRUE(unchanged(12, 30));   // OriginInfo text
  EXPECT_TRUE(unchanged(80, 82));   // comment
  EXPECT_TRUE(unchanged(246, 52));  // carried
  EXPECT_TRUE(unchanged(898, 2));   // memo
  EXPECT_TRUE(unchanged(1442, 4));  // ZoomMag
  EXPECT_TRUE(unchanged(1454, 2642));
  swap_header(swapped.data(), HEADER_SIZE_LONG);
  EXPECT_EQ(bytes, swapped);

  std::vector<uint8_t> short_swap = bytes;  // a short header leaves 834.. untouched
  swap_header(short_swap.data(), HEADER_SIZE_SHORT);
  EXPECT_TRUE(std::equal(&bytes[834], &bytes[4096], &short_swap[834]));
  EXPECT_FALSE(std::equal(&bytes[0], &bytes[834], &short_swap[0]));
}

}  // namespace
