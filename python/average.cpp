// average: the engine over a list of inputs, its results handed over in memory.
//
// The run goes on a thread of its own with the GIL released; the caller's thread waits for it,
// calls the progress callback and looks for signals about every 50 ms, and on Ctrl-C (or an
// exception from the callback) asks the run to stop, which it does after the input at hand.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "averaging/averaging_run.h"
#include "averaging/band_team.h"
#include "averaging/input_report.h"
#include "averaging/json_writer.h"
#include "averaging/option_words.h"
#include "averaging/record_writer.h"
#include "averaging/run_record.h"
#include "base/platform.h"
#include "datafile/attributes.h"
#include "datafile/file_name.h"
#include "maps/storage.h"
#include "python/errors.h"
#include "python/measurement.h"

namespace harnix {

namespace py = pybind11;

namespace {

constexpr auto WAIT_STEP = std::chrono::milliseconds(50);

// The outputs besides the first four that a run may keep, in the order of output_descriptors().
constexpr std::size_t FIRST_EXTRA = 4;
constexpr const char* EXTRA_NAMES[] = {"minimum", "maximum", "range", "uncertainty"};
constexpr const char* RESULT_NAMES[OUTPUT_COUNT] = {"average", "deviation", "count", "rejected",
                                                    "minimum", "maximum", "range", "uncertainty"};

// The word of a plain name, or of an entry of an option's table.
const char* word_of(const char* name) {
  return name;
}
template <typename Value>
const char* word_of(const OptionWord<Value>& entry) {
  return entry.word;
}

// The words of `choices` (option words or plain names), as a list in a message.
template <typename Choice, std::size_t N>
std::string joined(const Choice (&choices)[N]) {
  std::string text;
  for (const Choice& c : choices) text += (text.empty() ? "" : ", ") + std::string(word_of(c));
  return text;
}

// The entry of `choices` that `value` (a str) names in any case; TypeError or ValueError
// otherwise.
template <typename Choice, std::size_t N>
const Choice& choice_argument(const char* what, const py::object& value,
                              const Choice (&choices)[N]) {
  if (!py::isinstance<py::str>(value))
    throw py::type_error(std::string(what) + " must be a str (" + joined(choices) + ")");
  const std::string text = value.cast<std::string>();
  for (const Choice& c : choices)
    if (is_option_word(text, word_of(c))) return c;
  throw py::value_error(std::string(what) + " must be one of " + joined(choices) + ", not \"" +
                        text + "\"");
}

// The run's record as Python values: dicts (members in order), lists, str, int, float, bool and
// None; text taken as UTF-8 with undecodable bytes kept as os.fsdecode keeps them, so that an
// input's name is the str the caller gave (the JSON record writes such bytes as U+FFFD).
class DictWriter final : public RecordWriter {
 public:
  void begin_object() override { open(py::dict()); }
  void end_object() override { stack_.pop_back(); }
  void begin_array() override { open(py::list()); }
  void end_array() override { stack_.pop_back(); }
  void key(const char* name) override { key_ = name; }
  void string(const std::string& text) override { put(text_of(text.data(), text.size())); }
  void string(const char* text) override {
    put(text != nullptr ? text_of(text, std::strlen(text)) : py::none());
  }
  void integer(int64_t value) override { put(py::int_(value)); }
  void number(double value) override {
    put(std::isfinite(value) ? py::object(py::float_(value)) : py::none());
  }
  void boolean(bool value) override { put(py::bool_(value)); }
  void null() override { put(py::none()); }

  const py::object& value() const { return root_; }

 private:
  static py::object text_of(const char* text, std::size_t size) {
    PyObject* s = PyUnicode_DecodeUTF8(text, Py_ssize_t(size), "surrogateescape");
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
  }
  void put(const py::object& value) {
    if (stack_.empty()) {
      root_ = value;
    } else if (PyDict_Check(stack_.back().ptr())) {
      if (PyDict_SetItemString(stack_.back().ptr(), key_.c_str(), value.ptr()) != 0)
        throw py::error_already_set();
    } else if (PyList_Append(stack_.back().ptr(), value.ptr()) != 0) {
      throw py::error_already_set();
    }
  }
  void open(const py::object& container) {
    put(container);
    stack_.push_back(container);
  }

  std::vector<py::object> stack_;  // the containers open, innermost last
  std::string key_;                // the member the next value is for
  py::object root_;
};

// Tells `out` the Python value `value` (dicts with str keys, lists, tuples, str, int, float, bool
// and None): a record as DictWriter made it, or as a caller changed it. Text goes back to the
// bytes it was made of (os.fsencode's way), which the JSON writer treats as the command line's
// record treats them.
// A value nested deeper than MAX_RECORD_DEPTH (a dict that holds itself, say) is a ValueError.
constexpr int MAX_RECORD_DEPTH = 64;

void tell_value(const py::handle& value, RecordWriter& out, int depth = 0) {
  if (depth > MAX_RECORD_DEPTH) throw py::value_error("a record nests too deep");
  auto text = [](const py::handle& s) {
    PyObject* b = PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogateescape");
    if (b == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::bytes>(b).cast<std::string>();
  };
  if (value.is_none()) {
    out.null();
  } else if (PyBool_Check(value.ptr())) {
    out.boolean(value.ptr() == Py_True);
  } else if (PyLong_Check(value.ptr())) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0) throw py::value_error("a record's int must fit 64 bits");
    out.integer(v);
  } else if (PyFloat_Check(value.ptr())) {
    out.number(value.cast<double>());
  } else if (PyUnicode_Check(value.ptr())) {
    out.string(text(value));
  } else if (PyDict_Check(value.ptr())) {
    out.begin_object();
    for (const auto item : py::reinterpret_borrow<py::dict>(value)) {
      if (!PyUnicode_Check(item.first.ptr())) throw py::type_error("a record's keys must be str");
      out.key(text(item.first).c_str());
      tell_value(item.second, out, depth + 1);
    }
    out.end_object();
  } else if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr())) {
    out.begin_array();
    for (const py::handle item : value) tell_value(item, out, depth + 1);
    out.end_array();
  } else {
    throw py::type_error("a record holds no " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  }
}

// The record as the command line writes its -RunRecord file.
py::bytes record_json(const py::handle& record) {
  JsonWriter json;
  tell_value(record, json);
  return py::bytes(json.text());
}

// The shortest text that reads back as `value` ("50", "2.5", "1e-06"), as a person would type
// it on the command line.
std::string option_number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// The harnix command that makes the same run: the options whose values differ from the command
// line's defaults, spelt as its record spells settings, then the inputs (outputs aside: a run
// in memory names none).
std::vector<std::string> equivalent_command(const RunSettings& s, const InputList& inputs,
                                            bool min_count_given) {
  std::vector<std::string> args = {"harnix"};
  auto option = [&args](const char* name, const std::string& value) {
    args.push_back(std::string("-") + name);
    args.push_back(value);
  };
  if (s.SdevRemove != RemovalMode::NONE) option("SdevRemove", sdev_remove_label(s.SdevRemove));
  if (s.MinValidPct > 0)
    option("MinValidPct", option_number(s.MinValidPct));
  else if (min_count_given)
    option("MinValidCnt", std::to_string(s.MinValidCnt));
  if (s.PhaseRes != PHASE_RES_FROM_INPUT)
    option("PhaseRes", option_label(s.PhaseRes, PHASE_RES_WORDS));
  if (s.Reject > 0) option("Reject", option_number(s.Reject));
  if (s.RejectIter > 0) option("RejectIter", std::to_string(s.RejectIter));
  if (s.Level != LevelMode::NONE) option("Level", level_label(s.Level));
  if (s.Combine != CombineMode::MEAN) option("Combine", option_label(s.Combine, COMBINE_WORDS));
  if (s.MemoryLimit > 0) option("MemoryLimit", option_number(s.MemoryLimit));
  if (s.SdevType != DeviationType::POPULATION)
    option("SdevType", option_label(s.SdevType, DEVIATION_TYPE_WORDS));
  if (s.Align != AlignMode::NONE) option("Align", option_label(s.Align, ALIGN_WORDS));
  if (s.AlignMax > 0) option("AlignMax", std::to_string(s.AlignMax));
  if (s.Threads > 0) option("Threads", std::to_string(s.Threads));
  args.insert(args.end(), inputs.names.begin(), inputs.names.end());
  return args;
}

// The record of a run as a dict.
py::object record_dict(const RunRecorder& recorder, const RunResult& result) {
  DictWriter dict;
  recorder.record(result, dict);
  return dict.value();
}

// Where the run is, for the caller's thread; written by the run's thread. Without a callback to
// tell, the caller's thread is woken only when the run ends: news of each input would wake it
// (and take the GIL) for nothing.
class Progress : public RunObserver {
 public:
  explicit Progress(bool told) : told_(told) {}
  void pass_started(int32_t pass) override {
    pass_.store(pass);
    changed();
  }
  void input_passed(int32_t /*pass*/, int32_t index, int32_t count) override {
    index_.store(index);
    count_.store(count);
    changed();
  }
  void finished() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
  }
  // Waits until something changed, the run ended or a step passed; true once the run ended.
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, WAIT_STEP, [this] { return done_ || news_; });
    news_ = false;
    return done_;
  }
  int32_t pass() const { return pass_.load(); }
  int32_t index() const { return index_.load(); }
  int32_t count() const { return count_.load(); }

 private:
  void changed() {
    if (!told_) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      news_ = true;
    }
    wake_.notify_all();
  }
  const bool told_;
  std::atomic<int32_t> pass_{0}, index_{0}, count_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool news_ = false;
  bool done_ = false;
};

int32_t phase_res_argument(const py::object& value) {
  if (value.is_none()) return PHASE_RES_FROM_INPUT;
  return choice_argument("phase_res", value, PHASE_RES_WORDS).value;
}

int32_t int_argument(const char* name, const py::object& value, int32_t lo, int32_t hi) {
  if (!py::isinstance<py::int_>(value) || py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + " must be an int");
  const long long v = value.cast<long long>();
  if (v < lo || v > hi)
    throw py::value_error(std::string(name) + " must lie in [" + std::to_string(lo) + ", " +
                          std::to_string(hi) + "], not " + std::to_string(v));
  return int32_t(v);
}

double real_argument(const char* name, const py::object& value) {
  if (!py::isinstance<py::int_>(value) && !py::isinstance<py::float_>(value))
    throw py::type_error(std::string(name) + " must be a number");
  return value.cast<double>();
}

// The minimum count of valid inputs, resolved as the command line resolves it, into `settings`
// (with the percentage, when given, as the command line keeps it for the record).
void min_count_argument(const py::object& count, const py::object& percent, int32_t n,
                        RunSettings* settings) {
  if (!percent.is_none()) {
    if (!count.is_none()) throw py::value_error("give min_count or min_percent, not both");
    const double pct = real_argument("min_percent", percent);
    if (!(pct > 0 && pct <= 100)) throw py::value_error("min_percent must lie in (0, 100]");
    double c = std::ceil(n * pct / 100.0);
    if (!(c >= 1)) c = 1;
    if (c > n) c = n;
    settings->MinValidPct = pct;
    settings->MinValidCnt = int32_t(c);
    return;
  }
  settings->MinValidCnt = count.is_none() ? n : int_argument("min_count", count, 1, n);
}

py::object kept_measurement(KeptResult& k) {
  if (!k.formed) return py::none();
  auto m = std::make_unique<Measurement>();
  map_init(m->intensity);
  m->phase = k.map;  // the storage passes to the measurement
  map_init(k.map);
  m->attributes = k.attributes;
  return py::cast(std::move(m));
}

// The per-input report as the command line writes it.
py::bytes report_bytes(const InputList& inputs, const ResultSink& sink) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&text, &size);
  if (stream == nullptr) raise_error(ERR_NO_MEM, "", error_name(ERR_NO_MEM));
  const ErrorCode rc = write_input_report(stream, inputs, sink.figures.data(), sink.levelled,
                                             sink.shifts.empty() ? nullptr : sink.shifts.data());
  std::fclose(stream);
  py::bytes out(text != nullptr ? text : "", size);
  std::free(text);
  if (rc != NO_ERROR) raise_error(rc, "", error_name(rc));
  return out;
}

// The outputs besides the first four that `outputs` (an iterable of their names) asks for.
void extra_outputs(const py::object& outputs, ResultSink* sink) {
  if (outputs.is_none()) return;
  if (py::isinstance<py::str>(outputs))
    throw py::type_error("outputs must be an iterable of names, not a single str");
  for (const py::handle item : py::iter(outputs)) {
    const char* const& name =
        choice_argument("outputs", py::reinterpret_borrow<py::object>(item), EXTRA_NAMES);
    sink->want[FIRST_EXTRA + std::size_t(&name - EXTRA_NAMES)] = true;
  }
}

py::dict average(const std::vector<py::object>& paths, const py::object& remove,
                 const py::object& min_count, const py::object& min_percent,
                 const py::object& phase_res, const py::object& reject,
                 const py::object& reject_rounds, const py::object& level,
                 const py::object& combine, const py::object& memory_limit,
                 const py::object& sdev_type, const py::object& align,
                 const py::object& align_max, const py::object& outputs,
                 const py::object& threads, bool report, const py::object& progress) {
  if (paths.empty()) throw py::value_error("average needs at least one input");
  if (paths.size() > std::size_t(MAX_INPUT_FILES))
    throw py::value_error("average takes at most " + std::to_string(MAX_INPUT_FILES) + " inputs");
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error("progress must be callable");
  RunSettings settings;
  settings.SdevRemove = choice_argument("remove", remove, REMOVAL_WORDS).value;
  settings.Level = choice_argument("level", level, LEVEL_WORDS).value;
  settings.Combine = choice_argument("combine", combine, COMBINE_WORDS).value;
  settings.SdevType = choice_argument("sdev_type", sdev_type, DEVIATION_TYPE_WORDS).value;
  if (!memory_limit.is_none()) {
    if (settings.Combine != CombineMode::MEDIAN)
      throw py::value_error("memory_limit needs combine=\"median\"");
    settings.MemoryLimit = real_argument("memory_limit", memory_limit);
    if (!(settings.MemoryLimit > 0 && settings.MemoryLimit <= MAX_MEMORY_LIMIT_MIB))
      throw py::value_error("memory_limit must lie in (0, 2**40] MiB");
  }
  if (settings.Level != LevelMode::NONE && settings.Combine == CombineMode::MEDIAN)
    throw py::value_error("level does not go with combine=\"median\"");
  settings.Align = choice_argument("align", align, ALIGN_WORDS).value;
  if (!align_max.is_none()) {
    if (settings.Align == AlignMode::NONE)
      throw py::value_error("align_max needs align=\"shift\"");
    settings.AlignMax = int_argument("align_max", align_max, 1, MAX_ALIGN_MAX);
  }
  ResultSink sink;
  // The average, deviation, count and (with reject) rejection maps, and the others asked for.
  for (std::size_t i = 0; i < FIRST_EXTRA; ++i) sink.want[i] = true;
  extra_outputs(outputs, &sink);
  sink.want_figures = report;

  InputList inputs;
  for (const py::object& p : paths) inputs.names.push_back(path_argument(p));
  const auto n = int32_t(inputs.names.size());

  min_count_argument(min_count, min_percent, n, &settings);
  settings.PhaseRes = phase_res_argument(phase_res);
  if (!reject.is_none()) {
    settings.Reject = real_argument("reject", reject);
    if (!(settings.Reject > 0 && std::isfinite(settings.Reject)))
      throw py::value_error("reject must be a positive number");
  }
  if (!reject_rounds.is_none()) {
    if (reject.is_none()) throw py::value_error("reject_rounds needs reject");
    settings.RejectIter = int_argument("reject_rounds", reject_rounds, 1, MAX_REJECT_ROUNDS);
  }
  settings.Threads =
      threads.is_none() ? 0 : int_argument("threads", threads, 1, std::max(1, usable_cores()));
  settings.Sink = &sink;
  std::atomic<bool> stop{false};
  settings.Stop = &stop;

  const std::vector<std::string> command_text =
      equivalent_command(settings, inputs, !min_count.is_none());
  std::vector<char*> command_values;
  for (const std::string& arg : command_text)
    command_values.push_back(const_cast<char*>(arg.c_str()));
  const CommandArguments command{int(command_values.size()), command_values.data()};

  // As the command line does, before anything is read; the record is that of a refused run.
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::string name;
    if (platform_file_name(inputs.names[i].c_str(), &name) && is_regular_file_utf8(name.c_str()))
      continue;
    const std::string shown = path_text(paths[i]);
    const std::string text = "Cannot access input file \"" + shown + "\"";
    RunRecorder refused(settings, inputs, command, nullptr);
    refused.refuse("check inputs", text.c_str());
    raise_error(ERR_CANT_OPEN_FILE, shown, text, record_dict(refused, RunResult{}));
  }

  Progress observer(!progress.is_none());
  RunRecorder recorder(settings, inputs, command, &observer);
  RunResult result;
  {
    py::gil_scoped_release unlocked;
    std::thread run([&] {
      result = run_averaging(settings, inputs, &recorder);
      observer.finished();
    });
    bool done = false;
    int32_t shown_pass = -1, shown_index = -1;
    try {
      while (!done) {
        done = observer.wait();
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!progress.is_none() &&
            (observer.pass() != shown_pass || observer.index() != shown_index)) {
          shown_pass = observer.pass();
          shown_index = observer.index();
          progress(shown_pass, shown_index, n);
        }
      }
    } catch (...) {
      stop.store(true);
      run.join();
      throw;
    }
    run.join();
  }
  // Told before the kept maps pass to their measurements.
  py::object record = record_dict(recorder, result);
  raise_for_run(result, record);

  py::dict out;
  out["record"] = record;
  for (std::size_t i = 0; i < OUTPUT_COUNT; ++i)
    out[RESULT_NAMES[i]] = kept_measurement(sink.results[i]);
  out["report"] = report ? py::object(report_bytes(inputs, sink)) : py::object(py::none());
  out["min_count"] = settings.MinValidCnt;
  return out;
}

}  // namespace

void define_average(py::module_& module) {
  module.def("average", &average, py::arg("paths"), py::kw_only(), py::arg("remove") = "none",
             py::arg("min_count") = py::none(), py::arg("min_percent") = py::none(),
             py::arg("phase_res") = py::none(), py::arg("reject") = py::none(),
             py::arg("reject_rounds") = py::none(), py::arg("level") = "none",
             py::arg("combine") = "mean", py::arg("memory_limit") = py::none(),
             py::arg("sdev_type") = "population", py::arg("align") = "none",
             py::arg("align_max") = py::none(), py::arg("outputs") = py::none(),
             py::arg("threads") = py::none(),
             py::arg("report") = false, py::arg("progress") = py::none(),
             "The engine over a list of paths; see harnix.average.");
  module.def("record_json", &record_json, py::arg("record"),
             "A run's record as the bytes of the command line's -RunRecord file.");
}

}  // namespace harnix
