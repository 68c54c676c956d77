// The rejection test of averaging/rejection.h, in passes over an input's rows: the row's fates
// first, then one sweep per round replayed, then the sums of the survivors or the marks. Each
// sweep is a single pass over contiguous memory without branches on the values.
#include "averaging/rejection.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "averaging/input_sums.h"
#include "base/allocation.h"
#include "base/vector_clones.h"
#include "maps/storage.h"

namespace harnix {

namespace {

constexpr uint8_t KEPT = 0;
constexpr uint8_t INVALID = 255;

// Calls f on each of the set's four maps.
template <typename F>
void each_map(KeptSums& set, F f) {
  f(set.reference);
  f(set.count);
  f(set.sum);
  f(set.sum_sq);
}

// The leave-one-out test of x = r + d against a kept set (c, S, Q) that holds x, multiplied out
// as in the header. Below three values nothing is rejected.
inline bool rejects(double d, int16_t c, double s, double q, double k_squared) {
  const double m = double(c) - 1.0;
  const double others_sum = s - d;
  const double others_sq = q - d * d;
  const double e = m * d - others_sum;
  const double spread = m * others_sq - others_sum * others_sum;
  return (c >= 3) & (e * e * (m - 1.0) > k_squared * m * std::max(spread, m * (m - 1.0)));
}

// The fate of each value of a row: KEPT when valid, INVALID when not. The sweeps after it form
// x = v factor themselves, which costs less than storing and loading it.
HARNIX_VECTOR_CLONES void fates_of(const int32_t* __restrict row, std::size_t n,
                                   uint8_t* __restrict fate) {
  for (std::size_t i = 0; i < n; ++i) fate[i] = row[i] < PHASE_INVALID ? KEPT : INVALID;
}

// Round `round` over a row: each value still kept is tested against the set's sums.
HARNIX_VECTOR_CLONES void decide_round(const int32_t* __restrict row, double factor,
                                       const double* __restrict ref, const int16_t* __restrict c,
                                       const double* __restrict s, const double* __restrict q,
                                       std::size_t n, double k_squared, uint8_t round,
                                       uint8_t* __restrict fate) {
  for (std::size_t i = 0; i < n; ++i) {
    const double x = double(row[i]) * factor;
    const bool out = (fate[i] == KEPT) & rejects(x - ref[i], c[i], s[i], q[i], k_squared);
    fate[i] = out ? round : fate[i];
  }
}

// Adds the kept values of a row to a set's sums, the first at a pixel becoming its reference.
// References are written only on a row that has such a first value (soon after the first input
// none has), so that their storage is read but not written back. A value left out adds +0.0 and
// 0, which change no sum (none is ever -0.0): no branches in the main loop.
HARNIX_VECTOR_CLONES void gather_kept(const int32_t* __restrict row, double factor,
                                      const uint8_t* __restrict fate, std::size_t n,
                                      double* __restrict ref, int16_t* __restrict c,
                                      double* __restrict s, double* __restrict q) {
  int first = 0;
  for (std::size_t i = 0; i < n; ++i) first |= (fate[i] == KEPT) & (c[i] == 0);
  if (first != 0) {
    for (std::size_t i = 0; i < n; ++i)
      ref[i] = (fate[i] == KEPT) & (c[i] == 0) ? double(row[i]) * factor : ref[i];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const bool kept = fate[i] == KEPT;
    const double difference = double(row[i]) * factor - ref[i];
    const double d = kept ? difference : 0.0;
    s[i] += d;
    q[i] += d * d;
    c[i] = int16_t(c[i] + kept);
  }
}

HARNIX_VECTOR_CLONES int64_t count_fate(const uint8_t* fate, std::size_t n, uint8_t value) {
  int64_t count = 0;
  for (std::size_t i = 0; i < n; ++i) count += fate[i] == value;
  return count;
}

// A fate of 1..MAX_REJECT_ROUNDS: rejected in that round.
inline bool rejected_fate(uint8_t fate) {
  return uint8_t(fate - 1) < uint8_t(INVALID - 1);
}

// Makes the rejected values of a row invalid; returns how many there were.
HARNIX_VECTOR_CLONES int64_t mark_rejected(const uint8_t* __restrict fate, std::size_t n, int32_t* __restrict row) {
  int64_t marked = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool out = rejected_fate(fate[i]);
    row[i] = out ? PHASE_INVALID : row[i];
    marked += out;
  }
  return marked;
}

HARNIX_VECTOR_CLONES void count_rejected(const uint8_t* __restrict fate, std::size_t n, int16_t* __restrict counts) {
  for (std::size_t i = 0; i < n; ++i) counts[i] = int16_t(counts[i] + rejected_fate(fate[i]));
}

}  // namespace

void rejection_init(RejectionMaps& maps) {
  maps.camera = Window{};
  maps.k_squared = 0.0;
  maps.rounds = 0;
  maps.bands = 0;
  for (KeptSums& set : maps.sets) each_map(set, [](auto& map) { map_init(map); });
  maps.fates = nullptr;
  maps.band_tallies = nullptr;
}

ErrorCode rejection_create(RejectionMaps& maps, int16_t width, int16_t height, double k,
                           int32_t rounds, int32_t bands) {
  if (!(k > 0.0) || !std::isfinite(k) || rounds < 1 || rounds > MAX_REJECT_ROUNDS || width < 1 ||
      height < 1 || bands < 1 || bands > MAX_BANDS)
    return ERR_PARAM_OUT_OF_RANGE;
  maps.camera = Window{0, 0, width, height};
  maps.k_squared = k * k;
  maps.rounds = rounds;
  maps.bands = bands;
  const std::size_t scratch = std::size_t(width) * std::size_t(bands);
  maps.fates = static_cast<uint8_t*>(mem_allocate(scratch));
  maps.band_tallies = static_cast<RejectionTally*>(
      mem_allocate_zeroed(std::size_t(bands) * MAX_BATCH_INPUTS, sizeof(RejectionTally)));
  if (maps.fates == nullptr || maps.band_tallies == nullptr)
    return ERR_NO_MEM;
  ErrorCode rc = NO_ERROR;
  for (int32_t j = 0; j < rounds; ++j) {
    each_map(maps.sets[j], [&](auto& map) {
      map.window = maps.camera;
      if (rc == NO_ERROR && (rc = map_alloc(map)) == NO_ERROR) map_fill(map, 0);
    });
  }
  return rc;
}

void rejection_free(RejectionMaps& maps) {
  for (KeptSums& set : maps.sets) each_map(set, [](auto& map) { map_free(map); });
  mem_release(maps.fates);
  mem_release(maps.band_tallies);
  maps.fates = nullptr;
  maps.band_tallies = nullptr;
}

ErrorCode rejection_queue(const RejectionMaps& maps, RejectionBatch& batch, PhaseMap& input,
                          double f, const RejectionPass& pass, const BandTeam& team) {
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.camera)) return ERR_IMPROPER_WINDOW;
  if (pass.rounds_replayed < 0 || pass.rounds_replayed > maps.rounds ||
      (pass.accumulate && pass.rounds_replayed >= maps.rounds) || team.bands() > maps.bands ||
      batch.count < 0 || batch.count >= MAX_BATCH_INPUTS)
    return ERR_PARAM_OUT_OF_RANGE;
  // Unscaled values are multiplied by 1, which changes none.
  batch.inputs[batch.count] = &input;
  batch.factors[batch.count] = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON ? f : 1.0;
  ++batch.count;
  return NO_ERROR;
}

void rejection_batch_pass(RejectionMaps& maps, RejectionBatch& batch, const RejectionPass& pass,
                          CountMap& rejected, BandTeam& team) {
  const std::size_t stride = std::size_t(maps.camera.width);
  const int32_t bands = team.bands();
  // Each band takes its rows with a row of scratch and tallies of its own.
  auto band_pass = [&](int32_t band) {
    uint8_t* const fate = maps.fates + std::size_t(band) * stride;
    RejectionTally* const tallies = maps.band_tallies + std::size_t(band) * MAX_BATCH_INPUTS;
    for (int32_t m = 0; m < batch.count; ++m) tallies[m] = RejectionTally{};
    (void)for_band_chunks(maps.camera, bands, band, [&](int32_t from, int32_t to) {
      for (int32_t m = 0; m < batch.count; ++m) {
        PhaseMap& input = *batch.inputs[m];
        const Window& w = input.window;
        const std::size_t n = std::size_t(w.width);
        const std::size_t first = std::size_t(w.y) * stride + std::size_t(w.x);
        const RowRange rows = rows_within(input, from, to);
        RejectionTally& tally = tallies[m];
        for (int32_t r = rows.first; r < rows.first + rows.count; ++r) {
          int32_t* row = input.matrix + std::size_t(r) * n;
          const std::size_t at = first + std::size_t(r) * stride;
          const double factor = batch.factors[m];
          fates_of(row, n, fate);
          for (int32_t j = 1; j <= pass.rounds_replayed; ++j) {
            const KeptSums& set = maps.sets[j - 1];
            decide_round(row, factor, set.reference.matrix + at, set.count.matrix + at,
                         set.sum.matrix + at, set.sum_sq.matrix + at, n, maps.k_squared,
                         uint8_t(j), fate);
          }
          if (pass.accumulate) {
            KeptSums& set = maps.sets[pass.rounds_replayed];
            gather_kept(row, factor, fate, n, set.reference.matrix + at, set.count.matrix + at,
                        set.sum.matrix + at, set.sum_sq.matrix + at);
          }
          if (pass.rounds_replayed > 0)
            tally.last_round += count_fate(fate, n, uint8_t(pass.rounds_replayed));
          if (pass.mark) {
            tally.marked += mark_rejected(fate, n, row);
            if (rejected.matrix != nullptr) count_rejected(fate, n, rejected.matrix + at);
          }
        }
      }
      return NO_ERROR;
    });
  };
  team.run(band_pass);
  for (int32_t m = 0; m < batch.count; ++m) {
    RejectionTally total{};
    for (int32_t b = 0; b < bands; ++b) {
      const RejectionTally& part = maps.band_tallies[std::size_t(b) * MAX_BATCH_INPUTS + m];
      total.last_round += part.last_round;
      total.marked += part.marked;
    }
    batch.tallies[m] = total;
  }
}

}  // namespace harnix
