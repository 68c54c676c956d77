// The CSV is split into records by a small state machine over the whole text (a quoted field may
// span lines, so records are not lines), then each record's cells are checked against the column
// they stand in.
#include "util/input_report.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "export/number_text.h"
#include "util/loaded_file.h"

namespace harnix {

namespace {

constexpr const char* COLUMNS[] = {
    "index",       "file",   "valid_pixels", "rejected_pixels", "compared_pixels",
    "mean_diff_m", "tilt_x", "tilt_y",       "rms_diff_m",      "outlier"};
constexpr std::size_t COLUMN_COUNT = std::size(COLUMNS);
// Whole numbers up to 2^53 are exact in a double.
constexpr double LARGEST_COUNT = 9007199254740992.0;

// What a column's figures may be.
enum FigureKind { FIGURE_PIXELS, FIGURE_SIGNED, FIGURE_NON_NEGATIVE };

struct Record {
  int line;  // where the record starts, from 1
  std::vector<std::string> fields;
};

bool line_end(char c) {
  return c == '\n' || c == '\r';
}

std::string at_line(int line, const std::string& text) {
  return "line " + std::to_string(line) + ": " + text;
}

bool split_records(const std::string& t, std::vector<Record>* records, std::string* message) {
  std::size_t i = t.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a byte order mark
  int line = 1;
  while (i < t.size()) {
    Record r{line, {}};
    for (;;) {
      std::string field;
      if (t[i] == '"') {
        const int opened = line;
        for (++i;; ++i) {
          if (i >= t.size()) {
            *message = at_line(opened, "a quoted field is not closed");
            return false;
          }
          if (t[i] == '"') {
            if (i + 1 >= t.size() || t[i + 1] != '"') break;
            ++i;  // a doubled quote stands for one
          } else if (t[i] == '\n') {
            ++line;
          }
          field += t[i];
        }
        ++i;  // the closing quote
        if (i < t.size() && t[i] != ',' && !line_end(t[i])) {
          *message = at_line(line, "text after a closing quote");
          return false;
        }
      } else {
        for (; i < t.size() && t[i] != ',' && !line_end(t[i]); ++i) {
          if (t[i] == '"') {
            *message = at_line(line, "a quote inside an unquoted field");
            return false;
          }
          field += t[i];
        }
      }
      r.fields.push_back(std::move(field));
      if (i >= t.size() || t[i] != ',') break;
      ++i;
    }
    if (i < t.size() && t[i] == '\r') ++i;
    if (i < t.size() && t[i] == '\n') ++i;
    ++line;
    records->push_back(std::move(r));
  }
  return true;
}

// Reads one cell of a record into its column's field; false with *message set when it is not one.
class CellReader {
 public:
  CellReader(const Record& r, std::string* message) : record_(r), message_(message) {}

  bool figure(std::size_t column, FigureKind kind, Figure* f) {
    const std::string& text = record_.fields[column];
    *f = Figure{false, 0};
    if (text.empty()) return true;
    double v = 0;
    if (!parse_double(text.c_str(), &v) || !std::isfinite(v))
      return refuse(column, "is not a finite number");
    if (kind == FIGURE_PIXELS && (v != std::floor(v) || v < 0 || v > LARGEST_COUNT))
      return refuse(column, "is not a whole number of pixels");
    if (kind == FIGURE_NON_NEGATIVE && v < 0) return refuse(column, "is negative");
    *f = Figure{true, v};
    return true;
  }

  bool index(int64_t* value) {
    double v = 0;
    const std::string& text = record_.fields[0];
    if (!parse_double(text.c_str(), &v) || v != std::floor(v) || v < 0 || v > LARGEST_COUNT)
      return refuse(0, "is not a whole number");
    *value = static_cast<int64_t>(v);
    return true;
  }

  bool outlier(Outlier* o) {
    const std::string& text = record_.fields[COLUMN_COUNT - 1];
    *o = text.empty() ? OUTLIER_UNKNOWN : text == "yes" ? OUTLIER_YES : OUTLIER_NO;
    return text.empty() || text == "yes" || text == "no" ||
           refuse(COLUMN_COUNT - 1, "is neither yes nor no");
  }

 private:
  bool refuse(std::size_t column, const char* what) {
    const std::string& text = record_.fields[column];
    *message_ =
        at_line(record_.line, std::string(COLUMNS[column]) + " " +
                                  quoted(printable_text(text.data(), text.size())) + " " + what);
    return false;
  }

  const Record& record_;
  std::string* message_;
};

bool parse_row(const Record& r, InputRow* row, std::string* message) {
  if (r.fields.size() != COLUMN_COUNT) {
    *message = at_line(
        r.line, std::to_string(r.fields.size()) + " fields, not " + std::to_string(COLUMN_COUNT));
    return false;
  }
  CellReader cell(r, message);
  row->file = printable_text(r.fields[1].data(), r.fields[1].size());
  return cell.index(&row->index) && cell.figure(2, FIGURE_PIXELS, &row->valid_pixels) &&
         cell.figure(3, FIGURE_PIXELS, &row->rejected_pixels) &&
         cell.figure(4, FIGURE_PIXELS, &row->compared_pixels) &&
         cell.figure(5, FIGURE_SIGNED, &row->mean_diff_m) &&
         cell.figure(6, FIGURE_SIGNED, &row->tilt_x) &&
         cell.figure(7, FIGURE_SIGNED, &row->tilt_y) &&
         cell.figure(8, FIGURE_NON_NEGATIVE, &row->rms_diff_m) && cell.outlier(&row->outlier);
}

}  // namespace

bool parse_input_report(const std::string& text, std::vector<InputRow>* rows,
                        std::string* message) {
  rows->clear();
  std::vector<Record> records;
  if (!split_records(text, &records, message)) return false;
  if (records.empty()) {
    *message = "is empty";
    return false;
  }
  const std::vector<std::string> header(std::begin(COLUMNS), std::end(COLUMNS));
  if (records[0].fields != header) {
    *message = "line 1: not the header of a per-input report (index,file,valid_pixels,...)";
    return false;
  }
  for (std::size_t i = 1; i < records.size(); ++i) {
    InputRow row{};
    if (!parse_row(records[i], &row, message)) {
      rows->clear();
      return false;
    }
    rows->push_back(std::move(row));
  }
  return true;
}

bool read_input_report(const char* path, std::vector<InputRow>* rows, std::string* message) {
  rows->clear();
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path, "rb"), std::fclose);
  if (f == nullptr) {
    *message = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) text.append(buffer, got);
  if (std::ferror(f.get()) != 0) {
    *message = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  return parse_input_report(text, rows, message);
}

}  // namespace harnix
