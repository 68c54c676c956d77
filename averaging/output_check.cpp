#include "averaging/output_check.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "averaging/console.h"
#include "datafile/file_name.h"

namespace harnix {

// Device and inode of an existing file; false when the name cannot be examined.
static bool file_identity(const char* name, dev_t* device, ino_t* inode) {
  std::string platform_name;
  if (!platform_file_name(name, &platform_name)) return false;
  struct stat st {};
  if (stat(platform_name.c_str(), &st) != 0) return false;
  *device = st.st_dev;
  *inode = st.st_ino;
  return true;
}

static bool names_an_input(const char* output, const InputList& inputs) {
  dev_t out_device;
  ino_t out_inode;
  if (!file_identity(output, &out_device, &out_inode)) return false;  // nothing there yet
  for (const std::string& input : inputs.names) {
    dev_t device;
    ino_t inode;
    if (file_identity(input.c_str(), &device, &inode) && device == out_device && inode == out_inode)
      return true;
  }
  return false;
}

static bool create_empty(const char* name, const InputList& inputs) {
  if (names_an_input(name, inputs)) return false;
  std::FILE* f = open_file(name, "w");
  if (f == nullptr) return false;
  return std::fclose(f) == 0;
}

bool create_empty_outputs(const RunSettings& settings, const InputList& inputs) {
  for (const char* name : {settings.AvgOutFile, settings.SdevOutFile, settings.CountOutFile}) {
    if (name == nullptr) continue;
    if (!create_empty(name, inputs)) {
      print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME, name);
      return false;
    }
  }
  return true;
}

}  // namespace harnix
