// The Windows side of base/platform.h. Windows names files in UTF-16: every name is converted
// from UTF-8 and handed to the wide-character calls, and the arguments are read from the UTF-16
// command line. <windows.h> stays in this file: its macros (NO_ERROR among them) would clash with
// the program's own names.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/interrupt_cleanup.h"
#include "base/platform.h"

// The C runtime's own parser of the UTF-16 command line, the one a wmain program's start-up
// calls (asked here not to expand wildcards: the program does that itself, in one order).
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment,
                              int expand_wildcards, int* new_mode);

namespace harnix {

namespace {

// The UTF-16 form of a UTF-8 name; false when the name is not valid UTF-8.
bool to_wide(const char* text, std::wstring* out) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (units <= 0) return false;
  out->assign(std::size_t(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out->data(), units) != units)
    return false;
  out->pop_back();  // the terminator, counted in `units`
  return true;
}

// The UTF-8 form of a UTF-16 argument. An unpaired surrogate, which no UTF-8 name can carry,
// becomes U+FFFD, so that the argument names no file rather than another one.
std::string to_utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(std::size_t(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();
  return out;
}

// A handle for examining `name` without reading it. No access is asked for, so a file that
// another program holds open is examined too; directories open only with backup semantics.
HANDLE open_for_query(const char* name) {
  std::wstring wide;
  if (!to_wide(name, &wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The file information of `name`; false when it cannot be opened or is not on a disk (a device
// such as NUL or CON).
bool query_file(const char* name, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE handle = open_for_query(name);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known =
      GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, info) != 0;
  CloseHandle(handle);
  return known;
}

// Appends the names `argument` stands for: when its last part holds a wildcard (* or ?), the
// names of the files and folders it matches ("." and ".." apart) under the argument's folder
// part, in the order of their characters' code points (as LC_ALL=C sorts them, and as UTF-8
// bytes compare), so that one set of files is taken in one order on every system; otherwise, or
// when nothing matches, the argument itself.
void expand_argument(const wchar_t* argument, std::vector<std::string>* out) {
  const std::wstring text = argument;
  const std::size_t folder_end = text.find_last_of(L"\\/:") + 1;  // 0 without a folder part
  if (text.find_first_of(L"*?", folder_end) == std::wstring::npos) {
    out->push_back(to_utf8(argument));
    return;
  }
  std::vector<std::string> matches;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(argument, &found);
  if (search != INVALID_HANDLE_VALUE) {
    const std::string folder = to_utf8(text.substr(0, folder_end).c_str());
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") matches.push_back(folder + to_utf8(name.c_str()));
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
  }
  if (matches.empty()) {
    out->push_back(to_utf8(argument));
    return;
  }
  std::sort(matches.begin(), matches.end());  // bytes compared as unsigned char
  out->insert(out->end(), matches.begin(), matches.end());
}

UINT saved_console_code_page = 0;

void delete_name(const char* name) {
  wchar_t wide[CLEANUP_NAME_BYTES + 1];
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, int(CLEANUP_NAME_BYTES + 1)) > 0)
    DeleteFileW(wide);
}

// The runtime calls this on a thread of its own for Ctrl+C, with the signal's default restored.
void end_interrupted(int signal_number) {
  for_each_remembered(delete_name);
  if (const char* text = cleanup_text()) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, DWORD(std::strlen(text)), &written, nullptr);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void restore_console_code_page() {
  SetConsoleOutputCP(saved_console_code_page);
}

}  // namespace

ProgramArguments::ProgramArguments(int argc, char** argv) {
  int wide_count = 0;
  int new_mode = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  if (__wgetmainargs(&wide_count, &wide, &environment, 0, &new_mode) == 0 && wide != nullptr) {
    if (wide_count > 0) text_.push_back(to_utf8(wide[0]));  // the program, never expanded
    for (int i = 1; i < wide_count; ++i) expand_argument(wide[i], &text_);
  } else {
    text_.assign(argv, argv + argc);  // only when the runtime is out of memory
  }
  for (std::string& argument : text_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

void prepare_process() {
  // Messages carry file names in UTF-8; a console shows them right only in that code page. The
  // code page belongs to the console, not the process, so the user's is put back at exit.
  const UINT code_page = GetConsoleOutputCP();  // 0 without a console
  if (code_page != 0 && code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    saved_console_code_page = code_page;
    std::atexit(restore_console_code_page);
  }
  for (const int signal_number : {SIGINT, SIGTERM}) {
    if (std::signal(signal_number, end_interrupted) == SIG_IGN)
      std::signal(signal_number, SIG_IGN);
  }
}

void set_interrupt_text(const char* text) {
  set_cleanup_text(text);
}

std::FILE* open_file_utf8(const char* name, const char* mode) {
  std::wstring wide_name, wide_mode;
  if (!to_wide(name, &wide_name) || !to_wide(mode, &wide_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  return _wfopen(wide_name.c_str(), wide_mode.c_str());
}

std::FILE* open_file_in_place_utf8(const char*) {
  errno = ENOSYS;
  return nullptr;
}

bool cut_file_at_position(std::FILE*) {
  errno = ENOSYS;
  return false;
}

std::FILE* create_temporary_file(const std::string& name, std::string* temp_name) {
  // _O_EXCL makes each try a new file; the process number and a counter make the names unique.
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = name + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(attempt);
    std::wstring wide;
    if (!to_wide(candidate.c_str(), &wide)) {
      errno = EINVAL;
      return nullptr;
    }
    const int fd =
        _wopen(wide.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
      const int error = errno;
      _close(fd);
      _wremove(wide.c_str());
      errno = error;
      return nullptr;
    }
    *temp_name = candidate;
    (void)remember_for_cleanup(candidate.c_str());
    return stream;
  }
  errno = EEXIST;
  return nullptr;
}

void forget_temporary_file(const std::string& temp_name) {
  forget_for_cleanup(temp_name.c_str());
}

// Symbolic links are rare on Windows and are not followed: the name is its own target.
bool resolve_output_name(const char* name, std::string* target, OutputTarget* kind) {
  *target = name;
  std::wstring wide;
  // The name's own attributes: those of a symbolic link (a reparse point), not of its target.
  const DWORD own =
      to_wide(name, &wide) ? GetFileAttributesW(wide.c_str()) : INVALID_FILE_ATTRIBUTES;
  const bool link = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const HANDLE handle = open_for_query(name);
  if (handle == INVALID_HANDLE_VALUE) {
    // A link to nothing would be replaced by the file written: refused, the link left as it is.
    if (link) {
      errno = ENOENT;
      return false;
    }
    // Nothing there, or nothing this process may examine: writing it tells which.
    *kind = OutputTarget::MISSING;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(handle) != FILE_TYPE_DISK)
    *kind = OutputTarget::OTHER;  // NUL, CON, a pipe
  else if (GetFileInformationByHandle(handle, &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    *kind = OutputTarget::DIRECTORY;
  else
    *kind = OutputTarget::REGULAR;
  bool known = true;
  if (link && *kind == OutputTarget::REGULAR) {
    // The file the links lead to is replaced in its own folder, and the links stay links.
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    if (length >= path.size()) {
      path.assign(length + 1, L'\0');
      length = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    }
    known = length > 0 && length < path.size();
    if (known) {
      path.resize(length);
      // "\\?\C:\..." and "\\?\UNC\server\..." as the names the user would write.
      if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        path = L"\\\\" + path.substr(8);
      else if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() > 6 && path[5] == L':')
        path = path.substr(4);
      *target = to_utf8(path.c_str());
    } else {
      errno = EACCES;
    }
  }
  CloseHandle(handle);
  return known;
}

bool sync_file(std::FILE* stream) {
  return _commit(_fileno(stream)) == 0;
}

bool replace_file(const char* from, const char* to) {
  std::wstring wide_from, wide_to;
  if (!to_wide(from, &wide_from) || !to_wide(to, &wide_to)) {
    errno = EINVAL;
    return false;
  }
  if (MoveFileExW(wide_from.c_str(), wide_to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  errno = EACCES;
  return false;
}

namespace {

void status_of(const BY_HANDLE_FILE_INFORMATION& info, FileStatus* out) {
  out->identity = FileIdentity{info.dwVolumeSerialNumber,
                               uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  out->size = int64_t(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  out->modified = int64_t(uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 |
                          info.ftLastWriteTime.dwLowDateTime);
}

}  // namespace

bool file_status(const char* name, FileStatus* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!query_file(name, &info)) return false;
  status_of(info, out);
  return true;
}

bool open_file_status(std::FILE* stream, FileStatus* out, bool* regular) {
  const int fd = _fileno(stream);
  if (fd < 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(handle, &info) == 0)
    return false;
  status_of(info, out);
  *regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return true;
}

bool is_regular_file_utf8(const char* name) {
  BY_HANDLE_FILE_INFORMATION info;
  return query_file(name, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t bytes_left(std::FILE* stream) {
  const int64_t position = _ftelli64(stream);
  if (position < 0) return -1;
  struct _stat64 status;
  if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return -1;
  return status.st_size > position ? status.st_size - position : 0;
}

bool seek_forward(std::FILE* stream, int64_t bytes) {
  return _fseeki64(stream, bytes, SEEK_CUR) == 0;
}

int32_t usable_processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int32_t n = 0;
    for (; process != 0; process &= process - 1) ++n;
    return n;
  }
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}

// Windows reads ahead of a file read whole by itself.
void advise_will_read(const char*) {}

void advise_large_pages(void*, std::size_t) {}

uint64_t physical_memory_bytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

uint64_t process_memory_limit_bytes() {
  // The user part of the address space, and what a job the process runs in allows it (the
  // counterpart of `ulimit -v`).
  uint64_t limit = UINT64_MAX;
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status)) limit = status.ullTotalVirtual;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
  if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                nullptr)) {
    const DWORD flags = job.BasicLimitInformation.LimitFlags;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY)
      limit = std::min<uint64_t>(limit, job.ProcessMemoryLimit);
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) limit = std::min<uint64_t>(limit, job.JobMemoryLimit);
  }
  return limit;
}

bool local_time(std::time_t t, std::tm* out) {
  return localtime_s(out, &t) == 0;
}

bool utc_time(std::time_t t, std::tm* out) {
  return gmtime_s(out, &t) == 0;
}

void modified_since_1970(const FileStatus& status, int64_t* seconds, int32_t* nanoseconds) {
  // FILETIME counts 100-nanosecond steps from 1601-01-01 UTC.
  constexpr int64_t STEPS_PER_SECOND = 10000000;
  constexpr int64_t STEPS_1601_TO_1970 = 116444736000000000;
  const int64_t steps = status.modified - STEPS_1601_TO_1970;
  int64_t s = steps / STEPS_PER_SECOND;
  int64_t rest = steps % STEPS_PER_SECOND;
  if (rest < 0) {
    rest += STEPS_PER_SECOND;
    --s;
  }
  *seconds = s;
  *nanoseconds = int32_t(rest * 100);
}

}  // namespace harnix
