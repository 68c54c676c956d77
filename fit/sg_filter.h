// Savitzky-Golay line filters and the derivative maps built from them.
//
// A filter of odd length L = 2h + 1 (3..15) and kind k replaces each sample by
//   out[i] = (sum_{m=0}^{L-1} c[m] * in[i - h + m]) / N
// with a fixed integer table c and normaliser N: the k-th derivative at the centre of the
// polynomial fitted by least squares to the L samples around it (smoothing and first derivative
// from a quadratic, second and third derivative from a cubic). The one exception is smoothing of
// length 3, whose table -1, 3, -1 sharpens rather than smooths (the sample minus its second
// difference). Sums are formed in single precision from left to right.
//
// Maps are filtered one line at a time: a row or column becomes single-precision samples (an
// invalid phase value becomes SG_INVALID), is filtered, and is written back rounded half away
// from zero; samples outside the 32-bit range, every SG_INVALID among them, become PHASE_INVALID.
// An output is SG_INVALID when any sample under its window is, and the first and last h outputs
// of every line are SG_INVALID, so a derivative is reported only where the whole window has data.
#ifndef HARNIX_FIT_SG_FILTER_H_
#define HARNIX_FIT_SG_FILTER_H_

#include <bit>
#include <cstdint>

#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// The filter kind: the order of the derivative taken.
enum class SgKind : int32_t {
  SMOOTH = 0,
  FIRST_DERIVATIVE = 1,
  SECOND_DERIVATIVE = 2,
  THIRD_DERIVATIVE = 3,
};

constexpr int32_t SG_MIN_LENGTH = 3;
constexpr int32_t SG_MAX_LENGTH = 15;

// Marker of a sample without data in a line buffer: REAL_INVALID as a float (the largest finite
// float). A sample is treated as missing when it is not below the marker (so +inf and NaN too).
constexpr float SG_INVALID = 3.4028234663852886e38f;

// One filter table: `length` integer coefficients (held as floats) and the normaliser.
struct SgTable {
  int32_t length;
  const float* coefficients;
  float normaliser;
};

// Checks a (length, kind) pair and looks up its table, in this order: an even length is
// ERR_INVALID_PARAM; a length outside 3..15, length 3 with the third derivative, or a kind outside
// 0..3 (a kind read from elsewhere may hold any value) is ERR_PARAM_OUT_OF_RANGE. *table is written
// only on success.
ErrorCode sg_table(int32_t length, SgKind kind, SgTable* table);

// Filters the sample values (the second float of each pair) of `line` in place; the first float
// of each pair is neither read nor written. Checks as sg_table, before anything changes. A line
// of `count` <= length samples becomes entirely SG_INVALID. Uses one scratch buffer of the line's
// length (ERR_NO_MEM if it cannot be had; the line is then unchanged).
ErrorCode sg_filter(FloatPairArray& line, int32_t length, SgKind kind);

// Filters every row of src's window (the x direction) into the same row of dst's window. dst
// must have a window of the same width and height (else ERR_WINDOWS_MISMATCHED); its position may
// differ and dst may be src itself (src is otherwise only read). A width below 1 is
// ERR_PARAM_OUT_OF_RANGE, a map without storage ERR_INVALID_PARAM, filter checks as sg_table; all
// checks come before any row is written. ERR_NO_MEM when the working buffers cannot be had (dst
// untouched).
ErrorCode filter_rows(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind);

// The same for every column (the y direction); a height below 1 is ERR_PARAM_OUT_OF_RANGE.
ErrorCode filter_columns(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind);

// dst = the length of (row result, column result) at every pixel: sqrt(gx^2 + gy^2) + 0.5
// truncated, in double; PHASE_INVALID where either is invalid or the length reaches
// PHASE_INVALID. Needs one scratch map of src's window (ERR_NO_MEM). Failures as filter_rows and
// filter_columns; on a failure after the checks dst may hold the column results.
ErrorCode gradient_magnitude(const PhaseMap& src, PhaseMap& dst, int32_t length, SgKind kind);

// Line conversions, shared by the filters. Both choose with mask blends instead of branches: the
// compiler will not move a conversion or a division out of a branch, and so would not vectorise.
inline float blend(bool take_a, float a, float b) {
  const uint32_t m = 0u - static_cast<uint32_t>(take_a);
  return std::bit_cast<float>((std::bit_cast<uint32_t>(a) & m) | (std::bit_cast<uint32_t>(b) & ~m));
}
inline int32_t blend(bool take_a, int32_t a, int32_t b) {
  const int32_t m = -static_cast<int32_t>(take_a);
  return (a & m) | (b & ~m);
}

// A valid phase value becomes the nearest float, an invalid one SG_INVALID.
inline float phase_to_sample(int32_t v) {
  return blend(v < PHASE_INVALID, static_cast<float>(v), SG_INVALID);
}

// A float in [-2^31, 2^31) becomes the integer nearest to it, halves away from zero; anything
// else (every SG_INVALID, infinities, NaN) PHASE_INVALID. The same as truncating f + 0.5 (f - 0.5
// below zero) in double, formed from the exact integer and fractional parts of f.
inline int32_t sample_to_phase(float f) {
  const bool in_range = (f >= -2147483648.0f) & (f < 2147483648.0f);
  const float g = blend(in_range, f, 0.0f);
  const int32_t whole = static_cast<int32_t>(g);
  const float frac = g - static_cast<float>(whole);
  const int32_t rounded =
      whole + static_cast<int32_t>(frac >= 0.5f) - static_cast<int32_t>(frac <= -0.5f);
  return blend(in_range, rounded, PHASE_INVALID);
}

}  // namespace harnix

#endif  // HARNIX_FIT_SG_FILTER_H_
