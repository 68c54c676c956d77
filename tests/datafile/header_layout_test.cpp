#include "datafile/header_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace harnix {

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
    if (f.coding == FieldCoding::STORED_BYTES) {
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

}  // namespace

}  // namespace harnix
