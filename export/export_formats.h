// Writers of a phase map in the formats of other programs. Each writes to an open binary stream
// and returns false with `*message` set when the stream refuses bytes; an invalid point is never
// written as a number that could pass for a value.
#ifndef HARNIX_EXPORT_EXPORT_FORMATS_H_
#define HARNIX_EXPORT_EXPORT_FORMATS_H_

#include <cmath>
#include <cstdio>
#include <string>

#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

struct ExportData {
  const PhaseMap* map;  // holds storage
  std::string title;    // UTF-8, one line
  std::string comment;  // UTF-8, one line, may be empty
  double per_count;     // value written per phase count: metres per count, or 1 for counts
  const char* unit;     // "m" for heights, "" for counts
  double spacing;       // metres between neighbouring pixels; > 0 where a writer needs it
  // Levelled values in counts, one per map point (NaN where invalid; see levelling.h), or
  // nullptr to write the stored values.
  const double* levelled = nullptr;
  const char* levelling = "none";              // the form removed, for captions
  const DataAttributes* attributes = nullptr;  // of the file (time stamp, wavelength)
  const char* creator = "harnix-util " HARNIX_VERSION;  // the program an archive names

  // The value written for map point i (storage order): NaN where the point is invalid.
  double value(std::size_t i) const {
    if (levelled != nullptr) return levelled[i] * per_count;
    return phase_valid(map->matrix[i]) ? map->matrix[i] * per_count : std::nan("");
  }
};

// Gwyddion Simple Field 1.0: a text header (XRes, YRes, XReal, YReal, XOffset, YOffset in metres,
// units, title, comment), NUL padding to a multiple of 4 bytes, then width x height
// single-precision little-endian values, top row first. Invalid points are NaN, as the header's
// MissingData field says. Needs spacing > 0.
bool write_gsf(const ExportData& data, std::FILE* stream, std::string* message);

// One line "x y z" per valid point in storage order (row 0 first): x and y the camera position
// of the pixel in metres (column and row times the spacing), z the value. Invalid points are
// left out. Needs spacing > 0.
bool write_xyz(const ExportData& data, std::FILE* stream, std::string* message);

// One line per map row, top row first, the row's values separated by single spaces; an invalid
// point is written as `fill`, which is NaN or a number the caller has checked lies outside the
// map's values.
bool write_matrix(const ExportData& data, double fill, std::FILE* stream, std::string* message);

}  // namespace harnix

#endif  // HARNIX_EXPORT_EXPORT_FORMATS_H_
