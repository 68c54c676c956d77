// A Planoryx measurement as the module holds it: the records the reader fills, their storage
// owned here and lent to numpy arrays without a copy (each array keeps its measurement alive).
#ifndef HARNIX_PYTHON_MEASUREMENT_H_
#define HARNIX_PYTHON_MEASUREMENT_H_

#include <pybind11/pybind11.h>

#include <string>

#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

struct Measurement {
  std::string path;         // as read, or "" for a result formed in memory
  bool has_origin = false;  // written with the origin record (else without, as results are)
  OriginInfo origin{};
  DataAttributes attributes{};
  IntensityMap intensity{};  // storage when the file holds intensity planes
  PhaseMap phase{};          // storage when the file holds a phase block
  // The header-format memo as the file stored it, which the reader replaces in `attributes`
  // (see datafile/data_file.h): written back, the file's own bytes come out again.
  bool stored_memo_known = false;
  uint8_t stored_memo[2] = {};

  Measurement() = default;
  Measurement(const Measurement&) = delete;
  Measurement& operator=(const Measurement&) = delete;
  ~Measurement();
};

// Defines Measurement, Window, read, info and write in `module`.
void define_measurement(pybind11::module_& module);

// The attributes as a dict keyed by the format's names.
pybind11::dict attribute_dict(const DataAttributes& a);

// The text of the comment field up to its first NUL, undecodable bytes replaced.
std::string comment_of(const DataAttributes& a);

// A path argument (str or os.PathLike) as bytes for the file functions; TypeError otherwise.
std::string path_argument(const pybind11::handle& path);

// The same path as text, for messages and the `file` of an error.
std::string path_text(const pybind11::handle& path);

}  // namespace harnix

#endif  // HARNIX_PYTHON_MEASUREMENT_H_
