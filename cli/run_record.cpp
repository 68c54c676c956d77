#include "cli/run_record.h"

#include <cstdio>

#include "averaging/json_writer.h"
#include "datafile/file_name.h"
#include "datafile/output_file.h"

namespace harnix {

std::string run_record_text(const RunRecorder& recorder, const RunResult& result) {
  JsonWriter json;
  recorder.record(result, json);
  return json.text();
}

bool write_run_record(const RunRecorder& recorder, const RunResult& result, std::string* message) {
  const std::string text = run_record_text(recorder, result);
  std::string platform_name;
  if (!platform_file_name(recorder.settings().RunRecordFile, &platform_name)) {
    *message = "the name cannot be converted";
    return false;
  }
  OutputFile out;
  if (!output_open(platform_name.c_str(), &out, message)) return false;
  if (std::fwrite(text.data(), 1, text.size(), out.stream) != text.size()) {
    output_discard(&out);
    *message = "cannot write \"" + out.name + "\"";
    return false;
  }
  return output_commit(&out, message);
}

}  // namespace harnix
