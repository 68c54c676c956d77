// Line filters and the robust plane on a 2048 x 2048 map, beside the least-squares plane fit of
// the same map for scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "fit/least_squares.h"
#include "fit/robust_plane.h"
#include "fit/sg_filter.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 2048;

// A noisy tilted plane with a raised block and a few invalid pixels, made once.
const PhaseMap& test_map() {
  static PhaseMap map = [] {
    PhaseMap m;
    map_init(m);
    m.window = Window{0, 0, SIDE, SIDE};
    if (map_alloc(m) != NO_ERROR) std::abort();
    std::mt19937 rng(42);
    for (int r = 0; r < SIDE; ++r) {
      for (int c = 0; c < SIDE; ++c) {
        const int noise = static_cast<int>(rng() % 41) - 20;
        const int step = c > 1200 && r > 900 ? 40000 : 0;
        int32_t v = static_cast<int32_t>(std::lround(3.3 * c - 1.7 * r)) + noise + step;
        if (rng() % 1000 == 0) v = PHASE_INVALID;
        m.matrix[static_cast<std::size_t>(r) * SIDE + c] = v;
      }
    }
    return m;
  }();
  return map;
}

PhaseMap scratch_map() {
  PhaseMap m;
  map_init(m);
  m.window = Window{0, 0, SIDE, SIDE};
  if (map_alloc(m) != NO_ERROR) std::abort();
  return m;
}

void BM_FilterRows(benchmark::State& state) {
  const PhaseMap& src = test_map();
  PhaseMap dst = scratch_map();
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter_rows(src, dst, 3, SgKind::FIRST_DERIVATIVE));
    benchmark::ClobberMemory();
  }
  map_free(dst);
}
BENCHMARK(BM_FilterRows)->Unit(benchmark::kMillisecond);

void BM_FilterColumns(benchmark::State& state) {
  const PhaseMap& src = test_map();
  PhaseMap dst = scratch_map();
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter_columns(src, dst, 3, SgKind::FIRST_DERIVATIVE));
    benchmark::ClobberMemory();
  }
  map_free(dst);
}
BENCHMARK(BM_FilterColumns)->Unit(benchmark::kMillisecond);

void BM_FitRobustPlane(benchmark::State& state) {
  const PhaseMap& map = test_map();
  SurfaceFit fit{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(fit_robust_plane(map, nullptr, &fit, ROBUST_PLANE_BINS));
    benchmark::DoNotOptimize(fit);
  }
}
BENCHMARK(BM_FitRobustPlane)->Unit(benchmark::kMillisecond);

// As a run fits each input: a 1024 x 1024 map in its frame, the scratch kept from fit to fit,
// without the residual (0) or with it (1).
void BM_FitRobustPlaneKept(benchmark::State& state) {
  static const PhaseMap map = [] {
    PhaseMap m;
    map_init(m);
    m.window = Window{0, 0, SIDE / 2, SIDE / 2};
    if (map_alloc(m) != NO_ERROR) std::abort();
    const PhaseMap& big = test_map();
    for (int r = 0; r < SIDE / 2; ++r) {
      for (int c = 0; c < SIDE / 2; ++c) {
        m.matrix[std::size_t(r) * (SIDE / 2) + c] = big.matrix[std::size_t(r) * SIDE + c];
      }
    }
    return m;
  }();
  SurfaceWorkspace storage;
  SurfaceFit fit{};
  const FitOptions options{.residual = state.range(0) != 0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        fit_robust_plane_in_frame(map, map.window, &fit, ROBUST_PLANE_BINS, storage, options));
    benchmark::DoNotOptimize(fit);
  }
  surface_workspace_free(storage);
}
BENCHMARK(BM_FitRobustPlaneKept)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LeastSquaresPlane(benchmark::State& state) {
  const PhaseMap& map = test_map();
  SurfaceWorkspace ws;
  SurfaceFit fit{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        fit_surface(map_view(map), map.window, FitType::plane, FitOptions{}, ws, &fit));
    benchmark::DoNotOptimize(fit);
  }
  surface_workspace_free(ws);
}
BENCHMARK(BM_LeastSquaresPlane)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
