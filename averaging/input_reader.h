// The inputs read in order, ahead of their use when asked: a thread of its own reads the next
// few files while the run adds the ones before.
//
// next() hands out the inputs one after the other, each in a slot of a ring; the caller gives
// inputs back, in order, with release() once it is done with them, and holds at most `slots` at
// once. Without a thread next() reads the input then and there, exactly as the run always did.
// With one, the reader thread fills every slot given back with the next input; an input read
// ahead is the same record, with the same code, as one read when asked. Only regular files are
// read ahead: any other name (a pipe, a device) is read when asked, so the reader can never
// block on it. The reader also tells the system, for a few files past those, that they will be
// wanted (posix_fadvise), so that a disk works on several at once.
#ifndef HARNIX_AVERAGING_INPUT_READER_H_
#define HARNIX_AVERAGING_INPUT_READER_H_

#include <condition_variable>
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
// as phase_map_valid_window gives it (valid_code), found by the reader thread when it read the
// input (so by whichever thread read it: the same window and code either way).
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
  // `slots` (at least 1) inputs in use or read ahead at once; a thread reads ahead when
  // `threaded` and there is more than one input.
  InputReader(const InputList& inputs, int32_t slots, bool threaded);
  ~InputReader();  // stops the reader thread and releases every map
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
  void read_ahead();
  void read_into(std::size_t index, ReadInput& slot);

  const InputList& inputs_;
  std::vector<ReadInput> slots_;  // input i lives in slot i % slots_.size()
  std::vector<char> deferred_;    // per slot: left for next() to read
  std::size_t handed_ = 0;        // inputs handed out by next()
  std::size_t released_ = 0;      // inputs given back
  std::size_t read_ = 0;          // inputs the reader thread has finished
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_READER_H_
