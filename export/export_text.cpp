// The two text exports. Numbers are the shortest texts that read back exactly, with a dot as
// the decimal separator; each row is built in one string and written in one call.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "export/export_formats.h"
#include "export/number_text.h"

namespace harnix {

namespace {

bool write_text(const std::string& text, std::FILE* stream, std::string* message) {
  if (std::fwrite(text.data(), 1, text.size(), stream) == text.size()) return true;
  *message = std::strerror(errno);
  return false;
}

}  // namespace

bool write_xyz(const ExportData& data, std::FILE* stream, std::string* message) {
  const Window& w = data.map->window;
  const std::size_t width = static_cast<std::size_t>(w.width);
  std::string line;
  for (int r = 0; r < w.height; ++r) {
    const std::size_t first = static_cast<std::size_t>(r) * width;
    const std::string y = shortest_text((w.y + r) * data.spacing);
    line.clear();
    for (std::size_t c = 0; c < width; ++c) {
      const double z = data.value(first + c);
      if (std::isnan(z)) continue;
      append_shortest(line, (w.x + static_cast<double>(c)) * data.spacing);
      line += ' ';
      line += y;
      line += ' ';
      append_shortest(line, z);
      line += '\n';
    }
    if (!write_text(line, stream, message)) return false;
  }
  return true;
}

bool write_matrix(const ExportData& data, double fill, std::FILE* stream, std::string* message) {
  const Window& w = data.map->window;
  const std::size_t width = static_cast<std::size_t>(w.width);
  const std::string fill_text = shortest_text(fill);
  std::string line;
  for (int r = 0; r < w.height; ++r) {
    const std::size_t first = static_cast<std::size_t>(r) * width;
    line.clear();
    for (std::size_t c = 0; c < width; ++c) {
      if (c != 0) line += ' ';
      const double z = data.value(first + c);
      if (std::isnan(z))
        line += fill_text;
      else
        append_shortest(line, z);
    }
    line += '\n';
    if (!write_text(line, stream, message)) return false;
  }
  return true;
}

}  // namespace harnix
