// Replays fuzz inputs through a fuzz target without the fuzzing engine, so that the committed
// corpus and the crash regressions run as ordinary tests in every build.
//
//   harnix_fuzz_<target>_replay FILE_OR_DIRECTORY...
// Each file, and each regular file in a directory (in name order), is handed to the target once.
// Exit status 0 when every input ran (a failing input aborts); 1 when an argument cannot be read
// or nothing was replayed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace harnix {

namespace {

bool replay_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

}  // namespace harnix

int main(int argc, char** argv) {
  using namespace harnix;
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (std::filesystem::is_directory(argv[i], ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const auto& f : files) {
      if (!replay_file(f)) {
        std::fprintf(stderr, "cannot read %s\n", f.string().c_str());
        return 1;
      }
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed > 0 ? 0 : 1;
}
