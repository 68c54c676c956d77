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

TEST(HeaderLayout, DecodePutsFieldsInHostOrder) {
  std::vector<uint8_t> bytes(HEADER_SIZE_LONG, 0);
  const uint8_t magic[] = {0x88, 0x1B, 0x03, 0x71};
  std::memcpy(&bytes[0], magic, 4);
  bytes[68] = 0x01;  // phase width 0x0102
  bytes[69] = 0x02;
  bytes[164] = 0x3F;  // IntfScaleFactor 0.5f
  bytes[234] = 0x80;  // CameraWidth -32768
  bytes[838] = 0x12;  // an unnamed 16-bit field
  bytes[839] = 0x34;
  bytes[898] = 0x03;       // memo, kept as stored
  bytes[1442 + 3] = 0x3F;  // ZoomMag 0.5f least significant byte first: 00 00 00 3F
  DataHeader h;
  decode_header(bytes.data(), HEADER_SIZE_LONG, &h);
  EXPECT_EQ(MAGIC_FORMAT_3, h.magic);
  EXPECT_EQ(0x0102, h.phase.width);
  EXPECT_EQ(0.5f, h.attributes.IntfScaleFactor);
  EXPECT_EQ(-32768, h.attributes.CameraWidth);
  uint16_t other;
  std::memcpy(&other, &h.attributes.other[838], 2);
  EXPECT_EQ(0x1234, other);
  EXPECT_EQ(3, h.attributes.other[898]);
  EXPECT_EQ(0, h.attributes.other[899]);
  EXPECT_EQ(0.5f, h.attributes.ZoomMag);

  DataHeader short_header;  // the same bytes as a short header: nothing from 834 on
  decode_header(bytes.data(), HEADER_SIZE_SHORT, &short_header);
  EXPECT_EQ(0x0102, short_header.phase.width);
  EXPECT_EQ(0, short_header.attributes.other[838]);
  EXPECT_EQ(0, short_header.attributes.other[898]);
  EXPECT_EQ(0.0f, short_header.attributes.ZoomMag);
}

TEST(HeaderLayout, SizeFollowsTheMagic) {
  EXPECT_EQ(834, header_size_for_magic(0x881B036F));
  EXPECT_EQ(834, header_size_for_magic(0x881B0370));
  EXPECT_EQ(4096, header_size_for_magic(0x881B0371));
  EXPECT_EQ(0, header_size_for_magic(0x881B0372));
  EXPECT_EQ(0, header_size_for_magic(0x6F031B88));
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
