// The run record as the command line writes it (-RunRecord FILE): the record of
// averaging/run_record.h as a JSON file, written whole when the run ends, also after a failure.
#ifndef HARNIX_CLI_RUN_RECORD_H_
#define HARNIX_CLI_RUN_RECORD_H_

#include <string>

#include "averaging/run_record.h"
#include "averaging/run_result.h"

namespace harnix {

// The record's JSON text for a run that ended with `result`.
std::string run_record_text(const RunRecorder& recorder, const RunResult& result);

// Writes that text to the file the recorder's settings name (RunRecordFile), whole or not at
// all. False with *message set when it cannot be written.
bool write_run_record(const RunRecorder& recorder, const RunResult& result, std::string* message);

}  // namespace harnix

#endif  // HARNIX_CLI_RUN_RECORD_H_
