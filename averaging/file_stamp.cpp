#include "averaging/file_stamp.h"

#include <string>

#include "datafile/file_name.h"

namespace harnix {

bool file_stamp(const char* name, FileStamp* stamp) {
  std::string platform_name;
  return platform_file_name(name, &platform_name) && file_status(platform_name.c_str(), stamp);
}

bool same_file(const FileStamp& a, const FileStamp& b) {
  return a.identity == b.identity;
}

bool same_contents_stamp(const FileStamp& a, const FileStamp& b) {
  return same_file(a, b) && a.size == b.size && a.modified == b.modified;
}

bool read_was_steady(const ReadStamps& stamps) {
  return !stamps.stamped || !stamps.regular || same_contents_stamp(stamps.before, stamps.after);
}

bool read_unchanged(const char* name, const ReadStamps& stamps, const FileStamp& recorded) {
  if (!stamps.stamped) {
    FileStamp now;
    return file_stamp(name, &now) && same_contents_stamp(now, recorded);
  }
  return same_contents_stamp(stamps.before, recorded) &&
         same_contents_stamp(stamps.after, recorded);
}

}  // namespace harnix
