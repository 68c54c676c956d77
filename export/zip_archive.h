// Zip archives written through libzip.
#ifndef HARNIX_EXPORT_ZIP_ARCHIVE_H_
#define HARNIX_EXPORT_ZIP_ARCHIVE_H_

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace harnix {

struct ZipMember {
  const char* name;  // path inside the archive, '/' between folders, UTF-8
  const void* data;  // read until the archive is complete
  std::size_t size;
};

// Builds in memory a zip archive of `members`, in the order given, each deflated and dated
// `modified`, and writes it to `stream`. On failure returns false with `*message` set; bytes may
// have reached the stream. Throws std::bad_alloc when memory runs out.
bool write_zip_archive(const std::vector<ZipMember>& members, std::time_t modified,
                       std::FILE* stream, std::string* message);

}  // namespace harnix

#endif  // HARNIX_EXPORT_ZIP_ARCHIVE_H_
