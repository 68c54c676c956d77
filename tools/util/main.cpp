// harnix-util: companion tools for Planoryx data files.
#include <cstdio>
#include <cstring>

#include "util/export.h"
#include "util/info.h"
#include "util/report.h"
#include "util/subcommands.h"
#include "util/synth.h"

namespace harnix {

// One entry a subcommand; each lives in a file of its own.
static const Subcommand kSubcommands[] = {
    {"synth", "write synthetic measurement files and a list file naming them", run_synth},
    {"info", "show a data file's header, attributes and phase statistics", run_info},
    {"export", "write a data file's heights as GSF, XYZ, matrix text, X3P or a PNG preview",
     run_export},
    {"report", "write an HTML page on the result files of an averaging run", run_report},
    {nullptr, nullptr, nullptr},
};

static void print_help(std::FILE* stream) {
  std::fputs(
      "usage: harnix-util <subcommand> [arguments]\n"
      "       harnix-util --help | --version\n\nsubcommands:\n",
      stream);
  for (const Subcommand& s : kSubcommands)
    if (s.name != nullptr) std::fprintf(stream, "  %-8s %s\n", s.name, s.summary);
}

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc < 2) {
    print_help(stderr);
    return 1;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    print_help(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("harnix-util %s\n", HARNIX_VERSION);
    return 0;
  }
  for (const Subcommand& s : kSubcommands)
    if (s.name != nullptr && std::strcmp(s.name, argv[1]) == 0) return s.run(argc - 1, argv + 1);
  std::fprintf(stderr, "harnix-util: unknown subcommand \"%s\"\n", argv[1]);
  return 1;
}
