// The run's outputs, one descriptor each: the option that asks for it, the comment it carries,
// the label of its verbose lines and how its result is formed from the sums. Creation, the
// overwrite check, the progress report and writing all walk this one table, in its order.
#ifndef HARNIX_AVERAGING_OUTPUTS_H_
#define HARNIX_AVERAGING_OUTPUTS_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "base/error_codes.h"

namespace harnix {

enum class OutputKind { AVERAGE, DEVIATION, COUNT, REJECTED, MINIMUM, MAXIMUM, RANGE, UNCERTAINTY };

struct OutputDescriptor {
  OutputKind kind;
  const char* option;              // "AvgOut": the option naming the file, without its dash
  const char* RunSettings::*file;  // where RunSettings keeps that name (nullptr: not asked for)
  const char* setting;             // "AvgOutFile": its name in the progress report
  bool always_reported;            // listed in the report even when not asked for
  const char* label;               // "Avg": the prefix of its result window lines
  const char* comment_format;      // the file's comment; %d is the number of inputs
  // Forms the result in `result`, a camera-sized map in storage order (phase counts,
  // PHASE_INVALID where none), from the sums, with `min_count` the resolved minimum of valid
  // values, for the `count` camera pixels from `first` on: every pixel on its own, so that the
  // field may be formed in parts at the same time. ERR_FP_OVERFLOW from the deviation.
  ErrorCode (*form)(WorkingMaps& maps, int16_t min_count, std::size_t first, std::size_t count,
                    int32_t* result);
};

// Rows of the table.
constexpr std::size_t OUTPUT_COUNT = 8;

// Average, deviation, count, rejection count, minimum, maximum, range and uncertainty, in the
// order they are created and written.
std::span<const OutputDescriptor> output_descriptors();

// The comment format of `output` in a run of `settings`: the descriptor's, but for the deviation
// with the sample divisor and the average holding the median, whose comments say so.
const char* output_comment_format(const OutputDescriptor& output, const RunSettings& settings);

// Which sums a run of `settings` keeps besides the average's: the deviation's (for the deviation
// or the uncertainty), the least values (minimum or range) and the greatest (maximum or range).
bool keeps_deviation(const RunSettings& settings);
bool keeps_low(const RunSettings& settings);
bool keeps_high(const RunSettings& settings);

// Creates the file `name` for writing (an existing file is emptied) and closes it at once; false
// when it cannot be created or closed.
bool make_empty(const char* name);

// The file name `settings` gives for `output`, or nullptr when it is not asked for.
inline const char* output_file(const RunSettings& settings, const OutputDescriptor& output) {
  return settings.*output.file;
}

// For every output asked for, in table order: create the file for writing (an existing file is
// emptied) and close it at once, so that every output is an empty file until it is written. An
// output that names the same file as one of `inputs` is refused before anything is emptied,
// since emptying it would destroy an input the run has yet to read. Returns the name of the first
// output that cannot be created (or is an input), the outputs before it emptied; nullptr when
// all were created.
const char* create_empty_outputs(const RunSettings& settings, const InputList& inputs);

// True when the existing file `name` is one of `inputs` (same device and inode).
bool names_an_input(const char* name, const InputList& inputs);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_OUTPUTS_H_
