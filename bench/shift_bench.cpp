// Shift estimation of one 1024 x 1024 measurement against another within +-16 pixels: the
// pyramid of the input (made once a measurement) and the search (once an input), on a curved
// surface with a faint waviness, noise and invalid pixels, as the generated sets have.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "fit/shift_estimate.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 1024;
constexpr int32_t BOUND = 16;

PhaseMap make_map(double shift_x, double shift_y, uint32_t seed) {
  PhaseMap m;
  map_init(m);
  m.window = Window{0, 0, SIDE, SIDE};
  if (map_alloc(m) != NO_ERROR) std::abort();
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 4.0);
  for (int r = 0; r < SIDE; ++r)
    for (int c = 0; c < SIDE; ++c) {
      const double x = (c - shift_x - 511.5) / 511.5, y = (r - shift_y - 511.5) / 511.5;
      const double h = 20000.0 * (x * x + y * y) + 400.0 * std::sin(9.0 * x + 5.0 * y + 1.0) +
                       150.0 * std::sin(31.0 * x - 17.0 * y);
      int32_t v = int32_t(std::lround(h + noise(rng)));
      if (rng() % 100 == 0) v = PHASE_INVALID;
      m.matrix[std::size_t(r) * SIDE + std::size_t(c)] = v;
    }
  return m;
}

struct Maps {
  PhaseMap reference = make_map(0.0, 0.0, 1);
  PhaseMap input = make_map(5.3, -7.6, 2);
};

const Maps& maps() {
  static const Maps m;
  return m;
}

void BM_ShiftPyramid(benchmark::State& state) {
  ShiftPyramid p;
  shift_pyramid_init(p);
  const int32_t levels = shift_levels(BOUND, SIDE, SIDE);
  for (auto _ : state) benchmark::DoNotOptimize(shift_pyramid_build(maps().input, levels, &p));
  shift_pyramid_free(p);
}
BENCHMARK(BM_ShiftPyramid)->Unit(benchmark::kMillisecond);

void BM_ShiftSearch(benchmark::State& state) {
  ShiftPyramid a, b;
  shift_pyramid_init(a);
  shift_pyramid_init(b);
  const int32_t levels = shift_levels(BOUND, SIDE, SIDE);
  if (shift_pyramid_build(maps().reference, levels, &a) != NO_ERROR ||
      shift_pyramid_build(maps().input, levels, &b) != NO_ERROR)
    std::abort();
  ShiftEstimate e{};
  for (auto _ : state) benchmark::DoNotOptimize(estimate_shift(a, b, ShiftSearch{BOUND, 0.5}, &e));
  state.counters["found"] = e.verdict == ShiftVerdict::FOUND && e.shift_x == 5 && e.shift_y == -8;
  shift_pyramid_free(a);
  shift_pyramid_free(b);
}
BENCHMARK(BM_ShiftSearch)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
