// Element operations of the averaging run on a 2048 x 2048 camera field, next to a plain memcpy.
//
// Each case reports as bytes processed the bytes of one map it streams through (the map it
// writes, or the one it reads when it writes in place or nothing), so its MB/s compares directly
// with memcpy of the same byte count: memcpy/16 MiB for a phase map, /32 MiB for a height map,
// /8 MiB for a count map.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "maps/maps.h"

namespace harnix {

namespace {

constexpr int16_t SIDE = 2048;
constexpr Window FIELD = {0, 0, SIDE, SIDE};
constexpr std::size_t PIXELS = static_cast<std::size_t>(SIDE) * SIDE;

// The maps every case works on, made once: a phase measurement (a disc of valid values with an
// invalid border, some dropouts), its heights, sums and counts as the run holds them.
struct Field {
  PhaseMap phase{};
  PhaseMap work_phase{};
  RealMap height{};
  RealMap sum{};
  RealMap sum_sq{};
  RealMap out{};
  CountMap count{};

  Field() {
    for (PhaseMap* m : {&phase, &work_phase}) alloc(*m);
    for (RealMap* m : {&height, &sum, &sum_sq, &out}) alloc(*m);
    alloc(count);
    std::mt19937 random(5);
    std::uniform_int_distribution<int32_t> value(-400000, 400000);
    const double radius = 0.48 * SIDE;
    for (int y = 0; y < SIDE; ++y) {
      for (int x = 0; x < SIDE; ++x) {
        const double dx = x - SIDE / 2.0;
        const double dy = y - SIDE / 2.0;
        const bool inside = std::sqrt(dx * dx + dy * dy) < radius && random() % 50 != 0;
        *map_point(phase, x, y) = inside ? value(random) : PHASE_INVALID;
      }
    }
    phase_to_real(phase, height);
    map_fill(sum, REAL_INVALID);
    map_fill(count, int16_t{0});
    real_map_accumulate(height, sum, count);
    for (std::size_t i = 0; i < PIXELS; ++i) {
      sum_sq.matrix[i] =
          real_valid(sum.matrix[i]) ? sum.matrix[i] * sum.matrix[i] + 1.0 : REAL_INVALID;
    }
  }
  template <typename Map>
  static void alloc(Map& m) {
    m.window = FIELD;
    if (map_alloc(m) != NO_ERROR) std::abort();
  }
};

Field& field() {
  static Field f;
  return f;
}

void finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_memcpy(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
  std::vector<char> from(bytes, 1);
  std::vector<char> to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  finish(state, bytes);
}
BENCHMARK(BM_memcpy)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_map_fill_real(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    map_fill(f.out, REAL_INVALID);
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_map_fill_real)->Unit(benchmark::kMillisecond);

void BM_map_fill_phase(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    map_fill(f.work_phase, PHASE_INVALID);
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_map_fill_phase)->Unit(benchmark::kMillisecond);

void BM_map_fill_count(benchmark::State& state) {
  CountMap c{};
  c.window = FIELD;
  if (map_alloc(c) != NO_ERROR) std::abort();
  for (auto _ : state) {
    map_fill(c, int16_t{0});
    benchmark::ClobberMemory();
  }
  map_free(c);
  finish(state, PIXELS * sizeof(int16_t));
}
BENCHMARK(BM_map_fill_count)->Unit(benchmark::kMillisecond);

// The whole input into the camera field: one block.
void BM_phase_map_copy_window_full(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(phase_map_copy_window(f.phase, FIELD, f.work_phase, FIELD));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_phase_map_copy_window_full)->Unit(benchmark::kMillisecond);

// A 2040 x 2040 input placed inside the field: row by row.
void BM_phase_map_copy_window_rows(benchmark::State& state) {
  Field& f = field();
  const Window w = {4, 4, 2040, 2040};
  PhaseMap input{};
  input.window = w;
  if (map_alloc(input) != NO_ERROR) std::abort();
  map_fill(input, 17);
  for (auto _ : state) {
    benchmark::DoNotOptimize(phase_map_copy_window(input, w, f.work_phase, w));
    benchmark::ClobberMemory();
  }
  map_free(input);
  finish(state, static_cast<std::size_t>(w.width) * w.height * sizeof(int32_t));
}
BENCHMARK(BM_phase_map_copy_window_rows)->Unit(benchmark::kMillisecond);

void BM_phase_to_real(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(phase_to_real(f.phase, f.out));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_phase_to_real)->Unit(benchmark::kMillisecond);

void BM_real_to_phase(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_to_phase(f.height, f.work_phase));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_to_phase)->Unit(benchmark::kMillisecond);

// Alternating 0.5 and 2 keeps the values where they are, exactly.
void BM_real_map_scale(benchmark::State& state) {
  Field& f = field();
  phase_to_real(f.phase, f.out);
  double factor = 0.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_map_scale(f.out, factor));
    benchmark::ClobberMemory();
    factor = factor == 0.5 ? 2.0 : 0.5;
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_scale)->Unit(benchmark::kMillisecond);

// Values of 0 and 1 (and markers) square to themselves, so every pass does the same work.
void BM_real_map_square(benchmark::State& state) {
  Field& f = field();
  for (std::size_t i = 0; i < PIXELS; ++i) {
    f.out.matrix[i] = real_valid(f.height.matrix[i]) ? static_cast<double>(i & 1) : REAL_INVALID;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_map_square(f.out));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_square)->Unit(benchmark::kMillisecond);

void BM_real_map_sqrt(benchmark::State& state) {
  Field& f = field();
  std::memcpy(f.out.matrix, f.height.matrix, PIXELS * sizeof(double));
  for (auto _ : state) {
    real_map_sqrt(f.out);
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_sqrt)->Unit(benchmark::kMillisecond);

// Source, sum and count all over the field (72 MiB streamed); bytes are the source's 32 MiB.
void BM_real_map_accumulate(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_map_accumulate(f.height, f.sum, f.count));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_accumulate)->Unit(benchmark::kMillisecond);

void BM_real_map_average(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_map_average(f.out, f.sum, f.count, 1));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_average)->Unit(benchmark::kMillisecond);

void BM_real_map_subtract(benchmark::State& state) {
  Field& f = field();
  for (auto _ : state) {
    benchmark::DoNotOptimize(real_map_subtract(f.sum_sq, f.height, f.out));
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(double));
}
BENCHMARK(BM_real_map_subtract)->Unit(benchmark::kMillisecond);

// The disc: rows are searched only outside the columns already known to hold valid values.
void BM_phase_map_valid_window(benchmark::State& state) {
  Field& f = field();
  Window out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(phase_map_valid_window(f.phase, nullptr, &out));
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_phase_map_valid_window)->Unit(benchmark::kMillisecond);

// The worst case: no valid value, so every element is read once.
void BM_phase_map_valid_window_none(benchmark::State& state) {
  Field& f = field();
  map_fill(f.work_phase, PHASE_INVALID);
  Window out{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(phase_map_valid_window(f.work_phase, nullptr, &out));
  }
  finish(state, PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_phase_map_valid_window_none)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace harnix
