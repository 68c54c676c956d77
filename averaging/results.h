// The end of a run: every asked result formed from the sums and written, in the output table's
// order as far as anyone can see.
//
// Each band forms its own rows, a few at a time for every output while those rows of the sums
// are in the cache. With one band the outputs are formed in the work map and written one after
// the other. With more, each output is formed in a map of its own and the files are written at
// the same time, one a band; outputs that name one file (or maps that cannot be had) are formed
// and written one after the other as with one band. Either way every file, every call of the
// observer and the failure reported are those of forming and writing each output in turn and
// stopping at the first that fails: outputs after it stay the empty files the run began with.
#ifndef HARNIX_AVERAGING_RESULTS_H_
#define HARNIX_AVERAGING_RESULTS_H_

#include <cstdint>

#include "averaging/band_team.h"
#include "averaging/run_observer.h"
#include "averaging/run_result.h"
#include "averaging/settings.h"
#include "averaging/working_maps.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

// Forms and writes every output `settings` asks for from the sums in `maps`, each file with
// `attributes` and the comment of its kind for `n_inputs` inputs, `min_count` the resolved
// minimum of valid values. Needs maps.work over the camera; the team's side job cleared.
// `spares` (`spare_count` records, the caller's to release) may lend storage already in use by
// the run: results formed side by side take the spares large enough for the camera before any
// new storage; their windows are changed. True when all were written; else false with the step,
// code and file of the first failure in `*result`, the outputs before it written. Output maps
// this obtains are released before it returns.
bool write_results(const RunSettings& settings, WorkingMaps& maps, BandTeam& team,
                   const DataAttributes& attributes, int32_t n_inputs, int16_t min_count,
                   RunObserver& observer, RunResult* result, PhaseMap* spares = nullptr,
                   int32_t spare_count = 0);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RESULTS_H_
