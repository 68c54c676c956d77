// The inputs read in order, ahead of their use when asked: threads of their own read the next
// few files while the run adds the ones before.
//
// next() hands out the inputs one after the other, each in a slot of a ring; the caller gives
// inputs back, in order, with release() once it is done with them, and holds at most `slots` at
// once. Without a thread next() reads the input then and there, exactly as the run always did.
// With R reader threads, reader k reads inputs k, k + R, k + 2R, ..., each into its slot once the
// slot is given back, so that copying the files from the system and converting them to host
// order, which one thread cannot keep up with on several cores, is shared too. An input read
// ahead is the same record, with the same code, as one read when asked, whichever thread read
// it. Only regular files are read ahead: any other name (a pipe, a device) is read when asked,
// so no reader can ever block on it. The readers also tell the system, for a few files past
// those, that they will be wanted (posix_fadvise), so that a disk works on several at once.
#ifndef HARNIX_AVERAGING_INPUT_READER_H_
#define HARNIX_AVERAGING_INPUT_READER_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "averaging/settings.h"
#include "base/error_codes.h"
#include "datafile/attributes.h"
#include "maps/map_types.h"

namespace harnix {

// One input as read_data_file_reusing leaves it, and the bounding window of its valid values
// as phase_map_valid_window gives it (valid_code), found when the input was read (by whichever
// thread read it: the same window and code either way).
struct ReadInput {
  ErrorCode code = NO_ERROR;
  OriginInfo origin{};
  DataAttributes attributes{};
  PhaseMap map{};  // storage kept from input to input
  Window valid{};
  ErrorCode valid_code = ERR_ALL_BAD_DATA;
};

class InputReader {
 public:
  // `slots` (at least 1) inputs in use or read ahead at once; `readers` threads (clamped to
  // 0 .. slots) read ahead when there is more than one input. A reader that cannot be started
  // leaves the ones started so far (none: each input is read when asked).
  InputReader(const InputList& inputs, int32_t slots, int32_t readers);
  ~InputReader();  // stops the reader threads and releases every map
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // The next input in order, read; valid until it is released. The caller holds fewer than
  // `slots` inputs when it asks.
  ReadInput& next();

  // The first `count` inputs are no longer in use: their slots take the next inputs.
  void release(std::size_t count);

  // Input maps the reader may hold at once besides one in use, for the memory bound.
  int32_t maps_ahead() const { return static_cast<int32_t>(slots_.size()) - 1; }

 private:
  void read_ahead(std::size_t first, std::size_t step);
  void stop_readers();  // stops and joins every reader thread
  void read_into(std::size_t index, ReadInput& slot);

  const InputList& inputs_;
  std::vector<ReadInput> slots_;    // input i lives in slot i % slots_.size()
  std::vector<char> deferred_;      // per slot: left for next() to read
  std::vector<std::size_t> ready_;  // per slot: 1 + the input the readers have finished in it
  std::size_t handed_ = 0;          // inputs handed out by next()
  std::size_t released_ = 0;        // inputs given back
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_READER_H_
