// harnix-util synth --out DIR --count N --width W --height H [--seed S] [--windows] [--mixed]
//                   [--invalid PCT] [--prefix NAME] [--list NAME]
#include "util/synth.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/error_codes.h"
#include "datafile/data_file.h"
#include "maps/storage.h"
#include "util/synth_model.h"

namespace harnix {

namespace {

constexpr const char* USAGE =
    "usage: harnix-util synth --out DIR --count N --width W --height H [--seed S] [--windows]\n"
    "                         [--mixed] [--invalid PCT] [--prefix NAME] [--list NAME]\n"
    "Writes N synthetic measurements DIR/NAME_0001.dat ... (NAME default \"meas\") of a camera of\n"
    "W x H pixels, and the list file DIR/list.txt naming them one per line.\n"
    "  --seed S       the same seed gives the same files (default 1)\n"
    "  --windows      each phase map on its own window inside the camera\n"
    "  --mixed        mixed PhaseRes, IntfScaleFactor, WavelengthIn and ObliquityFactor\n"
    "  --invalid PCT  share of invalid pixels in percent, half scattered, half clustered "
    "(default 1)\n";

struct SynthCommand {
  SynthSettings settings{0, 0, 1, false, false, 1.0};
  std::string out_dir;
  std::string prefix = "meas";
  std::string list_name = "list.txt";
  int32_t count = 0;
};

bool parse_integer(const char* text, long long lo, long long hi, long long* value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

// Returns an empty text on success, else the message.
std::string parse_synth_arguments(int argc, char** argv, SynthCommand* cmd) {
  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--windows") {
      cmd->settings.windows = true;
      continue;
    }
    if (opt == "--mixed") {
      cmd->settings.mixed = true;
      continue;
    }
    if (i + 1 >= argc) return "missing value after " + opt;
    const char* value = argv[++i];
    long long n = 0;
    if (opt == "--out") {
      cmd->out_dir = value;
    } else if (opt == "--prefix") {
      cmd->prefix = value;
    } else if (opt == "--list") {
      cmd->list_name = value;
    } else if (opt == "--count") {
      if (!parse_integer(value, 1, 10000, &n)) return "--count must be 1..10000";
      cmd->count = int32_t(n);
    } else if (opt == "--width" || opt == "--height") {
      if (!parse_integer(value, 1, 32767, &n)) return opt + " must be 1..32767";
      (opt == "--width" ? cmd->settings.width : cmd->settings.height) = int32_t(n);
    } else if (opt == "--seed") {
      if (!parse_integer(value, 0, INT64_MAX, &n)) return "--seed must be a non-negative integer";
      cmd->settings.seed = uint64_t(n);
    } else if (opt == "--invalid") {
      char* end = nullptr;
      const double pct = std::strtod(value, &end);
      if (end == value || *end != '\0' || !(pct >= 0.0 && pct <= 100.0))
        return "--invalid must be a percentage 0..100";
      cmd->settings.invalid_percent = pct;
    } else {
      return "unknown option " + opt;
    }
  }
  if (cmd->out_dir.empty()) return "--out is required";
  if (cmd->count == 0) return "--count is required";
  if (cmd->settings.width == 0 || cmd->settings.height == 0)
    return "--width and --height are required";
  return "";
}

std::string file_path(const SynthCommand& cmd, int32_t index) {
  char name[64];
  std::snprintf(name, sizeof name, "_%04d.dat", int(index + 1));
  return cmd.out_dir + "/" + cmd.prefix + name;
}

// Writes every measurement and the list; returns an empty text on success, else the message.
std::string write_measurements(const SynthCommand& cmd) {
  std::error_code ec;
  std::filesystem::create_directories(cmd.out_dir, ec);
  if (ec) return "cannot create directory \"" + cmd.out_dir + "\": " + ec.message();
  const SurfaceModel surface = make_surface_model(cmd.settings.seed);
  std::string list;
  for (int32_t i = 0; i < cmd.count; ++i) {
    const std::string path = file_path(cmd, i);
    DataAttributes attributes;
    PhaseMap phase;
    map_init(phase);
    ErrorCode rc = make_measurement(cmd.settings, surface, i, &attributes, &phase);
    if (rc == NO_ERROR) rc = write_data_file(path.c_str(), nullptr, &attributes, nullptr, &phase);
    map_free(phase);
    if (rc != NO_ERROR) return "cannot write \"" + path + "\": " + error_name(rc);
    list += path + "\n";
  }
  const std::string list_path = cmd.out_dir + "/" + cmd.list_name;
  std::FILE* f = std::fopen(list_path.c_str(), "w");
  if (f == nullptr) return "cannot create \"" + list_path + "\"";
  const bool written = std::fwrite(list.data(), 1, list.size(), f) == list.size();
  if (std::fclose(f) != 0 || !written) return "cannot write \"" + list_path + "\"";
  return "";
}

}  // namespace

int run_synth(int argc, char** argv) {
  SynthCommand cmd;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  std::string message = parse_synth_arguments(argc, argv, &cmd);
  if (message.empty()) message = write_measurements(cmd);
  if (!message.empty()) {
    std::fprintf(stderr, "harnix-util synth: %s\n", message.c_str());
    return 1;
  }
  return 0;
}

}  // namespace harnix
