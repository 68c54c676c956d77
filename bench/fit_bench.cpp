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
#include "maps/map_view.h"

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
  const auto type = static_cast<FitType>(state.range(0));
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  for (auto _ : state) {
    if (fit_surface(map_view(m), m.window, type, FitOptions{}, ws, &fit) != NO_ERROR) {
      state.SkipWithError("fit failed");
    }
    benchmark::DoNotOptimize(fit.rms);
  }
  surface_workspace_free(ws);
}
BENCHMARK(BM_FitSurface)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The run's fit: the map in the frame of a larger field, with and without the residual's sum
// of squares (arguments: type, residual).
void BM_FitSurfaceInField(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  const PhaseMap m = map_over(storage);
  const Window field{0, 0, SIDE + 100, SIDE + 60};
  const auto type = static_cast<FitType>(state.range(0));
  const FitOptions options{.residual = state.range(1) != 0};
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  for (auto _ : state) {
    if (fit_surface(map_view(m), field, type, options, ws, &fit) != NO_ERROR) {
      state.SkipWithError("fit failed");
    }
    benchmark::DoNotOptimize(fit);
  }
  surface_workspace_free(ws);
}
BENCHMARK(BM_FitSurfaceInField)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_RemoveBestFit)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The subtraction alone, with the fit made once beforehand.
void BM_RemoveSurface(benchmark::State& state) {
  std::vector<int32_t> storage = bench_values();
  PhaseMap m = map_over(storage);
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  const auto type = static_cast<FitType>(state.range(0));
  if (fit_surface(map_view(m), m.window, type, FitOptions{}, ws, &fit) != NO_ERROR) {
    state.SkipWithError("fit failed");
  }
  for (auto _ : state) {
    state.PauseTiming();
    storage = bench_values();
    state.ResumeTiming();
    remove_surface(map_view(m), m.window, fit, ws);
    benchmark::ClobberMemory();
  }
  surface_workspace_free(ws);
}
BENCHMARK(BM_RemoveSurface)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
