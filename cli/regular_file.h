// The test every input name must pass before the averaging run starts.
#ifndef HARNIX_CLI_REGULAR_FILE_H_
#define HARNIX_CLI_REGULAR_FILE_H_

namespace harnix {

// True when `name` is an existing regular file (symbolic links followed). False when it does not
// exist, cannot be examined, or is a directory or any other kind of object. A name that starts with
// the UTF-16 mark is examined under its UTF-8 form (datafile/file_name.h); one that cannot be
// converted is not a regular file.
bool is_regular_file(const char* name);

}  // namespace harnix

#endif  // HARNIX_CLI_REGULAR_FILE_H_
