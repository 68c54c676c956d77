// harnix-util export: one Planoryx file's phase map in another program's format.
#include "util/export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "datafile/output_file.h"
#include "export/export_formats.h"
#include "export/export_x3p.h"
#include "export/number_text.h"
#include "surface/heights.h"
#include "surface/levelling.h"
#include "util/export_png.h"
#include "util/loaded_file.h"
#include "util/preview.h"
#include "util/report_maps.h"

namespace harnix {

namespace {

constexpr const char* USAGE =
    "usage: harnix-util export FILE --format gsf|xyz|matrix|png|x3p -o OUT [options]\n"
    "\n"
    "Writes the phase map of a Planoryx data file as heights in metres.\n"
    "  gsf      Gwyddion Simple Field: single-precision grid, invalid points NaN\n"
    "  xyz      one line \"x y z\" per valid point, x and y in metres\n"
    "  matrix   one line per map row, top row first, invalid points NaN or --fill\n"
    "  png      false-colour preview with colour bar and caption\n"
    "  x3p      ISO 5436-2 / ISO 25178-72 archive: int32 counts with the metres per count and\n"
    "           a validity file, or, when levelled, float64 values with invalid points NaN\n"
    "\n"
    "options:\n"
    "  --values heights|counts  heights in metres (default) or the stored phase counts; a\n"
    "                           count map of harnix is always counts (and no x3p)\n"
    "  --level none|piston|plane|sphere|cylinder|robust\n"
    "                           form removed first: a least-squares fit or the robust plane\n"
    "                           over the valid points, subtracted in double precision\n"
    "                           (default none)\n"
    "  --fill VALUE             matrix: written for invalid points (default NaN); must lie\n"
    "                           outside the map's values\n"
    "  --cmap viridis|gray|jet  png: colour map (default viridis)\n"
    "  --range full|LO,HI       png: colour range, the full range or the LO to HI percentiles\n"
    "                           of the valid values (default 0.5,99.5)\n"
    "  --size N                 png: longer side of the drawn map in pixels (16 to 8192)\n";

enum Format { FORMAT_NONE, FORMAT_GSF, FORMAT_XYZ, FORMAT_MATRIX, FORMAT_PNG, FORMAT_X3P };

struct ExportOptions {
  const char* input = nullptr;
  const char* output = nullptr;
  Format format = FORMAT_NONE;
  bool counts = false;
  bool values_given = false;
  Levelling level = LEVEL_NONE;
  bool fill_given = false;
  double fill = std::nan("");
  bool png_option_given = false;
  bool range_given = false;
  PngOptions png{CMAP_VIRIDIS, false, 0.5, 99.5, 0};
};

int fail(const std::string& text) {
  std::fprintf(stderr, "harnix-util export: %s\n", text.c_str());
  return 1;
}

bool parse_format(const char* text, Format* format) {
  static const struct {
    const char* name;
    Format format;
  } FORMATS[] = {{"gsf", FORMAT_GSF},
                  {"xyz", FORMAT_XYZ},
                  {"matrix", FORMAT_MATRIX},
                  {"png", FORMAT_PNG},
                  {"x3p", FORMAT_X3P}};
  for (const auto& f : FORMATS)
    if (std::strcmp(text, f.name) == 0) {
      *format = f.format;
      return true;
    }
  return false;
}

bool parse_range(const char* text, PngOptions* png) {
  if (std::strcmp(text, "full") == 0) {
    png->full_range = true;
    return true;
  }
  const char* comma = std::strchr(text, ',');
  if (comma == nullptr) return false;
  const std::string lo(text, comma);
  double a = 0;
  double b = 0;
  if (!parse_double(lo.c_str(), &a) || !parse_double(comma + 1, &b)) return false;
  if (!(a >= 0 && a < b && b <= 100)) return false;
  png->full_range = false;
  png->lo_percentile = a;
  png->hi_percentile = b;
  return true;
}

bool parse_size(const char* text, int* pixels) {
  double v = 0;
  if (!parse_double(text, &v) || v != std::floor(v) || v < PREVIEW_MIN_PIXELS ||
      v > PREVIEW_MAX_PIXELS)
    return false;
  *pixels = static_cast<int>(v);
  return true;
}

// Parses argv (argv[0] is "export"); on failure sets *error to the one-line complaint.
bool parse_options(int argc, char** argv, ExportOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takes_value = arg == "--format" || arg == "-o" || arg == "--values" ||
                             arg == "--fill" || arg == "--cmap" || arg == "--range" ||
                             arg == "--size" || arg == "--level";
    if (takes_value && i + 1 >= argc) {
      *error = "option " + arg + " needs a value";
      return false;
    }
    const char* value = takes_value ? argv[++i] : nullptr;
    if (arg == "--format") {
      if (!parse_format(value, &o->format)) {
        *error = "unknown format \"" + std::string(value) + "\" (use gsf, xyz, matrix, png or x3p)";
        return false;
      }
    } else if (arg == "-o") {
      o->output = value;
    } else if (arg == "--values") {
      if (std::strcmp(value, "heights") != 0 && std::strcmp(value, "counts") != 0) {
        *error = "unknown --values \"" + std::string(value) + "\" (use heights or counts)";
        return false;
      }
      o->counts = std::strcmp(value, "counts") == 0;
      o->values_given = true;
    } else if (arg == "--level") {
      if (!parse_levelling(value, &o->level)) {
        *error = "unknown --level \"" + std::string(value) +
                 "\" (use none, piston, plane, sphere, cylinder or robust)";
        return false;
      }
    } else if (arg == "--fill") {
      o->fill_given = true;
      if (!parse_double(value, &o->fill) || std::isinf(o->fill)) {
        *error = "--fill needs a finite number or NaN, not \"" + std::string(value) + "\"";
        return false;
      }
    } else if (arg == "--cmap") {
      o->png_option_given = true;
      if (!parse_colour_map(value, &o->png.colour_map)) {
        *error = "unknown colour map \"" + std::string(value) + "\" (use viridis, gray or jet)";
        return false;
      }
    } else if (arg == "--range") {
      o->png_option_given = true;
      o->range_given = true;
      if (!parse_range(value, &o->png)) {
        *error =
            "--range needs \"full\" or two percentiles LO,HI with 0 <= LO < HI <= 100, "
            "not \"" +
            std::string(value) + "\"";
        return false;
      }
    } else if (arg == "--size") {
      o->png_option_given = true;
      if (!parse_size(value, &o->png.map_pixels)) {
        *error = "--size needs a whole number of pixels from 16 to 8192, not \"" +
                 std::string(value) + "\"";
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option \"" + arg + "\"";
      return false;
    } else if (o->input == nullptr) {
      o->input = argv[i];
    } else {
      *error = "one input file only (\"" + std::string(o->input) + "\" and \"" + arg + "\" given)";
      return false;
    }
  }
  if (o->input == nullptr)
    *error = "no input file given";
  else if (o->format == FORMAT_NONE)
    *error = "no --format given (gsf, xyz, matrix, png or x3p)";
  else if (o->output == nullptr)
    *error = "no output given (-o OUT)";
  else if (o->fill_given && o->format != FORMAT_MATRIX)
    *error = "--fill applies to --format matrix only";
  else if (o->png_option_given && o->format != FORMAT_PNG)
    *error = "--cmap, --range and --size apply to --format png only";
  return error->empty();
}

// Checks that the loaded file can be exported as asked; on failure sets *error.
bool check_exportable(const ExportOptions& o, const LoadedFile& f, const HeightScale& scale,
                      const PhaseStatistics& st, std::string* error) {
  const std::string name = quoted(o.input);
  if (f.phase.matrix == nullptr) {
    *error = name + " holds no phase map";
  } else if (st.valid_points == 0) {
    *error = name + " holds no valid points";
  } else if (!o.counts && !scale.height_known) {
    *error = name +
             " has no usable height scale (IntfScaleFactor x ObliquityFactor x "
             "WavelengthIn is not a positive number)";
  } else if ((o.format == FORMAT_GSF || o.format == FORMAT_XYZ || o.format == FORMAT_X3P) &&
             scale.spacing == 0) {
    *error = name + " has no lateral resolution (CameraRes and PixelWidth are not positive)";
  } else if (o.format == FORMAT_MATRIX && !std::isnan(o.fill)) {
    const double per_count = o.counts ? 1.0 : scale.metres_per_count;
    if (o.fill >= st.min * per_count && o.fill <= st.max * per_count)
      *error = "--fill " + shortest_text(o.fill) + " lies within the map's values (" +
               shortest_text(st.min * per_count) + " to " + shortest_text(st.max * per_count) +
               "), so invalid points would pass for valid ones";
  }
  return error->empty();
}

// Levels the map; *st then holds the levelled values' extremes, which --fill must avoid.
bool level_for_export(const PhaseMap& map, Levelling level, std::vector<double>* levelled,
                      PhaseStatistics* st, std::string* error) {
  if (!level_map(map, level, levelled, error)) return false;
  st->min = HUGE_VAL;
  st->max = -HUGE_VAL;
  for (double v : *levelled) {
    if (std::isnan(v)) continue;
    st->min = std::min(st->min, v);
    st->max = std::max(st->max, v);
  }
  return true;
}

bool write_export(const ExportOptions& o, const ExportData& data, std::FILE* stream,
                  std::string* error) {
  switch (o.format) {
    case FORMAT_GSF:
      return write_gsf(data, stream, error);
    case FORMAT_XYZ:
      return write_xyz(data, stream, error);
    case FORMAT_MATRIX:
      return write_matrix(data, o.fill, stream, error);
    case FORMAT_PNG:
      return write_png(data, o.png, stream, error);
    case FORMAT_X3P:
      return write_x3p(data, stream, error);
    default:
      *error = "no format";
      return false;
  }
}

// A count map (told by its comment) holds counts, not heights: exported as counts, drawn over its
// full range unless asked otherwise, and never as heights, which X3P would store in metres.
bool take_count_map(const LoadedFile& file, ExportOptions* o, std::string* error) {
  const char* counted = counted_values(result_kind(comment_text(file.attributes)));
  if (counted == nullptr) return true;
  const std::string holds =
      quoted(o->input) + " is a count map (counts of " + counted + " per pixel), not heights";
  if (o->format == FORMAT_X3P) {
    *error = holds + ": X3P stores heights in metres";
    return false;
  }
  if (o->values_given && !o->counts) {
    *error = holds + ": export it with --values counts";
    return false;
  }
  o->counts = true;
  if (!o->range_given) o->png.full_range = true;
  return true;
}

int export_file(const ExportOptions& asked) {
  LoadedFile file{};
  std::string error;
  if (!load_data_file(asked.input, false, &file, &error))
    return fail(quoted(asked.input) + " " + error);
  ExportOptions o = asked;
  if (!take_count_map(file, &o, &error)) {
    release_loaded_file(&file);
    return fail(error);
  }
  const HeightScale scale = height_scale(file.attributes);
  PhaseStatistics st = phase_statistics(file.phase);
  std::vector<double> levelled;
  if (o.level != LEVEL_NONE && st.valid_points > 0 &&
      !level_for_export(file.phase, o.level, &levelled, &st, &error)) {
    release_loaded_file(&file);
    return fail(quoted(o.input) + " " + error);
  }
  if (!check_exportable(o, file, scale, st, &error)) {
    release_loaded_file(&file);
    return fail(error);
  }
  ExportData data{&file.phase,
                  printable_text(base_name(o.input).c_str(), base_name(o.input).size()),
                  comment_text(file.attributes),
                  o.counts ? 1.0 : scale.metres_per_count,
                  o.counts ? "" : "m",
                  scale.spacing,
                  levelled.empty() ? nullptr : levelled.data(),
                  levelling_name(o.level),
                  &file.attributes};
  OutputFile out;
  bool ok = output_open(o.output, &out, &error);
  if (ok) {
    try {
      ok = write_export(o, data, out.stream, &error);
    } catch (const std::bad_alloc&) {
      ok = false;
      error = "not enough memory";
    }
    if (!ok) {
      output_discard(&out);
      error = "cannot write \"" + std::string(o.output) + "\": " + error;
    } else {
      ok = output_commit(&out, &error);
    }
  }
  release_loaded_file(&file);
  return ok ? 0 : fail(error);
}

}  // namespace

int run_export(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return 0;
  }
  ExportOptions options;
  std::string error;
  if (!parse_options(argc, argv, &options, &error))
    return fail(error + " (see harnix-util export --help)");
  try {
    return export_file(options);
  } catch (const std::bad_alloc&) {
    return fail("not enough memory to export \"" + std::string(options.input) + "\"");
  }
}

}  // namespace harnix
