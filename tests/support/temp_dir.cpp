#include "support/temp_dir.h"

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace harnix {

namespace {

std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::filesystem::path TempDir::native(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TempDir::unique_name(const std::string& prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return utf8_of(std::filesystem::temp_directory_path() / (prefix + "-" + suffix));
}

TempDir::TempDir() {
  // create_directory is false when the name exists already: another process's directory.
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::string name = unique_name("harnix-test");
    if (std::filesystem::create_directory(native(name))) path_ = name;
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(native(path_), ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::filesystem::path target = native(path_) / native(name);
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + utf8_of(target));
}

void TempDir::make_dir(const std::string& name) const {
  std::filesystem::create_directories(native(path_) / native(name));
}

}  // namespace harnix
