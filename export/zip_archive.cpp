// libzip writes the archive into a growing buffer source (kept alive past zip_close with
// zip_source_keep), which is then read back and handed to the stream: the caller's temporary
// output file stays the only file written.
#include "export/zip_archive.h"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace harnix {

namespace {

struct SourceDeleter {
  void operator()(zip_source_t* s) const { zip_source_free(s); }
};
using Source = std::unique_ptr<zip_source_t, SourceDeleter>;

// Adds every member; false with *message set on the first refusal.
bool add_members(zip_t* archive, const std::vector<ZipMember>& members, std::time_t modified,
                 std::string* message) {
  for (const ZipMember& m : members) {
    Source source(zip_source_buffer(archive, m.data, m.size, 0));
    zip_int64_t index = -1;
    if (source != nullptr) index = zip_file_add(archive, m.name, source.get(), ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      *message = std::string("cannot add ") + m.name + " to the archive: " + zip_strerror(archive);
      return false;
    }
    source.release();  // the archive owns it now
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, i, ZIP_CM_DEFLATE, 0) != 0 ||
        zip_file_set_mtime(archive, i, modified, 0) != 0) {
      *message = std::string("cannot set up ") + m.name + ": " + zip_strerror(archive);
      return false;
    }
  }
  return true;
}

// Reads the whole finished archive out of `source` into `stream`.
bool copy_source(zip_source_t* source, std::FILE* stream, std::string* message) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_stat(source, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
      zip_source_open(source) != 0) {
    *message = std::string("cannot read the archive back: ") +
               zip_error_strerror(zip_source_error(source));
    return false;
  }
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  zip_uint64_t left = st.size;
  bool ok = true;
  while (ok && left > 0) {
    const zip_int64_t got = zip_source_read(source, buffer.get(), 1 << 16);
    if (got <= 0) {
      *message = "the archive ended early when read back";
      ok = false;
    } else if (std::fwrite(buffer.get(), 1, static_cast<std::size_t>(got), stream) !=
               static_cast<std::size_t>(got)) {
      *message = std::strerror(errno);
      ok = false;
    } else {
      left -= static_cast<zip_uint64_t>(got);
    }
  }
  zip_source_close(source);
  return ok;
}

}  // namespace

bool write_zip_archive(const std::vector<ZipMember>& members, std::time_t modified,
                       std::FILE* stream, std::string* message) {
  zip_error_t error;
  zip_error_init(&error);
  Source buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
  zip_t* archive = nullptr;
  if (buffer != nullptr) archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error);
  if (archive == nullptr) {
    *message = std::string("cannot start the archive: ") + zip_error_strerror(&error);
    zip_error_fini(&error);
    return false;
  }
  zip_error_fini(&error);
  zip_source_keep(buffer.get());  // the archive's close would free it otherwise
  if (!add_members(archive, members, modified, message)) {
    zip_discard(archive);
    return false;
  }
  if (zip_close(archive) != 0) {
    *message = std::string("cannot complete the archive: ") + zip_strerror(archive);
    zip_discard(archive);
    return false;
  }
  return copy_source(buffer.get(), stream, message);
}

}  // namespace harnix
