// One input's deviation step and the deviation result on a 2048 x 2048 field: the chain of
// element operations over whole maps beside the fused span that gives the same values. Bytes
// processed are those of the phase values read (the input) or of the sums read (the result).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "maps/element_ops.h"
#include "maps/fused_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 2048;
constexpr Window FIELD = {0, 0, SIDE, SIDE};
constexpr std::size_t PIXELS = static_cast<std::size_t>(SIDE) * SIDE;

template <typename Map>
Map alloc_map() {
  Map m{};
  m.window = FIELD;
  if (map_alloc(m) != NO_ERROR) std::abort();
  return m;
}

// A measurement with 2 percent invalid values, and sums as after a few inputs.
struct Field {
  PhaseMap phase = alloc_map<PhaseMap>();
  RealMap height = alloc_map<RealMap>();
  RealMap sum = alloc_map<RealMap>();
  RealMap sum_sq = alloc_map<RealMap>();
  CountMap count = alloc_map<CountMap>();
  std::vector<int32_t> out = std::vector<int32_t>(PIXELS);

  Field() {
    std::mt19937 random(9);
    std::uniform_int_distribution<int32_t> value(-400000, 400000);
    for (std::size_t i = 0; i < PIXELS; ++i) {
      phase.matrix[i] = random() % 50 == 0 ? PHASE_INVALID : value(random);
      sum.matrix[i] = 3.0 * phase.matrix[i];
      sum_sq.matrix[i] = 4.0 * double(phase.matrix[i]) * phase.matrix[i];
      count.matrix[i] = 3;
    }
  }
};

Field& field() {
  static Field f;
  return f;
}

void finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_deviation_step_chain(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    phase_to_real(f.phase, f.height);
    real_map_accumulate(f.height, f.sum, f.count);
    real_map_square(f.height);
    real_map_accumulate(f.height, f.sum_sq, f.count);
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_deviation_step_chain)->Unit(benchmark::kMillisecond);

void BM_deviation_step_fused(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    accumulate_phase_squares_span(f.phase.matrix, PIXELS, f.sum.matrix, f.count.matrix,
                                  f.sum_sq.matrix);
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_deviation_step_fused)->Unit(benchmark::kMillisecond);

void BM_deviation_result_fused(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(deviation_to_phase_span(f.sum.matrix, f.sum_sq.matrix, f.count.matrix,
                                                     1, PIXELS, f.out.data()));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * 2 * sizeof(double));
}
BENCHMARK(BM_deviation_result_fused)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
