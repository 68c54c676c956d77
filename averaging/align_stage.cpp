// The alignment stage: estimate once, move in every pass.
#include "averaging/align_stage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "averaging/pass_plan.h"
#include "averaging/run_state.h"
#include "base/allocation.h"

namespace harnix {

// The rows and columns kept slide down to the start of the storage, row after row, so no value
// is overwritten before it is moved.
bool move_on_camera(PhaseMap& map, int32_t dx, int32_t dy, int32_t width, int32_t height) {
  const Window& w = map.window;
  const int32_t x0 = w.x - dx, y0 = w.y - dy;  // the window moved
  const int32_t left = std::max(0, x0), top = std::max(0, y0);
  const int32_t right = std::min(width, x0 + w.width), bottom = std::min(height, y0 + w.height);
  if (right <= left || bottom <= top) return false;
  const int32_t cols = right - left, rows = bottom - top;
  const std::size_t from_col = std::size_t(left - x0), from_row = std::size_t(top - y0);
  if (cols != w.width || from_col != 0 || from_row != 0) {
    for (int32_t r = 0; r < rows; ++r) {
      const int32_t* src =
          map.matrix + (from_row + std::size_t(r)) * std::size_t(w.width) + from_col;
      std::memmove(map.matrix + std::size_t(r) * std::size_t(cols), src,
                   std::size_t(cols) * sizeof(int32_t));
    }
  }
  map.window = Window{int16_t(left), int16_t(top), int16_t(cols), int16_t(rows)};
  return true;
}

namespace {

int32_t levels_of(const RunState& run) {
  return shift_levels(align_max_of(*run.settings), run.reference.CameraWidth,
                      run.reference.CameraHeight);
}

// Moves input `i` (in run.input_map) by its shift and hands it on.
bool move_and_feed(RunState& run, const PlannedPass& pass, int32_t i, AlignedFeed feed) {
  const InputShift& s = run.align.shifts[i];
  if ((s.x != 0 || s.y != 0) && !move_on_camera(*run.input_map, s.x, s.y, run.reference.CameraWidth,
                                                run.reference.CameraHeight))
    return fail(run, RunStep::ALIGN_INPUT, ERR_INVALID_PARAM,
                run.inputs->names[std::size_t(i)].c_str(), "moved wholly off the camera");
  return feed(run, pass, i);
}

// Tells the observer the shifts of the inputs up to `last`, in order.
void tell_shifts(RunState& run, int32_t last) {
  AlignState& a = run.align;
  for (; a.told <= last; ++a.told) run.observer->input_aligned(a.told + 1, a.shifts[a.told]);
}

// Estimates the inputs waiting, side by side, then records, moves and feeds them in order.
bool estimate_waiting(RunState& run, const PlannedPass& pass, AlignedFeed feed) {
  AlignState& a = run.align;
  const int32_t levels = levels_of(run);
  const ShiftSearch search{align_max_of(*run.settings), ALIGN_MIN_OVERLAP};
  // Each input by one estimator, with the first input's pyramid only read: the same estimate
  // whoever makes it.
  auto job = [&](int32_t band) {
    if (band >= a.estimators) return;
    for (int32_t k = band; k < a.waiting_count; k += a.estimators) {
      UnalignedInput& u = a.waiting[k];
      u.code = shift_pyramid_build(*u.map, levels, &a.inputs[band]);
      if (u.code == NO_ERROR)
        u.code = estimate_shift(a.reference, a.inputs[band], search, &u.estimate);
    }
  };
  run.team->run(job);
  const int32_t waiting = a.waiting_count;
  a.waiting_count = 0;
  for (int32_t k = 0; k < waiting; ++k) {
    const UnalignedInput& u = a.waiting[k];
    const char* name = run.inputs->names[std::size_t(u.index)].c_str();
    if (u.code != NO_ERROR) return fail(run, RunStep::ACCUMULATE, u.code, name);
    const ShiftEstimate& e = u.estimate;
    a.shifts[u.index] = InputShift{e.shift_x, e.shift_y, e.rest_x, e.rest_y, e.score, e.overlap};
    if (e.verdict != ShiftVerdict::FOUND) {
      tell_shifts(run, u.index);
      return fail(run, RunStep::ALIGN_INPUT, ERR_INVALID_PARAM, name,
                  shift_verdict_text(e.verdict));
    }
    run.input_map = u.map;
    run.attributes = u.attributes;
    if (!move_and_feed(run, pass, u.index, feed)) return false;
  }
  return true;
}

// The pyramids are done with once every input has its shift.
void free_pyramids(AlignState& a) {
  shift_pyramid_free(a.reference);
  for (int32_t b = 0; b < a.estimators; ++b) shift_pyramid_free(a.inputs[b]);
}

}  // namespace

void align_init(AlignState& a) {
  shift_pyramid_init(a.reference);
  a.inputs = nullptr;
  a.estimators = 0;
  a.shifts = nullptr;
  a.waiting_count = 0;
  a.told = 0;
}

void align_free(AlignState& a) {
  free_pyramids(a);
  mem_release(a.inputs);
  mem_release(a.shifts);
  align_init(a);
}

bool align_prepare(RunState& run) {
  if (run.settings->Align == AlignMode::NONE) return true;
  AlignState& a = run.align;
  const std::size_t count = std::max<std::size_t>(run.inputs->names.size(), 1);
  a.shifts = static_cast<InputShift*>(mem_allocate_zeroed(count, sizeof(InputShift)));
  if (a.shifts == nullptr) return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  const int32_t estimators = std::min(run.team->bands(), run.batch.capacity);
  a.inputs = static_cast<ShiftPyramid*>(
      mem_allocate_zeroed(std::size_t(estimators), sizeof(ShiftPyramid)));
  if (a.inputs == nullptr) return fail(run, RunStep::ACCUMULATE, ERR_NO_MEM);
  a.estimators = estimators;
  for (int32_t b = 0; b < estimators; ++b) shift_pyramid_init(a.inputs[b]);
  return true;
}

uint64_t align_bytes_per_pixel(const RunState& run) {
  if (run.settings->Align == AlignMode::NONE) return 0;
  return ALIGN_BYTES_PER_PYRAMID_PIXEL * uint64_t(1 + run.align.estimators);
}

bool align_feed(RunState& run, const PlannedPass& pass, int32_t i, AlignedFeed feed) {
  if (run.settings->Align == AlignMode::NONE) return feed(run, pass, i);
  if (!pass.first_read) return move_and_feed(run, pass, i, feed);
  AlignState& a = run.align;
  const auto count = int32_t(run.inputs->names.size());
  if (i == 0) {
    const ErrorCode rc = shift_pyramid_build(*run.input_map, levels_of(run), &a.reference);
    if (rc != NO_ERROR) return fail(run, RunStep::ACCUMULATE, rc, run.inputs->names[0].c_str());
    a.shifts[0] = InputShift{0, 0, 0.0, 0.0, 1.0, 1.0};
    if (count == 1) {
      free_pyramids(a);
      tell_shifts(run, 0);
    }
    return feed(run, pass, i);
  }
  a.waiting[a.waiting_count++] =
      UnalignedInput{i, run.input_map, run.attributes, ShiftEstimate{}, NO_ERROR};
  if (a.waiting_count < run.batch.capacity && i + 1 < count) return true;
  if (!estimate_waiting(run, pass, feed)) return false;
  if (i + 1 < count) return true;
  free_pyramids(a);
  tell_shifts(run, count - 1);
  return true;
}

bool align_flush(RunState& run, const PlannedPass& pass, AlignedFeed feed) {
  return run.align.waiting_count == 0 || estimate_waiting(run, pass, feed);
}

}  // namespace harnix
