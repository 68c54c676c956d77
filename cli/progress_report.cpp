#include "cli/progress_report.h"

#include <cstdio>
#include <ctime>

#include "averaging/outputs.h"
#include "base/platform.h"
#include "cli/console.h"

namespace harnix {

static void report_name_or_none(const char* label, const char* name) {
  if (name != nullptr)
    print_output_line("%-*s = \"%s\"\n", REPORT_LABEL_WIDTH, label, name);
  else
    print_output_line("%-*s = None\n", REPORT_LABEL_WIDTH, label);
}

static void report_int(const char* label, int value) {
  print_output_line("%-*s = %d\n", REPORT_LABEL_WIDTH, label, value);
}

void report_settings(const RunSettings& settings) {
  for (const OutputDescriptor& output : output_descriptors()) {
    if (output.always_reported || output_file(settings, output) != nullptr)
      report_name_or_none(output.setting, output_file(settings, output));
  }
  if (settings.InputReportFile != nullptr)
    report_name_or_none("InputReportFile", settings.InputReportFile);
  report_int("MinValidCnt", settings.MinValidCnt);
  if (keeps_deviation(settings))
    print_output_line("%-*s = %s\n", REPORT_LABEL_WIDTH, "SdevRemove",
                      sdev_remove_label(settings.SdevRemove));
  if (settings.Combine == CombineMode::MEDIAN) {
    print_output_line("%-*s = %s\n", REPORT_LABEL_WIDTH, "Combine", "Median");
    if (settings.MemoryLimit > 0)
      print_output_line("%-*s = %g MiB\n", REPORT_LABEL_WIDTH, "MemoryLimit", settings.MemoryLimit);
  }
  if (settings.SdevType == DeviationType::SAMPLE)
    print_output_line("%-*s = %s\n", REPORT_LABEL_WIDTH, "SdevType", "Sample");
  if (settings.Level != LevelMode::NONE)
    print_output_line("%-*s = %s\n", REPORT_LABEL_WIDTH, "Level", level_label(settings.Level));
  if (settings.Reject > 0) {
    print_output_line("%-*s = %g\n", REPORT_LABEL_WIDTH, "Reject", settings.Reject);
    report_int("RejectIter", settings.RejectIter == 0 ? 1 : settings.RejectIter);
  }
  if (settings.Align != AlignMode::NONE) {
    print_output_line("%-*s = Shift\n", REPORT_LABEL_WIDTH, "Align");
    report_int("AlignMax", align_max_of(settings));
  }
}

void report_level(int32_t index, const LevelFigures& level) {
  char label[32];
  std::snprintf(label, sizeof label, "Level[%04d]", int(index));
  if (!level.levelled) {
    print_output_line("%-*s = not levelled: %lld points, too few to fit\n", REPORT_LABEL_WIDTH,
                      label, static_cast<long long>(level.compared));
    return;
  }
  print_output_line("%-*s = piston %g m, tilt %g, %g m/m, %lld of %lld points left out\n",
                    REPORT_LABEL_WIDTH, label, level.piston_m, level.tilt_x, level.tilt_y,
                    static_cast<long long>(level.left_out),
                    static_cast<long long>(level.compared));
}

void report_output_phase_res(int32_t code) {
  print_output_line("%-*s = %s\n", REPORT_LABEL_WIDTH, "Output PhaseRes", phase_res_label(code));
  print_output_line("%-*s = 1/%g fr\n", REPORT_LABEL_WIDTH, "Output OvikRes",
                    double(phase_res_counts(code)));
}

void report_input_name(int32_t index, const char* name) {
  char label[32];
  std::snprintf(label, sizeof label, "InFile[%04d]", int(index));
  print_output_line("\n%-*s = \"%s\"\n", REPORT_LABEL_WIDTH, label, name);
}

void local_time_text(int32_t stamp, char* text, int text_bytes) {
  // Month and day names are fixed English abbreviations whatever the locale.
  static const char* const DAYS[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = stamp;
  std::tm local{};
  if (!local_time(t, &local) || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
      local.tm_mon > 11) {
    std::snprintf(text, std::size_t(text_bytes), "(no local time for %d)\n", int(stamp));
    return;
  }
  std::snprintf(text, std::size_t(text_bytes), "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                DAYS[local.tm_wday], MONTHS[local.tm_mon], local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec, 1900 + local.tm_year);
}

void report_input_attributes(const DataAttributes& a, const Window& w) {
  char when[64];
  local_time_text(a.TimeStamp, when, sizeof when);
  const int width = REPORT_LABEL_WIDTH;
  print_output_line("%-*s = %s", width, "TimeStamp", when);
  report_int("CameraWidth", a.CameraWidth);
  report_int("CameraHeight", a.CameraHeight);
  print_output_line("%-*s = %g um\n", width, "PixelWidth", double(a.PixelWidth) * 1e6);
  print_output_line("%-*s = %g um\n", width, "PixelHeight", double(a.PixelHeight) * 1e6);
  print_output_line("%-*s = %g um\n", width, "CameraRes", double(a.CameraRes) * 1e6);
  report_int("WindowX", w.x);
  report_int("WindowY", w.y);
  report_int("WindowWidth", w.width);
  report_int("WindowHeight", w.height);
  print_output_line("%-*s = %g\n", width, "IntfScaleFactor", double(a.IntfScaleFactor));
  print_output_line("%-*s = %g nm\n", width, "WavelengthIn", double(a.WavelengthIn) * 1e9);
  print_output_line("%-*s = %g\n", width, "ObliquityFactor", double(a.ObliquityFactor));
  print_output_line("%-*s = %s\n", width, "PhaseRes", phase_res_label(a.PhaseRes));
  print_output_line("%-*s = 1/%g fr\n", width, "OvikRes", double(phase_res_counts(a.PhaseRes)));
  print_output_line("%-*s = %g\n", width, "ZoomMag", double(a.ZoomMag));
  print_output_line("\n");
}

void report_result_window(const char* prefix, const Window& w) {
  char label[32];
  const struct {
    const char* name;
    int value;
  } lines[] = {
      {"WindowX", w.x}, {"WindowY", w.y}, {"WindowWidth", w.width}, {"WindowHeight", w.height}};
  for (const auto& line : lines) {
    std::snprintf(label, sizeof label, "%s %s", prefix, line.name);
    report_int(label, line.value);
  }
}

void report_wrote(const char* name) {
  print_output_line("\nWrote \"%s\"\n\n", name);
}

void VerboseReport::run_started(const RunSettings& settings) {
  report_settings(settings);
  if (settings.PhaseRes != PHASE_RES_FROM_INPUT) report_output_phase_res(settings.PhaseRes);
}

void VerboseReport::input_started(int32_t index, const char* name) {
  report_input_name(index, name);
}

void VerboseReport::input_read(const DataAttributes& attributes, const Window& valid) {
  report_input_attributes(attributes, valid);
}

void VerboseReport::result_formed(const OutputDescriptor& output, const Window& window) {
  report_result_window(output.label, window);
}

void VerboseReport::output_written(const char* name) {
  report_wrote(name);
}

void VerboseReport::input_levelled(int32_t index, const LevelFigures& level) {
  report_level(index, level);
}

void VerboseReport::input_aligned(int32_t index, const InputShift& s) {
  char label[32];
  std::snprintf(label, sizeof label, "Shift[%04d]", int(index));
  print_output_line("%-*s = %d %d px (rest %+.3f %+.3f px, score %.6f, overlap %.1f %%)\n",
                    REPORT_LABEL_WIDTH, label, int(s.x), int(s.y), s.rest_x + 0.0,
                    s.rest_y + 0.0, s.score, 100.0 * s.overlap);
}

void VerboseReport::rejection_round(int32_t round, int64_t rejected) {
  char label[32];
  std::snprintf(label, sizeof label, "Rejected in round %d", int(round));
  print_output_line("%-*s = %lld\n", REPORT_LABEL_WIDTH, label, static_cast<long long>(rejected));
}

}  // namespace harnix
