// harnix-util synth --out DIR --count N --width W --height H [--seed S] [--windows] [--mixed]
//                   [--invalid PCT] [--prefix NAME] [--list NAME] [--piston off|NM]
//                   [--tilt off|NM] [--noise off|NM] [--shift P] [--whole-shifts]
//                   [--spikes N|PCT%] [--dust N] [--spike-size K] [--texture off|NM]
#include "util/synth.h"

#include <cerrno>
#include <cmath>
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
    "                         [--piston off|NM] [--tilt off|NM] [--noise off|NM] [--shift P]\n"
    "                         [--whole-shifts] [--spikes N|PCT%] [--dust N] [--spike-size K]\n"
    "                         [--texture off|NM]\n"
    "Writes N synthetic measurements DIR/NAME_0001.dat ... (NAME default \"meas\") of a camera of\n"
    "W x H pixels, and the list file DIR/list.txt naming them one per line.\n"
    "  --seed S       the same seed gives the same files (default 1)\n"
    "  --windows      each phase map on its own window inside the camera\n"
    "  --mixed        mixed PhaseRes, IntfScaleFactor, WavelengthIn and ObliquityFactor\n"
    "  --invalid PCT  share of invalid pixels in percent, half scattered, half clustered "
    "(default 1)\n"
    "  --piston off|NM  largest piston of one measurement in nm (default 10)\n"
    "  --tilt off|NM    largest tilt of one measurement in nm across half the field (default 20)\n"
    "  --noise off|NM   standard deviation of the noise in nm (default 1.5)\n"
    "  --shift P        each measurement after the first sees the surface moved by up to P pixels\n"
    "                   in x and in y (fractional)\n"
    "  --whole-shifts   shifts rounded to whole pixels\n"
    "  --spikes N|PCT%  spikes of either sign on N valid pixels of each measurement, or on PCT\n"
    "                   percent of them\n"
    "  --dust N         dust: N discs of 1 to 3 pixels' radius raised on each measurement\n"
    "  --spike-size K   height of spikes and dust in noise deviations (of 1.5 nm without noise;\n"
    "                   default 20)\n"
    "  --texture off|NM a fine texture of NM rms on the surface (waves of 6 to 60 pixels), which\n"
    "                   gives shifted measurements detail to be aligned on (default off)\n"
    "The same seed gives the same surface, noise and invalid pixels whatever the piston, tilt,\n"
    "shift, spike and dust options (the texture adds to the surface). With --piston, --tilt or\n"
    "--shift, LIST.inputs.csv beside the list (LIST: its name less the extension) holds each\n"
    "measurement's piston, slopes and shift; with --spikes or --dust, LIST.spikes.csv holds every\n"
    "pixel raised and by how much.\n";

struct SynthCommand {
  SynthSettings settings{0, 0, 1, false, false, 1.0};
  std::string out_dir;
  std::string prefix = "meas";
  std::string list_name = "list.txt";
  int32_t count = 0;
  bool write_inputs = false;  // LIST.inputs.csv
  bool write_spikes = false;  // LIST.spikes.csv
};

bool parse_integer(const char* text, long long lo, long long hi, long long* value) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
  *value = v;
  return true;
}

bool parse_real(const char* text, double lo, double hi, double* value) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= lo && v <= hi)) return false;
  *value = v;
  return true;
}

// "off" or nanometres 0..hi, kept in metres (divided, so that "10" gives exactly 10e-9).
bool parse_nanometres(const char* text, double hi, double* metres) {
  double nm = 0.0;
  if (std::strcmp(text, "off") != 0 && !parse_real(text, 0.0, hi, &nm)) return false;
  *metres = nm / 1e9;
  return true;
}

// N spikes, or PCT% of the valid pixels.
bool parse_spikes(const char* text, SynthSettings* s) {
  const std::size_t n = std::strlen(text);
  if (n > 1 && text[n - 1] == '%') {
    const std::string number(text, n - 1);
    s->spikes = 0;
    return parse_real(number.c_str(), 0.0, 100.0, &s->spike_percent);
  }
  long long count = 0;
  if (!parse_integer(text, 0, INT32_MAX, &count)) return false;
  s->spikes = count;
  s->spike_percent = -1.0;
  return true;
}

// Options of the measurements' truth; returns false when `opt` is none of them, else sets
// *message to an empty text or the complaint.
bool parse_truth_option(const std::string& opt, const char* value, SynthCommand* cmd,
                        std::string* message) {
  SynthSettings& s = cmd->settings;
  long long n = 0;
  bool ok = true;
  if (opt == "--piston" || opt == "--tilt") {
    ok = parse_nanometres(value, 10000.0, opt == "--piston" ? &s.piston : &s.tilt);
    if (!ok) *message = opt + " must be off or 0..10000 (nm)";
    cmd->write_inputs = true;
  } else if (opt == "--noise") {
    ok = parse_nanometres(value, 1000.0, &s.noise_sigma);
    if (!ok) *message = "--noise must be off or 0..1000 (nm)";
  } else if (opt == "--shift") {
    ok = parse_real(value, 0.0, 4096.0, &s.shift_max);
    if (!ok) *message = "--shift must be 0..4096 (pixels)";
    cmd->write_inputs = true;
  } else if (opt == "--spikes") {
    ok = parse_spikes(value, &s);
    if (!ok) *message = "--spikes must be a count or a percentage such as 0.1%";
    cmd->write_spikes = true;
  } else if (opt == "--dust") {
    ok = parse_integer(value, 0, 10000, &n);
    if (!ok) *message = "--dust must be 0..10000";
    s.dust = int32_t(n);
    cmd->write_spikes = true;
  } else if (opt == "--texture") {
    ok = parse_nanometres(value, 1000.0, &s.texture);
    if (!ok) *message = "--texture must be off or 0..1000 (nm)";
  } else if (opt == "--spike-size") {
    ok = parse_real(value, 1.0, 1000.0, &s.spike_size);
    if (!ok) *message = "--spike-size must be 1..1000 (noise deviations)";
  } else {
    return false;
  }
  if (ok) message->clear();
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
    if (opt == "--whole-shifts") {
      cmd->settings.whole_shifts = true;
      continue;
    }
    if (i + 1 >= argc) return "missing value after " + opt;
    const char* value = argv[++i];
    long long n = 0;
    std::string message;
    if (parse_truth_option(opt, value, cmd, &message)) {
      if (!message.empty()) return message;
    } else if (opt == "--out") {
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

// The list's name less its extension, in the output directory, followed by `suffix`.
std::string beside_list(const SynthCommand& cmd, const char* suffix) {
  const std::string& name = cmd.list_name;
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.find_last_of("/\\");
  const bool has_extension = dot != std::string::npos && dot > 0 &&
                             (slash == std::string::npos || dot > slash + 1);
  return cmd.out_dir + "/" + (has_extension ? name.substr(0, dot) : name) + suffix;
}

// Writes `text` under a temporary name and renames it to `path`; an empty text on success.
std::string write_text_file(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) return "cannot create \"" + temporary + "\"";
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written) {
    std::remove(temporary.c_str());
    return "cannot write \"" + temporary + "\"";
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    return "cannot rename \"" + temporary + "\": " + ec.message();
  }
  return "";
}

void append_truth(int32_t index, const MeasurementTruth& t, std::string* inputs,
                  std::string* spikes) {
  char line[256];
  const double whole_x = std::round(t.shift_x);
  const double whole_y = std::round(t.shift_y);
  std::snprintf(line, sizeof line, "%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.0f,%.0f,%.9g,%.9g\n",
                int(index + 1), t.piston, t.slope_x, t.slope_y, t.shift_x, t.shift_y,
                whole_x + 0.0, whole_y + 0.0, t.shift_x - whole_x, t.shift_y - whole_y);
  *inputs += line;
  for (const Outlier& o : t.outliers) {
    std::snprintf(line, sizeof line, "%d,%d,%d,%.9g\n", int(index + 1), int(o.x), int(o.y),
                  o.height);
    *spikes += line;
  }
}

// Writes every measurement and the list; returns an empty text on success, else the message.
std::string write_measurements(const SynthCommand& cmd) {
  std::error_code ec;
  std::filesystem::create_directories(cmd.out_dir, ec);
  if (ec) return "cannot create directory \"" + cmd.out_dir + "\": " + ec.message();
  const SurfaceModel surface = make_surface_model(cmd.settings.seed);
  std::string list;
  std::string inputs = "input,piston,slope_x,slope_y,shift_x,shift_y,whole_x,whole_y,rest_x,rest_y\n";
  std::string spikes = "input,x,y,value\n";
  for (int32_t i = 0; i < cmd.count; ++i) {
    const std::string path = file_path(cmd, i);
    DataAttributes attributes;
    PhaseMap phase;
    map_init(phase);
    MeasurementTruth truth;
    ErrorCode rc = make_measurement(cmd.settings, surface, i, &attributes, &phase, &truth);
    if (rc == NO_ERROR) rc = write_data_file(path.c_str(), nullptr, &attributes, nullptr, &phase);
    map_free(phase);
    if (rc != NO_ERROR) return "cannot write \"" + path + "\": " + error_name(rc);
    list += path + "\n";
    append_truth(i, truth, &inputs, &spikes);
  }
  std::string message;
  if (cmd.write_inputs) message = write_text_file(beside_list(cmd, ".inputs.csv"), inputs);
  if (message.empty() && cmd.write_spikes)
    message = write_text_file(beside_list(cmd, ".spikes.csv"), spikes);
  if (!message.empty()) return message;
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
