// The record of an averaging run (harnix -RunRecord), as the report reads it: the settings the run
// resolved, how it ended, and from them what its deviation map means.
#ifndef HARNIX_TOOLS_UTIL_RUN_RECORD_H_
#define HARNIX_TOOLS_UTIL_RUN_RECORD_H_

#include <string>
#include <utility>
#include <vector>

namespace harnix {

struct RunRecordSummary {
  std::string name;     // the file as given
  std::string program;  // "Harnix 5.0"
  std::string started;  // as recorded (UTC, ISO 8601)
  std::string ended;
  bool ok = false;
  std::string failure;  // where a failed run stopped, and the file concerned
  // The settings that shape the results, in the record's order, as (name, value): every one but
  // the file names and the console's (Overwrite, Verbose); a setting the record leaves null
  // reads "none".
  std::vector<std::pair<std::string, std::string>> settings;
  std::string removal;  // SdevRemove ("None", "Plane", ...), empty when not recorded
  std::string level;    // Level, empty when the record has none
};

// Reads the record `name`. False with *message set (to follow the quoted file name, "cannot be
// opened: ...", "is not a run record: ...") when it cannot be read or is not a record.
bool read_run_record(const char* name, RunRecordSummary* out, std::string* message);

// What the standard deviation map holds, in a sentence or two, from the removal and levelling
// the record names.
std::string deviation_meaning(const RunRecordSummary& run);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_RUN_RECORD_H_
