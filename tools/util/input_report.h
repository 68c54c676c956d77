// The per-input report of an averaging run (harnix -InputReport): a CSV file with a header row and
// one row per input, in input order, each input compared against the final average:
//   index,file,valid_pixels,rejected_pixels,compared_pixels,mean_diff_m,tilt_x,tilt_y,rms_diff_m,
//   outlier
// Fields follow RFC 4180: separated by commas, records ended by CRLF or LF (the last one may end
// the file without), a field holding a comma, a quote or a line break is quoted with '"' and its
// quotes doubled. Lengths are in metres, tilts in metres per metre, outlier is "yes" or "no".
// Every cell but index may be empty (an input without compared pixels has no figures).
#ifndef HARNIX_TOOLS_UTIL_INPUT_REPORT_H_
#define HARNIX_TOOLS_UTIL_INPUT_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace harnix {

// A number of the report, or nothing for an empty cell.
struct Figure {
  bool known;
  double value;  // 0 when not known
};

enum Outlier { OUTLIER_UNKNOWN, OUTLIER_NO, OUTLIER_YES };

struct InputRow {
  int64_t index;
  std::string file;  // made printable (control characters become spaces)
  Figure valid_pixels, rejected_pixels, compared_pixels;  // whole numbers >= 0
  Figure mean_diff_m, tilt_x, tilt_y;                     // finite
  Figure rms_diff_m;                                      // finite, >= 0
  Outlier outlier;
};

// Parses the report's text. On success returns true with one row per record after the header.
// On failure returns false with *rows empty and *message set to what is wrong, with the line it
// starts on ("line 3: 9 fields, not 10"). Throws std::bad_alloc when memory runs out.
bool parse_input_report(const std::string& text, std::vector<InputRow>* rows, std::string* message);

// Reads and parses the report at `path`. On failure returns false with *rows empty and *message
// set to follow the quoted file name ("cannot be opened: No such file or directory", "line 3:
// ..."). Throws std::bad_alloc when memory runs out.
bool read_input_report(const char* path, std::vector<InputRow>* rows, std::string* message);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_INPUT_REPORT_H_
