// Reading and writing whole Planoryx data files.
//
// Paths: an 8-bit NUL-terminated name, except that a name whose first two bytes, read least
// significant byte first, are 0xFEFF or 0xFFFE is a UTF-16 name: the 16-bit units after the mark,
// up to a zero unit, name the file; they are converted to UTF-8 before opening.
//
// Reading: maps handed to the reader must hold no storage; their records are zeroed and then
// overwritten. Pass nullptr for any part that is not wanted: its block is skipped. Attributes read
// from a 4096-byte header get the header-format memo at 898 set to 3, so that writing them again
// gives a 4096-byte header. On failure the reader releases the storage of the maps it was given;
// the origin and attribute records may already be written. A file without a phase block reads
// successfully and leaves the phase map with an all-zero window and no storage.
//   ERR_PREMATURE_EOF          fewer than 4 magic bytes, or a short header
//   ERR_NOT_A_DATA_FILE        an unknown magic number
//   ERR_DATASET_DIM_TOO_LARGE  a width, height or n_buckets above 32767 (negative as 16-bit)
//   ERR_PARAM_OUT_OF_RANGE     a block described with a zero-sized map (from map_alloc)
//   ERR_CORRUPT_DATA_FILE      an intensity block whose byte count / 2 differs from
//                              n_buckets x width x height, a phase byte count above
//                              4 x width x height, a file too short for the blocks to be read
//                              (found before their storage is allocated when the stream can tell
//                              its size), a block ending early or a stream error inside it
//   ERR_NO_MEM                 block storage cannot be obtained, or would exceed the memory the
//                              program can count on (memory_limit_bytes, base/memory_limit.h);
//                              the latter is found before anything is allocated
// A phase block holds width x height values whatever its (positive) byte count says.
//
// Writing: a map takes part only when it holds storage. The header variant follows from the
// attributes; the caller's maps and records are never changed (byte order is converted in
// copies). A file is reported written only when every byte reached it.
//   ERR_INVALID_PARAM     no map with storage, a negative dimension, a window (times n_buckets)
//                         larger than the map's storage, or a block too large for the header's
//                         32-bit byte count; nothing is written then
//   ERR_CANT_WRITE_FILE   the seek to the end, a write, the flush or the close fails
//   ERR_NO_MEM            no conversion buffer
// A nullptr path or stream is ERR_INVALID_PARAM.
#ifndef HARNIX_DATAFILE_DATA_FILE_H_
#define HARNIX_DATAFILE_DATA_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/error_codes.h"
#include "base/platform.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"
#include "maps/map_view.h"

namespace harnix {

// ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF, ERR_NOT_A_DATA_FILE, ERR_DATASET_DIM_TOO_LARGE,
// ERR_CORRUPT_DATA_FILE, ERR_PARAM_OUT_OF_RANGE, ERR_NO_MEM.
ErrorCode read_data_file(const char* path, OriginInfo* origin, DataAttributes* attributes,
                         IntensityMap* intensity, PhaseMap* phase);
ErrorCode read_data_stream(std::FILE* stream, OriginInfo* origin, DataAttributes* attributes,
                           IntensityMap* intensity, PhaseMap* phase);

// What a reader saw of the file it had open: its status once opened, before any byte was read,
// and after the last byte it needed, both taken from the open file on the thread that read it
// (so that a name replaced meanwhile does not hide the file actually read). `stamped` is false
// when the file could not be opened or examined.
struct ReadStamps {
  bool stamped = false;
  bool regular = false;  // a regular file (a pipe or a device changes as it is read)
  FileStatus before{};
  FileStatus after{};
};

// read_data_file without an intensity map, for a caller that reads many files one after the
// other into one record: *phase may hold storage from an earlier call (or none). Storage of at
// least width x height values is reused as it is; smaller storage is released and replaced. On
// return the record has the file's phase window, or an all-zero window when the file has no
// phase block or on failure; the storage stays with the record either way, for the caller to
// reuse or release with map_free. Codes as read_data_file; ERR_INVALID_PARAM for a nullptr path
// or record. With `stamps`, the stamps of the file read are left there, whatever the code.
ErrorCode read_data_file_reusing(const char* path, OriginInfo* origin, DataAttributes* attributes,
                                 PhaseMap* phase, ReadStamps* stamps = nullptr);

// read_data_file_reusing of the phase rows that lie in camera rows [first_row, first_row +
// row_count) only, for a caller that goes through the camera a band of rows at a time: the phase
// block is stored row by row, so the rows before them are skipped and those after them left
// unread. On success the record's window is the phase window cut to those rows (height 0, with
// no value read, when none of them lies in it). The whole block is checked against the header
// and the file's size as a full read checks it, so a file gives the same code whatever rows are
// asked for, but for a block ending early after the rows read. ERR_INVALID_PARAM also for a
// negative first_row or row_count. `stamps` as read_data_file_reusing leaves them.
ErrorCode read_phase_rows_reusing(const char* path, DataAttributes* attributes, int32_t first_row,
                                  int32_t row_count, PhaseMap* phase,
                                  ReadStamps* stamps = nullptr);

// read_phase_rows_reusing into storage the caller keeps (a part of a larger block, for
// instance): the record's storage is never released nor replaced, and rows that need more values
// than its size give ERR_IMPROPER_WINDOW.
ErrorCode read_phase_rows_into(const char* path, DataAttributes* attributes, int32_t first_row,
                               int32_t row_count, PhaseMap* phase, ReadStamps* stamps = nullptr);

// The stream buffer the named-file writers give their stream: whole mebibytes a write let the
// page cache take a file in large pieces. A caller writing through write_data_stream to a stream
// of its own gives it one of this size for the same reason.
constexpr std::size_t DATA_FILE_WRITE_BUFFER_BYTES = std::size_t{1} << 20;

// ERR_CANT_CREATE_FILE, ERR_INVALID_PARAM (no map with storage), ERR_CANT_WRITE_FILE, ERR_NO_MEM.
ErrorCode write_data_file(const char* path, const OriginInfo* origin,
                          const DataAttributes* attributes, const IntensityMap* intensity,
                          const PhaseMap* phase);
ErrorCode write_data_stream(std::FILE* stream, const OriginInfo* origin,
                            const DataAttributes* attributes, const IntensityMap* intensity,
                            const PhaseMap* phase);

// The same with the phase block taken from a view (a region of a larger map, for instance): the
// block describes the view's window and holds its rows. The bytes are those of writing a map of
// that window holding the same values. ERR_INVALID_PARAM, with nothing written, also for a view
// without storage or with a stride below its width.
ErrorCode write_data_file(const char* path, const OriginInfo* origin,
                          const DataAttributes* attributes, const IntensityMap* intensity,
                          const ConstPhaseView& phase);
ErrorCode write_data_stream(std::FILE* stream, const OriginInfo* origin,
                            const DataAttributes* attributes, const IntensityMap* intensity,
                            const ConstPhaseView& phase);

// write_data_file into an existing regular file written over from its start and then cut where
// the writing ended, instead of emptied first (for an output the run emptied when it began:
// some file systems hand a file emptied and written again to the disk when it is closed, at
// once). Any other name is written as write_data_file writes it. The same bytes and codes; after
// a failure the file holds what was written before it, as an emptied one would.
ErrorCode write_data_file_in_place(const char* path, const OriginInfo* origin,
                                   const DataAttributes* attributes, const IntensityMap* intensity,
                                   const ConstPhaseView& phase);

// write_data_file_in_place without an intensity block, taking the storage of `phase` as its
// buffer: the window's values are turned into the file's byte order where they lie and its rows
// moved together at the start of the view, so that the block goes to the file in one write. The
// same bytes and codes as write_data_file_in_place with that view; the view's storage holds no
// values to use afterwards, whatever the outcome (but for ERR_INVALID_PARAM on the view itself,
// which leaves it untouched). For a map formed only to be written.
ErrorCode write_data_file_in_place_consuming(const char* path, const OriginInfo* origin,
                                             const DataAttributes* attributes,
                                             const PhaseView& phase);

// Writes n 16-bit values big-endian through one 65536-byte buffer, 32768 values a write.
// ERR_NO_MEM, ERR_CANT_WRITE_FILE. The caller's values are not changed.
ErrorCode write_swapped_shorts(const uint16_t* values, std::size_t n, std::FILE* stream);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_DATA_FILE_H_
