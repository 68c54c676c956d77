// The averaging run's first step: make sure every requested output can be created.
#ifndef HARNIX_AVERAGING_OUTPUT_CHECK_H_
#define HARNIX_AVERAGING_OUTPUT_CHECK_H_

#include "averaging/settings.h"

namespace harnix {

// For AvgOutFile, SdevOutFile and CountOutFile in this order, when given: create the file for
// writing (an existing file is emptied) and close it at once, so that every output is an empty
// file until it is written. An output that names the same file as one of `inputs` is refused
// before anything is emptied, since emptying it would destroy an input the run has yet to read.
// The first output that cannot be created (or is an input) is reported as "Cannot create output
// file" on the standard error stream and gives false; the outputs before it have been emptied.
bool create_empty_outputs(const RunSettings& settings, const InputList& inputs);

}  // namespace harnix

#endif  // HARNIX_AVERAGING_OUTPUT_CHECK_H_
