// What the report shows of one result file of an averaging run: its kind (told by the comment
// harnix writes), the preview figure, and the figures that belong to its kind.
//
// Height maps (the average, and any map of unknown kind) are drawn levelled as asked, like
// `export --format png --level`; the average also gets its height parameters and a histogram of
// its levelled heights. The standard deviation map is drawn as stored (a spread has no form to
// take off) with the mean, median and root mean square of its values, in nm: the repeatability
// of the instrument over the run, the RMS being sqrt(mean(s^2)), the deviation of all the
// pixels pooled. Count maps are drawn in counts over their full range. The minimum and maximum
// are height maps, levelled like the average; the range and the uncertainty of the average are
// spreads, drawn as stored.
#ifndef HARNIX_TOOLS_UTIL_REPORT_MAPS_H_
#define HARNIX_TOOLS_UTIL_REPORT_MAPS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "datafile/attributes.h"
#include "surface/height_parameters.h"
#include "surface/heights.h"
#include "surface/levelling.h"

namespace harnix {

enum ResultKind {
  RESULT_AVERAGE,
  RESULT_DEVIATION,
  RESULT_COUNT,
  RESULT_REJECTED,
  RESULT_MINIMUM,
  RESULT_MAXIMUM,
  RESULT_RANGE,
  RESULT_UNCERTAINTY,
  RESULT_OTHER
};

// The kind whose comment starts "Height average map", "Height standard deviation map", "Input
// count map", "Rejected value count map", "Height minimum map", "Height maximum map", "Height
// range map" or "Height uncertainty map"; RESULT_OTHER for any other comment.
ResultKind result_kind(const std::string& comment);

// What the values of a map of `kind` count: "inputs" for the input count map, "rejected values"
// for the rejected value count map; nullptr for every other kind, whose values are heights.
const char* counted_values(ResultKind kind);

// "Height average", "Height standard deviation", ..., "Result map".
const char* result_kind_title(ResultKind kind);

// N of a comment holding "computed from N input data files", or -1 when it holds none.
int64_t stated_inputs(const std::string& comment);

// Counts of values in equal bins from `lo` up, `width` apart, in display units.
struct Histogram {
  double lo;
  double width;
  std::vector<int64_t> bins;  // empty when there is no histogram
  const char* unit;           // "nm", "µm" or "counts"
};

// Mean, median and root mean square of the deviation map's valid values, in nm.
struct Spread {
  bool known;
  double mean_nm, median_nm, rms_nm;
};

struct ResultSection {
  std::string name;  // the file name as given, made printable
  std::string comment;
  ResultKind kind;
  DataAttributes attributes;
  HeightScale scale;
  Window window;  // of the phase map; zero size when the file has none
  PhaseStatistics stats;
  std::string png;        // the preview's PNG bytes; empty when the map has nothing to draw
  std::string note;       // why there is no preview ("holds no valid points")
  const char* levelling;  // applied to the preview and the parameters ("none" for the others)
  bool parameters_known;  // the average's height parameters
  HeightParameters parameters;
  Spread spread;  // the deviation map's
  Histogram histogram;
};

// What `section` holds, as a title: result_kind_title of its kind, but "Height median" for an
// average map whose comment says it holds the median ("Height average map (median) ...").
const char* result_title(const ResultSection& section);

// The report's map previews are drawn at most this many pixels on the longer side, so that a
// page of several maps stays small enough to send; smaller maps are drawn as the export draws
// them.
constexpr int REPORT_MAX_MAP_PIXELS = 1024;

// Reads the result file at `path` and fills *section. On failure (the file cannot be read, or
// its map cannot be levelled as asked) returns false with *message set to the whole complaint,
// starting with the quoted file name. Throws std::bad_alloc when memory runs out.
bool analyse_result(const char* path, Levelling level, ResultSection* section,
                    std::string* message);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_REPORT_MAPS_H_
