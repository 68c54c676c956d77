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

// Whether value i of a row is still kept: from its fate, or, before any round has been replayed
// on the row, from its validity (no fates needed).
struct KeptByFate {
  const uint8_t* __restrict fate;
  bool operator()(const int32_t* /*row*/, std::size_t i) const { return fate[i] == KEPT; }
};
struct KeptIfValid {
  bool operator()(const int32_t* row, std::size_t i) const { return row[i] < PHASE_INVALID; }
};

// Round `round` over a row: each value still kept is tested against the set's sums. The first
// round gives every value its fate (KEPT, INVALID or the round); a later one changes the fates
// of the values it rejects. With MARK, each value rejected is also made invalid at once, and
// the count of them returned. Every sweep forms x = v factor itself, which costs less than
// storing and loading it.
// The value x of element i of a row: v factor, or with a level v factor - p (levelling.h).
struct Scaled {
  double factor;
  double operator()(int32_t v, std::size_t) const { return double(v) * factor; }
};
struct Levelled {
  double factor;
  LevelRow p;
  double operator()(int32_t v, std::size_t i) const { return double(v) * factor - level_at(p, i); }
};

template <bool FIRST, bool MARK, typename Value = Scaled>
inline int64_t decide(int32_t* __restrict row, Value value, const double* __restrict ref,
                      const int16_t* __restrict c, const double* __restrict s,
                      const double* __restrict q, std::size_t n, double k_squared, uint8_t round,
                      uint8_t* __restrict fate) {
  int64_t marked = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int32_t v = row[i];
    const bool valid = v < PHASE_INVALID;
    const uint8_t was = FIRST ? (valid ? KEPT : INVALID) : fate[i];
    const bool out = (was == KEPT) & rejects(value(v, i) - ref[i], c[i], s[i], q[i], k_squared);
    fate[i] = out ? round : was;
    if constexpr (MARK) {
      row[i] = out ? PHASE_INVALID : v;
      marked += out;
    }
  }
  return marked;
}

HARNIX_VECTOR_CLONES void decide_first_round(int32_t* __restrict row, double factor,
                                             const double* __restrict ref,
                                             const int16_t* __restrict c,
                                             const double* __restrict s,
                                             const double* __restrict q, std::size_t n,
                                             double k_squared, uint8_t* __restrict fate) {
  (void)decide<true, false>(row, Scaled{factor}, ref, c, s, q, n, k_squared, 1, fate);
}

// The one round of a marking pass that replays a single round, in one sweep.
HARNIX_VECTOR_CLONES int64_t decide_only_round_and_mark(
    int32_t* __restrict row, double factor, const double* __restrict ref,
    const int16_t* __restrict c, const double* __restrict s, const double* __restrict q,
    std::size_t n, double k_squared, uint8_t* __restrict fate) {
  return decide<true, true>(row, Scaled{factor}, ref, c, s, q, n, k_squared, 1, fate);
}

HARNIX_VECTOR_CLONES void decide_round(int32_t* __restrict row, double factor,
                                       const double* __restrict ref, const int16_t* __restrict c,
                                       const double* __restrict s, const double* __restrict q,
                                       std::size_t n, double k_squared, uint8_t round,
                                       uint8_t* __restrict fate) {
  (void)decide<false, false>(row, Scaled{factor}, ref, c, s, q, n, k_squared, round, fate);
}

// Adds the kept values of a row to a set's sums, the first at a pixel becoming its reference.
// References are written only on a row that has such a first value (soon after the first input
// none has), so that their storage is read but not written back. A value left out adds +0.0 and
// 0, which change no sum (none is ever -0.0): no branches in the main loop.
template <typename Kept, typename Value = Scaled>
inline void gather(const int32_t* __restrict row, Value value, Kept kept, std::size_t n,
                   double* __restrict ref, int16_t* __restrict c, double* __restrict s,
                   double* __restrict q) {
  int first = 0;
  for (std::size_t i = 0; i < n; ++i) first |= kept(row, i) & (c[i] == 0);
  if (first != 0) {
    for (std::size_t i = 0; i < n; ++i)
      ref[i] = kept(row, i) & (c[i] == 0) ? value(row[i], i) : ref[i];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const bool in = kept(row, i);
    const double difference = value(row[i], i) - ref[i];
    const double d = in ? difference : 0.0;
    s[i] += d;
    q[i] += d * d;
    c[i] = int16_t(c[i] + in);
  }
}

HARNIX_VECTOR_CLONES void gather_kept(const int32_t* __restrict row, double factor,
                                      const uint8_t* __restrict fate, std::size_t n,
                                      double* __restrict ref, int16_t* __restrict c,
                                      double* __restrict s, double* __restrict q) {
  gather(row, Scaled{factor}, KeptByFate{fate}, n, ref, c, s, q);
}

HARNIX_VECTOR_CLONES void gather_valid(const int32_t* __restrict row, double factor,
                                       std::size_t n, double* __restrict ref,
                                       int16_t* __restrict c, double* __restrict s,
                                       double* __restrict q) {
  gather(row, Scaled{factor}, KeptIfValid{}, n, ref, c, s, q);
}

// The same sweeps over a levelled input's row.
HARNIX_VECTOR_CLONES int64_t decide_levelled(bool first, bool mark, int32_t* __restrict row,
                                             Levelled value, const double* __restrict ref,
                                             const int16_t* __restrict c,
                                             const double* __restrict s,
                                             const double* __restrict q, std::size_t n,
                                             double k_squared, uint8_t round,
                                             uint8_t* __restrict fate) {
  if (first && mark) return decide<true, true>(row, value, ref, c, s, q, n, k_squared, 1, fate);
  if (first) return decide<true, false>(row, value, ref, c, s, q, n, k_squared, 1, fate);
  return decide<false, false>(row, value, ref, c, s, q, n, k_squared, round, fate);
}

HARNIX_VECTOR_CLONES void gather_levelled(const int32_t* __restrict row, Levelled value,
                                          const uint8_t* __restrict fate, std::size_t n,
                                          double* __restrict ref, int16_t* __restrict c,
                                          double* __restrict s, double* __restrict q) {
  if (fate != nullptr)
    gather(row, value, KeptByFate{fate}, n, ref, c, s, q);
  else
    gather(row, value, KeptIfValid{}, n, ref, c, s, q);
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
HARNIX_VECTOR_CLONES int64_t mark_rejected(const uint8_t* __restrict fate, std::size_t n,
                                           int32_t* __restrict row) {
  int64_t marked = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool out = rejected_fate(fate[i]);
    row[i] = out ? PHASE_INVALID : row[i];
    marked += out;
  }
  return marked;
}

HARNIX_VECTOR_CLONES void count_rejected(const uint8_t* __restrict fate, std::size_t n,
                                         int16_t* __restrict counts) {
  for (std::size_t i = 0; i < n; ++i) counts[i] = int16_t(counts[i] + rejected_fate(fate[i]));
}

// One row of a levelled input through `pass`: the sweeps of the rows of other inputs, each with
// the level taken off.
void levelled_row(RejectionMaps& maps, const RejectionPass& pass, int32_t* row,
                  const Levelled& value, std::size_t at, std::size_t n, uint8_t* fate,
                  CountMap& rejected, RejectionTally& tally) {
  const bool fates = pass.rounds_replayed > 0;
  const bool at_once = pass.mark && pass.rounds_replayed == 1 && !pass.accumulate;
  for (int32_t j = 1; j <= pass.rounds_replayed; ++j) {
    const KeptSums& set = maps.sets[j - 1];
    const int64_t marked = decide_levelled(
        j == 1, at_once, row, value, set.reference.matrix + at, set.count.matrix + at,
        set.sum.matrix + at, set.sum_sq.matrix + at, n, maps.k_squared, uint8_t(j), fate);
    if (at_once) {
      tally.last_round += marked;
      tally.marked += marked;
      if (rejected.matrix != nullptr) count_rejected(fate, n, rejected.matrix + at);
      return;
    }
  }
  if (pass.accumulate) {
    KeptSums& set = maps.sets[pass.rounds_replayed];
    gather_levelled(row, value, fates ? fate : nullptr, n, set.reference.matrix + at,
                    set.count.matrix + at, set.sum.matrix + at, set.sum_sq.matrix + at);
  }
  if (fates) tally.last_round += count_fate(fate, n, uint8_t(pass.rounds_replayed));
  if (pass.mark && fates) {
    tally.marked += mark_rejected(fate, n, row);
    if (rejected.matrix != nullptr) count_rejected(fate, n, rejected.matrix + at);
  }
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
                           int32_t rounds, BandTeam& team) {
  const int32_t bands = team.bands();
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
      if (rc == NO_ERROR) rc = map_alloc(map);
    });
  }
  if (rc != NO_ERROR) return rc;
  run_on_band_elements(team, width, height, [&](int32_t, std::size_t first, std::size_t n) {
    for (int32_t j = 0; j < rounds; ++j)
      each_map(maps.sets[j], [&](auto& map) { std::fill_n(map.matrix + first, n, 0); });
  });
  return NO_ERROR;
}

void rejection_free(RejectionMaps& maps) {
  for (KeptSums& set : maps.sets) each_map(set, [](auto& map) { map_free(map); });
  mem_release(maps.fates);
  mem_release(maps.band_tallies);
  maps.fates = nullptr;
  maps.band_tallies = nullptr;
}

ErrorCode rejection_queue(const RejectionMaps& maps, RejectionBatch& batch, PhaseMap& input,
                          double f, const RejectionPass& pass, const BandTeam& team,
                          const InputLevel* level) {
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.camera)) return ERR_IMPROPER_WINDOW;
  if (pass.rounds_replayed < 0 || pass.rounds_replayed > maps.rounds ||
      (pass.accumulate && pass.rounds_replayed >= maps.rounds) || team.bands() > maps.bands ||
      batch.count < 0 || batch.count >= MAX_BATCH_INPUTS)
    return ERR_PARAM_OUT_OF_RANGE;
  // Unscaled values are multiplied by 1, which changes none.
  batch.inputs[batch.count] = &input;
  batch.factors[batch.count] = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON ? f : 1.0;
  batch.levels[batch.count] = level;
  ++batch.count;
  return NO_ERROR;
}

void rejection_batch_pass(RejectionMaps& maps, RejectionBatch& batch, const RejectionPass& pass,
                          CountMap& rejected, BandTeam& team, WorkingMaps* sums) {
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
          const InputLevel* level = batch.levels[m];
          if (level != nullptr) {
            const Levelled value{factor, level_row(*level, w.x, w.y + int32_t(r))};
            levelled_row(maps, pass, row, value, at, n, fate, rejected, tally);
            continue;
          }
          if (pass.mark && pass.rounds_replayed == 1 && !pass.accumulate) {
            const KeptSums& set = maps.sets[0];
            const int64_t marked = decide_only_round_and_mark(
                row, factor, set.reference.matrix + at, set.count.matrix + at, set.sum.matrix + at,
                set.sum_sq.matrix + at, n, maps.k_squared, fate);
            tally.last_round += marked;
            tally.marked += marked;
            if (rejected.matrix != nullptr) count_rejected(fate, n, rejected.matrix + at);
            continue;
          }
          // Before any round replayed every valid value is kept: no fates, nothing to mark.
          const bool fates = pass.rounds_replayed > 0;
          for (int32_t j = 1; j <= pass.rounds_replayed; ++j) {
            const KeptSums& set = maps.sets[j - 1];
            const double* ref = set.reference.matrix + at;
            const int16_t* c = set.count.matrix + at;
            const double* sum = set.sum.matrix + at;
            const double* sum_sq = set.sum_sq.matrix + at;
            if (j == 1) {
              decide_first_round(row, factor, ref, c, sum, sum_sq, n, maps.k_squared, fate);
            } else {
              decide_round(row, factor, ref, c, sum, sum_sq, n, maps.k_squared, uint8_t(j),
                           fate);
            }
          }
          if (pass.accumulate) {
            KeptSums& set = maps.sets[pass.rounds_replayed];
            double* ref = set.reference.matrix + at;
            int16_t* c = set.count.matrix + at;
            double* sum = set.sum.matrix + at;
            double* sum_sq = set.sum_sq.matrix + at;
            if (fates)
              gather_kept(row, factor, fate, n, ref, c, sum, sum_sq);
            else
              gather_valid(row, factor, n, ref, c, sum, sum_sq);
          }
          if (fates) tally.last_round += count_fate(fate, n, uint8_t(pass.rounds_replayed));
          if (pass.mark && fates) {
            tally.marked += mark_rejected(fate, n, row);
            if (rejected.matrix != nullptr) count_rejected(fate, n, rejected.matrix + at);
          }
        }
        if (pass.mark && sums != nullptr) add_plain_rows(*sums, input, rows);
      }
      return NO_ERROR;
    });
  };
  // The plain inputs' values join the sums' bound (averaging/working_maps.h).
  if (pass.mark && sums != nullptr) sums->sum_bound += double(batch.count) * PLAIN_VALUE_BOUND;
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
