// Error codes shared by every library operation, and their names for the operator.
//
// Every operation of the maps, data-file and fitting libraries returns an ErrorCode: 0 for
// success, otherwise one of the codes 1..462. Only the command-line tool turns a code into text.
// The codes not listed here belong to the instrument-support library; their numbers are reserved
// and have names in the table behind error_name(), but no operation of this program returns them.
#ifndef HARNIX_BASE_ERROR_CODES_H_
#define HARNIX_BASE_ERROR_CODES_H_

#include <cstdint>

namespace harnix {

enum ErrorCode : int32_t {
  NO_ERROR = 0,
  ERR_ALL_BAD_DATA = 27,            // a map holds no valid value where one is needed
  ERR_CANT_CREATE_FILE = 116,       // a data file cannot be created for writing
  ERR_CANT_OPEN_FILE = 120,         // a data file cannot be opened for reading
  ERR_CANT_WRITE_FILE = 125,        // positioning in or writing to a data file failed
  ERR_CORRUPT_DATA_FILE = 134,      // a data file ends inside (or overruns) its map data
  ERR_DATASET_DIM_TOO_LARGE = 142,  // a map dimension in a data file is too large
  ERR_FP_OVERFLOW = 170,            // a sum, product or square leaves the finite range
  ERR_IMPROPER_WINDOW = 231,        // a window does not lie where it must
  ERR_INVALID_PARAM = 242,          // an argument or attribute has an impossible value
  ERR_NO_MEM = 320,                 // memory for a map or a buffer cannot be obtained
  ERR_NO_UNIQUE_SOLUTION = 326,     // the equations of a surface fit are singular
  ERR_NOT_A_DATA_FILE = 328,        // a file does not begin with a known magic number
  ERR_PARAM_OUT_OF_RANGE = 333,     // a value is outside its allowed range
  ERR_PREMATURE_EOF = 353,          // a data file ends inside its header
  ERR_WINDOWS_DISJOINT = 445,       // two maps' windows do not overlap
  ERR_WINDOWS_MISMATCHED = 446,     // two maps' windows differ where they must be equal
};

// Highest code that has a name; the name table holds ERROR_CODE_COUNT entries (0..462).
constexpr int32_t MAX_ERROR_CODE = 462;
constexpr int32_t ERROR_CODE_COUNT = MAX_ERROR_CODE + 1;

// Returns the name of `code`: "NO_ERROR" for 0, the table's name for 1..462, and
// "invalid error number %d" formatted with the code for anything else. The text lives in one
// process-wide buffer of 512 bytes that the next call overwrites: print it at once.
const char* error_name(int32_t code);

}  // namespace harnix

#endif  // HARNIX_BASE_ERROR_CODES_H_
