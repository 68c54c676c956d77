#include "averaging/results.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "averaging/file_stamp.h"
#include "averaging/outputs.h"
#include "datafile/data_file.h"
#include "maps/element_ops.h"
#include "maps/map_view.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Elements of a band formed for every output of a group before the next: the sums of 16384
// pixels (288 KiB with a deviation) stay in a core's cache from one output to the next.
constexpr std::size_t FORM_CHUNK_ELEMENTS = 16384;

struct Result {
  const OutputDescriptor* output;
  const char* name;  // nullptr: kept in memory only
  KeptResult* keep;  // nullptr: written only
  PhaseMap* map;  // formed over the camera
  ErrorCode form_codes[MAX_BANDS];
  ErrorCode window_codes[MAX_BANDS];
  Window windows[MAX_BANDS];  // each band's bounding window of valid values
  Window window;              // the result's
  PhaseView cut;              // the result's window of its map
  DataAttributes attributes;  // with the result's comment
  ErrorCode write_code;
};

// The maps of a group's results besides the work map; released on every way out.
struct ExtraMaps {
  PhaseMap maps[OUTPUT_COUNT - 1];
  ExtraMaps() {
    for (PhaseMap& m : maps) map_init(m);
  }
  ~ExtraMaps() {
    for (PhaseMap& m : maps) map_free(m);
  }
  ExtraMaps(const ExtraMaps&) = delete;
  ExtraMaps& operator=(const ExtraMaps&) = delete;
};

void set_comment(DataAttributes& out, const char* format, int32_t n_inputs) {
  char text[256];
  std::snprintf(text, sizeof text, format, int(n_inputs));
  // At most 81 characters and a terminating zero.
  const std::size_t length = std::min(std::strlen(text), sizeof out.comment - 1);
  std::memset(out.comment, 0, sizeof out.comment);
  std::memcpy(out.comment, text, length);
}

// Band `band` forms its rows of every result in `group` and finds their bounding windows.
void form_band(WorkingMaps& maps, int32_t bands, int16_t min_count, Result* group,
               std::size_t count, int32_t band) {
  const Window& camera = maps.work.window;
  const RowRange rows = band_rows(camera.height, bands, band);
  const auto width = std::size_t(camera.width);
  const std::size_t chunk_rows = std::max<std::size_t>(1, FORM_CHUNK_ELEMENTS / width);
  for (std::size_t j = 0; j < count; ++j) group[j].form_codes[band] = NO_ERROR;
  for (std::size_t r = 0; r < std::size_t(rows.count); r += chunk_rows) {
    const std::size_t first = (std::size_t(rows.first) + r) * width;
    const std::size_t n = std::min(chunk_rows, std::size_t(rows.count) - r) * width;
    for (std::size_t j = 0; j < count; ++j) {
      const ErrorCode rc = group[j].output->form(maps, min_count, first, n, group[j].map->matrix);
      if (group[j].form_codes[band] == NO_ERROR) group[j].form_codes[band] = rc;
    }
  }
  const Window region{camera.x, int16_t(camera.y + rows.first), camera.width, int16_t(rows.count)};
  for (std::size_t j = 0; j < count; ++j)
    group[j].window_codes[band] =
        rows.count > 0 ? phase_map_valid_window(*group[j].map, &region, &group[j].windows[band])
                       : ERR_ALL_BAD_DATA;
}

// The first form error in band order.
ErrorCode form_code(const Result& r, int32_t bands) {
  for (int32_t b = 0; b < bands; ++b)
    if (r.form_codes[b] != NO_ERROR) return r.form_codes[b];
  return NO_ERROR;
}

// The union of the bands' windows: the bounding window of the whole field's valid values, with
// the code a single search of the field gives.
ErrorCode merged_window(Result& r, int32_t bands) {
  int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
  for (int32_t b = 0; b < bands; ++b) {
    if (r.window_codes[b] == ERR_ALL_BAD_DATA) continue;
    if (r.window_codes[b] != NO_ERROR) return r.window_codes[b];
    const Window& w = r.windows[b];
    left = std::min<int32_t>(left, w.x);
    top = std::min<int32_t>(top, w.y);
    right = std::max<int32_t>(right, w.x + w.width);
    bottom = std::max<int32_t>(bottom, w.y + w.height);
  }
  r.window = Window{};
  if (left == INT32_MAX) return ERR_ALL_BAD_DATA;
  r.window = Window{int16_t(left), int16_t(top), int16_t(right - left), int16_t(bottom - top)};
  return NO_ERROR;
}

// Whether every result names a file of its own (or none): existing files (every output was
// created empty when the run began) compared by identity, so that links and two spellings are
// caught too.
bool distinct_files(const Result* results, std::size_t count) {
  FileStamp stamps[OUTPUT_COUNT];
  for (std::size_t j = 0; j < count; ++j) {
    if (results[j].name == nullptr) continue;
    if (!file_stamp(results[j].name, &stamps[j])) return false;
    for (std::size_t i = 0; i < j; ++i)
      if (results[i].name != nullptr && (std::strcmp(results[i].name, results[j].name) == 0 ||
                                         same_file(stamps[i], stamps[j])))
        return false;
  }
  return true;
}

// A copy of the result's window for the caller, with the attributes its file carries.
ErrorCode keep_result(const Result& r) {
  KeptResult& k = *r.keep;
  map_free(k.map);
  k.map.window = r.window;
  const ErrorCode rc = map_alloc(k.map);
  if (rc != NO_ERROR) return rc;
  const auto width = std::size_t(r.window.width);
  for (int32_t row = 0; row < r.window.height; ++row)
    std::copy_n(r.cut.row(row), width, k.map.matrix + std::size_t(row) * width);
  k.attributes = r.attributes;
  k.formed = true;
  return NO_ERROR;
}

// Maps of their own for every result: the spares whose storage holds the camera, then the work
// map for the first result and new storage for the others; false, with nothing new held and
// every result back on the work map, when a map cannot be had.
bool own_maps(PhaseMap& work, Result* results, std::size_t count, PhaseMap* spares,
              int32_t spare_count, ExtraMaps& extra) {
  const Window& camera = work.window;
  const std::size_t need = std::size_t(camera.width) * std::size_t(camera.height);
  std::size_t next_spare = 0, next_extra = 0;
  for (std::size_t j = 0; j < count; ++j) {
    while (next_spare < std::size_t(spare_count) &&
           (spares[next_spare].matrix == nullptr || spares[next_spare].size < need))
      ++next_spare;
    if (next_spare < std::size_t(spare_count)) {
      PhaseMap& m = spares[next_spare++];
      m.window = camera;
      results[j].map = &m;
    } else if (j > 0) {
      PhaseMap& m = extra.maps[next_extra++];
      m.window = camera;
      if (map_alloc(m) != NO_ERROR) {
        for (PhaseMap& held : extra.maps) map_free(held);
        for (std::size_t k = 0; k < count; ++k) results[k].map = &work;
        return false;
      }
      results[j].map = &m;
    }
  }
  return true;
}

// Results that can lack any valid value while the average has some: those that need two values
// at a pixel (every pixel may have one), and the extremes with the average's minimum count.
bool may_be_empty(const OutputDescriptor& output, const WorkingMaps& maps) {
  switch (output.kind) {
    case OutputKind::MINIMUM:
    case OutputKind::MAXIMUM:
    case OutputKind::RANGE:
    case OutputKind::UNCERTAINTY:
      return true;
    case OutputKind::DEVIATION:
      return maps.deviation_type == DeviationType::SAMPLE;
    default:
      return false;
  }
}

bool fail(RunResult* result, RunStep step, ErrorCode code, const char* file) {
  result->step = step;
  result->code = code;
  result->file = file;
  return false;
}

// Forms a group of results and writes them, together when there are several; stops at the
// first that fails as writing them one by one would.
bool form_and_write(WorkingMaps& maps, BandTeam& team, int16_t min_count, Result* group,
                    std::size_t count, RunObserver& observer, RunResult* result) {
  const int32_t bands = team.bands();
  auto form = [&](int32_t band) { form_band(maps, bands, min_count, group, count, band); };
  team.run(form);

  // The results that can be written, up to the first that fails before its file is opened.
  std::size_t ready = 0;
  RunStep step = RunStep::DONE;
  ErrorCode code = NO_ERROR;
  for (; ready < count; ++ready) {
    Result& r = group[ready];
    if ((code = form_code(r, bands)) != NO_ERROR) {
      step = RunStep::WRITE_OUTPUT;
      break;
    }
    code = merged_window(r, bands);
    if (code == ERR_ALL_BAD_DATA && r.output->kind == OutputKind::AVERAGE) {
      step = RunStep::EMPTY_AVERAGE;
      break;
    }
    if (code == ERR_ALL_BAD_DATA && may_be_empty(*r.output, maps)) {
      step = RunStep::EMPTY_RESULT;
      break;
    }
    // The window is written straight from the result's map, its rows a camera row apart; a
    // result not kept in memory is written from that storage itself, turned into the file's byte
    // order there (the map is formed again, or released, before it is read once more).
    if (code != NO_ERROR || (code = region_view(*r.map, r.window, &r.cut)) != NO_ERROR) {
      step = RunStep::WRITE_OUTPUT;
      break;
    }
  }

  auto write = [&](int32_t band) {
    for (std::size_t j = std::size_t(band); j < ready; j += std::size_t(bands))
      if (group[j].name != nullptr)
        group[j].write_code =
            group[j].keep != nullptr
                ? write_data_file_in_place(group[j].name, nullptr, &group[j].attributes, nullptr,
                                           group[j].cut)
                : write_data_file_in_place_consuming(group[j].name, nullptr,
                                                     &group[j].attributes, group[j].cut);
  };
  if (ready > 1) {
    team.run(write);
  } else if (ready == 1) {
    write(0);
  }

  for (std::size_t j = 0; j < ready; ++j) {
    Result& r = group[j];
    observer.result_formed(*r.output, r.window);
    if (r.write_code == NO_ERROR && r.keep != nullptr) r.write_code = keep_result(r);
    if (r.write_code != NO_ERROR) {
      // Written one by one, the files after this one would not have been touched.
      for (std::size_t later = j + 1; later < ready; ++later)
        if (group[later].name != nullptr) (void)make_empty(group[later].name);
      return fail(result, RunStep::WRITE_OUTPUT, r.write_code, r.name);
    }
    if (r.name != nullptr) observer.output_written(r.name);
  }
  return step == RunStep::DONE || fail(result, step, code, group[ready].name);
}

}  // namespace

ResultSink::~ResultSink() {
  for (KeptResult& k : results) map_free(k.map);
}

bool output_asked(const RunSettings& settings, const OutputDescriptor& output) {
  if (output_file(settings, output) != nullptr) return true;
  // The rejection counts exist only in a rejecting run.
  if (settings.Sink == nullptr || (output.kind == OutputKind::REJECTED && !(settings.Reject > 0)))
    return false;
  return settings.Sink->want[std::size_t(&output - output_descriptors().data())];
}

bool output_asked(const RunSettings& settings, OutputKind kind) {
  for (const OutputDescriptor& output : output_descriptors())
    if (output.kind == kind) return output_asked(settings, output);
  return false;
}

bool write_results(const RunSettings& settings, WorkingMaps& maps, BandTeam& team,
                   const DataAttributes& attributes, int32_t n_inputs, int16_t min_count,
                   RunObserver& observer, RunResult* result, PhaseMap* spares,
                   int32_t spare_count) {
  Result results[OUTPUT_COUNT];
  std::size_t count = 0;
  for (const OutputDescriptor& output : output_descriptors()) {
    if (!output_asked(settings, output)) continue;
    const std::size_t index = std::size_t(&output - output_descriptors().data());
    Result& r = results[count++];
    r.output = &output;
    r.name = output_file(settings, output);
    r.keep = settings.Sink != nullptr && settings.Sink->want[index] ? &settings.Sink->results[index]
                                                                     : nullptr;
    r.map = &maps.work;
    r.attributes = attributes;
    set_comment(r.attributes, output_comment_format(output, settings), n_inputs);
    r.write_code = NO_ERROR;
  }
  ExtraMaps extra;
  const bool together = team.bands() > 1 && count > 1 && distinct_files(results, count) &&
                        own_maps(maps.work, results, count, spares, spare_count, extra);
  const std::size_t group = together ? count : 1;
  for (std::size_t first = 0; first < count; first += group)
    if (!form_and_write(maps, team, min_count, results + first, group, observer, result))
      return false;
  return true;
}

}  // namespace harnix
