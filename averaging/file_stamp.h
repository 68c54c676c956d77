// What identifies a file between the passes of a run: its identity, size and modification time.
#ifndef HARNIX_AVERAGING_FILE_STAMP_H_
#define HARNIX_AVERAGING_FILE_STAMP_H_

#include "base/platform.h"

namespace harnix {

using FileStamp = FileStatus;

// The stamp of the file `name` (a UTF-16 name through its UTF-8 form, symbolic links followed);
// false when it cannot be examined.
bool file_stamp(const char* name, FileStamp* stamp);

// The same file: same identity.
bool same_file(const FileStamp& a, const FileStamp& b);

// The same file, unchanged: same identity, size and modification time.
bool same_contents_stamp(const FileStamp& a, const FileStamp& b);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_FILE_STAMP_H_
