// The averaging run: reads every input, accumulates sums over the camera field and writes the
// requested average, standard-deviation and count maps.
#ifndef HARNIX_AVERAGING_AVERAGING_RUN_H_
#define HARNIX_AVERAGING_AVERAGING_RUN_H_

#include "averaging/settings.h"

namespace harnix {

// Runs with `settings` (MinValidCnt already resolved) over `inputs`. Returns true when every
// requested output was written; false after its failure messages have been printed on the
// standard error stream. Releases every map it took on every way out.
bool run_averaging(const RunSettings& settings, const InputList& inputs);

// The same with the process-wide records.
bool run_averaging();

}  // namespace harnix

#endif  // HARNIX_AVERAGING_AVERAGING_RUN_H_
