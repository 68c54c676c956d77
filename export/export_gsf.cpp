#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "datafile/byte_order.h"
#include "export/export_formats.h"
#include "export/number_text.h"

namespace harnix {

namespace {

constexpr char MAGIC_LINE[] = "Gwyddion Simple Field 1.0\n";

void add_field(std::string& header, const char* name, const std::string& value) {
  header += name;
  header += " = ";
  header += value;
  header += '\n';
}

}  // namespace

bool write_gsf(const ExportData& data, std::FILE* stream, std::string* message) {
  const Window& w = data.map->window;
  std::string header = MAGIC_LINE;
  add_field(header, "XRes", std::to_string(w.width));
  add_field(header, "YRes", std::to_string(w.height));
  add_field(header, "XReal", shortest_text(w.width * data.spacing));
  add_field(header, "YReal", shortest_text(w.height * data.spacing));
  add_field(header, "XOffset", shortest_text(w.x * data.spacing));
  add_field(header, "YOffset", shortest_text(w.y * data.spacing));
  add_field(header, "XYUnits", "m");
  if (*data.unit != '\0') add_field(header, "ZUnits", data.unit);
  add_field(header, "Title", data.title);
  if (!data.comment.empty()) add_field(header, "Comment", data.comment);
  add_field(header, "MissingData", "NaN");
  // One to four NULs: a reader takes the data to start at the next multiple of 4 after the
  // first NUL, so a header that already ends on a multiple of 4 still gets four.
  header.append(4 - header.size() % 4, '\0');
  if (std::fwrite(header.data(), 1, header.size(), stream) != header.size()) {
    *message = std::strerror(errno);
    return false;
  }

  const std::size_t width = static_cast<std::size_t>(w.width);
  std::vector<uint8_t> row(4 * width);
  const float missing = std::numeric_limits<float>::quiet_NaN();
  for (int r = 0; r < w.height; ++r) {
    const std::size_t first = static_cast<std::size_t>(r) * width;
    for (std::size_t c = 0; c < width; ++c) {
      const double v = data.value(first + c);
      const float z = std::isnan(v) ? missing : static_cast<float>(v);
      uint32_t bits;
      std::memcpy(&bits, &z, sizeof bits);
      store_le32(&row[4 * c], bits);
    }
    if (std::fwrite(row.data(), 1, row.size(), stream) != row.size()) {
      *message = std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace harnix
