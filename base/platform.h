// What differs between the systems the program runs on, in one place: how the program receives
// its arguments, how files are named, opened and told apart, how much memory the machine has and
// how local time is found. Everything above this layer names files in UTF-8 (or, on POSIX
// systems, in whatever bytes the file system uses) and calls these functions.
//
// POSIX systems take names as bytes and these functions are the C and POSIX calls themselves.
// Windows names files in UTF-16: names are converted from UTF-8 and opened with the wide-character
// calls, and the command line is read in UTF-16.
#ifndef HARNIX_BASE_PLATFORM_H_
#define HARNIX_BASE_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace harnix {

// The program's arguments, argv-style. POSIX: argv as given. Windows: argv is ignored and the
// arguments are read from the UTF-16 command line, converted to UTF-8, and an argument whose last
// part holds * or ? is replaced by the names it matches, sorted by their characters' code points
// (the pattern itself stays when nothing matches).
class ProgramArguments {
 public:
  ProgramArguments(int argc, char** argv);
  ProgramArguments(const ProgramArguments&) = delete;
  ProgramArguments& operator=(const ProgramArguments&) = delete;

  int count() const { return static_cast<int>(text_.size()); }
  // count() strings followed by a null pointer; valid while the object lives.
  char** values() { return pointers_.data(); }

 private:
  std::vector<std::string> text_;
  std::vector<char*> pointers_;
};

// Made once when the process starts. Where the file-size-limit signal exists it is ignored, so
// that an output meeting the limit fails its write instead of ending the program. On Windows the
// console shows the program's UTF-8 text (its code page is put back when the program ends).
// SIGINT, SIGTERM and SIGHUP (those the system has, and not ignored when the process started)
// end the process tidily: every file of create_temporary_file not yet forgotten is removed, the
// interrupt text is written to the standard error stream, and the process ends as that signal
// would have ended it.
void prepare_process();

// The text an interrupted process writes to the standard error stream before it ends (such as
// the escape codes that erase a progress line); nullptr: none. `text` must outlive its use.
void set_interrupt_text(const char* text);

// std::fopen of a file named in UTF-8. On Windows the name is converted to UTF-16 and opened with
// the wide-character call; nullptr (errno EINVAL) when it is not valid UTF-8. Data files must be
// opened with a "b" mode: Windows would translate their line-end and end-of-file bytes otherwise.
std::FILE* open_file_utf8(const char* name, const char* mode);

// Opens the existing regular file `name` (UTF-8) for binary writing from its start without
// emptying it, for a writer that cuts it afterwards with cut_file_at_position: ext4 hands the
// blocks of a file emptied and written again to the disk when it is closed, and of a file written
// over in place only when it would anyway. nullptr (errno set) when `name` is not an existing
// regular file or cannot be opened so, and always on Windows, which has no such flush to spare.
std::FILE* open_file_in_place_utf8(const char* name);

// Cuts the file of `stream` (from open_file_in_place_utf8) where its descriptor stands: after the
// bytes written to it, without those still in the stream's buffer. False with errno set on
// failure.
bool cut_file_at_position(std::FILE* stream);

// What tells two names of one file apart from names of two files: the device and inode on POSIX
// systems, the volume serial number and file index on Windows.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What tells whether a file changed between two looks at it: its identity, size and time of last
// modification (nanoseconds on POSIX systems, 100-nanosecond steps on Windows).
struct FileStatus {
  FileIdentity identity;
  int64_t size = 0;
  int64_t modified = 0;
};

// The modification time of `status` as whole seconds since 1970-01-01 00:00 UTC (below 0 before
// it) and the nanoseconds past them.
void modified_since_1970(const FileStatus& status, int64_t* seconds, int32_t* nanoseconds);

// The status of the existing file `name` (UTF-8; symbolic links followed). False, leaving *status
// alone, when there is no such file or it cannot be examined.
bool file_status(const char* name, FileStatus* status);

// The status of the file open as `stream` (the file the stream reads, whatever has since
// become of its name), and in *regular whether it is a regular file. False, leaving both alone,
// when it cannot be examined (a memory stream; on Windows, anything but a file on a disk).
bool open_file_status(std::FILE* stream, FileStatus* status, bool* regular);

// Creates and opens for binary writing a new file named `name` followed by ".tmp-" and a unique
// suffix, with the permissions any new file of the process would get; its name in *temp_name.
// nullptr with errno set when no such file can be created. The name is remembered until
// forget_temporary_file, for an interrupted process to remove (a few at a time, of any length
// up to 4095 bytes; others are not remembered).
std::FILE* create_temporary_file(const std::string& name, std::string* temp_name);

// Stops remembering `temp_name` (from create_temporary_file), once it is renamed or removed.
void forget_temporary_file(const std::string& temp_name);

// What an output name leads to, symbolic links followed.
enum class OutputTarget {
  MISSING,    // nothing yet: created (under the name the links lead to)
  REGULAR,    // a regular file: replaced in its own folder
  DIRECTORY,  // never written
  OTHER,      // a device, a pipe, a socket: written in place, never replaced
};

// Examines `name` (UTF-8): its kind in *kind and in *target the name a file put in its place must
// take: `name` itself, or when `name` is a symbolic link the name its chain of links ends at, in
// the folder of the last link (so that replacing it leaves the links as they were; on Windows,
// the full name of the file the links lead to). False with errno set when it cannot be examined
// (a loop of links, a folder that cannot be searched; on Windows, a link to nothing).
bool resolve_output_name(const char* name, std::string* target, OutputTarget* kind);

// Hands the written data of `stream` to the storage device; false with errno set on failure.
bool sync_file(std::FILE* stream);

// Renames `from` to `to` (UTF-8), replacing an existing `to`; false with errno set on failure.
bool replace_file(const char* from, const char* to);

// True when `name` (UTF-8) is an existing regular file, symbolic links followed; false for a
// directory, a device or anything that cannot be examined.
bool is_regular_file_utf8(const char* name);

// Bytes left in `stream` after its position: the file's size less the position when the stream
// is a regular file, measured by seeking to the end and back when it has no descriptor (a memory
// stream); -1 when it cannot tell (a pipe, a device).
int64_t bytes_left(std::FILE* stream);

// Moves `stream` forward by `bytes` (which may exceed 2 GiB); false when it cannot seek.
bool seek_forward(std::FILE* stream, int64_t bytes);

// Processors the process may run on at the same time: those of its affinity mask, or the
// machine's when the mask cannot be read; at least 1.
int32_t usable_processors();

// Tells the system that the regular file `name` (UTF-8) will be read whole soon, so that it can
// start reading it from the disk; nothing where there is no such advice, or the file cannot be
// opened without waiting (a pipe, a device: only regular files are opened).
void advise_will_read(const char* name);

// Asks the system to back the whole large pages (2 MiB) inside [block, block + bytes) with large
// pages: a sweep over a map of several megabytes then needs far fewer address translations.
// Only a hint: nothing happens where the system has no such pages or declines.
void advise_large_pages(void* block, std::size_t bytes);

// The machine's physical memory in bytes; 0 when the system tells nothing.
uint64_t physical_memory_bytes();

// The most memory the process may hold (address-space and data-size limits); UINT64_MAX when
// nothing limits it below the machine's memory.
uint64_t process_memory_limit_bytes();

// The broken-down local time of `t` in *out; false when the system has none (a time before 1970
// on Windows, for one).
bool local_time(std::time_t t, std::tm* out);

// The broken-down UTC time of `t` in *out; false as local_time.
bool utc_time(std::time_t t, std::tm* out);

}  // namespace harnix

#endif  // HARNIX_BASE_PLATFORM_H_
