// The averaging run: reads every input, accumulates sums over the camera field and writes the
// requested average, standard-deviation and count maps.
#ifndef HARNIX_AVERAGING_AVERAGING_RUN_H_
#define HARNIX_AVERAGING_AVERAGING_RUN_H_

#include "averaging/run_observer.h"
#include "averaging/run_result.h"
#include "averaging/settings.h"

namespace harnix {

// Runs with `settings` (MinValidCnt already resolved) over `inputs`, telling `observer` (when
// given) what happens. Prints nothing. Returns a record with step DONE when every requested
// output was written; otherwise the step that failed, its code, the file concerned and any
// detail text. Outputs are created empty first, so that after a failure each is empty or
// complete. Releases every map it took on every way out.
RunResult run_averaging(const RunSettings& settings, const InputList& inputs,
                        RunObserver* observer = nullptr);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_AVERAGING_RUN_H_
