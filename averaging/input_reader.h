// The inputs read in order, ahead of their use when asked: a thread of its own reads the next
// few files while the run adds the current one.
//
// next() hands out the inputs one after the other. Without reading ahead (depth 0) it reads the
// input then and there, exactly as the run always did. With a depth of d, a reader thread keeps
// up to d inputs after the current one read; an input read ahead is the same record, with the
// same code, as one read when asked. Only regular files are read ahead: any other name (a pipe,
// a device) is read when asked, so the reader can never block on it. Reading ahead also tells
// the system, for the few files after those, that they will be wanted (posix_fadvise), so that a
// disk works on several at once.
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

// One input as read_data_file_reusing leaves it.
struct ReadInput {
  ErrorCode code = NO_ERROR;
  OriginInfo origin{};
  DataAttributes attributes{};
  PhaseMap map{};  // storage kept from input to input
};

class InputReader {
 public:
  InputReader(const InputList& inputs, int32_t depth);
  ~InputReader();  // stops the reader thread and releases every map
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // The next input in order, read; valid until the following call. Call at most once per input.
  ReadInput& next();

  // Maps the reader may hold at once besides the one in use, for the memory bound.
  int32_t maps_ahead() const { return depth_; }

 private:
  void read_ahead();
  void read_into(std::size_t index, ReadInput& slot);

  const InputList& inputs_;
  int32_t depth_ = 0;
  std::vector<ReadInput> slots_;  // input i lives in slot i % slots_.size()
  std::vector<char> deferred_;    // per slot: left for next() to read
  std::size_t handed_ = 0;        // inputs handed out by next()
  std::size_t read_ = 0;          // inputs the reader thread has finished
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_READER_H_
