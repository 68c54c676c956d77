#include "python/measurement.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

#include "datafile/byte_order.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "datafile/header_layout.h"
#include "datafile/output_file.h"
#include "maps/storage.h"
#include "python/errors.h"
#include "surface/heights.h"

namespace harnix {

namespace py = pybind11;

Measurement::~Measurement() {
  map_free(intensity);
  map_free(phase);
}

std::string path_argument(const py::handle& path) {
  // os.fsencode gives the bytes the system's calls take, for str and os.PathLike alike.
  py::object bytes;
  try {
    bytes = py::module_::import("os").attr("fsencode")(path);
  } catch (py::error_already_set&) {
    throw py::type_error("a path must be str, bytes or os.PathLike, not " +
                         std::string(py::str(path.get_type().attr("__name__"))));
  }
  std::string text = bytes.cast<std::string>();
  if (text.empty()) throw py::value_error("a path must not be empty");
  if (text.find('\0') != std::string::npos) throw py::value_error("a path must not hold NUL");
  return text;
}

std::string path_text(const py::handle& path) {
  return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

std::string comment_of(const DataAttributes& a) {
  const void* nul = std::memchr(a.comment, 0, sizeof a.comment);
  const std::size_t n =
      nul != nullptr ? std::size_t(static_cast<const char*>(nul) - a.comment) : sizeof a.comment;
  py::object text = py::reinterpret_steal<py::object>(
      PyUnicode_DecodeUTF8(a.comment, Py_ssize_t(n), "replace"));
  return text.cast<std::string>();
}

py::dict attribute_dict(const DataAttributes& a) {
  py::dict d;
  d["TimeStamp"] = a.TimeStamp;
  d["comment"] = comment_of(a);
  d["IntfScaleFactor"] = double(a.IntfScaleFactor);
  d["WavelengthIn"] = double(a.WavelengthIn);
  d["ObliquityFactor"] = double(a.ObliquityFactor);
  d["CameraRes"] = double(a.CameraRes);
  d["PhaseRes"] = int(a.PhaseRes);
  d["CameraWidth"] = int(a.CameraWidth);
  d["CameraHeight"] = int(a.CameraHeight);
  d["PixelWidth"] = double(a.PixelWidth);
  d["PixelHeight"] = double(a.PixelHeight);
  d["ZoomMag"] = double(a.ZoomMag);
  return d;
}

namespace {

std::size_t points(const Window& w) {
  return std::size_t(std::max<int>(w.width, 0)) * std::size_t(std::max<int>(w.height, 0));
}

// An array over storage of `owner`, which it keeps alive; read-only when `writeable` is false.
template <typename T>
py::object lent_array(std::vector<py::ssize_t> shape, T* data, py::handle owner) {
  return py::array_t<T>(shape, data, owner);
}

py::object phase_array(py::object self) {
  Measurement& m = self.cast<Measurement&>();
  if (m.phase.matrix == nullptr) return py::none();
  return lent_array<int32_t>({m.phase.window.height, m.phase.window.width}, m.phase.matrix, self);
}

py::object intensity_array(py::object self) {
  Measurement& m = self.cast<Measurement&>();
  if (m.intensity.matrix == nullptr) return py::none();
  const Window& w = m.intensity.window;
  return lent_array<uint16_t>({m.intensity.n_buckets, w.height, w.width}, m.intensity.matrix,
                              self);
}

py::object valid_array(const Measurement& m) {
  if (m.phase.matrix == nullptr) return py::none();
  py::array_t<bool> out({m.phase.window.height, m.phase.window.width});
  bool* o = out.mutable_data();
  const std::size_t n = points(m.phase.window);
  for (std::size_t i = 0; i < n; ++i) o[i] = phase_valid(m.phase.matrix[i]);
  return out;
}

py::object heights_array(const Measurement& m) {
  if (m.phase.matrix == nullptr) return py::none();
  const HeightScale scale = height_scale(m.attributes);
  if (!scale.height_known)
    raise_error(ERR_INVALID_PARAM, m.path,
                "no usable height scale (IntfScaleFactor x ObliquityFactor x WavelengthIn is not "
                "a positive number)");
  py::array_t<double> out({m.phase.window.height, m.phase.window.width});
  double* o = out.mutable_data();
  const std::size_t n = points(m.phase.window);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = m.phase.matrix[i];
    o[i] = phase_valid(v) ? v * scale.metres_per_count : nan;
  }
  return out;
}

py::object optional_length(double v) {
  return v > 0 && std::isfinite(v) ? py::object(py::float_(v)) : py::object(py::none());
}

// The memo bytes of a long header as the file holds them, from `stream`, which has just been
// read whole; false when they cannot be read again (a pipe).
bool read_stored_memo(std::FILE* stream, uint8_t memo[2]) {
  return std::fseek(stream, OFFSET_FORMAT_MEMO, SEEK_SET) == 0 &&
         std::fread(memo, 1, 2, stream) == 2;
}

std::unique_ptr<Measurement> read(const py::handle& path_object) {
  const std::string path = path_argument(path_object);
  auto m = std::make_unique<Measurement>();
  map_init(m->intensity);
  map_init(m->phase);
  m->path = path_text(path_object);
  ErrorCode rc;
  {
    py::gil_scoped_release unlocked;
    // One opening for the maps and the memo: opening a file costs as much as reading a
    // megabyte of it.
    std::FILE* stream = open_file(path.c_str(), "rb");
    rc = stream == nullptr ? ERR_CANT_OPEN_FILE
                           : read_data_stream(stream, &m->origin, &m->attributes, &m->intensity,
                                              &m->phase);
    if (rc == NO_ERROR && load_le16(m->attributes.other + OFFSET_FORMAT_MEMO) == FORMAT_MEMO_LONG)
      m->stored_memo_known = read_stored_memo(stream, m->stored_memo);
    if (stream != nullptr) std::fclose(stream);
  }
  if (rc != NO_ERROR) raise_read_error(rc, m->path);
  m->has_origin = true;
  return m;
}

py::dict info(const py::handle& path_object) {
  const std::string path = path_argument(path_object);
  OriginInfo origin{};
  DataAttributes attributes{};
  ErrorCode rc;
  {
    py::gil_scoped_release unlocked;
    rc = read_data_file(path.c_str(), &origin, &attributes, nullptr, nullptr);
  }
  if (rc != NO_ERROR) raise_read_error(rc, path_text(path_object));
  return attribute_dict(attributes);
}

// Closes `fd` (a file just renamed over, or -1 for none) on a thread of its own. The last close
// of a file renamed over frees its storage, which cost more than writing the new one (3 to 7 ms
// for 4 MiB here, within the rename), and nothing needs to wait for it: the name already leads
// to the new file.
void release_later(int fd) {
  if (fd < 0) return;
  try {
    std::thread([fd] { (void)close(fd); }).detach();
  } catch (const std::system_error&) {
    (void)close(fd);  // no thread: freed here, as the rename would have freed it
  }
}

void write(const py::handle& path_object, const Measurement& m) {
  const std::string path = path_argument(path_object);
  const std::string shown = path_text(path_object);
  if (m.phase.matrix == nullptr && m.intensity.matrix == nullptr)
    throw py::value_error("the measurement holds no map to write");
  DataAttributes attributes = m.attributes;
  if (m.stored_memo_known) std::memcpy(attributes.other + OFFSET_FORMAT_MEMO, m.stored_memo, 2);
  OutputFile out;
  std::string message;
  ErrorCode rc = NO_ERROR;
  {
    py::gil_scoped_release unlocked;
    if (!output_open(path.c_str(), &out, &message)) {
      rc = ERR_CANT_CREATE_FILE;
    } else {
      // The command line's buffer size (the stream's own 4 KiB cut every piece in two unaligned
      // writes); not zeroed first, and it outlives the stream.
      const auto buffer = std::make_unique_for_overwrite<char[]>(DATA_FILE_WRITE_BUFFER_BYTES);
      (void)std::setvbuf(out.stream, buffer.get(), _IOFBF, DATA_FILE_WRITE_BUFFER_BYTES);
      rc = write_data_stream(out.stream, m.has_origin ? &m.origin : nullptr, &attributes,
                             m.intensity.matrix != nullptr ? &m.intensity : nullptr,
                             m.phase.matrix != nullptr ? &m.phase : nullptr);
      if (rc != NO_ERROR) {
        output_discard(&out);
      } else {
        const int replaced =
            out.temp_name.empty()
                ? -1
                : open(out.target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        // Not handed to the device before the rename: the command line writes its maps
        // without that wait too, and it cost more than the writing. Readers see the old file
        // or the new.
        if (!output_commit(&out, &message, false)) rc = ERR_CANT_WRITE_FILE;
        release_later(replaced);
      }
    }
  }
  if (rc == ERR_CANT_CREATE_FILE) raise_error(rc, shown, "Cannot create output file \"" + shown + "\"");
  if (rc != NO_ERROR) raise_error(rc, shown, error_name(rc));
}

}  // namespace

void define_measurement(py::module_& module) {
  py::class_<Window>(module, "Window", "Where a map lies on the camera: first column and row, size.")
      .def_readonly("x", &Window::x, "First column on the camera.")
      .def_readonly("y", &Window::y, "First row on the camera (row 0 is the top row).")
      .def_readonly("width", &Window::width, "Columns.")
      .def_readonly("height", &Window::height, "Rows.")
      .def("__iter__",
           [](const Window& w) {
             return py::iter(py::make_tuple(w.x, w.y, w.width, w.height));
           })
      .def("__eq__",
           [](const Window& a, const Window& b) {
             return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
           })
      .def("__repr__", [](const Window& w) {
        return "Window(x=" + std::to_string(w.x) + ", y=" + std::to_string(w.y) +
               ", width=" + std::to_string(w.width) + ", height=" + std::to_string(w.height) + ")";
      });

  py::class_<Measurement>(module, "Measurement",
                          "One measurement: its maps on the camera and its attributes.")
      .def_readonly("path", &Measurement::path, "The file it was read from (\"\" for a result).")
      .def_property_readonly("phase", &phase_array,
                             "int32 array (rows, columns) of the stored phase counts over the "
                             "window, not a copy; values >= 2147483640 are invalid. None "
                             "without a phase map.")
      .def_property_readonly("valid", &valid_array, "bool array: where the phase is valid.")
      .def_property_readonly("heights", &heights_array,
                             "float64 array of heights in metres, NaN where invalid.")
      .def_property_readonly("intensity", &intensity_array,
                             "uint16 array (planes, rows, columns) over the intensity window, "
                             "not a copy; None when the file has none.")
      .def_property_readonly(
          "attributes", [](const Measurement& m) { return attribute_dict(m.attributes); },
          "The header's attributes keyed by their names (a new dict each time).")
      .def_property_readonly(
          "window", [](const Measurement& m) { return m.phase.window; },
          "The phase map's window on the camera.")
      .def_property_readonly(
          "spacing", [](const Measurement& m) { return optional_length(height_scale(m.attributes).spacing); },
          "Metres between neighbouring pixels (CameraRes, else PixelWidth); None when unknown.")
      .def_property_readonly(
          "metres_per_count",
          [](const Measurement& m) {
            const HeightScale s = height_scale(m.attributes);
            return s.height_known ? py::object(py::float_(s.metres_per_count)) : py::none();
          },
          "Metres of height per phase count; None when the attributes give no scale.")
      .def_property_readonly(
          "counts_per_fringe",
          [](const Measurement& m) { return phase_res_counts(m.attributes.PhaseRes); },
          "Phase counts per fringe of the PhaseRes attribute (4096, 32768 or 131072).");

  module.def("read", &read, py::arg("path"),
             "Reads a Planoryx data file whole. Raises HarnixError when it cannot be read.");
  module.def("info", &info, py::arg("path"),
             "The attributes of a data file, without reading its maps.");
  module.def("write", &write, py::arg("path"), py::arg("measurement"),
             "Writes `measurement` as a data file (whole or not at all); a file read and written "
             "back gives the same bytes.");
}

}  // namespace harnix
