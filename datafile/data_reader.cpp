// Reading a Planoryx data file: the header in one read, each data block in one read converted
// in place in one pass. Sizes are checked against the header and, when the stream can tell, the
// bytes left in it before any block storage is allocated, so that a hostile header can neither
// overrun a map's storage nor make the reader allocate what the file cannot fill or the machine
// cannot hold.
#include <algorithm>
#include <cstring>

#include "base/memory_limit.h"
#include "base/platform.h"
#include "datafile/byte_order.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "datafile/header_layout.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr int32_t MAX_DIMENSION = 32767;

// Phase values read and converted at a time: 128 KiB, well within a core's second-level cache.
constexpr std::size_t READ_PIECE = 32768;

// Moves `bytes` forward; a stream that cannot seek is read and the bytes dropped. The result is
// not checked: a block that follows and ends early is reported when it is read.
void skip_bytes(std::FILE* stream, int64_t bytes) {
  if (bytes <= 0 || seek_forward(stream, bytes)) return;
  uint8_t sink[4096];
  while (bytes > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(bytes, sizeof sink));
    const std::size_t got = std::fread(sink, 1, want, stream);
    if (got == 0) return;
    bytes -= static_cast<int64_t>(got);
  }
}

bool dimensions_fit(const MapDescription& d, bool with_buckets) {
  return d.width >= 0 && d.height >= 0 && d.width <= MAX_DIMENSION && d.height <= MAX_DIMENSION &&
         (!with_buckets || d.n_buckets >= 0);
}

// The rows of a phase window at (y, height) that lie in camera rows [from, from + count): the
// first of them, as a row of the window, and how many.
struct WindowRows {
  int32_t first;
  int32_t count;
};

WindowRows rows_in(int16_t y, int16_t height, int32_t from, int32_t count) {
  const int32_t top = std::max<int32_t>(from, y);
  const int32_t end = std::min<int32_t>(from + count, int32_t{y} + height);
  return end > top ? WindowRows{top - y, end - top} : WindowRows{0, 0};
}

// With `camera_rows` (a partial read, no intensity), only the phase rows in those camera rows are
// read: every check of the whole block is made first, then the rows before them are skipped.
ErrorCode read_parts(std::FILE* stream, OriginInfo* origin, DataAttributes* attributes,
                     IntensityMap* intensity, PhaseMap* phase,
                     const WindowRows* camera_rows = nullptr, bool fixed_storage = false) {
  uint8_t bytes[HEADER_SIZE_LONG];
  if (std::fread(bytes, 1, 4, stream) != 4) return ERR_PREMATURE_EOF;
  const int32_t header_size = header_size_for_magic(load_be32(bytes));
  if (header_size == 0) return ERR_NOT_A_DATA_FILE;
  // The magic is kept, so the rest of the header follows without stepping back: pipes work too.
  const auto rest = static_cast<std::size_t>(header_size - 4);
  if (std::fread(bytes + 4, 1, rest, stream) != rest) return ERR_PREMATURE_EOF;

  DataHeader header;
  decode_header(bytes, header_size, &header);
  const MapDescription& in = header.intensity;
  const MapDescription& ph = header.phase;
  if (origin != nullptr) *origin = header.origin;
  if (intensity != nullptr && in.byte_count > 0) {
    if (!dimensions_fit(in, true)) return ERR_DATASET_DIM_TOO_LARGE;
    intensity->window = {in.x, in.y, in.width, in.height};
    intensity->n_buckets = in.n_buckets;
    intensity->range = in.range;
  }
  if (phase != nullptr && ph.byte_count > 0) {
    if (!dimensions_fit(ph, false)) return ERR_DATASET_DIM_TOO_LARGE;
    phase->window = {ph.x, ph.y, ph.width, ph.height};
  }
  if (attributes != nullptr) {
    *attributes = header.attributes;
    // Remembers the long header, so that writing these attributes again gives one.
    if (header_size == HEADER_SIZE_LONG) {
      store_le16(attributes->other + OFFSET_FORMAT_MEMO, FORMAT_MEMO_LONG);
    }
  }

  // Every count below is a product of non-negative 16-bit values: it fits 64 bits exactly.
  const bool read_intensity = intensity != nullptr && in.byte_count > 0;
  const bool read_phase = phase != nullptr && ph.byte_count > 0;
  const uint64_t intensity_count =
      read_intensity ? uint64_t(in.n_buckets) * uint64_t(in.width) * uint64_t(in.height) : 0;
  const uint64_t phase_count = read_phase ? uint64_t(ph.width) * uint64_t(ph.height) : 0;
  if (read_intensity) {
    if (intensity_count == 0) return ERR_PARAM_OUT_OF_RANGE;
    // The block must fill the planes exactly: a longer one would overrun their storage.
    if (uint64_t(in.byte_count) / 2 != intensity_count) return ERR_CORRUPT_DATA_FILE;
  }
  if (read_phase) {
    if (phase_count == 0) return ERR_PARAM_OUT_OF_RANGE;
    // width x height values are read whatever the count says, but never more than that.
    if (uint64_t(ph.byte_count) > 4 * phase_count) return ERR_CORRUPT_DATA_FILE;
  }
  int64_t needed = 0;
  if (read_intensity || read_phase) needed += std::max(in.byte_count, 0);
  if (read_phase) needed += static_cast<int64_t>(4 * phase_count);
  if (needed > 0) {
    const int64_t left = bytes_left(stream);
    if (left >= 0 && left < needed) return ERR_CORRUPT_DATA_FILE;
  }
  // A partial read holds only its rows: the window shrinks to them before anything is allocated.
  WindowRows part{0, read_phase ? int32_t{ph.height} : 0};
  if (camera_rows != nullptr && read_phase) {
    part = rows_in(ph.y, ph.height, camera_rows->first, camera_rows->count);
    phase->window = {ph.x, int16_t(ph.y + part.first), ph.width, int16_t(part.count)};
    if (part.count == 0) return NO_ERROR;  // the block holds none of the rows
  }
  const uint64_t part_count = uint64_t(ph.width) * uint64_t(part.count);
  // A 32767 x 32767 phase map is 4 GiB: refuse storage the machine cannot hold before asking
  // for it, rather than be ended by the system while the block is read into it.
  if (check_memory_need(2 * intensity_count + 4 * part_count, memory_limit_bytes()) != NO_ERROR)
    return ERR_NO_MEM;

  if (in.byte_count > 0) {
    if (intensity != nullptr) {
      ErrorCode rc = map_alloc(*intensity);
      if (rc != NO_ERROR) return rc;
      const auto n = static_cast<std::size_t>(intensity_count);
      if (std::fread(intensity->matrix, 2, n, stream) != n) return ERR_CORRUPT_DATA_FILE;
      convert_be16_block(intensity->matrix, intensity->matrix, n);
      skip_bytes(stream, in.byte_count & 1);  // an odd count leaves one byte before the phase
    } else {
      skip_bytes(stream, in.byte_count);
    }
  }
  if (ph.byte_count > 0) {
    if (phase != nullptr) {
      // Storage a reusing caller left in the record serves when it is large enough.
      if (phase->matrix == nullptr || phase->size < part_count) {
        if (fixed_storage) return ERR_IMPROPER_WINDOW;
        ErrorCode rc = map_alloc(*phase);  // releases what the record held first
        if (rc != NO_ERROR) return rc;
      }
      skip_bytes(stream, int64_t{4} * ph.width * part.first);
      // A piece at a time, each converted while it is still in the cache: the block is written
      // to memory once, not copied there and then read and written again.
      const auto n = static_cast<std::size_t>(part_count);
      for (std::size_t done = 0; done < n;) {
        const std::size_t piece = std::min(n - done, READ_PIECE);
        int32_t* at = phase->matrix + done;
        if (std::fread(at, 4, piece, stream) != piece || std::ferror(stream)) {
          return ERR_CORRUPT_DATA_FILE;
        }
        convert_be32_block(at, at, piece);
        done += piece;
      }
    } else {
      skip_bytes(stream, ph.byte_count);
    }
  }
  return NO_ERROR;
}

}  // namespace

ErrorCode read_data_stream(std::FILE* stream, OriginInfo* origin, DataAttributes* attributes,
                           IntensityMap* intensity, PhaseMap* phase) {
  if (stream == nullptr) return ERR_INVALID_PARAM;
  if (intensity != nullptr) map_init(*intensity);
  if (phase != nullptr) map_init(*phase);
  const ErrorCode rc = read_parts(stream, origin, attributes, intensity, phase);
  if (rc != NO_ERROR) {
    if (intensity != nullptr) map_free(*intensity);
    if (phase != nullptr) map_free(*phase);
  }
  return rc;
}

ErrorCode read_data_file(const char* path, OriginInfo* origin, DataAttributes* attributes,
                         IntensityMap* intensity, PhaseMap* phase) {
  if (path == nullptr) return ERR_INVALID_PARAM;
  std::FILE* stream = open_file(path, "rb");
  if (stream == nullptr) return ERR_CANT_OPEN_FILE;
  const ErrorCode rc = read_data_stream(stream, origin, attributes, intensity, phase);
  std::fclose(stream);
  return rc;
}

namespace {

// read_data_file_reusing, of the camera rows `rows` or (nullptr) the whole block.
ErrorCode read_reusing(const char* path, OriginInfo* origin, DataAttributes* attributes,
                       PhaseMap* phase, const WindowRows* rows, ReadStamps* stamps,
                       bool fixed_storage = false) {
  if (stamps != nullptr) *stamps = ReadStamps{};
  if (path == nullptr || phase == nullptr) return ERR_INVALID_PARAM;
  // Only the storage outlives the call before: the window and the rest start zero.
  int32_t* const storage = phase->matrix;
  const uint32_t size = storage != nullptr ? phase->size : 0;
  map_init(*phase);
  phase->matrix = storage;
  phase->size = size;
  std::FILE* stream = open_file(path, "rb");
  if (stream == nullptr) return ERR_CANT_OPEN_FILE;
  if (stamps != nullptr)
    stamps->stamped = open_file_status(stream, &stamps->before, &stamps->regular);
  const ErrorCode rc = read_parts(stream, origin, attributes, nullptr, phase, rows, fixed_storage);
  if (stamps != nullptr && stamps->stamped)
    stamps->stamped = open_file_status(stream, &stamps->after, &stamps->regular);
  std::fclose(stream);
  if (rc != NO_ERROR) phase->window = Window{};
  return rc;
}

}  // namespace

ErrorCode read_data_file_reusing(const char* path, OriginInfo* origin, DataAttributes* attributes,
                                 PhaseMap* phase, ReadStamps* stamps) {
  return read_reusing(path, origin, attributes, phase, nullptr, stamps);
}

ErrorCode read_phase_rows_reusing(const char* path, DataAttributes* attributes, int32_t first_row,
                                  int32_t row_count, PhaseMap* phase, ReadStamps* stamps) {
  if (stamps != nullptr) *stamps = ReadStamps{};
  if (first_row < 0 || row_count < 0) return ERR_INVALID_PARAM;
  const WindowRows rows{first_row, row_count};
  return read_reusing(path, nullptr, attributes, phase, &rows, stamps);
}

ErrorCode read_phase_rows_into(const char* path, DataAttributes* attributes, int32_t first_row,
                               int32_t row_count, PhaseMap* phase, ReadStamps* stamps) {
  if (stamps != nullptr) *stamps = ReadStamps{};
  if (first_row < 0 || row_count < 0) return ERR_INVALID_PARAM;
  const WindowRows rows{first_row, row_count};
  return read_reusing(path, nullptr, attributes, phase, &rows, stamps, true);
}

}  // namespace harnix
