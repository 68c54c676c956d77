// The files a run writes, told apart before any of them is created: two outputs naming one file
// would leave only the last written, and an output that is the list file would replace it.
#ifndef HARNIX_CLI_OUTPUT_NAMES_H_
#define HARNIX_CLI_OUTPUT_NAMES_H_

#include "averaging/settings.h"

namespace harnix {

// True when `a` and `b` name one file: the same identity when both exist (any spelling, a hard or
// symbolic link), else when neither exists the same last part in the same folder.
bool name_one_file(const char* a, const char* b);

// True when every file the run writes (the outputs of the table, the per-input report and
// `extra`, a null-terminated list of further names that may be empty) is apart from every other
// and from `list_file` (nullptr: none). Otherwise prints the error naming them and returns false.
bool outputs_apart(const RunSettings& settings, const char* list_file,
                   const char* const* extra = nullptr);

}  // namespace harnix

#endif  // HARNIX_CLI_OUTPUT_NAMES_H_
