// Times the C++ reader on one file, for the Python module's benchmark: reads FILE ROUNDS times
// (the phase and intensity maps, as harnix.read does) and prints the median seconds of a read.
//   harnix-read-file FILE ROUNDS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "datafile/data_file.h"
#include "maps/storage.h"

int main(int argc, char** argv) {
  using namespace harnix;
  if (argc != 3) {
    std::fprintf(stderr, "usage: harnix-read-file FILE ROUNDS\n");
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[2]));
  std::vector<double> seconds;
  for (int r = 0; r < rounds; ++r) {
    OriginInfo origin{};
    DataAttributes attributes{};
    IntensityMap intensity;
    PhaseMap phase;
    map_init(intensity);
    map_init(phase);
    const auto start = std::chrono::steady_clock::now();
    const ErrorCode rc = read_data_file(argv[1], &origin, &attributes, &intensity, &phase);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    map_free(intensity);
    map_free(phase);
    if (rc != NO_ERROR) {
      std::fprintf(stderr, "harnix-read-file: %s: %s\n", argv[1], error_name(rc));
      return 1;
    }
  }
  std::nth_element(seconds.begin(), seconds.begin() + rounds / 2, seconds.end());
  std::printf("%.9f\n", seconds[std::size_t(rounds / 2)]);
  return 0;
}
