// One Planoryx data file read whole for inspection or export, with failures as one-line texts.
#ifndef HARNIX_TOOLS_UTIL_LOADED_FILE_H_
#define HARNIX_TOOLS_UTIL_LOADED_FILE_H_

#include <cstdint>
#include <string>

#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

struct LoadedFile {
  uint32_t magic;        // the file's first four bytes, big-endian
  int32_t header_bytes;  // 834 or 4096
  DataAttributes attributes;
  IntensityMap intensity;  // no storage when not asked for or when the file has none
  PhaseMap phase;          // no storage when the file has no phase block
};

// Reads `path` into `*file` (whose maps must hold no storage); the intensity map only when
// `with_intensity` is true. On success returns true and the caller owns the maps' storage
// (release_loaded_file). On failure returns false with the maps released and `*message` set to
// what is wrong, to follow the quoted file name: "is not a Planoryx data file", "cannot be
// opened: No such file or directory".
bool load_data_file(const char* path, bool with_intensity, LoadedFile* file, std::string* message);

// Releases the maps' storage; safe to call repeatedly.
void release_loaded_file(LoadedFile* file);

// 1, 2 or 3 for the three header variants, 0 for any other magic.
int header_variant(uint32_t magic);

// Text made safe for a one-line UTF-8 field: control characters become spaces, bytes that do not
// form valid UTF-8 become '?', and blanks at both ends are dropped.
std::string printable_text(const char* bytes, std::size_t n);

// The attributes' comment (up to its first NUL) as printable_text.
std::string comment_text(const DataAttributes& attributes);

// `text` between double quotes, for messages and reports.
std::string quoted(const std::string& text);

// The last component of a path ("/data/run 1/avg.dat" -> "avg.dat").
std::string base_name(const std::string& path);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_LOADED_FILE_H_
