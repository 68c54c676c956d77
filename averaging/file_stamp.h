// What identifies a file between the passes of a run: its identity, size and modification time.
#ifndef HARNIX_AVERAGING_FILE_STAMP_H_
#define HARNIX_AVERAGING_FILE_STAMP_H_

#include "base/platform.h"
#include "datafile/data_file.h"

namespace harnix {

using FileStamp = FileStatus;

// The stamp of the file `name` (a UTF-16 name through its UTF-8 form, symbolic links followed);
// false when it cannot be examined.
bool file_stamp(const char* name, FileStamp* stamp);

// The same file: same identity.
bool same_file(const FileStamp& a, const FileStamp& b);

// The same file, unchanged: same identity, size and modification time.
bool same_contents_stamp(const FileStamp& a, const FileStamp& b);

// Whether one read (its `stamps`) saw the file steady: the same stamp before and after it. A
// pipe or a device, which changes as it is read, and a file that could not be opened count as
// steady here (the read itself tells what failed).
bool read_was_steady(const ReadStamps& stamps);

// Whether a read of `name` (its `stamps`) was of the very file `recorded` stamps, unchanged
// before and after it. A read that could not examine the file it opened, or open it, is judged
// by the stamp of `name` now, so that an input still there and unchanged but unreadable fails
// as unreadable.
bool read_unchanged(const char* name, const ReadStamps& stamps, const FileStamp& recorded);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_FILE_STAMP_H_
