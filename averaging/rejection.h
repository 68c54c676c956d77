// Per-pixel rejection of outlying values (-Reject K, -RejectIter N).
//
// The values judged are the scaled values x = F v of the inputs, exactly those the average adds.
// A round, at a pixel whose kept set has n >= 3 values, compares every kept x with the other
// n - 1: their mean mu and sample standard deviation s (divisor n - 2); x is rejected when
// |x - mu| > K max(s, 1). Every decision of a round uses the same kept set.
//
// The sums of a kept set are shifted by a reference r, the first value of the set at the pixel:
// c = n, S = sum(x - r), Q = sum((x - r)^2). With d = x - r, m = n - 1, S' = S - d and
// Q' = Q - d^2 (the others' sums), the test |x - mu| > K max(s, 1) is, multiplied out,
//   (m d - S')^2 (m - 1) > K^2 m max(m Q' - S'^2, m (m - 1)),
// which needs no division, and the shift keeps S'^2 and m Q' close to the spread itself rather
// than to the values' magnitude.
//
// A run keeps the sums of the set before each round (set j: the values kept after round j; set
// 0 holds every valid value). A pass over an input replays, for each value, the decisions of
// rounds 1..k from those sums (the same arithmetic on the same sums, so the same decisions as
// when each round was decided), so that memory stays flat in the number of inputs: a few
// camera-sized maps per round.
#ifndef HARNIX_AVERAGING_REJECTION_H_
#define HARNIX_AVERAGING_REJECTION_H_

#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/input_sums.h"
#include "averaging/levelling.h"
#include "averaging/settings.h"
#include "base/error_codes.h"
#include "maps/map_types.h"

namespace harnix {

// The sums of one kept set over the camera.
struct KeptSums {
  RealMap reference;  // the first value of the set at each pixel (meaningless where count is 0)
  CountMap count;
  RealMap sum;     // sum(x - reference)
  RealMap sum_sq;  // sum((x - reference)^2)
};

// What one pass does with an input's values.
struct RejectionPass {
  int32_t rounds_replayed = 0;  // the decisions of rounds 1..rounds_replayed are applied
  bool accumulate = false;      // the values kept through them join sets[rounds_replayed]
  bool mark = false;            // the values rejected by any of them become PHASE_INVALID
};

struct RejectionTally {
  int64_t last_round = 0;  // values rejected in round rounds_replayed itself
  int64_t marked = 0;      // values marked invalid (with `mark`)
};

struct RejectionMaps {
  Window camera;
  double k_squared;
  int32_t rounds;                    // rounds asked for
  KeptSums sets[MAX_REJECT_ROUNDS];  // sets[j]: kept after round j, for j < rounds
  int32_t bands;                     // bands a pass is shared among
  uint8_t* fates;                    // per band one camera row: kept, invalid or the round
  RejectionTally* band_tallies;      // per band one tally for each input of a batch
};

// Bytes the rejection maps hold per camera pixel for `rounds` rounds.
constexpr uint64_t rejection_bytes_per_pixel(int32_t rounds) {
  return uint64_t(rounds) * (8 + 2 + 8 + 8);
}

// Zeroes every record (no storage), so that rejection_free is safe on every way out.
void rejection_init(RejectionMaps& maps);

// Makes the sums of the sets 0..rounds-1 over (0, 0, width, height), counts and sums 0 (each band
// of `team` clears its own rows, so that they lie near the thread that works on them), and the
// row scratch of the team's bands. `k` > 0, `rounds` in 1..MAX_REJECT_ROUNDS. ERR_NO_MEM (what was
// obtained is kept for rejection_free), ERR_PARAM_OUT_OF_RANGE for a bad k or rounds.
ErrorCode rejection_create(RejectionMaps& maps, int16_t width, int16_t height, double k,
                           int32_t rounds, BandTeam& team);

// Releases everything; safe on records without storage and repeatedly.
void rejection_free(RejectionMaps& maps);

// Inputs queued to go through one pass together.
struct RejectionBatch {
  int32_t count = 0;
  PhaseMap* inputs[MAX_BATCH_INPUTS] = {};
  double factors[MAX_BATCH_INPUTS] = {};
  const InputLevel* levels[MAX_BATCH_INPUTS] = {};  // each input's level, or nullptr
  RejectionTally tallies[MAX_BATCH_INPUTS] = {};  // each input's counts, from rejection_batch_pass
};

// Checks `input` (a phase map in its own window on the camera, host order; x = v f when
// |f - 1| > SCALE_FACTOR_EPSILON, else v) and `pass`, and queues the input; its storage must stay
// until the batch has been passed. With `level` (which must stay as long), x = v f - p with f = 1
// when unscaled (averaging/levelling.h). Needs batch.count < MAX_BATCH_INPUTS.
//   ERR_IMPROPER_WINDOW     the input's window does not lie on the camera
//   ERR_PARAM_OUT_OF_RANGE  rounds_replayed beyond the rounds made, accumulate asking for a set
//                           not made, or a team of more bands than the maps were made for
// Nothing is queued on failure.
ErrorCode rejection_queue(const RejectionMaps& maps, RejectionBatch& batch, PhaseMap& input,
                          double f, const RejectionPass& pass, const BandTeam& team,
                          const InputLevel* level = nullptr);

// Passes the valid values of every queued input through `pass` and sets each input's tally. With
// `mark`, each value rejected is also counted at its pixel in `rejected` (when it has storage).
// The camera rows are shared among the team's bands and gone through a chunk at a time, every
// input of the batch in input order on a chunk before the next chunk, so that the chunk's sums
// stay in the cache: every pixel sees the inputs in input order, and every decision, sum and
// count is that of one band and one input at a time. With `sums` (a marking pass over inputs
// that all add plainly, adds_plainly), each input's rows of a chunk, once marked, go to those sums
// there and then (add_plain_rows), while they are still in the cache: the additions adding the
// batch would make, in the same order. Cannot fail; leaves `count` as it is.
void rejection_batch_pass(RejectionMaps& maps, RejectionBatch& batch, const RejectionPass& pass,
                          CountMap& rejected, BandTeam& team, WorkingMaps* sums = nullptr);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_REJECTION_H_
