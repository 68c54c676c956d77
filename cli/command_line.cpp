// Every failure here prints its message (or the usage text) and returns status 1; the averaging
// run receives the RunSettings and InputList built here.
#include "cli/command_line.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "averaging/band_team.h"
#include "averaging/option_words.h"
#include "averaging/outputs.h"
#include "averaging/settings.h"
#include "cli/console.h"
#include "cli/list_file.h"
#include "cli/min_valid_count.h"
#include "cli/output_names.h"
#include "cli/prompt.h"
#include "cli/regular_file.h"
#include "cli/run_messages.h"
#include "cli/usage.h"

namespace harnix {

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;

// The options besides the outputs' (averaging/outputs.h).
enum class Option {
  SDEV_REMOVE,
  SDEV_TYPE,
  COMBINE,
  MEMORY_LIMIT,
  LEVEL,
  MIN_VALID_CNT,
  MIN_VALID_PCT,
  PHASE_RES,
  REJECT,
  REJECT_ITER,
  INPUT_REPORT,
  RUN_RECORD,
  THREADS,
  ALIGN,
  ALIGN_MAX,
  OVERWRITE,
  VERBOSE,
  VERSION,
};

struct OptionEntry {
  const char* keyword;  // lower case, compared whole
  Option option;
  bool takes_value;
};

constexpr OptionEntry OPTIONS[] = {
    {"sdevremove", Option::SDEV_REMOVE, true},
    {"sdevtype", Option::SDEV_TYPE, true},
    {"combine", Option::COMBINE, true},
    {"memorylimit", Option::MEMORY_LIMIT, true},
    {"level", Option::LEVEL, true},
    {"minvalidcnt", Option::MIN_VALID_CNT, true},
    {"minvalidpct", Option::MIN_VALID_PCT, true},
    {"phaseres", Option::PHASE_RES, true},
    {"reject", Option::REJECT, true},
    {"rejectiter", Option::REJECT_ITER, true},
    {"inputreport", Option::INPUT_REPORT, true},
    {"runrecord", Option::RUN_RECORD, true},
    {"threads", Option::THREADS, true},
    {"align", Option::ALIGN, true},
    {"alignmax", Option::ALIGN_MAX, true},
    {"overwrite", Option::OVERWRITE, false},
    {"verbose", Option::VERBOSE, false},
    {"version", Option::VERSION, false},
};

std::string lower_case(const char* text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

int fail_with_usage() {
  print_usage();
  return EXIT_FAILED;
}

// Reads an integer like strtol: leading blanks and a sign, then as many digits as fit. A value
// beyond 32 bits is held at the nearest bound, never wrapped, so that it stays out of range.
// False when no digit could be read.
bool read_count(const char* text, int32_t* value) {
  char* end = nullptr;
  long long read = std::strtoll(text, &end, 10);
  if (end == text) return false;
  if (read > INT32_MAX) read = INT32_MAX;
  if (read < INT32_MIN) read = INT32_MIN;
  *value = static_cast<int32_t>(read);
  return true;
}

// Reads a number like strtod. False when no number could be read.
bool read_number(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text;
}

// Reads a whole text as a number (leading blanks allowed, nothing after it). False otherwise.
bool read_whole_number(const char* text, double* value) {
  char* end = nullptr;
  *value = std::strtod(text, &end);
  return end != text && *end == '\0';
}

// Reads the value of option `name` as a whole number in [1, most] into *out; otherwise prints the
// option's message and returns false.
bool read_count(const char* name, const char* value, int32_t most, int32_t* out) {
  double number;
  if (!read_whole_number(value, &number) || number != std::floor(number)) {
    print_error_line("%s\nERROR: Invalid %s value \"%s\"\n", PROGRAM_NAME, name, value);
    return false;
  }
  if (!(number >= 1 && number <= most)) {
    print_error_line("%s\nERROR: %s value is out of range [1,%d]\n", PROGRAM_NAME, name, int(most));
    return false;
  }
  *out = int32_t(number);
  return true;
}

// Applies `value` to `option`. Returns -1 when the walk goes on, else the exit status.
int apply_value(Option option, const char* value, RunSettings* settings) {
  switch (option) {
    case Option::SDEV_REMOVE: {
      const auto* word = find_option_word(value, REMOVAL_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown SdevRemove value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->SdevRemove = word->value;
      break;
    }
    case Option::SDEV_TYPE: {
      const auto* word = find_option_word(value, DEVIATION_TYPE_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown SdevType value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->SdevType = word->value;
      break;
    }
    case Option::COMBINE: {
      const auto* word = find_option_word(value, COMBINE_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown Combine value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->Combine = word->value;
      break;
    }
    case Option::MEMORY_LIMIT: {
      double mib;
      if (!read_whole_number(value, &mib)) {
        print_error_line("%s\nERROR: Invalid MemoryLimit value \"%s\"\n", PROGRAM_NAME, value);
        return EXIT_FAILED;
      }
      // At most 2^40 MiB: the bytes stay far inside 64 bits.
      if (!(mib > 0 && mib <= MAX_MEMORY_LIMIT_MIB)) {
        print_error_line("%s\nERROR: MemoryLimit value is out of range (0,%.0f]\n", PROGRAM_NAME,
                         MAX_MEMORY_LIMIT_MIB);
        return EXIT_FAILED;
      }
      settings->MemoryLimit = mib;
      break;
    }
    case Option::LEVEL: {
      const auto* word = find_option_word(value, LEVEL_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown Level value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->Level = word->value;
      break;
    }
    case Option::MIN_VALID_CNT:
      if (!read_count(value, &settings->MinValidCnt)) return fail_with_usage();
      break;
    case Option::MIN_VALID_PCT: {
      double percent;
      if (!read_number(value, &percent)) return fail_with_usage();
      if (!(percent > 0 && percent <= 100)) {  // a nan fails here too
        print_error_line("%s\nERROR: MinValidPct value is out of range (0,100]\n", PROGRAM_NAME);
        return EXIT_FAILED;
      }
      settings->MinValidPct = percent;
      break;
    }
    case Option::PHASE_RES: {
      const auto* word = find_option_word(value, PHASE_RES_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown PhaseRes value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->PhaseRes = word->value;
      break;
    }
    case Option::REJECT: {
      double k;
      if (!read_whole_number(value, &k)) {
        print_error_line("%s\nERROR: Invalid Reject value \"%s\"\n", PROGRAM_NAME, value);
        return EXIT_FAILED;
      }
      if (!(k > 0 && std::isfinite(k))) {
        print_error_line("%s\nERROR: Reject value is out of range (0,Inf)\n", PROGRAM_NAME);
        return EXIT_FAILED;
      }
      settings->Reject = k;
      break;
    }
    case Option::REJECT_ITER:
      if (!read_count("RejectIter", value, MAX_REJECT_ROUNDS, &settings->RejectIter))
        return EXIT_FAILED;
      break;
    case Option::INPUT_REPORT:
      settings->InputReportFile = value;
      break;
    case Option::RUN_RECORD:
      settings->RunRecordFile = value;
      break;
    case Option::THREADS:
      if (!read_count("Threads", value, usable_cores(), &settings->Threads)) return EXIT_FAILED;
      break;
    case Option::ALIGN: {
      const auto* word = find_option_word(value, ALIGN_WORDS);
      if (word == nullptr) {
        print_error_line("%s\nERROR: Unknown Align value \"%s\"\n", PROGRAM_NAME, value);
        return fail_with_usage();
      }
      settings->Align = word->value;
      break;
    }
    case Option::ALIGN_MAX:
      if (!read_count("AlignMax", value, MAX_ALIGN_MAX, &settings->AlignMax)) return EXIT_FAILED;
      break;
    case Option::OVERWRITE:
    case Option::VERBOSE:
    case Option::VERSION:
      break;
  }
  return -1;
}

// Handles the option argv[*i] (past its dash), consuming its value. Returns -1 when the walk goes
// on, else the exit status.
int take_option(int argc, char** argv, int* i, RunSettings* settings) {
  const char* keyword = argv[*i] + 1;
  if (*keyword == '\0') {
    print_error_line("%s\nERROR: Missing option name after prefix '/'\n", PROGRAM_NAME);
    return EXIT_FAILED;
  }
  const std::string lower = lower_case(keyword);
  // The option's value, argv[*i + 1]; false after the message when there is none.
  const auto take_value = [&]() {
    if (*i + 1 < argc) return true;
    print_error_line("%s\nERROR: Missing value after \"/%s\"\n", PROGRAM_NAME, keyword);
    return false;
  };
  for (const OutputDescriptor& output : output_descriptors()) {
    if (lower != lower_case(output.option)) continue;
    if (!take_value()) return EXIT_FAILED;
    settings->*output.file = argv[++*i];
    return -1;
  }
  for (const OptionEntry& entry : OPTIONS) {
    if (lower != entry.keyword) continue;
    if (entry.option == Option::OVERWRITE) settings->Overwrite = true;
    if (entry.option == Option::VERBOSE) settings->Verbose = true;
    if (entry.option == Option::VERSION) {
      print_output_line("%s %s\n", PROGRAM_NAME, HARNIX_VERSION);
      return EXIT_OK;
    }
    if (!entry.takes_value) return -1;
    if (!take_value()) return EXIT_FAILED;
    ++*i;
    return apply_value(entry.option, argv[*i], settings);
  }
  print_error_line("%s\nERROR: Unknown option \"/%s\"\n", PROGRAM_NAME, keyword);
  return EXIT_FAILED;
}

// Walks the arguments into `settings` and `inputs`, the list file's name (when one is given) into
// *list_file. Returns -1 when the walk went through, else the exit status.
int walk_arguments(int argc, char** argv, RunSettings* settings, InputList* inputs,
                   const char** list_file) {
  bool list_file_seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      int status = take_option(argc, argv, &i, settings);
      if (status >= 0) return status;
    } else if (arg[0] == '@') {
      if (list_file_seen || !inputs->names.empty()) return fail_with_usage();
      if (arg[1] == '\0') {
        print_error_line("%s\nERROR: Missing list file name after prefix '@'\n", PROGRAM_NAME);
        return EXIT_FAILED;
      }
      list_file_seen = true;
      *list_file = arg + 1;
      if (!read_list_file(arg + 1, inputs)) return EXIT_FAILED;
    } else {
      if (list_file_seen) return fail_with_usage();
      if (inputs->names.size() >= static_cast<std::size_t>(MAX_INPUT_FILES)) {
        print_error_line("%s\nERROR: More than %d input filenames\n", PROGRAM_NAME,
                         static_cast<int>(MAX_INPUT_FILES));
        return EXIT_FAILED;
      }
      inputs->names.emplace_back(arg);
    }
  }
  return -1;
}

// The prompt format for `name`: the name shown literally (a per-cent sign in it is doubled), then
// the placeholder for the default answer.
std::string overwrite_prompt(const char* name) {
  std::string prompt = "Overwrite file \"";
  for (const char* c = name; *c != '\0'; ++c) {
    prompt += *c;
    if (*c == '%') prompt += '%';
  }
  prompt += "\" (%c) ? ";
  return prompt;
}

// True when `name` (when given) may be overwritten: it does not exist yet, or the operator says
// yes.
bool may_overwrite(const char* name) {
  if (name == nullptr || !is_regular_file(name)) return true;
  bool answer = false;
  ask_yes_no(overwrite_prompt(name).c_str(), &answer);
  return answer;
}

// True when every existing output, the per-input report and the run record may be overwritten.
bool confirm_overwrites(const RunSettings& settings) {
  if (settings.Overwrite) return true;
  for (const OutputDescriptor& output : output_descriptors()) {
    if (!may_overwrite(output_file(settings, output))) return false;
  }
  return may_overwrite(settings.InputReportFile) && may_overwrite(settings.RunRecordFile);
}

// The options that only make sense with -Reject. True when each is with it.
bool rejection_options_complete(const RunSettings& settings) {
  if (settings.Reject > 0) return true;
  const char* alone = settings.RejectIter != 0            ? "RejectIter"
                      : settings.RejectOutFile != nullptr ? "RejectOut"
                                                          : nullptr;
  if (alone == nullptr) return true;
  print_error_line("%s\nERROR: %s needs the Reject option\n", PROGRAM_NAME, alone);
  return false;
}

// MemoryLimit bounds the median's bands only. True when it comes with the median.
bool memory_limit_with_median(const RunSettings& settings) {
  if (settings.MemoryLimit == 0.0 || settings.Combine == CombineMode::MEDIAN) return true;
  print_error_line("%s\nERROR: MemoryLimit needs Combine Median\n", PROGRAM_NAME);
  return false;
}

// -AlignMax only with -Align Shift.
bool align_options_complete(const RunSettings& settings) {
  if (settings.AlignMax == 0 || settings.Align != AlignMode::NONE) return true;
  print_error_line("%s\nERROR: AlignMax needs the Align Shift option\n", PROGRAM_NAME);
  return false;
}

// The checks of a command line read whole, before the run: false after the error's message,
// with *step naming the check that refused it, as the run record names it.
bool command_checked(RunSettings& settings, const InputList& inputs, const char* list_file,
                     const char** step) {
  *step = "check options";
  if (!rejection_options_complete(settings) || !memory_limit_with_median(settings) ||
      !align_options_complete(settings))
    return false;
  *step = "check inputs";
  if (inputs.names.empty()) {
    print_error_line("%s\nERROR: No input files specified\n", PROGRAM_NAME);
    return false;
  }
  for (const std::string& name : inputs.names) {
    if (!is_regular_file(name.c_str())) {
      print_error_line("%s\nERROR: Cannot access input file \"%s\"\n", PROGRAM_NAME, name.c_str());
      return false;
    }
  }
  *step = "check outputs";
  bool any_output = settings.InputReportFile != nullptr;
  for (const OutputDescriptor& output : output_descriptors())
    any_output = any_output || output_file(settings, output) != nullptr;
  if (!any_output) {
    print_error_line("%s\nERROR: No output file specified\n", PROGRAM_NAME);
    return false;
  }
  *step = "check options";
  if (!resolve_min_valid_count(&settings, static_cast<int32_t>(inputs.names.size()))) {
    print_error_line("%s\nERROR: MinValidCnt is out of range [1,NumInputFiles]\n", PROGRAM_NAME);
    return false;
  }
  *step = "check outputs";
  const char* const record[] = {settings.RunRecordFile, nullptr};
  if (!outputs_apart(settings, list_file, record)) return false;
  // Written by renaming at the end, a record named as an input would replace it.
  if (settings.RunRecordFile != nullptr && names_an_input(settings.RunRecordFile, inputs)) {
    print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME,
                     settings.RunRecordFile);
    return false;
  }
  *step = "confirm overwrite";
  return confirm_overwrites(settings);
}

// The record of a run refused before it began, when -RunRecord names a file it may write: no
// output, list file or input, and no existing file unless -Overwrite is given (a refused run asks
// no question).
void record_refusal(const RunSettings& settings, const InputList& inputs, const char* list_file,
                    CommandArguments command, const char* step) {
  const char* record = settings.RunRecordFile;
  if (record == nullptr || (!settings.Overwrite && is_regular_file(record)) ||
      names_an_input(record, inputs) || (list_file != nullptr && name_one_file(record, list_file)))
    return;
  for (const OutputDescriptor& output : output_descriptors()) {
    const char* name = output_file(settings, output);
    if (name != nullptr && name_one_file(record, name)) return;
  }
  if (settings.InputReportFile != nullptr && name_one_file(record, settings.InputReportFile))
    return;
  const std::string text = last_error_text();
  RunRecorder recorder(settings, inputs, command, nullptr);
  std::string message;
  recorder.refuse(step, text.c_str());
  if (!write_run_record(recorder, RunResult{}, &message))
    print_error_line("%s\nERROR: Cannot create output file \"%s\"\n", PROGRAM_NAME, record);
}

// The whole command: every status but that of a written standard output stream.
int run_command_line(int argc, char** argv) {
  // -Version is the one option that makes a command on its own.
  if (argc < 3 && !(argc == 2 && lower_case(argv[1]) == "-version")) return fail_with_usage();
  RunSettings settings;
  settings.Threads = 0;  // every core the process may use, unless -Threads says otherwise
  InputList inputs;
  const char* list_file = nullptr;
  int status = walk_arguments(argc, argv, &settings, &inputs, &list_file);
  if (status >= 0) return status;
  const char* step = nullptr;
  if (!command_checked(settings, inputs, list_file, &step)) {
    record_refusal(settings, inputs, list_file, CommandArguments{argc, argv}, step);
    return EXIT_FAILED;
  }

  if (!run_on_console(settings, inputs, CommandArguments{argc, argv})) return EXIT_FAILED;
  if (settings.Verbose) print_output_line("Done\n");
  return EXIT_OK;
}

}  // namespace

int parse_command_line(int argc, char** argv) {
  const int status = run_command_line(argc, argv);
  // A report, version or usage text that did not reach its file is a failure like any other.
  if (!standard_output_written()) {
    print_error_line("%s\nERROR: Cannot write to the standard output\n", PROGRAM_NAME);
    return EXIT_FAILED;
  }
  return status;
}

}  // namespace harnix
