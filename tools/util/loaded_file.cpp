#include "util/loaded_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "datafile/byte_order.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Why a read failed, in the operator's words.
std::string read_failure_text(ErrorCode code) {
  switch (code) {
    case ERR_CANT_OPEN_FILE:
      return "cannot be opened";
    case ERR_PREMATURE_EOF:
      return "is too short for a Planoryx data file header";
    case ERR_NOT_A_DATA_FILE:
      return "is not a Planoryx data file";
    case ERR_DATASET_DIM_TOO_LARGE:
    case ERR_PARAM_OUT_OF_RANGE:
      return "is damaged: its header describes an impossible map size";
    case ERR_CORRUPT_DATA_FILE:
      return "is damaged: its map data is shorter than its header says";
    case ERR_NO_MEM:
      return "is too large: not enough memory to read its maps";
    default:
      return "is unreadable (error " + std::to_string(static_cast<int>(code)) + ")";
  }
}

// The first four bytes tell the header variant; the reader does not hand them out.
bool read_magic(const char* path, uint32_t* magic, std::string* message) {
  std::string name;
  if (!platform_file_name(path, &name)) {
    *message = "is not a usable file name";
    return false;
  }
  struct stat st;
  if (::stat(name.c_str(), &st) != 0) {
    *message = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *message = "is not a regular file";
    return false;
  }
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    *message = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  uint8_t bytes[4];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got != sizeof bytes) {
    *message = got == 0 ? "is empty" : read_failure_text(ERR_PREMATURE_EOF);
    return false;
  }
  *magic = load_be32(bytes);
  return true;
}

// Length of the valid UTF-8 sequence at p (at most n bytes), 0 when it is not one. Overlong
// forms, surrogates and values above U+10FFFF are not valid.
std::size_t utf8_sequence(const unsigned char* p, std::size_t n) {
  const unsigned char c = p[0];
  std::size_t len = 0;
  uint32_t min = 0;
  uint32_t cp = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    len = 2, min = 0x80, cp = c & 0x1Fu;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, min = 0x800, cp = c & 0x0Fu;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, cp = c & 0x07u;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

bool load_data_file(const char* path, bool with_intensity, LoadedFile* file, std::string* message) {
  file->magic = 0;
  file->header_bytes = 0;
  file->attributes = DataAttributes{};
  map_init(file->intensity);
  map_init(file->phase);
  if (!read_magic(path, &file->magic, message)) return false;
  const ErrorCode rc = read_data_file(path, nullptr, &file->attributes,
                                      with_intensity ? &file->intensity : nullptr, &file->phase);
  if (rc != NO_ERROR) {
    release_loaded_file(file);
    *message = read_failure_text(rc);
    return false;
  }
  file->header_bytes = file->magic == MAGIC_FORMAT_3 ? HEADER_SIZE_LONG : HEADER_SIZE_SHORT;
  return true;
}

void release_loaded_file(LoadedFile* file) {
  map_free(file->intensity);
  map_free(file->phase);
}

int header_variant(uint32_t magic) {
  switch (magic) {
    case MAGIC_FORMAT_1:
      return 1;
    case MAGIC_FORMAT_2:
      return 2;
    case MAGIC_FORMAT_3:
      return 3;
    default:
      return 0;
  }
}

std::string printable_text(const char* bytes, std::size_t n) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    const std::size_t len = utf8_sequence(p + i, n - i);
    if (len == 0) {
      out += '?';
      ++i;
    } else if (len == 1 && (p[i] < 0x20 || p[i] == 0x7F)) {
      out += ' ';
      ++i;
    } else {
      out.append(bytes + i, len);
      i += len;
    }
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string comment_text(const DataAttributes& attributes) {
  const char* c = attributes.comment;
  const void* nul = std::memchr(c, 0, sizeof attributes.comment);
  const std::size_t n = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - c)
                                       : sizeof attributes.comment;
  return printable_text(c, n);
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string quoted(const std::string& text) {
  std::string out(1, '"');
  out += text;
  out += '"';
  return out;
}

}  // namespace harnix
