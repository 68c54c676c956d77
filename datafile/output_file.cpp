#include "datafile/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/platform.h"

namespace harnix {

namespace {

std::string failure(const OutputFile& out, int error) {
  return "cannot write \"" + out.name + "\": " + std::strerror(error);
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
  if (::stat(name, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
    *message = failure(*out, EISDIR);
    return false;
  }
  out->stream = create_temporary_file(out->name, &out->temp_name);
  if (out->stream == nullptr) {
    *message = failure(*out, errno);
    return false;
  }
  return true;
}

bool output_commit(OutputFile* out, std::string* message) {
  errno = 0;
  int error = 0;
  if (std::fflush(out->stream) != 0 || std::ferror(out->stream)) error = errno ? errno : EIO;
  if (error == 0 && !sync_file(out->stream)) error = errno;
  const int closed = std::fclose(out->stream);
  out->stream = nullptr;
  if (error == 0 && closed != 0) error = errno;
  if (error == 0 && !replace_file(out->temp_name.c_str(), out->name.c_str())) error = errno;
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
