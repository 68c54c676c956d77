#include "datafile/output_file.h"

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
  out->target.clear();
  out->stream = nullptr;
  if (*name == '\0') {
    *message = "the output name is empty";
    return false;
  }
  OutputTarget kind;
  if (!resolve_output_name(name, &out->target, &kind)) {
    *message = failure(*out, errno);
    return false;
  }
  if (kind == OutputTarget::DIRECTORY) {
    *message = failure(*out, EISDIR);
    return false;
  }
  // A device or a pipe cannot be replaced by a file: it takes the bytes itself, and its own
  // errors (a full device) are the output's.
  out->stream = kind == OutputTarget::OTHER ? open_file_utf8(name, "wb")
                                            : create_temporary_file(out->target, &out->temp_name);
  if (out->stream == nullptr) {
    *message = failure(*out, errno);
    return false;
  }
  return true;
}

bool output_commit(OutputFile* out, std::string* message, bool sync) {
  const bool in_place = out->temp_name.empty();
  errno = 0;
  int error = 0;
  if (std::fflush(out->stream) != 0 || std::ferror(out->stream)) error = errno ? errno : EIO;
  if (error == 0 && !in_place && sync && !sync_file(out->stream)) error = errno;
  const int closed = std::fclose(out->stream);
  out->stream = nullptr;
  if (error == 0 && closed != 0) error = errno;
  if (error == 0 && !in_place && !replace_file(out->temp_name.c_str(), out->target.c_str()))
    error = errno;
  if (error != 0) {
    output_discard(out);
    *message = failure(*out, error);
    return false;
  }
  if (!in_place) forget_temporary_file(out->temp_name);
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
    forget_temporary_file(out->temp_name);
    out->temp_name.clear();
  }
}

}  // namespace harnix
