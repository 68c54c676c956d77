#include "averaging/outputs.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "averaging/file_stamp.h"
#include "averaging/run_result.h"
#include "datafile/file_name.h"
#include "maps/fused_ops.h"

namespace harnix {

namespace {

// The mean of the sums, or the median when the run made one.
ErrorCode form_average(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                       int32_t* result) {
  if (m.median.matrix != nullptr) {
    std::copy_n(m.median.matrix + first, n, result + first);
    return NO_ERROR;
  }
  average_to_phase_span(m.sum_avg.matrix + first, m.count_avg.matrix + first, min_count, n,
                        result + first);
  return NO_ERROR;
}

ErrorCode form_spread(SpreadKind kind, WorkingMaps& m, int16_t min_count, std::size_t first,
                      std::size_t n, int32_t* result) {
  return spread_to_phase_span(kind, deviation_sum(m).matrix + first, m.sum_sq.matrix + first,
                              deviation_count(m).matrix + first, min_count, n, result + first);
}

ErrorCode form_deviation(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                         int32_t* result) {
  const SpreadKind kind = m.deviation_type == DeviationType::SAMPLE ? SpreadKind::SAMPLE
                                                                     : SpreadKind::POPULATION;
  return form_spread(kind, m, min_count, first, n, result);
}

// The sample deviation of the deviation's values over sqrt(n), whatever -SdevType says.
ErrorCode form_uncertainty(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                           int32_t* result) {
  return form_spread(SpreadKind::MEAN_UNCERTAINTY, m, min_count, first, n, result);
}

// The extremes, where the average has its minimum count of values, from counts or doubles.
ErrorCode form_extreme(const RealMap& v, WorkingMaps& m, int16_t min_count, std::size_t first,
                       std::size_t n, int32_t* result) {
  if (!m.extremes_in_counts) {
    extreme_to_phase_span(v.matrix + first, m.count_avg.matrix + first, min_count, n,
                          result + first);
    return NO_ERROR;
  }
  extreme_counts_to_phase_span(extremes_counts(v) + first, m.count_avg.matrix + first, min_count,
                               n, result + first);
  return NO_ERROR;
}

ErrorCode form_minimum(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                       int32_t* result) {
  return form_extreme(m.low, m, min_count, first, n, result);
}

ErrorCode form_maximum(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                       int32_t* result) {
  return form_extreme(m.high, m, min_count, first, n, result);
}

ErrorCode form_range(WorkingMaps& m, int16_t min_count, std::size_t first, std::size_t n,
                     int32_t* result) {
  if (!m.extremes_in_counts) {
    range_to_phase_span(m.low.matrix + first, m.high.matrix + first, m.count_avg.matrix + first,
                        min_count, n, result + first);
    return NO_ERROR;
  }
  range_counts_to_phase_span(extremes_counts(m.low) + first, extremes_counts(m.high) + first,
                             m.count_avg.matrix + first, min_count, n, result + first);
  return NO_ERROR;
}

ErrorCode form_count(WorkingMaps& m, int16_t /*min_count*/, std::size_t first, std::size_t n,
                     int32_t* result) {
  count_to_phase_span(m.count_avg.matrix + first, n, result + first);
  return NO_ERROR;
}

// The number of values rejected, where any input had a valid value.
ErrorCode form_rejected(WorkingMaps& m, int16_t /*min_count*/, std::size_t first, std::size_t n,
                        int32_t* result) {
  for (std::size_t i = first; i < first + n; ++i) {
    const int16_t r = m.rejected.matrix[i];
    result[i] = m.count_avg.matrix[i] + r > 0 ? int32_t(r) : PHASE_INVALID;
  }
  return NO_ERROR;
}

constexpr OutputDescriptor OUTPUTS[] = {
    {OutputKind::AVERAGE, "AvgOut", &RunSettings::AvgOutFile, "AvgOutFile", true, "Avg",
     "Height average map computed from %d input data files", form_average},
    {OutputKind::DEVIATION, "SdevOut", &RunSettings::SdevOutFile, "SdevOutFile", true, "Sdev",
     "Height standard deviation map computed from %d input data files", form_deviation},
    {OutputKind::COUNT, "CountOut", &RunSettings::CountOutFile, "CountOutFile", true, "Count",
     "Input count map computed from %d input data files", form_count},
    {OutputKind::REJECTED, "RejectOut", &RunSettings::RejectOutFile, "RejectOutFile", false,
     "Reject", "Rejected value count map computed from %d input data files", form_rejected},
    {OutputKind::MINIMUM, "MinOut", &RunSettings::MinOutFile, "MinOutFile", false, "Min",
     "Height minimum map computed from %d input data files", form_minimum},
    {OutputKind::MAXIMUM, "MaxOut", &RunSettings::MaxOutFile, "MaxOutFile", false, "Max",
     "Height maximum map computed from %d input data files", form_maximum},
    {OutputKind::RANGE, "RangeOut", &RunSettings::RangeOutFile, "RangeOutFile", false, "Range",
     "Height range map computed from %d input data files", form_range},
    {OutputKind::UNCERTAINTY, "UncertOut", &RunSettings::UncertOutFile, "UncertOutFile", false,
     "Uncert", "Height uncertainty map computed from %d input data files", form_uncertainty},
};

// The average's comment when it holds the median.
constexpr const char* MEDIAN_COMMENT = "Height average map (median) computed from %d input data files";

// The deviation's comment with the sample divisor.
constexpr const char* SAMPLE_DEVIATION_COMMENT =
    "Height standard deviation map (n - 1) computed from %d input data files";

static_assert(std::size(OUTPUTS) == OUTPUT_COUNT, "OUTPUT_COUNT is the table's size");

// The inputs' identities, looked up once for all the outputs (a run of thousands of inputs would
// otherwise ask the system about every one of them again for every output).
class InputFiles {
 public:
  explicit InputFiles(const InputList& inputs) : inputs_(inputs) {}

  // names_an_input, from the identities the inputs had when first asked for.
  bool named_by(const char* name) {
    FileStamp out;
    if (!file_stamp(name, &out)) return false;  // nothing there yet
    if (!looked_up_) {
      for (const std::string& input : inputs_.names) {
        FileStamp in;
        if (file_stamp(input.c_str(), &in)) stamps_.push_back(in);
      }
      looked_up_ = true;
    }
    for (const FileStamp& in : stamps_)
      if (same_file(in, out)) return true;
    return false;
  }

 private:
  const InputList& inputs_;
  std::vector<FileStamp> stamps_;
  bool looked_up_ = false;
};

}  // namespace

bool make_empty(const char* name) {
  std::FILE* f = open_file(name, "wb");
  return f != nullptr && std::fclose(f) == 0;
}

std::span<const OutputDescriptor> output_descriptors() {
  return OUTPUTS;
}

const char* output_comment_format(const OutputDescriptor& output, const RunSettings& settings) {
  const bool sample = settings.SdevType == DeviationType::SAMPLE;
  if (output.kind == OutputKind::AVERAGE && settings.Combine == CombineMode::MEDIAN)
    return MEDIAN_COMMENT;
  return output.kind == OutputKind::DEVIATION && sample ? SAMPLE_DEVIATION_COMMENT
                                                        : output.comment_format;
}

bool keeps_deviation(const RunSettings& settings) {
  return output_asked(settings, OutputKind::DEVIATION) ||
         output_asked(settings, OutputKind::UNCERTAINTY);
}

bool keeps_low(const RunSettings& settings) {
  return output_asked(settings, OutputKind::MINIMUM) || output_asked(settings, OutputKind::RANGE);
}

bool keeps_high(const RunSettings& settings) {
  return output_asked(settings, OutputKind::MAXIMUM) || output_asked(settings, OutputKind::RANGE);
}

const char* create_empty_outputs(const RunSettings& settings, const InputList& inputs) {
  InputFiles files(inputs);
  for (const OutputDescriptor& output : output_descriptors()) {
    const char* name = output_file(settings, output);
    if (name != nullptr && (files.named_by(name) || !make_empty(name))) return name;
  }
  return nullptr;
}

bool names_an_input(const char* name, const InputList& inputs) {
  return InputFiles(inputs).named_by(name);
}

}  // namespace harnix
