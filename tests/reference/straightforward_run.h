// The averaging run as it was first written: every step a full pass of an element operation over
// camera-sized working maps, exactly in the order the run is described. Kept as the reference
// the optimised run must match byte for byte (tests/averaging/averaging_run_identity_test.cpp): the
// same messages, the same return value and the same output files.
#ifndef HARNIX_TESTS_REFERENCE_STRAIGHTFORWARD_RUN_H_
#define HARNIX_TESTS_REFERENCE_STRAIGHTFORWARD_RUN_H_

#include "averaging/settings.h"

namespace harnix {

// As run_on_console(settings, inputs) (cli/run_messages.h).
bool straightforward_run_averaging(const RunSettings& settings, const InputList& inputs);

}  // namespace harnix

#endif  // HARNIX_TESTS_REFERENCE_STRAIGHTFORWARD_RUN_H_
