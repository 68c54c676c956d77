#include "datafile/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace harnix {

namespace {

std::string failure(const OutputFile& out, int error) {
  return "cannot write \"" + out.name + "\": " + std::strerror(error);
}

// mkstemp creates the file readable by its owner only; an output gets the permissions any new
// file would get under the process umask.
void give_default_permissions(int fd) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
}

}  // namespace

bool output_open(const char* name, OutputFile* out, std::string* message) {
  out->name = name;
  out->temp_name.clear();
  out->stream = nullptr;
  if (*name == '\0') {
    *message = "the output name is empty";
    return false;
  }
  struct stat st;
  if (::stat(name, &st) == 0 && S_ISDIR(st.st_mode)) {
    *message = failure(*out, EISDIR);
    return false;
  }
  std::string pattern = out->name + ".tmp-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkstemp(buffer.data());
  if (fd < 0) {
    *message = failure(*out, errno);
    return false;
  }
  out->temp_name = buffer.data();
  give_default_permissions(fd);
  out->stream = ::fdopen(fd, "wb");
  if (out->stream == nullptr) {
    const int error = errno;
    ::close(fd);
    output_discard(out);
    *message = failure(*out, error);
    return false;
  }
  return true;
}

bool output_commit(OutputFile* out, std::string* message) {
  errno = 0;
  int error = 0;
  if (std::fflush(out->stream) != 0 || std::ferror(out->stream)) error = errno ? errno : EIO;
  if (error == 0 && ::fsync(::fileno(out->stream)) != 0) error = errno;
  const int closed = std::fclose(out->stream);
  out->stream = nullptr;
  if (error == 0 && closed != 0) error = errno;
  if (error == 0 && std::rename(out->temp_name.c_str(), out->name.c_str()) != 0) error = errno;
  if (error != 0) {
    output_discard(out);
    *message = failure(*out, error);
    return false;
  }
  out->temp_name.clear();
  return true;
}

void output_discard(OutputFile* out) {
  if (out->stream != nullptr) {
    std::fclose(out->stream);
    out->stream = nullptr;
  }
  if (!out->temp_name.empty()) {
    std::remove(out->temp_name.c_str());
    out->temp_name.clear();
  }
}

}  // namespace harnix
