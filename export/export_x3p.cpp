#include "export/export_x3p.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

#include "datafile/byte_order.h"
#include "export/md5_hex.h"
#include "export/number_text.h"
#include "export/utc_text.h"
#include "export/x3p_document.h"
#include "export/zip_archive.h"

namespace harnix {

namespace {

// Zip dates start in 1980; a second day keeps any time zone's local time inside the range.
constexpr std::time_t EARLIEST_ZIP_TIME = 315619200;  // 1980-01-02T00:00:00Z

struct PointData {
  std::vector<uint8_t> values;
  std::vector<uint8_t> valid;  // empty for float64 data
};

// int32 counts as stored, every invalid value written as the marker, and the validity bits.
PointData stored_counts(const PhaseMap& map, std::size_t n) {
  PointData d;
  d.values.resize(4 * n);
  d.valid.assign((n + 7) / 8, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = map.matrix[i];
    const bool ok = phase_valid(v);
    store_le32(&d.values[4 * i], static_cast<uint32_t>(ok ? v : PHASE_INVALID));
    if (ok) d.valid[i / 8] = static_cast<uint8_t>(d.valid[i / 8] | (1u << (i % 8)));
  }
  return d;
}

PointData levelled_values(const ExportData& data, std::size_t n) {
  PointData d;
  d.values.resize(8 * n);
  for (std::size_t i = 0; i < n; ++i) {
    const double z = data.value(i);
    uint64_t bits;
    std::memcpy(&bits, &z, sizeof bits);
    store_le64(&d.values[8 * i], bits);
  }
  return d;
}

std::string identification(const DataAttributes& a) {
  const double nm = float_in_units(a.WavelengthIn, 1e9);
  if (!(std::isfinite(nm) && nm > 0)) return "interferometer";
  return "interferometer, wavelength " + shortest_text(nm) + " nm";
}

}  // namespace

bool write_x3p(const ExportData& data, std::FILE* stream, std::string* message) {
  const Window& w = data.map->window;
  const std::size_t n = static_cast<std::size_t>(w.width) * static_cast<std::size_t>(w.height);
  const bool levelled = data.levelled != nullptr;
  if (n > SIZE_MAX / 8) {
    *message = "the map is too large for this machine's address space";
    return false;
  }
  const PointData points = levelled ? levelled_values(data, n) : stored_counts(*data.map, n);

  X3pDescription d{};
  d.size_x = w.width;
  d.size_y = w.height;
  d.x_increment = d.y_increment = data.spacing;
  d.x_offset = w.x * data.spacing;
  d.y_offset = w.y * data.spacing;
  d.z_data_type = levelled ? 'D' : 'L';
  d.z_increment = levelled ? 1.0 : data.per_count;
  d.date = utc_text(data.attributes->TimeStamp);
  d.creator = data.creator;
  d.identification = identification(*data.attributes);
  d.comment = data.comment;
  d.data_md5 = md5_hex(points.values.data(), points.values.size());
  if (!levelled) d.valid_md5 = md5_hex(points.valid.data(), points.valid.size());
  const std::string xml = x3p_main_xml(d);
  const std::string checksum = md5_hex(xml.data(), xml.size()) + " *" + X3P_MAIN + "\n";

  std::vector<ZipMember> members = {{X3P_MAIN, xml.data(), xml.size()},
                                    {X3P_DATA, points.values.data(), points.values.size()}};
  if (!levelled) members.push_back({X3P_VALID, points.valid.data(), points.valid.size()});
  members.push_back({X3P_CHECKSUM, checksum.data(), checksum.size()});
  const std::time_t modified = std::max<std::time_t>(data.attributes->TimeStamp, EARLIEST_ZIP_TIME);
  return write_zip_archive(members, modified, stream, message);
}

}  // namespace harnix
