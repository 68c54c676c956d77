#include "base/error_codes.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

namespace harnix {

namespace {

TEST(ErrorName, NamedCodesAndOutsideTheTable) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {NO_ERROR, "NO_ERROR"},
      {ERR_ALL_BAD_DATA, "ERR_ALL_BAD_DATA"},
      {ERR_CANT_CREATE_FILE, "ERR_CANT_CREATE_FILE"},
      {ERR_CANT_OPEN_FILE, "ERR_CANT_OPEN_FILE"},
      {ERR_CANT_WRITE_FILE, "ERR_CANT_WRITE_FILE"},
      {ERR_CORRUPT_DATA_FILE, "ERR_CORRUPT_DATA_FILE"},
      {ERR_DATASET_DIM_TOO_LARGE, "ERR_DATASET_DIM_TOO_LARGE"},
      {ERR_FP_OVERFLOW, "ERR_FP_OVERFLOW"},
      {ERR_IMPROPER_WINDOW, "ERR_IMPROPER_WINDOW"},
      {ERR_INVALID_PARAM, "ERR_INVALID_PARAM"},
      {ERR_NO_MEM, "ERR_NO_MEM"},
      {ERR_NO_UNIQUE_SOLUTION, "ERR_NO_UNIQUE_SOLUTION"},
      {ERR_NOT_A_DATA_FILE, "ERR_NOT_A_DATA_FILE"},
      {ERR_PARAM_OUT_OF_RANGE, "ERR_PARAM_OUT_OF_RANGE"},
      {ERR_PREMATURE_EOF, "ERR_PREMATURE_EOF"},
      {ERR_WINDOWS_DISJOINT, "ERR_WINDOWS_DISJOINT"},
      {ERR_WINDOWS_MISMATCHED, "ERR_WINDOWS_MISMATCHED"},
      {27, "ERR_ALL_BAD_DATA"},
      {462, "ERR_ZOOM_POSITION_UNKNOWN"},
      {463, "invalid error number 463"},
      {-1, "invalid error number -1"},
      {INT32_MIN, "invalid error number -2147483648"},
      {INT32_MAX, "invalid error number 2147483647"},
  };
  for (const auto& [code, name] : cases) EXPECT_EQ(name, error_name(code)) << code;
}

bool well_formed(const std::string& name) {
  if (name.rfind("ERR_", 0) != 0 || name.size() == 4 || name.back() == '_') return false;
  for (std::size_t i = 4; i < name.size(); ++i) {
    char c = name[i];
    if (c == '_' ? name[i - 1] == '_'
                 : !(std::isupper(static_cast<unsigned char>(c)) ||
                     std::isdigit(static_cast<unsigned char>(c)))) {
      return false;
    }
  }
  return true;
}

TEST(ErrorName, EveryCodeHasItsOwnWellFormedName) {
  std::set<std::string> seen;
  for (int32_t code = 1; code <= MAX_ERROR_CODE; ++code) {
    std::string name = error_name(code);
    EXPECT_TRUE(well_formed(name)) << code << " " << name;
    EXPECT_TRUE(seen.insert(name).second) << code << " repeats " << name;
  }
  EXPECT_EQ(462u, seen.size());
}

}  // namespace

}  // namespace harnix
