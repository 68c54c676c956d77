// Outputs that appear whole or not at all.
//
// Everything is written to a temporary file beside the output (same directory, so the final
// rename cannot cross file systems) and renamed over the output name only after every byte has
// been written, flushed and synchronised. An output name never holds a half-written file, and an
// existing output survives a failed run unchanged. Only a missing name or a regular file is
// replaced so: an output named by a symbolic link replaces the file the link leads to, in that
// file's folder, and leaves the link; a device, pipe or socket is written in place (its own
// write errors failing the output), never replaced.
#ifndef HARNIX_DATAFILE_OUTPUT_FILE_H_
#define HARNIX_DATAFILE_OUTPUT_FILE_H_

#include <cstdio>
#include <string>

namespace harnix {

struct OutputFile {
  std::string name;       // the output name as given
  std::string target;     // the name replaced: `name`, or where its symbolic links lead
  std::string temp_name;  // the temporary file being written; empty when written in place
  std::FILE* stream;      // open on temp_name in binary mode, nullptr when closed
};

// Creates the temporary file for `name` (or opens a device or pipe). On failure returns false
// with `*message` set (for example "cannot write \"out/a.png\": No such file or directory", or
// "Is a directory") and nothing created.
bool output_open(const char* name, OutputFile* out, std::string* message);

// Flushes, synchronises (unless `sync` is false) and closes the stream, then renames the
// temporary file to the target (written in place: flushes and closes). On failure removes the
// temporary file and returns false with `*message` set.
bool output_commit(OutputFile* out, std::string* message, bool sync = true);

// Closes the stream and removes the temporary file; safe after a failed open or commit.
void output_discard(OutputFile* out);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_OUTPUT_FILE_H_
