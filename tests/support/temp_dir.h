// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
#ifndef HARNIX_TESTS_SUPPORT_TEMP_DIR_H_
#define HARNIX_TESTS_SUPPORT_TEMP_DIR_H_

#include <filesystem>
#include <string>

namespace harnix {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // `name` relative to the directory.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Writes `content` to `name` (relative), creating missing parent directories.
  void write(const std::string& name, const std::string& content) const;
  // Creates directory `name` (relative) and its missing parents.
  void make_dir(const std::string& name) const;

  // Names are UTF-8 (on Windows too, where std::filesystem would take a narrow name in the
  // system's code page): the path of such a name, and a new name under the system's temporary
  // directory, `prefix` followed by random digits.
  static std::filesystem::path native(const std::string& utf8);
  static std::string unique_name(const std::string& prefix);

 private:
  std::string path_;
};

}  // namespace harnix

#endif  // HARNIX_TESTS_SUPPORT_TEMP_DIR_H_
