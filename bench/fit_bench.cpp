// Surface fitting and removal on a 2048 x 2048 phase map with 2 percent invalid pixels, beside
// one plain pass summing the same map: the fit and removal times read as multiples of it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "fit/least_squares.h"
#include "fit/remove.h"
#include "fit/subtract.h"
#include "maps/map_types.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 2048;

// A tilted, curved surface with noise, in phase counts of a high-resolution map.
const std::vector<int32_t>& bench_values() {
  static const std::vector<int32_t> values = [] {
    std::vector<int32_t> v(static_cast<size_t>(SIDE) * SIDE);
    std::mt19937_64 rng(2048);
    std::bernoulli_distribution bad(0.02);
    std::normal_distribution<double> noise(0.0, 40.0);
    for (int py = 0; py < SIDE; ++py) {
      for (int px = 0; px < SIDE; ++px) {
        const double x = px - 1000.5;
        const double y = py - 1030.25;
        const double z = 5e4 + 31.5 * x - 12.25 * y + 0.011 * (x * x + y * y) + noise(rng);
        v[static_cast<size_t>(py) * SIDE + static_cast<size_t>(px)] =
            bad(rng) ? PHASE_INVALID : static_cast<int32_t>(std::lround(z));
      }
    }
    return v;
  }();
  return values;
}

PhaseMap map_over(std::vector<int32_t>& storage) {
  PhaseMap m{};
  m.size = static_cast<uint32_t>(storage.size());
  m.window = Window{0, 0, SIDE, SIDE};
  m.matrix = storage.data();
  return m;
}

void BM_PlainSum(benchmark::State& state) {
  const std::vector<int32_t>& v = bench_values();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int32_t z : v) sum += z;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_PlainSum)->Unit(benchmark::kMillisecond);

void BM_FitSurface(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  const PhaseMap m = map_over(storage);
  const int32_t type = static_cast<int32_t>(state.range(0));
  SurfaceFit fit{};
  for (auto _ : state) {
    double rms = 0;
    if (fit_surface(m, nullptr, type, &fit, &rms) != NO_ERROR) state.SkipWithError("fit failed");
    benchmark::DoNotOptimize(rms);
  }
}
BENCHMARK(BM_FitSurface)->DenseRange(piston, cylinder)->Unit(benchmark::kMillisecond);

// The run's fit: the map padded to a larger field, with and without the residual's sum of
// squares (arguments: type, residual).
void BM_FitSurfacePadded(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  const PhaseMap m = map_over(storage);
  const Window field{0, 0, SIDE + 100, SIDE + 60};
  const int32_t type = static_cast<int32_t>(state.range(0));
  const bool with_rms = state.range(1) != 0;
  SurfaceFit fit{};
  for (auto _ : state) {
    if (fit_surface_padded(m, field, type, &fit, nullptr, with_rms) != NO_ERROR) {
      state.SkipWithError("fit failed");
    }
    benchmark::DoNotOptimize(fit);
  }
}
BENCHMARK(BM_FitSurfacePadded)
    ->ArgsProduct({{piston, plane, sphere}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The map is restored outside the timed region so that every pass removes the full surface.
void BM_RemoveBestFit(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  PhaseMap m = map_over(storage);
  const int32_t mode = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    storage = bench_values();
    state.ResumeTiming();
    if (remove_best_fit(m, mode, nullptr) != NO_ERROR) state.SkipWithError("removal failed");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RemoveBestFit)->DenseRange(piston, cylinder)->Unit(benchmark::kMillisecond);

// The subtraction alone, with the fit made once beforehand.
void BM_RemoveSurface(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  PhaseMap m = map_over(storage);
  SurfaceFit fit{};
  if (fit_surface(m, nullptr, static_cast<int32_t>(state.range(0)), &fit, nullptr) != NO_ERROR) {
    state.SkipWithError("fit failed");
  }
  for (auto _ : state) {
    state.PauseTiming();
    storage = bench_values();
    state.ResumeTiming();
    remove_surface(m, m.window, fit);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RemoveSurface)->DenseRange(piston, cylinder)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
