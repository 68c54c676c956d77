// The inputs read in order and, with a team of threads, ahead of their use by the team itself:
// before a band does its share of a run, it reads the next inputs, so that copying the files
// from the system and converting them to host order is shared by the threads that add them, and
// no thread of the run ever waits for another to be given a processor.
//
// next() hands out the inputs one after the other, each in a slot of a ring; the caller gives
// inputs back, in order, with release() once it is done with them, and holds at most `slots` at
// once. An input not read ahead is read by next() then and there, exactly as the run always did.
// read_ahead() reads the inputs after those handed out whose slots are free, each by the first
// thread to claim it; the bands of a team run call it together (BandTeam::set_side_job), never
// while next() or release() runs. An input read ahead is the same record, with the same code, as
// one read when asked, whichever thread read it. Only regular files are read ahead: any other
// name (a pipe, a device) is read when asked, so no band can ever block on it. Whoever reads an
// input also tells the system that a file a few inputs further on will be wanted
// (posix_fadvise), so that a disk is already fetching it; the first few are asked for, in order,
// when the reader is made.
#ifndef HARNIX_AVERAGING_INPUT_READER_H_
#define HARNIX_AVERAGING_INPUT_READER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "averaging/settings.h"
#include "base/error_codes.h"
#include "datafile/data_file.h"
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
  ReadStamps stamps{};  // of the file read, taken by the thread that read it
};

// Work on an input as soon as it is read (whether it was read or not: its code tells), by the
// thread that read it, before next() hands it out: run(context, index, input). It must be safe
// to run on several inputs at once.
struct ReadFollowUp {
  void (*run)(void* context, std::size_t index, ReadInput& input) = nullptr;
  void* context = nullptr;
};

class InputReader {
 public:
  // `slots` (at least 1) inputs in use or read ahead at once.
  InputReader(const InputList& inputs, int32_t slots);
  ~InputReader();  // releases every map
  InputReader(const InputReader&) = delete;
  InputReader& operator=(const InputReader&) = delete;

  // The next input in order, read; valid until it is released. The caller holds fewer than
  // `slots` inputs when it asks.
  ReadInput& next();

  // The first `count` inputs are no longer in use: their slots take the next inputs.
  void release(std::size_t count);

  // Reads inputs ahead into the free slots until none is left to claim; safe to call from
  // several threads at once.
  void read_ahead();

  // Each input read from now on gets `job` (set before any is read).
  void set_follow_up(ReadFollowUp job) { follow_up_ = job; }

  // Input maps the reader may hold at once besides one in use, for the memory bound.
  int32_t maps_ahead() const { return static_cast<int32_t>(slots_.size()) - 1; }

  // Moves the storage of up to `count` slot maps into out[0 ..] (records as map_alloc leaves
  // them, windows as the inputs left them) and returns how many; those slots hold none after.
  // Only between runs, once nothing handed out is in use: storage the run has already touched
  // serves the caller without the system handing out fresh pages.
  int32_t give_storage(PhaseMap* out, int32_t count);

  // Takes the storage of the maps in[0 .. count) that have any into slots that have none, before
  // any input is read, and leaves each map taken as map_init leaves it; returns how many were
  // taken. Storage an earlier pass gave up serves this one without fresh pages.
  int32_t take_storage(PhaseMap* in, int32_t count);

 private:
  void read_into(std::size_t index, ReadInput& slot);
  void advise(std::size_t index) const;  // input `index`, if any, will be wanted

  const InputList& inputs_;
  ReadFollowUp follow_up_;
  std::vector<ReadInput> slots_;         // input i lives in slot i % slots_.size()
  std::vector<char> deferred_;           // per slot: left for next() to read
  std::vector<std::size_t> ready_;       // per slot: 1 + the input read ahead into it
  std::size_t handed_ = 0;               // inputs handed out by next()
  std::size_t released_ = 0;             // inputs given back
  std::atomic<std::size_t> claimed_{0};  // inputs below this are handed out, or read ahead
};

}  // namespace harnix

#endif  // HARNIX_AVERAGING_INPUT_READER_H_
