#include "util/run_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "base/platform.h"

namespace harnix {

namespace {

// In the record's own order, which puts the settings as the program lists them.
using json = nlohmann::ordered_json;

// Settings that name files (every output's option ends in "Out") or steer the console: not what
// makes the results.
bool shapes_results(const std::string& key) {
  if (key.size() > 3 && key.compare(key.size() - 3, 3, "Out") == 0) return false;
  return key != "InputReport" && key != "RunRecord" && key != "Overwrite" && key != "Verbose";
}

std::string value_text(const json& v) {
  if (v.is_null()) return "none";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "yes" : "no";
  return v.dump();
}

bool read_text(const char* name, std::string* text, std::string* message) {
  std::FILE* f = open_file_utf8(name, "rb");
  if (f == nullptr) {
    *message = std::string("cannot be opened: ") + std::strerror(errno);
    return false;
  }
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text->append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) *message = "cannot be read";
  return !failed;
}

// The removal as the map's meaning puts it.
std::string removal_clause(const std::string& removal) {
  if (removal == "None")
    return "with nothing removed from the inputs, so that tilt or form that changed between "
           "measurements is part of it";
  if (removal == "Piston")
    return "after each input's mean height (piston) was removed, so that tilt or form that "
           "changed between measurements is part of it";
  if (removal == "Plane")
    return "after each input's least-squares plane was removed, so that tilt between "
           "measurements is not part of it";
  if (removal == "Robust")
    return "after each input's robust plane was removed, so that tilt between measurements is "
           "not part of it";
  if (removal == "Sphere" || removal == "Cylinder")
    return "after each input's least-squares " + std::string(removal == "Sphere" ? "sphere" : "cylinder") +
           " was removed, so that tilt and that form between measurements are not part of it";
  return "with the removal \"" + removal + "\"";
}

}  // namespace

bool read_run_record(const char* name, RunRecordSummary* out, std::string* message) {
  std::string text;
  if (!read_text(name, &text, message)) return false;
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    *message = std::string("is not a run record: ") + e.what();
    return false;
  }
  if (!j.is_object() || !j.contains("settings") || !j["settings"].is_object() ||
      !j.contains("result") || !j["result"].is_object()) {
    *message = "is not a run record: no settings or result";
    return false;
  }
  out->name = name;
  out->program = value_text(j.value("program", json())) + " " + value_text(j.value("version", json()));
  out->started = value_text(j.value("started", json()));
  out->ended = value_text(j.value("ended", json()));
  const json& result = j["result"];
  out->ok = result.value("ok", false);
  if (!out->ok) {
    // A run refused before it began names no file: its error's text says what was refused.
    const json file = result.value("file", json()), detail = result.value("detail", json());
    out->failure = value_text(result.value("failed_at", json()));
    if (!file.is_null()) out->failure += " (" + value_text(file) + ")";
    else if (detail.is_string()) out->failure += ": " + detail.get<std::string>();
  }
  for (const auto& [key, value] : j["settings"].items()) {
    if (key == "SdevRemove" && value.is_string()) out->removal = value.get<std::string>();
    if (key == "Level" && value.is_string()) out->level = value.get<std::string>();
    if (shapes_results(key)) out->settings.emplace_back(key, value_text(value));
  }
  return true;
}

std::string deviation_meaning(const RunRecordSummary& run) {
  if (run.removal.empty())
    return "The record does not state the removal behind the standard deviation map.";
  std::string text = "Each pixel's standard deviation of the inputs about their average, " +
                     removal_clause(run.removal) + ".";
  if (!run.level.empty() && run.level != "None")
    text += " The inputs were levelled (" + run.level + ") before they were averaged.";
  if (run.removal == "Plane" || run.removal == "Robust" || run.removal == "Sphere" ||
      run.removal == "Cylinder")
    text += " Its RMS is the repeatability of one measurement in this run, the set-up's "
            "alignment apart.";
  return text;
}

}  // namespace harnix
