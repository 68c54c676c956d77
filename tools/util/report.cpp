// harnix-util report: every file is read and every figure drawn before the page is written, so
// that a bad file or CSV leaves no page behind.
#include "util/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "datafile/output_file.h"
#include "util/loaded_file.h"
#include "util/preview.h"
#include "util/report_page.h"
#include "util/run_record.h"

namespace harnix {

namespace {

constexpr const char* USAGE =
    "usage: harnix-util report [--level LEVEL] [--inputs INPUT_REPORT.csv] [--run RECORD.json]\n"
    "                          RESULT... -o PAGE\n"
    "\n"
    "Writes one self-contained HTML page on the result files of an averaging run: a summary of\n"
    "the run, each map as a preview with its colour bar, the height parameters and a histogram\n"
    "of the average, the mean, median and RMS of the standard deviation map (in nm) with its\n"
    "histogram, the count maps, and the minimum and maximum (levelled like the average), range\n"
    "and uncertainty maps, each named by what it holds. The page needs no network: its images\n"
    "are inside it and it runs no script.\n"
    "  --level LEVEL   form removed from the height maps first: none (default), piston, plane,\n"
    "                  sphere, cylinder (least-squares fits) or robust (plane)\n"
    "  --inputs FILE   the per-input report of the run (harnix -InputReport): adds the table of\n"
    "                  inputs, outliers highlighted, and a chart of their RMS differences\n"
    "  --run FILE      the record of the run (harnix -RunRecord): its settings in the summary,\n"
    "                  and what the standard deviation map means from the removal it used\n"
    "  -o PAGE         the page written\n";

int fail(const std::string& text) {
  std::fprintf(stderr, "harnix-util report: %s\n", text.c_str());
  return 1;
}

struct ReportOptions {
  Levelling level = LEVEL_NONE;
  const char* inputs = nullptr;
  const char* run = nullptr;
  const char* output = nullptr;
  std::vector<const char*> results;
};

bool parse_options(int argc, char** argv, ReportOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--level" || arg == "--inputs" || arg == "--run" || arg == "-o";
    if (takes_value && i + 1 >= argc) {
      *error = "option " + arg + " needs a value";
      return false;
    }
    const char* value = takes_value ? argv[++i] : nullptr;
    if (arg == "--level") {
      if (!parse_levelling(value, &o->level)) {
        *error = "unknown --level \"" + std::string(value) +
                 "\" (use none, piston, plane, sphere, cylinder or robust)";
        return false;
      }
    } else if (arg == "--inputs") {
      o->inputs = value;
    } else if (arg == "--run") {
      o->run = value;
    } else if (arg == "-o") {
      o->output = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option \"" + arg + "\"";
      return false;
    } else {
      o->results.push_back(argv[i]);
    }
  }
  if (o->results.empty())
    *error = "no result file given";
  else if (o->output == nullptr)
    *error = "no output given (-o PAGE)";
  return error->empty();
}

bool gather(const ReportOptions& o, ReportContent* content, RunRecordSummary* run,
            std::string* error) {
  content->level = o.level;
  content->inputs_name = o.inputs;
  content->run = nullptr;
  if (o.run != nullptr) {
    if (!read_run_record(o.run, run, error)) {
      *error = quoted(o.run) + " " + *error;
      return false;
    }
    content->run = run;
  }
  if (o.inputs != nullptr && !read_input_report(o.inputs, &content->inputs, error)) {
    *error = quoted(o.inputs) + " " + *error;
    return false;
  }
  for (const char* name : o.results) {
    content->results.emplace_back();
    if (!analyse_result(name, o.level, &content->results.back(), error)) return false;
  }
  return true;
}

bool write_page(const char* name, const std::string& page, std::string* error) {
  OutputFile out;
  if (!output_open(name, &out, error)) return false;
  if (std::fwrite(page.data(), 1, page.size(), out.stream) != page.size()) {
    output_discard(&out);
    *error = "cannot write \"" + std::string(name) + "\": " + std::strerror(errno);
    return false;
  }
  return output_commit(&out, error);
}

int make_report(const ReportOptions& o) {
  ReportContent content;
  RunRecordSummary run;
  std::string error;
  bool ok = false;
  try {
    ok = gather(o, &content, &run, &error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory to read the result files";
  }
  release_preview_fonts();
  if (!ok) return fail(error);
  return write_page(o.output, report_html(content), &error) ? 0 : fail(error);
}

}  // namespace

int run_report(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  ReportOptions options;
  std::string error;
  if (!parse_options(argc, argv, &options, &error))
    return fail(error + " (see harnix-util report --help)");
  try {
    return make_report(options);
  } catch (const std::bad_alloc&) {
    return fail("not enough memory to write the report");
  }
}

}  // namespace harnix
