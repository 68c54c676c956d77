// Numbers as text with a dot as the decimal separator, whatever the process locale.
//
// Every number the writers and harnix-util put into a text file or onto the console goes
// through these, so that a German or French locale can never turn 1.5 into "1,5" in an export.
#ifndef HARNIX_EXPORT_NUMBER_TEXT_H_
#define HARNIX_EXPORT_NUMBER_TEXT_H_

#include <string>

namespace harnix {

// Shortest text that reads back as exactly `value` ("0.1", "6.328e-07"); "NaN", "inf", "-inf"
// for the non-finite values.
std::string shortest_text(double value);

// Shortest text that reads back as exactly the single-precision `value`.
std::string shortest_text(float value);

// `value` with `digits` significant digits, like printf's %g but locale-independent.
std::string general_text(double value, int digits);

// `value` with exactly `decimals` digits after the dot, like printf's %.*f.
std::string fixed_text(double value, int decimals);

// Appends shortest_text(value) to `out` without a temporary string (for per-point loops).
void append_shortest(std::string& out, double value);

// The single-precision `value` times `factor`, rounded to single precision and returned as the
// double that its shortest text denotes: 6.328e-07f times 1e9 gives exactly 632.8, not
// 632.79998779. Used to show stored single-precision attributes in other units.
double float_in_units(float value, double factor);

// Parses a whole text as a double ("1e-9", "-0.5", "nan"); false when anything is left over or
// the text is empty.
bool parse_double(const char* text, double* value);

}  // namespace harnix

#endif  // HARNIX_EXPORT_NUMBER_TEXT_H_
