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
#include <cstdlib>
#include <string>

#include "base/platform.h"

// The C runtime's own parser of the UTF-16 command line, the one a wmain program's start-up
// calls; with `expand_wildcards` it replaces a file-name pattern by the names it matches (and
// leaves a pattern that matches nothing as it is), as the shell does on POSIX systems.
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

UINT saved_console_code_page = 0;

void restore_console_code_page() {
  SetConsoleOutputCP(saved_console_code_page);
}

}  // namespace

ProgramArguments::ProgramArguments(int argc, char** argv) {
  int wide_count = 0;
  int new_mode = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  if (__wgetmainargs(&wide_count, &wide, &environment, 1, &new_mode) == 0 && wide != nullptr) {
    for (int i = 0; i < wide_count; ++i) text_.push_back(to_utf8(wide[i]));
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
    return stream;
  }
  errno = EEXIST;
  return nullptr;
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

bool file_status(const char* name, FileStatus* out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!query_file(name, &info)) return false;
  out->identity = FileIdentity{info.dwVolumeSerialNumber,
                               uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  out->size = int64_t(uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  out->modified = int64_t(uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 |
                          info.ftLastWriteTime.dwLowDateTime);
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

}  // namespace harnix
