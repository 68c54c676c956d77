#include "averaging/output_check.h"

#include <cstdio>
#include <string>

#include "averaging/console.h"
#include "base/platform.h"
#include "datafile/file_name.h"

namespace harnix {

// The identity of an existing file; false when the name cannot be examined.
static bool identity_of(const char* name, FileIdentity* id) {
  std::string platform_name;
  return platform_file_name(name, &platform_name) && file_identity(platform_name.c_str(), id);
}

static bool names_an_input(const char* output, const InputList& inputs) {
  FileIdentity out;
  if (!identity_of(output, &out)) return false;  // nothing there yet
  for (const std::string& input : inputs.names) {
    FileIdentity in;
    if (identity_of(input.c_str(), &in) && in == out) return true;
  }
  return false;
}

static bool create_empty(const char* name, const InputList& inputs) {
  if (names_an_input(name, inputs)) return false;
  std::FILE* f = open_file(name, "wb");
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
