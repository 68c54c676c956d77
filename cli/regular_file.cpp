#include "cli/regular_file.h"

#include <string>

#include "base/platform.h"
#include "datafile/file_name.h"

namespace harnix {

bool is_regular_file(const char* name) {
  std::string path;
  return platform_file_name(name, &path) && is_regular_file_utf8(path.c_str());
}

}  // namespace harnix
