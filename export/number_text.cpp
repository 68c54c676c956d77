// std::to_chars and std::from_chars never consult the locale, which printf and strtod do.
#include "export/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace harnix {

namespace {

// Longest text of a double in any of the forms used here: sign, 17 digits, dot, exponent, with
// room to spare; %.*f of a large value is limited separately below.
constexpr int TEXT_BYTES = 64;

bool non_finite_text(double value, std::string& out) {
  if (std::isnan(value)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

void append_shortest(std::string& out, double value) {
  if (non_finite_text(value, out)) return;
  char buffer[TEXT_BYTES];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, r.ptr);
}

std::string shortest_text(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

std::string shortest_text(float value) {
  std::string out;
  if (non_finite_text(value, out)) return out;
  char buffer[TEXT_BYTES];
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

std::string general_text(double value, int digits) {
  std::string out;
  if (non_finite_text(value, out)) return out;
  char buffer[TEXT_BYTES];
  std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits);
  return std::string(buffer, r.ptr);
}

std::string fixed_text(double value, int decimals) {
  std::string out;
  if (non_finite_text(value, out)) return out;
  // A fixed text of a value near the double range needs over 300 digits.
  char buffer[400];
  std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return general_text(value, 6);
  return std::string(buffer, r.ptr);
}

double float_in_units(float value, double factor) {
  float scaled = static_cast<float>(static_cast<double>(value) * factor);
  if (!std::isfinite(scaled)) return static_cast<double>(scaled);
  std::string text = shortest_text(scaled);
  double result = 0;
  std::from_chars(text.data(), text.data() + text.size(), result);
  return result;
}

bool parse_double(const char* text, double* value) {
  std::size_t n = std::strlen(text);
  if (n == 0) return false;
  const char* first = text;
  // from_chars takes no leading plus sign; a user may well type one.
  if (*first == '+') ++first;
  std::from_chars_result r = std::from_chars(first, text + n, *value);
  return r.ec == std::errc() && r.ptr == text + n;
}

}  // namespace harnix
