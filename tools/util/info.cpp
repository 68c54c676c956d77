// harnix-util info: the header, attributes, windows and phase statistics of Planoryx files.
#include "util/info.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "util/info_parameters.h"
#include "util/report_maps.h"
#include "util/info_report.h"

namespace harnix {

namespace {

constexpr const char* USAGE =
    "usage: harnix-util info [--json] [--params] [--level LEVEL] FILE...\n"
    "\n"
    "Shows each Planoryx data file's header variant, named attributes, intensity and phase\n"
    "windows, and statistics of its phase map in phase counts and in metres (valid points,\n"
    "min, max, mean, rms about the mean, peak-to-valley).\n"
    "  --json          one JSON document for all files instead of text blocks; it always holds\n"
    "                  the height parameters, in metres\n"
    "  --params        add the height parameters of the valid points, from their mean: Sq, Sa,\n"
    "                  Sp, Sv, Sz, Ssk, Sku\n"
    "  --level LEVEL   form removed before the parameters are computed: none (default),\n"
    "                  piston, plane, sphere, cylinder (least-squares fits) or robust (plane)\n";

void complain(const std::string& text) {
  std::fprintf(stderr, "harnix-util info: %s\n", text.c_str());
}

}  // namespace

// Every file is examined even after one fails, so that one bad name does not hide the rest;
// a failure makes the exit status 1. The JSON document is printed only when every file was read,
// so that a script never takes a partial document for a whole one.
int run_info(int argc, char** argv) {
  bool json = false;
  bool params = false;
  Levelling level = LEVEL_NONE;
  std::vector<const char*> names;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(USAGE, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--params") == 0) {
      params = true;
    } else if (std::strcmp(argv[i], "--level") == 0) {
      if (i + 1 >= argc || !parse_levelling(argv[i + 1], &level)) {
        complain(i + 1 >= argc ? "option --level needs a value"
                               : "unknown --level \"" + std::string(argv[i + 1]) +
                                     "\" (use none, piston, plane, sphere, cylinder or robust)");
        return 1;
      }
      ++i;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      complain("unknown option \"" + std::string(argv[i]) + "\" (see harnix-util info --help)");
      return 1;
    } else {
      names.push_back(argv[i]);
    }
  }
  if (names.empty()) {
    complain("no input file given (see harnix-util info --help)");
    return 1;
  }

  int status = 0;
  nlohmann::json document = {{"files", nlohmann::json::array()}};
  bool first_block = true;
  for (const char* name : names) {
    LoadedFile file{};
    std::string error;
    try {
      if (!load_data_file(name, true, &file, &error)) {
        complain(quoted(name) + " " + error);
        status = 1;
        continue;
      }
      FileFacts facts{printable_text(name, std::strlen(name)), &file, height_scale(file.attributes),
                      phase_statistics(file.phase)};
      facts.counted = counted_values(result_kind(comment_text(file.attributes)));
      if ((json || params) && !compute_parameters(level, &facts, &error)) {
        complain(quoted(name) + " " + error);
        status = 1;
        release_loaded_file(&file);
        continue;
      }
      if (json) {
        document["files"].push_back(info_json(facts));
      } else {
        if (!first_block) std::fputc('\n', stdout);
        print_info_text(facts, stdout);
        if (params) print_parameters_text(facts, stdout);
        first_block = false;
      }
    } catch (const std::bad_alloc&) {
      complain("not enough memory to examine \"" + std::string(name) + "\"");
      status = 1;
    }
    release_loaded_file(&file);
  }
  if (json && status == 0) {
    std::fputs(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str(),
               stdout);
    std::fputc('\n', stdout);
  }
  if (std::fflush(stdout) != 0) {
    complain("cannot write to the standard output stream");
    return 1;
  }
  return status;
}

}  // namespace harnix
