// Reading and writing a 2048 x 2048 phase map file (16 MiB of values) on a warm file cache,
// against a plain memcpy of as many bytes in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 2048;

// A scratch directory holding one written file, made on first use and removed at exit.
struct Scratch {
  std::filesystem::path dir;
  std::string input;
  PhaseMap map{};
  int64_t file_bytes = 0;

  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "harnix-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
    input = (dir / "input.dat").string();
    map.window = {0, 0, SIDE, SIDE};
    if (map_alloc(map) != NO_ERROR) std::abort();
    for (uint32_t i = 0; i < map.size; ++i) map.matrix[i] = int32_t(i * 2654435761u) >> 6;
    DataAttributes attributes{};
    attributes.PhaseRes = PHASE_RES_HIGH;
    if (write_data_file(input.c_str(), nullptr, &attributes, nullptr, &map) != NO_ERROR) {
      std::abort();
    }
    file_bytes = int64_t(std::filesystem::file_size(input));
  }
  ~Scratch() {
    map_free(map);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

void BM_ReadDataFile(benchmark::State& state) {
  Scratch& s = scratch();
  for (auto _ : state) {
    PhaseMap phase{};
    DataAttributes attributes;
    if (read_data_file(s.input.c_str(), nullptr, &attributes, nullptr, &phase) != NO_ERROR) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(phase.matrix);
    map_free(phase);
  }
  state.SetBytesProcessed(state.iterations() * s.file_bytes);
}
BENCHMARK(BM_ReadDataFile)->Unit(benchmark::kMillisecond);

void BM_WriteDataFile(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string output = (s.dir / "output.dat").string();
  DataAttributes attributes{};
  attributes.PhaseRes = PHASE_RES_HIGH;
  for (auto _ : state) {
    // A new file each time: rewriting a truncated file makes the file system flush it on close,
    // which would time the disk rather than the writer.
    state.PauseTiming();
    std::filesystem::remove(output);
    state.ResumeTiming();
    if (write_data_file(output.c_str(), nullptr, &attributes, nullptr, &s.map) != NO_ERROR) {
      state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * s.file_bytes);
}
BENCHMARK(BM_WriteDataFile)->Unit(benchmark::kMillisecond);

// The same file written from the map's own storage (the results' writer): the values turned into
// the file's byte order where they lie, the block in one write.
void BM_WriteDataFileConsuming(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string output = (s.dir / "output.dat").string();
  DataAttributes attributes{};
  attributes.PhaseRes = PHASE_RES_HIGH;
  PhaseMap work{};
  work.window = s.map.window;
  if (map_alloc(work) != NO_ERROR) std::abort();
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(output);
    std::memcpy(work.matrix, s.map.matrix, sizeof(int32_t) * s.map.size);
    state.ResumeTiming();
    if (write_data_file_in_place_consuming(output.c_str(), nullptr, &attributes,
                                           map_view(work)) != NO_ERROR) {
      state.SkipWithError("write failed");
    }
  }
  map_free(work);
  state.SetBytesProcessed(state.iterations() * s.file_bytes);
}
BENCHMARK(BM_WriteDataFileConsuming)->Unit(benchmark::kMillisecond);

void BM_MemcpySameBytes(benchmark::State& state) {
  const auto bytes = std::size_t(scratch().file_bytes);
  std::vector<uint8_t> from(bytes, 1);
  std::vector<uint8_t> to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
