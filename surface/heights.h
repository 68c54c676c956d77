// Phase counts as heights in metres, lateral spacing, and statistics of a phase map.
//
// A phase value v (in 1/R of a fringe, R the counts per fringe of PhaseRes) stands for the height
//   z = v * IntfScaleFactor * ObliquityFactor * WavelengthIn / R   metres.
// Neighbouring pixels lie CameraRes metres apart; a file whose CameraRes is 0 gives the camera
// pixel size PixelWidth instead. Camera pixel (px, py) lies at x = px * spacing, y = py * spacing,
// y growing downwards with the rows (row 0 is the top row of the camera).
#ifndef HARNIX_SURFACE_HEIGHTS_H_
#define HARNIX_SURFACE_HEIGHTS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

struct HeightScale {
  int32_t counts_per_fringe;   // R of the file's PhaseRes
  double metres_per_count;     // IntfScaleFactor * ObliquityFactor * WavelengthIn / R
  bool height_known;           // metres_per_count is finite and > 0
  double spacing;              // metres between neighbouring pixels, 0 when unknown
  const char* spacing_source;  // "CameraRes", "PixelWidth", or nullptr when unknown
};

// The scale of a file's attributes. The factors are products of the stored single-precision
// values, formed in double precision. A spacing is known only when the chosen attribute is
// finite and > 0.
HeightScale height_scale(const DataAttributes& attributes);

// Statistics of the valid points of a phase map, in phase counts. rms is the root mean square
// deviation from the mean (the population form, divisor n); peak_to_valley is max - min. The
// fields other than valid_points and total_points are 0 when no point is valid.
struct PhaseStatistics {
  int64_t total_points;
  int64_t valid_points;
  double min;
  double max;
  double mean;
  double rms;
  double peak_to_valley;
};

// A map without storage has no points at all.
PhaseStatistics phase_statistics(const PhaseMap& map);

// The valid values of `map` in storage order. Throws std::bad_alloc when memory runs out.
std::vector<int32_t> valid_values(const PhaseMap& map);

// The p-th percentile (0 <= p <= 100) of `values` by linear interpolation between the two
// nearest ranks (rank p / 100 * (n - 1) of the sorted values). Reorders `values`; `values` must
// not be empty.
double percentile(std::vector<int32_t>& values, double p);
double percentile(std::vector<double>& values, double p);

// The n values at `levelled` that are not NaN, in order. Throws std::bad_alloc when memory runs
// out.
std::vector<double> valid_levelled(const double* levelled, std::size_t n);

}  // namespace harnix

#endif  // HARNIX_SURFACE_HEIGHTS_H_
