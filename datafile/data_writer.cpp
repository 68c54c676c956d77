// Writing a Planoryx data file: the header in one write, the phase block and the intensity block
// converted and written 32768 values at a time. The caller's maps stay in host order. A file
// counts as written only when the flush and the close succeed. A named file goes to the system
// through a 1 MiB stream buffer: writes of whole aligned mebibytes let the page cache take the
// file in large pieces, where the stream's own 4 KiB buffer cut every piece in two unaligned
// writes that cost four times as long.
//
// A phase block given up by its owner (the run's results) is converted where it lies and goes
// to the system in one write, through a stream without a buffer: no copy of it is made. The
// stream buffer, mapped afresh for the files the team's threads wrote, took a page fault every
// 4 KiB, and on a virtual machine its faults cost more than the system's copy of the file (about
// 24 us each, 770 of the run's 1060 faults with three outputs and both cores).
#include <algorithm>
#include <cstring>
#include <limits>

#include "base/allocation.h"
#include "base/platform.h"
#include "datafile/byte_order.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "datafile/header_layout.h"
#include "maps/map_view.h"

namespace harnix {

namespace {

constexpr std::size_t SHORTS_PER_WRITE = 32768;      // one 65536-byte buffer
constexpr std::size_t WRITE_PIECE = 32768;           // phase values: one 131072-byte buffer

// Describes a map that takes part: its window, planes and block size. The window must fit the
// storage the map holds and the block size must fit the header's 32-bit count, else
// ERR_INVALID_PARAM (nothing is ever read past the storage).
ErrorCode describe(const Window& w, int32_t planes, uint32_t size, int32_t bytes_each,
                   MapDescription* out, std::size_t* count) {
  if (w.width < 0 || w.height < 0 || planes < 0) return ERR_INVALID_PARAM;
  const uint64_t n = uint64_t(planes) * uint64_t(w.width) * uint64_t(w.height);
  if (n > size || n * uint64_t(bytes_each) > uint64_t(std::numeric_limits<int32_t>::max())) {
    return ERR_INVALID_PARAM;
  }
  out->x = w.x;
  out->y = w.y;
  out->width = w.width;
  out->height = w.height;
  out->byte_count = static_cast<int32_t>(n * uint64_t(bytes_each));
  *count = static_cast<std::size_t>(n);
  return NO_ERROR;
}

int16_t header_format_for(uint32_t magic) {
  return magic == MAGIC_FORMAT_3 ? 3 : magic == MAGIC_FORMAT_2 ? 2 : 1;
}

}  // namespace

ErrorCode write_swapped_shorts(const uint16_t* values, std::size_t n, std::FILE* stream) {
  auto* buffer = static_cast<uint8_t*>(mem_allocate(2 * SHORTS_PER_WRITE));
  if (buffer == nullptr) return ERR_NO_MEM;
  while (n > 0) {
    const std::size_t chunk = n < SHORTS_PER_WRITE ? n : SHORTS_PER_WRITE;
    convert_be16_block(values, buffer, chunk);
    if (std::fwrite(buffer, 2, chunk, stream) != chunk) {
      mem_release(buffer);
      return ERR_CANT_WRITE_FILE;
    }
    values += chunk;
    n -= chunk;
  }
  mem_release(buffer);
  return NO_ERROR;
}

namespace {

// Checks the blocks and writes the header of a file holding them, at the stream's end or
// `from_start`; *intensity_count and *phase_count are the values of each block. `phase`
// (nullptr: no phase block) is the window of a view the caller has checked against its storage.
ErrorCode write_head(std::FILE* stream, const OriginInfo* origin, const DataAttributes* attributes,
                     const IntensityMap* intensity, const Window* phase, bool from_start,
                     std::size_t* intensity_count, std::size_t* phase_count) {
  const bool with_intensity = intensity != nullptr && intensity->matrix != nullptr;
  if (stream == nullptr || (!with_intensity && phase == nullptr)) return ERR_INVALID_PARAM;

  DataHeader header{};
  *intensity_count = 0;
  *phase_count = 0;
  if (with_intensity) {
    const ErrorCode rc = describe(intensity->window, intensity->n_buckets, intensity->size, 2,
                                  &header.intensity, intensity_count);
    if (rc != NO_ERROR) return rc;
    header.intensity.n_buckets = intensity->n_buckets;
    header.intensity.range = intensity->range;
  }
  if (phase != nullptr) {
    const ErrorCode rc = describe(*phase, 1, UINT32_MAX, 4, &header.phase, phase_count);
    if (rc != NO_ERROR) return rc;
  }
  if (std::fseek(stream, 0, from_start ? SEEK_SET : SEEK_END) != 0) return ERR_CANT_WRITE_FILE;

  header.magic = magic_for_attributes(attributes);
  header.header_format = header_format_for(header.magic);
  header.header_size = header_size_for_magic(header.magic);
  if (origin != nullptr) header.origin = *origin;
  if (attributes != nullptr) header.attributes = *attributes;
  uint8_t bytes[HEADER_SIZE_LONG];
  encode_header(header, bytes);
  const auto header_bytes = static_cast<std::size_t>(header.header_size);
  if (std::fwrite(bytes, 1, header_bytes, stream) != header_bytes) return ERR_CANT_WRITE_FILE;
  return NO_ERROR;
}

// The writer proper: `phase` (nullptr: no phase block) is a view whose window the caller has
// checked against its storage. The file is written at the stream's end, or `from_start`.
ErrorCode write_stream(std::FILE* stream, const OriginInfo* origin,
                       const DataAttributes* attributes, const IntensityMap* intensity,
                       const ConstPhaseView* phase, bool from_start = false) {
  std::size_t intensity_count = 0;
  std::size_t phase_count = 0;
  const ErrorCode head = write_head(stream, origin, attributes, intensity,
                                    phase != nullptr ? &phase->window : nullptr, from_start,
                                    &intensity_count, &phase_count);
  if (head != NO_ERROR) return head;

  if (intensity != nullptr && intensity->matrix != nullptr) {
    const ErrorCode rc = write_swapped_shorts(intensity->matrix, intensity_count, stream);
    if (rc != NO_ERROR) return rc;
  }
  if (phase != nullptr && phase_count > 0) {
    // The rows, gathered from the view's stride, go out a piece at a time through one buffer that
    // stays in the cache: no copy of the whole block is made.
    const std::size_t piece = std::min(phase_count, WRITE_PIECE);
    auto* copy = static_cast<uint8_t*>(mem_allocate(4 * piece));
    if (copy == nullptr) return ERR_NO_MEM;
    const auto width = static_cast<std::size_t>(phase->window.width);
    std::size_t held = 0;
    bool written = true;
    for (int32_t r = 0; r < phase->window.height && written; ++r) {
      const int32_t* row = phase->row(r);
      for (std::size_t done = 0; done < width && written;) {
        const std::size_t take = std::min(width - done, piece - held);
        convert_be32_block(row + done, copy + 4 * held, take);
        held += take;
        done += take;
        if (held == piece) {
          written = std::fwrite(copy, 4, held, stream) == held;
          held = 0;
        }
      }
    }
    if (written && held > 0) written = std::fwrite(copy, 4, held, stream) == held;
    mem_release(copy);
    if (!written) return ERR_CANT_WRITE_FILE;
  }
  return NO_ERROR;
}

// A view of a map's window when the map takes part and its storage covers the window;
// ERR_INVALID_PARAM when it takes part and does not. *view nullptr when it does not take part.
ErrorCode phase_part(const PhaseMap* phase, ConstPhaseView* storage, const ConstPhaseView** view) {
  *view = nullptr;
  if (phase == nullptr || phase->matrix == nullptr) return NO_ERROR;
  MapDescription unused{};
  std::size_t count = 0;
  const ErrorCode rc = describe(phase->window, 1, phase->size, 4, &unused, &count);
  if (rc != NO_ERROR) return rc;
  *storage = map_view(*phase);
  *view = storage;
  return NO_ERROR;
}

// The checks of a view given as the phase block: storage, and rows that do not overlap.
bool view_usable(const ConstPhaseView& phase) {
  return phase.data != nullptr && phase.window.width >= 0 && phase.stride >= phase.window.width;
}

// The writer of a phase block given up by its owner: each row turned into the file's byte order
// where it lies and, when the rows lie a stride apart, moved up to follow the row before, then
// the whole block in one write, with no buffer of its own. The bytes write_stream writes.
ErrorCode write_stream_consuming(std::FILE* stream, const OriginInfo* origin,
                                 const DataAttributes* attributes, const PhaseView& phase,
                                 bool from_start) {
  if (!view_usable(phase)) return ERR_INVALID_PARAM;
  std::size_t intensity_count = 0;
  std::size_t phase_count = 0;
  const ErrorCode head = write_head(stream, origin, attributes, nullptr, &phase.window,
                                    from_start, &intensity_count, &phase_count);
  if (head != NO_ERROR || phase_count == 0) return head;
  const auto width = static_cast<std::size_t>(phase.window.width);
  for (int32_t r = 0; r < phase.window.height; ++r) {
    int32_t* row = phase.row(r);
    convert_be32_block(row, row, width);
    int32_t* packed = phase.data + static_cast<std::size_t>(r) * width;
    if (packed != row) std::memmove(packed, row, 4 * width);
  }
  return std::fwrite(phase.data, 4, phase_count, stream) == phase_count ? NO_ERROR
                                                                        : ERR_CANT_WRITE_FILE;
}

// write_stream with a view checked first; nothing is written for a view that is not usable.
ErrorCode write_view_stream(std::FILE* stream, const OriginInfo* origin,
                            const DataAttributes* attributes, const IntensityMap* intensity,
                            const ConstPhaseView& phase, bool from_start) {
  if (!view_usable(phase)) return ERR_INVALID_PARAM;
  return write_stream(stream, origin, attributes, intensity, &phase, from_start);
}

}  // namespace

ErrorCode write_data_stream(std::FILE* stream, const OriginInfo* origin,
                            const DataAttributes* attributes, const IntensityMap* intensity,
                            const PhaseMap* phase) {
  ConstPhaseView storage{};
  const ConstPhaseView* view = nullptr;
  const ErrorCode rc = phase_part(phase, &storage, &view);
  if (rc != NO_ERROR) return rc;
  return write_stream(stream, origin, attributes, intensity, view);
}

ErrorCode write_data_stream(std::FILE* stream, const OriginInfo* origin,
                            const DataAttributes* attributes, const IntensityMap* intensity,
                            const ConstPhaseView& phase) {
  return write_view_stream(stream, origin, attributes, intensity, phase, false);
}

namespace {

// Opens `path` (emptied, or `in_place` written over and then cut where the writing ended), writes
// through write(stream, from_start), from_start true for a file written over, and closes; a file
// counts as written only when the flush, the cut and the close succeed. The stream has the 1 MiB
// buffer, or (`buffered` false) none.
template <typename Write>
ErrorCode write_file(const char* path, bool in_place, Write write, bool buffered = true) {
  if (path == nullptr) return ERR_INVALID_PARAM;
  char* buffer = nullptr;
  if (buffered &&
      (buffer = static_cast<char*>(mem_allocate(DATA_FILE_WRITE_BUFFER_BYTES))) == nullptr)
    return ERR_NO_MEM;
  std::FILE* stream = in_place ? open_file_in_place(path) : nullptr;
  const bool cut = stream != nullptr;
  if (stream == nullptr) stream = open_file(path, "wb");
  if (stream == nullptr) {
    mem_release(buffer);
    return ERR_CANT_CREATE_FILE;
  }
  (void)std::setvbuf(stream, buffer, buffered ? _IOFBF : _IONBF,
                     buffered ? DATA_FILE_WRITE_BUFFER_BYTES : 0);
  const ErrorCode rc = write(stream, cut);
  // The last bytes may still sit in the stream's buffer: only a successful flush and close
  // prove they reached the file (a full disk or a file-size limit shows up here). Written over,
  // the file keeps nothing past what reached it, as an emptied one would, even after a failure.
  const bool flushed = std::fflush(stream) == 0 && !std::ferror(stream);
  const bool was_cut = !cut || cut_file_at_position(stream);
  const bool closed = std::fclose(stream) == 0;
  mem_release(buffer);
  if (rc != NO_ERROR) return rc;
  return flushed && was_cut && closed ? NO_ERROR : ERR_CANT_WRITE_FILE;
}

ErrorCode write_view_file(const char* path, bool in_place, const OriginInfo* origin,
                          const DataAttributes* attributes, const IntensityMap* intensity,
                          const ConstPhaseView& phase) {
  return write_file(path, in_place, [&](std::FILE* stream, bool from_start) {
    return write_view_stream(stream, origin, attributes, intensity, phase, from_start);
  });
}

}  // namespace

ErrorCode write_data_file(const char* path, const OriginInfo* origin,
                          const DataAttributes* attributes, const IntensityMap* intensity,
                          const PhaseMap* phase) {
  return write_file(path, false, [&](std::FILE* stream, bool /*from_start: never*/) {
    return write_data_stream(stream, origin, attributes, intensity, phase);
  });
}

ErrorCode write_data_file(const char* path, const OriginInfo* origin,
                          const DataAttributes* attributes, const IntensityMap* intensity,
                          const ConstPhaseView& phase) {
  return write_view_file(path, false, origin, attributes, intensity, phase);
}

ErrorCode write_data_file_in_place(const char* path, const OriginInfo* origin,
                                   const DataAttributes* attributes, const IntensityMap* intensity,
                                   const ConstPhaseView& phase) {
  return write_view_file(path, true, origin, attributes, intensity, phase);
}

ErrorCode write_data_file_in_place_consuming(const char* path, const OriginInfo* origin,
                                             const DataAttributes* attributes,
                                             const PhaseView& phase) {
  return write_file(
      path, true,
      [&](std::FILE* stream, bool from_start) {
        return write_stream_consuming(stream, origin, attributes, phase, from_start);
      },
      false);
}

}  // namespace harnix
