// Input i goes into slot i % slots once input i - slots has been released. read_ahead runs
// only within a team run, next() and release() only between runs: the team's start and end of
// a run order every slot written ahead before next() reads it, and every release before the
// claims that reuse its slots.
#include "averaging/input_reader.h"

#include <algorithm>
#include <exception>
#include <string>

#include "base/platform.h"
#include "datafile/data_file.h"
#include "datafile/file_name.h"
#include "maps/element_ops.h"
#include "maps/storage.h"

namespace harnix {

namespace {

// Files past the one read ahead for which the system is told they will be wanted. Eight kept a
// virtual disk busier than four: cold runs of 64 files of 4 MiB took 3 to 5 % less time (two runs
// of 40 rounds each); sixteen gave no more.
constexpr std::size_t ADVISE_AHEAD = 8;

// Whether the input is a regular file; false when the system has no name for it.
bool regular_file(const char* name) {
  std::string platform;
  return platform_file_name(name, &platform) && is_regular_file_utf8(platform.c_str());
}

}  // namespace

void InputReader::advise(std::size_t index) const {
  if (index >= inputs_.names.size()) return;
  std::string platform;
  if (platform_file_name(inputs_.names[index].c_str(), &platform))
    advise_will_read(platform.c_str());
}

InputReader::InputReader(const InputList& inputs, int32_t slots) : inputs_(inputs) {
  slots_.resize(static_cast<std::size_t>(slots < 1 ? 1 : slots));
  deferred_.assign(slots_.size(), 0);
  ready_.assign(slots_.size(), 0);
  for (ReadInput& slot : slots_) map_init(slot.map);
  // The first inputs are nobody's `index + ADVISE_AHEAD`: asked for here, in order, so that a
  // disk fetches them before the inputs each of their readers asks for after them.
  for (std::size_t i = 0; i < std::min(ADVISE_AHEAD, inputs_.names.size()); ++i) advise(i);
}

InputReader::~InputReader() {
  for (ReadInput& slot : slots_) map_free(slot.map);
}

void InputReader::read_into(std::size_t index, ReadInput& slot) {
  slot.code = read_data_file_reusing(inputs_.names[index].c_str(), &slot.origin, &slot.attributes,
                                     &slot.map, &slot.stamps);
  slot.valid = Window{};
  slot.valid_code = ERR_ALL_BAD_DATA;
  if (slot.code == NO_ERROR && slot.map.window.width > 0 && slot.map.window.height > 0)
    slot.valid_code = phase_map_valid_window(slot.map, nullptr, &slot.valid);
  if (follow_up_.run != nullptr) follow_up_.run(follow_up_.context, index, slot);
}

void InputReader::read_ahead() {
  const std::size_t n = inputs_.names.size();
  const std::size_t ring = slots_.size();
  const std::size_t limit = std::min(n, released_ + ring);
  for (;;) {
    // The slots are filled in input order, each input by the thread that claims it.
    std::size_t i = claimed_.load(std::memory_order_relaxed);
    do {
      if (i >= limit) return;
    } while (!claimed_.compare_exchange_weak(i, i + 1, std::memory_order_relaxed));
    bool read = false;
    try {  // a band must not throw: a name the system's form of which cannot be made waits
      advise(i + ADVISE_AHEAD);
      if (regular_file(inputs_.names[i].c_str())) {
        read_into(i, slots_[i % ring]);
        read = true;
      }
    } catch (const std::exception&) {
    }
    deferred_[i % ring] = read ? 0 : 1;  // for next() to read, as when asked
    ready_[i % ring] = i + 1;
  }
}

ReadInput& InputReader::next() {
  const std::size_t i = handed_++;
  const std::size_t k = i % slots_.size();
  ReadInput& slot = slots_[k];
  if (ready_[k] != i + 1 || deferred_[k] != 0) {
    advise(i + ADVISE_AHEAD);  // read when asked: the disk may still fetch what follows
    read_into(i, slot);
  }
  // Read or not, input i is no longer for read_ahead to claim.
  if (claimed_.load(std::memory_order_relaxed) <= i)
    claimed_.store(i + 1, std::memory_order_relaxed);
  return slot;
}

int32_t InputReader::give_storage(PhaseMap* out, int32_t count) {
  int32_t given = 0;
  for (ReadInput& slot : slots_) {
    if (given >= count) break;
    if (slot.map.matrix == nullptr) continue;
    out[given++] = slot.map;
    map_init(slot.map);
  }
  return given;
}

int32_t InputReader::take_storage(PhaseMap* in, int32_t count) {
  int32_t taken = 0;
  std::size_t k = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (in[i].matrix == nullptr) continue;
    while (k < slots_.size() && slots_[k].map.matrix != nullptr) ++k;
    if (k == slots_.size()) break;
    slots_[k].map = in[i];
    map_init(in[i]);
    ++taken;
  }
  return taken;
}

void InputReader::release(std::size_t count) {
  if (count > released_) released_ = count;
}

}  // namespace harnix
