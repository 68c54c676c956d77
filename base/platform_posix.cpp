// The POSIX side of base/platform.h: names are bytes, so every function is the plain C or POSIX
// call.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "base/interrupt_cleanup.h"
#include "base/platform.h"

namespace harnix {

namespace {

// A limit set with `ulimit -v` or `ulimit -d` makes large allocations fail however much memory
// the machine has.
uint64_t resource_limit_bytes(int resource) {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return uint64_t(limit.rlim_cur);
}

void unlink_name(const char* name) {
  (void)::unlink(name);
}

// Only async-signal-safe calls: unlink, write, sigaction, raise.
void end_interrupted(int signal_number) {
  for_each_remembered(unlink_name);
  if (const char* text = cleanup_text()) (void)!::write(STDERR_FILENO, text, std::strlen(text));
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal_number, &action, nullptr);
  // The signal is blocked while its handler runs; raised again, it ends the process on return.
  ::raise(signal_number);
}

void end_tidily_on(int signal_number) {
  struct sigaction old {};
  if (::sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = end_interrupted;
  sigemptyset(&action.sa_mask);
  // Each handler keeps the others out, so that the files are removed once.
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGHUP);
  ::sigaction(signal_number, &action, nullptr);
}

// Follows the chain of symbolic links from `name` to the first name that is not one.
bool follow_links(const char* name, std::string* target) {
  std::string current = name;
  for (int links = 0; links < 40; ++links) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0) {
      if (errno != ENOENT) return false;
      break;  // a link to nothing: the file to be made
    }
    if (!S_ISLNK(status.st_mode)) break;
    std::string link(std::size_t(status.st_size > 0 ? status.st_size : 255) + 1, '\0');
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0) return false;
    if (std::size_t(length) >= link.size()) {  // the link grew meanwhile
      errno = ELOOP;
      return false;
    }
    link.resize(std::size_t(length));
    const std::size_t slash = current.rfind('/');
    current = link.front() == '/' || slash == std::string::npos
                  ? link
                  : current.substr(0, slash + 1) + link;
  }
  struct stat status {};
  if (::lstat(current.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    errno = ELOOP;
    return false;
  }
  *target = current;
  return true;
}

}  // namespace

ProgramArguments::ProgramArguments(int argc, char** argv) : text_(argv, argv + argc) {
  for (std::string& argument : text_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

void prepare_process() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  end_tidily_on(SIGINT);
  end_tidily_on(SIGTERM);
  end_tidily_on(SIGHUP);
}

void set_interrupt_text(const char* text) {
  set_cleanup_text(text);
}

std::FILE* open_file_utf8(const char* name, const char* mode) {
  return std::fopen(name, mode);
}

std::FILE* open_file_in_place_utf8(const char* name) {
  const int fd = ::open(name, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // Anything but a regular file (a pipe, a device) is left to an ordinary open and the waits it
  // brings; O_NONBLOCK only spares opening a pipe without a reader that wait here.
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "wb");  // fdopen never empties the file
  if (stream == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return stream;
}

bool cut_file_at_position(std::FILE* stream) {
  const int fd = ::fileno(stream);
  if (fd < 0) return false;
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat status {};
  if (end < 0 || ::fstat(fd, &status) != 0) return false;
  // Nothing to cut (the usual case: the file was empty): no call a file system might refuse.
  return status.st_size <= end || ::ftruncate(fd, end) == 0;
}

namespace {

void status_of(const struct stat& status, FileStatus* out) {
  out->identity = FileIdentity{uint64_t(status.st_dev), uint64_t(status.st_ino)};
  out->size = int64_t(status.st_size);
  out->modified = int64_t(status.st_mtim.tv_sec) * 1000000000 + int64_t(status.st_mtim.tv_nsec);
}

}  // namespace

bool file_status(const char* name, FileStatus* out) {
  struct stat status {};
  if (stat(name, &status) != 0) return false;
  status_of(status, out);
  return true;
}

bool open_file_status(std::FILE* stream, FileStatus* out, bool* regular) {
  const int fd = ::fileno(stream);
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0) return false;
  status_of(status, out);
  *regular = S_ISREG(status.st_mode);
  return true;
}

std::FILE* create_temporary_file(const std::string& name, std::string* temp_name) {
  std::string pattern = name + ".tmp-XXXXXX";
  // The file is remembered for an interrupted process to remove before any signal that would end
  // the process may arrive.
  sigset_t ending, before;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  ::pthread_sigmask(SIG_BLOCK, &ending, &before);
  const int fd = ::mkstemp(pattern.data());
  const int made_error = errno;
  if (fd >= 0) (void)remember_for_cleanup(pattern.c_str());
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = made_error;
  if (fd < 0) return nullptr;
  // mkstemp makes the file readable by its owner only; an output gets the permissions any new
  // file would get under the process umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  std::FILE* stream = ::fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    ::close(fd);
    std::remove(pattern.c_str());
    forget_for_cleanup(pattern.c_str());
    errno = error;
    return nullptr;
  }
  *temp_name = pattern;
  return stream;
}

void forget_temporary_file(const std::string& temp_name) {
  forget_for_cleanup(temp_name.c_str());
}

bool resolve_output_name(const char* name, std::string* target, OutputTarget* kind) {
  struct stat status {};
  if (::stat(name, &status) == 0) {
    *kind = S_ISDIR(status.st_mode)   ? OutputTarget::DIRECTORY
            : S_ISREG(status.st_mode) ? OutputTarget::REGULAR
                                      : OutputTarget::OTHER;
    // Written in place, a device or pipe is opened through the name as given (the links of
    // a process's own descriptors under /dev/fd lead to names such as "pipe:[...]" that cannot
    // be opened).
    if (*kind != OutputTarget::REGULAR) {
      *target = name;
      return true;
    }
  } else if (errno == ENOENT) {
    *kind = OutputTarget::MISSING;
  } else {
    return false;
  }
  return follow_links(name, target);
}

bool sync_file(std::FILE* stream) {
  return ::fsync(::fileno(stream)) == 0;
}

bool replace_file(const char* from, const char* to) {
  return std::rename(from, to) == 0;
}

bool is_regular_file_utf8(const char* name) {
  struct stat status;
  return stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

int64_t bytes_left(std::FILE* stream) {
  const off_t position = ftello(stream);
  if (position < 0) return -1;
  const int fd = fileno(stream);
  if (fd >= 0) {
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return status.st_size > position ? status.st_size - position : 0;
  }
  // A stream without a descriptor (a memory stream): measure by seeking to the end and back.
  if (fseeko(stream, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(stream);
  if (fseeko(stream, position, SEEK_SET) != 0 || end < 0) return -1;
  return end > position ? end - position : 0;
}

bool seek_forward(std::FILE* stream, int64_t bytes) {
  return fseeko(stream, off_t(bytes), SEEK_CUR) == 0;
}

int32_t usable_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int32_t>(std::min<long>(online, INT32_MAX)) : 1;
}

void advise_will_read(const char* name) {
  if (!is_regular_file_utf8(name)) return;
  const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  (void)posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
  close(fd);
}

void advise_large_pages(void* block, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t LARGE = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(block);
  if (bytes > UINTPTR_MAX - first) return;
  const std::uintptr_t begin = (first + LARGE - 1) & ~(LARGE - 1);
  const std::uintptr_t end = (first + bytes) & ~(LARGE - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  if (uint64_t(pages) > UINT64_MAX / uint64_t(page_size)) return UINT64_MAX;
  return uint64_t(pages) * uint64_t(page_size);
}

uint64_t process_memory_limit_bytes() {
  return std::min(resource_limit_bytes(RLIMIT_AS), resource_limit_bytes(RLIMIT_DATA));
}

bool local_time(std::time_t t, std::tm* out) {
  return localtime_r(&t, out) != nullptr;
}

bool utc_time(std::time_t t, std::tm* out) {
  return gmtime_r(&t, out) != nullptr;
}

void modified_since_1970(const FileStatus& status, int64_t* seconds, int32_t* nanoseconds) {
  constexpr int64_t PER_SECOND = 1000000000;
  int64_t s = status.modified / PER_SECOND;
  int64_t ns = status.modified % PER_SECOND;
  if (ns < 0) {
    ns += PER_SECOND;
    --s;
  }
  *seconds = s;
  *nanoseconds = int32_t(ns);
}

}  // namespace harnix
