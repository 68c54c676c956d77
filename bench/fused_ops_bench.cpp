// One input's deviation step and the deviation result on a 2048 x 2048 field: the chain of
// element operations over whole maps beside the fused span that gives the same values. Bytes
// processed are those of the phase values read (the input) or of the sums read (the result).
// A levelled input's step is timed as a run adds it: rows of 1024 into sums a chunk of rows at a
// time, the chunk's sums in the cache, as two spans beside the one that fuses them. The extremes
// of a chunk's values are timed as doubles and in counts beside its deviation step, and so is a
// levelled input's step over a chunk held in the cache (its values too), fused and as two spans.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
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

// A chunk of 8 rows of 1024, whose five sums stay in the cache as they do in a run, fed from
// the field's values (which the run too reads from memory). The counts wrap after many rounds,
// which changes nothing timed.
constexpr std::size_t ROW = 1024, CHUNK_ROWS = 8;

template <typename Step>
void levelled_step(benchmark::State& state, Step step) {
  Field& f = field();
  std::vector<double> sum(ROW * CHUNK_ROWS), dev(ROW * CHUNK_ROWS), sq(ROW * CHUNK_ROWS);
  std::vector<int16_t> count(ROW * CHUNK_ROWS), dev_count(ROW * CHUNK_ROWS);
  std::vector<int32_t> row(ROW);
  for (auto _ : state) {
    for (std::size_t r = 0; r < PIXELS / ROW; ++r) {
      const std::size_t at = (r % CHUNK_ROWS) * ROW;
      std::copy_n(f.phase.matrix + r * ROW, ROW, row.data());
      step(row.data(), 0.25 * double(r), sum.data() + at, count.data() + at, dev.data() + at,
           dev_count.data() + at, sq.data() + at);
    }
    benchmark::ClobberMemory();
  }
  finish(state, PIXELS * sizeof(int32_t));
}

void BM_levelled_step_two_spans(benchmark::State& state) {
  levelled_step(state, [](int32_t* row, double base, double* sum, int16_t* count, double* dev,
                          int16_t* dev_count, double* sq) {
    (void)accumulate_levelled_span(row, ROW, 1.0, base, 0.125, -512.0, sum, count, row);
    accumulate_phase_squares_span(row, ROW, dev, dev_count, sq);
  });
}
BENCHMARK(BM_levelled_step_two_spans)->Unit(benchmark::kMillisecond);

void BM_levelled_step_fused(benchmark::State& state) {
  levelled_step(state, [](int32_t* row, double base, double* sum, int16_t* count, double* dev,
                          int16_t* dev_count, double* sq) {
    (void)accumulate_levelled_squares_span(row, ROW, 1.0, base, 0.125, -512.0, sum, count, dev,
                                           dev_count, sq, row);
  });
}
BENCHMARK(BM_levelled_step_fused)->Unit(benchmark::kMillisecond);

// A chunk of rows the run keeps in the cache while a batch's inputs are added to it: one input's
// deviation step, and the extremes of the same values as doubles and in counts.
constexpr std::size_t CHUNK_PIXELS = 16 * 1024;

struct Chunk {
  std::vector<int32_t> phase = std::vector<int32_t>(CHUNK_PIXELS);
  std::vector<double> sum = std::vector<double>(CHUNK_PIXELS, 0.0);
  std::vector<double> sum_sq = std::vector<double>(CHUNK_PIXELS, 0.0);
  std::vector<int16_t> count = std::vector<int16_t>(CHUNK_PIXELS, 0);
  std::vector<double> low = std::vector<double>(CHUNK_PIXELS, 1e300);
  std::vector<double> high = std::vector<double>(CHUNK_PIXELS, -1e300);
  std::vector<int32_t> low_counts = std::vector<int32_t>(CHUNK_PIXELS, INT32_MAX);
  std::vector<int32_t> high_counts = std::vector<int32_t>(CHUNK_PIXELS, INT32_MIN);

  Chunk() {
    std::copy_n(field().phase.matrix, CHUNK_PIXELS, phase.begin());
  }
};

void BM_chunk_deviation_step(benchmark::State& state) {
  Chunk c;
  for (auto _ : state) {
    accumulate_phase_squares_span(c.phase.data(), CHUNK_PIXELS, c.sum.data(), c.count.data(),
                                  c.sum_sq.data());
    benchmark::ClobberMemory();
  }
  finish(state, CHUNK_PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_chunk_deviation_step);

// A levelled input's step over the chunk, a row of 1024 at a time, its deviation's sums and its
// rounded values kept beside the chunk's own.
template <typename Step>
void chunk_levelled(benchmark::State& state, Step step) {
  Chunk c;
  std::vector<double> dev(CHUNK_PIXELS, 0.0), sq(CHUNK_PIXELS, 0.0);
  std::vector<int16_t> dev_count(CHUNK_PIXELS, 0);
  std::vector<int32_t> out(CHUNK_PIXELS);
  for (auto _ : state) {
    for (std::size_t at = 0; at < CHUNK_PIXELS; at += ROW)
      step(c.phase.data() + at, c.sum.data() + at, c.count.data() + at, dev.data() + at,
           dev_count.data() + at, sq.data() + at, out.data() + at);
    benchmark::ClobberMemory();
  }
  finish(state, CHUNK_PIXELS * sizeof(int32_t));
}

void BM_chunk_levelled_step(benchmark::State& state) {
  chunk_levelled(state, [](const int32_t* row, double* sum, int16_t* count, double* dev,
                           int16_t* dev_count, double* sq, int32_t* out) {
    benchmark::DoNotOptimize(accumulate_levelled_squares_span(
        row, ROW, 1.0, 2.5, 0.125, -512.0, sum, count, dev, dev_count, sq, out));
  });
}
BENCHMARK(BM_chunk_levelled_step);

// The same step where the sums' bound rules out an overflow, for an unscaled input and a
// scaled one, and where every value rounds within the phase range (one count for both).
void chunk_levelled_bounded(benchmark::State& state, double f, bool in_range) {
  chunk_levelled(state, [f, in_range](const int32_t* row, double* sum, int16_t* count,
                                      double* dev, int16_t* dev_count, double* sq, int32_t*) {
    benchmark::DoNotOptimize(accumulate_levelled_squares_span(row, ROW, f, 2.5, 0.125, -512.0,
                                                              sum, count, dev,
                                                              in_range ? nullptr : dev_count, sq,
                                                              nullptr, false));
  });
}
BENCHMARK_CAPTURE(chunk_levelled_bounded, unscaled, 1.0, false);
BENCHMARK_CAPTURE(chunk_levelled_bounded, scaled, 1.25, false);
BENCHMARK_CAPTURE(chunk_levelled_bounded, unscaled_in_range, 1.0, true);

void BM_chunk_levelled_two_spans(benchmark::State& state) {
  chunk_levelled(state, [](const int32_t* row, double* sum, int16_t* count, double* dev,
                           int16_t* dev_count, double* sq, int32_t* out) {
    benchmark::DoNotOptimize(
        accumulate_levelled_span(row, ROW, 1.0, 2.5, 0.125, -512.0, sum, count, out));
    accumulate_phase_squares_span(out, ROW, dev, dev_count, sq);
  });
}
BENCHMARK(BM_chunk_levelled_two_spans);

void BM_chunk_extremes_as_doubles(benchmark::State& state) {
  Chunk c;
  for (auto _ : state) {
    extremes_span(c.phase.data(), CHUNK_PIXELS, 1.0, c.low.data(), c.high.data());
    benchmark::ClobberMemory();
  }
  finish(state, CHUNK_PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_chunk_extremes_as_doubles);

void BM_chunk_extremes_in_counts(benchmark::State& state) {
  Chunk c;
  for (auto _ : state) {
    extremes_counts_span(c.phase.data(), CHUNK_PIXELS, c.low_counts.data(), c.high_counts.data());
    benchmark::ClobberMemory();
  }
  finish(state, CHUNK_PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_chunk_extremes_in_counts);

void BM_chunk_deviation_and_extremes_in_counts(benchmark::State& state) {
  Chunk c;
  for (auto _ : state) {
    accumulate_phase_extremes_span(c.phase.data(), CHUNK_PIXELS, c.sum.data(), c.count.data(),
                                   c.sum_sq.data(), c.low_counts.data(), c.high_counts.data());
    benchmark::ClobberMemory();
  }
  finish(state, CHUNK_PIXELS * sizeof(int32_t));
}
BENCHMARK(BM_chunk_deviation_and_extremes_in_counts);

}  // namespace

}  // namespace harnix
