#include "cli/regular_file.h"

#include <sys/stat.h>

#include <string>

#include "datafile/file_name.h"

namespace harnix {

bool is_regular_file(const char* name) {
  std::string path;
  if (!platform_file_name(name, &path)) return false;
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace harnix
