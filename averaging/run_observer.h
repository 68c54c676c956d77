// What a run tells while it goes: the events of the progress report. The engine calls them in
// run order on the thread that runs it; every default does nothing, so an observer overrides
// only what it shows.
#ifndef HARNIX_AVERAGING_RUN_OBSERVER_H_
#define HARNIX_AVERAGING_RUN_OBSERVER_H_

#include <cstdint>

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
  // Input `index` (from 1) is about to be read.
  virtual void input_started(int32_t /*index*/, const char* /*name*/) {}
  // The input just started has been read and checked; `valid` bounds its valid values.
  virtual void input_read(const DataAttributes&, const Window& /*valid*/) {}
  // The result of `output` lies on `window` of the camera and is about to be written.
  virtual void result_formed(const OutputDescriptor&, const Window& /*window*/) {}
  // The output named `name` has been written in full.
  virtual void output_written(const char* /*name*/) {}
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_RUN_OBSERVER_H_
