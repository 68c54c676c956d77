#include "averaging/file_stamp.h"

#include <sys/stat.h>

#include <string>

#include "datafile/file_name.h"

namespace harnix {

bool file_stamp(const char* name, FileStamp* stamp) {
  std::string platform_name;
  if (!platform_file_name(name, &platform_name)) return false;
  struct stat st {};
  if (stat(platform_name.c_str(), &st) != 0) return false;
  *stamp = FileStamp{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                     int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec)};
  return true;
}

bool same_file(const FileStamp& a, const FileStamp& b) {
  return a.device == b.device && a.inode == b.inode;
}

bool same_contents_stamp(const FileStamp& a, const FileStamp& b) {
  return same_file(a, b) && a.size == b.size && a.modified_seconds == b.modified_seconds &&
         a.modified_nanoseconds == b.modified_nanoseconds;
}

}  // namespace harnix
