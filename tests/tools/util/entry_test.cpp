// harnix-util's own options: --help on the standard output stream with status 0, the same text
// on the standard error stream with status 1 when no subcommand is given, and --version.
#include "util_files.h"

namespace harnix {
namespace {

using namespace util_test;

TEST(UtilEntry, HelpAndVersion) {
  const std::string help =
      "usage: harnix-util <subcommand> [arguments]\n"
      "       harnix-util --help | --version\n\nsubcommands:\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out_start;
    std::string err_start;
  } cases[] = {
      {{"--version"}, 0, std::string("harnix-util ") + HARNIX_VERSION + "\n", ""},
      {{"--help"}, 0, help, ""},
      {{"-h"}, 0, help, ""},
      {{}, 1, "", help},
      {{"--Version"}, 1, "", "harnix-util: unknown subcommand \"--Version\"\n"},
  };
  for (const Case& c : cases) {
    const ProgramResult r = run_util(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(c.status, r.status) << shown;
    EXPECT_EQ(0u, r.out.rfind(c.out_start, 0)) << shown << ": " << r.out;
    EXPECT_EQ(0u, r.err.rfind(c.err_start, 0)) << shown << ": " << r.err;
    if (c.out_start.empty()) {
      EXPECT_EQ("", r.out) << shown;
    }
    if (c.err_start.empty()) {
      EXPECT_EQ("", r.err) << shown;
    }
  }
  // --version is one line and nothing more.
  EXPECT_EQ(std::string("harnix-util ") + HARNIX_VERSION + "\n", run_util({"--version"}).out);
}

}  // namespace
}  // namespace harnix
