// The tolerance test by which the averaging run compares an input's camera geometry with the
// first input's.
#ifndef HARNIX_AVERAGING_TOLERANCE_H_
#define HARNIX_AVERAGING_TOLERANCE_H_

namespace harnix {

// Tolerance, in percent of the mean of the two values, of CameraRes and ZoomMag.
constexpr double GEOMETRY_TOLERANCE_PERCENT = 5.0;

// True when `value` agrees with `reference` within `percent` of their mean: equal values (two
// zeros among them) agree, exactly one zero disagrees, otherwise they agree while
// |a - b| * 100 / |(a + b) / 2| <= percent (a difference of exactly `percent` agrees). A value
// that is not a number agrees with nothing.
bool within_tolerance(double reference, double value, double percent);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_TOLERANCE_H_
