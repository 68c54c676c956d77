// What a run tells while it goes: the events of the progress report. The engine calls them in
// run order on the thread that runs it; every default does nothing, so an observer overrides
// only what it shows.
#ifndef HARNIX_AVERAGING_RUN_OBSERVER_H_
#define HARNIX_AVERAGING_RUN_OBSERVER_H_

#include <cstdint>

#include "averaging/input_report.h"
#include "averaging/levelling.h"
#include "averaging/outputs.h"
#include "averaging/settings.h"
#include "datafile/attributes.h"
#include "maps/window.h"

namespace harnix {

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // Every requested output exists, empty; nothing has been read yet.
  virtual void run_started(const RunSettings&) {}
  // A pass over the inputs begins: pass 1 reads and checks them, each rejection round and the
  // per-input report take one more.
  virtual void pass_started(int32_t /*pass*/) {}
  // Input `index` (from 1) is about to be read in the first pass.
  virtual void input_started(int32_t /*index*/, const char* /*name*/) {}
  // The input just started has been read and checked; `valid` bounds its valid values.
  virtual void input_read(const DataAttributes&, const Window& /*valid*/) {}
  // With -Align: input `index` (from 1) of the first pass is to be moved by `shift`.
  virtual void input_aligned(int32_t /*index*/, const InputShift& /*shift*/) {}
  // Input `index` of `count` is through pass `pass`.
  virtual void input_passed(int32_t /*pass*/, int32_t /*index*/, int32_t /*count*/) {}
  // Input `index` (from 1) has been levelled to the stack, with -Level, as `level` says.
  virtual void input_levelled(int32_t /*index*/, const LevelFigures& /*level*/) {}
  // Rejection round `round` (from 1) is over, having rejected `rejected` values.
  virtual void rejection_round(int32_t /*round*/, int64_t /*rejected*/) {}
  // The per-input figures, `count` of them in input order, are made (and about to be written
  // when the report is named).
  virtual void inputs_compared(const InputFigures* /*figures*/, int32_t /*count*/) {}
  // The result of `output` lies on `window` of the camera and is about to be written.
  virtual void result_formed(const OutputDescriptor&, const Window& /*window*/) {}
  // The output (or the per-input report) named `name` has been written in full.
  virtual void output_written(const char* /*name*/) {}
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_OBSERVER_H_
