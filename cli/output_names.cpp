#include "cli/output_names.h"

#include <cstring>
#include <string>
#include <vector>

#include "averaging/file_stamp.h"
#include "averaging/outputs.h"
#include "cli/console.h"

namespace harnix {

namespace {

// Where the folder part of `name` ends: after its last separator, 0 when it has none.
std::size_t folder_length(const std::string& name) {
#ifdef _WIN32
  const std::size_t last = name.find_last_of("/\\:");
#else
  const std::size_t last = name.find_last_of('/');
#endif
  return last == std::string::npos ? 0 : last + 1;
}

// The folder of `name` as a name that can be examined: "." for a bare name.
std::string folder_of(const std::string& name) {
  const std::size_t length = folder_length(name);
  return length == 0 ? std::string(".") : name.substr(0, length);
}

}  // namespace

bool name_one_file(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0) return true;
  FileStamp sa, sb;
  const bool a_exists = file_stamp(a, &sa);
  const bool b_exists = file_stamp(b, &sb);
  if (a_exists || b_exists) return a_exists && b_exists && same_file(sa, sb);
  // Two names of files yet to be made: one file when the last parts agree in one folder.
  const std::string na = a, nb = b;
  if (na.compare(folder_length(na), std::string::npos, nb, folder_length(nb)) != 0) return false;
  FileStamp fa, fb;
  return file_stamp(folder_of(na).c_str(), &fa) && file_stamp(folder_of(nb).c_str(), &fb) &&
         same_file(fa, fb);
}

bool outputs_apart(const RunSettings& settings, const char* list_file, const char* const* extra) {
  std::vector<const char*> names;
  for (const OutputDescriptor& output : output_descriptors())
    if (const char* name = output_file(settings, output)) names.push_back(name);
  if (settings.InputReportFile != nullptr) names.push_back(settings.InputReportFile);
  for (; extra != nullptr && *extra != nullptr; ++extra) names.push_back(*extra);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (list_file != nullptr && name_one_file(names[i], list_file)) {
      print_error_line("%s\nERROR: Output file \"%s\" is the list file\n", PROGRAM_NAME, names[i]);
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (!name_one_file(names[j], names[i])) continue;
      print_error_line("%s\nERROR: Output files \"%s\" and \"%s\" are one file\n", PROGRAM_NAME,
                       names[j], names[i]);
      return false;
    }
  }
  return true;
}

}  // namespace harnix
