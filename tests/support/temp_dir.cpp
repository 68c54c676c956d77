#include "support/temp_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace harnix {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "harnix-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::filesystem::path target = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

void TempDir::make_dir(const std::string& name) const {
  std::filesystem::create_directories(std::filesystem::path(path_) / name);
}

}  // namespace harnix
