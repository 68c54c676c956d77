// The rejection test of averaging/rejection.h, in passes over an input's rows: the row's values
// and fates first, then one sweep per round replayed, then the sums of the survivors or the
// marks. Each sweep is a single pass over contiguous memory without branches on the values.
#include "averaging/rejection.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "averaging/input_sums.h"
#include "base/allocation.h"
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

}  // namespace

void rejection_init(RejectionMaps& maps) {
  maps.camera = Window{};
  maps.k_squared = 0.0;
  maps.rounds = 0;
  maps.bands = 0;
  for (KeptSums& set : maps.sets) each_map(set, [](auto& map) { map_init(map); });
  maps.values = nullptr;
  maps.fates = nullptr;
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
  maps.values = static_cast<double*>(mem_allocate(scratch * sizeof(double)));
  maps.fates = static_cast<uint8_t*>(mem_allocate(scratch));
  if (maps.values == nullptr || maps.fates == nullptr) return ERR_NO_MEM;
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
  mem_release(maps.values);
  mem_release(maps.fates);
  maps.values = nullptr;
  maps.fates = nullptr;
}

ErrorCode rejection_pass(RejectionMaps& maps, PhaseMap& input, double f, const RejectionPass& pass,
                         CountMap& rejected, BandTeam& team, RejectionTally& tally) {
  const Window& w = input.window;
  if (w.width < 1 || w.height < 1 || !window_within(w, maps.camera)) return ERR_IMPROPER_WINDOW;
  if (pass.rounds_replayed < 0 || pass.rounds_replayed > maps.rounds ||
      (pass.accumulate && pass.rounds_replayed >= maps.rounds) || team.bands() > maps.bands)
    return ERR_PARAM_OUT_OF_RANGE;
  const bool scaled = std::fabs(f - 1.0) > SCALE_FACTOR_EPSILON;
  const std::size_t n = std::size_t(w.width);
  const std::size_t stride = std::size_t(maps.camera.width);
  const std::size_t first = std::size_t(w.y) * stride + std::size_t(w.x);
  const auto round_mark = uint8_t(pass.rounds_replayed);
  int16_t* const counts = rejected.matrix != nullptr ? rejected.matrix + first : nullptr;
  int64_t last_rounds[MAX_BANDS];
  int64_t marks[MAX_BANDS];

  // Each band takes its rows with a row of scratch of its own.
  auto band_pass = [&](int32_t band) {
    double* const x = maps.values + std::size_t(band) * stride;
    uint8_t* const fate = maps.fates + std::size_t(band) * stride;
    int64_t last_round = 0;
    int64_t marked = 0;
    const RowRange rows = band_rows(w.height, team.bands(), band);
    for (int32_t r = rows.first; r < rows.first + rows.count; ++r) {
      int32_t* row = input.matrix + std::size_t(r) * n;
      const std::size_t at = first + std::size_t(r) * stride;
      for (std::size_t i = 0; i < n; ++i) {
        const int32_t v = row[i];
        x[i] = scaled ? double(v) * f : double(v);
        fate[i] = v < PHASE_INVALID ? KEPT : INVALID;
      }
      for (int32_t j = 1; j <= pass.rounds_replayed; ++j) {
        const KeptSums& set = maps.sets[j - 1];
        const double* ref = set.reference.matrix + at;
        const int16_t* c = set.count.matrix + at;
        const double* s = set.sum.matrix + at;
        const double* q = set.sum_sq.matrix + at;
        for (std::size_t i = 0; i < n; ++i) {
          const bool out =
              (fate[i] == KEPT) & rejects(x[i] - ref[i], c[i], s[i], q[i], maps.k_squared);
          fate[i] = out ? uint8_t(j) : fate[i];
        }
      }
      if (pass.accumulate) {
        KeptSums& set = maps.sets[pass.rounds_replayed];
        double* ref = set.reference.matrix + at;
        int16_t* c = set.count.matrix + at;
        double* s = set.sum.matrix + at;
        double* q = set.sum_sq.matrix + at;
        // Without branches, so that it vectorises: a value left out adds +0.0 and 0, which
        // change no sum (none is ever -0.0).
        for (std::size_t i = 0; i < n; ++i) {
          const bool kept = fate[i] == KEPT;
          const double r = kept & (c[i] == 0) ? x[i] : ref[i];
          const double d = kept ? x[i] - r : 0.0;
          ref[i] = r;
          s[i] += d;
          q[i] += d * d;
          c[i] = int16_t(c[i] + kept);
        }
      }
      if (pass.rounds_replayed > 0) {
        for (std::size_t i = 0; i < n; ++i) last_round += fate[i] == round_mark;
      }
      if (pass.mark) {
        for (std::size_t i = 0; i < n; ++i) {
          if (fate[i] == KEPT || fate[i] == INVALID) continue;
          row[i] = PHASE_INVALID;
          if (counts != nullptr) ++counts[std::size_t(r) * stride + i];
          ++marked;
        }
      }
    }
    last_rounds[band] = last_round;
    marks[band] = marked;
  };
  team.run(band_pass);
  for (int32_t b = 0; b < team.bands(); ++b) {
    tally.last_round += last_rounds[b];
    tally.marked += marks[b];
  }
  return NO_ERROR;
}

}  // namespace harnix
