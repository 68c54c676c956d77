// Input i goes into slot i % slots once input i - slots has been released.
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

// Files past the ones being read for which the system is told they will be wanted.
constexpr std::size_t ADVISE_AHEAD = 4;

// The name the system knows the input by (UTF-8); false when it has none.
bool regular_file(const char* name, std::string* platform) {
  return platform_file_name(name, platform) && is_regular_file_utf8(platform->c_str());
}

void advise_will_need(const char* name) {
  std::string platform;
  if (platform_file_name(name, &platform)) advise_will_read(platform.c_str());
}

}  // namespace

InputReader::InputReader(const InputList& inputs, int32_t slots, int32_t readers)
    : inputs_(inputs) {
  slots_.resize(static_cast<std::size_t>(slots < 1 ? 1 : slots));
  deferred_.assign(slots_.size(), 0);
  ready_.assign(slots_.size(), 0);
  for (ReadInput& slot : slots_) map_init(slot.map);
  if (inputs_.names.size() < 2) return;
  const auto count =
      static_cast<std::size_t>(std::clamp<int32_t>(readers, 0, int32_t(slots_.size())));
  for (std::size_t k = 0; k < count; ++k) {
    try {
      threads_.emplace_back([this, k, count] { read_ahead(k, count); });
    } catch (const std::exception&) {  // a thread refused, or no memory for its record
      // The inputs are shared out among `count` readers: with one missing, none reads ahead,
      // and each input is read when asked (nothing has been handed out yet).
      stop_readers();
      stopping_ = false;
      return;
    }
  }
}

void InputReader::stop_readers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

InputReader::~InputReader() {
  stop_readers();
  for (ReadInput& slot : slots_) map_free(slot.map);
}

void InputReader::read_into(std::size_t index, ReadInput& slot) {
  slot.code = read_data_file_reusing(inputs_.names[index].c_str(), &slot.origin, &slot.attributes,
                                     &slot.map);
  slot.valid = Window{};
  slot.valid_code = ERR_ALL_BAD_DATA;
  if (slot.code == NO_ERROR && slot.map.window.width > 0 && slot.map.window.height > 0)
    slot.valid_code = phase_map_valid_window(slot.map, nullptr, &slot.valid);
}

void InputReader::read_ahead(std::size_t first, std::size_t step) {
  const std::size_t n = inputs_.names.size();
  const std::size_t ring = slots_.size();
  // The files up to `horizon` past the one read are announced: all at first, then one more each.
  const std::size_t horizon = ring + ADVISE_AHEAD;
  if (first == 0) {
    for (std::size_t k = 1; k < horizon && k < n; ++k) advise_will_need(inputs_.names[k].c_str());
  }
  for (std::size_t i = first; i < n; i += step) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || i < released_ + ring; });
      if (stopping_) return;
    }
    if (i > 0 && i + horizon - 1 < n) advise_will_need(inputs_.names[i + horizon - 1].c_str());
    ReadInput& slot = slots_[i % ring];
    std::string platform;
    const bool regular = regular_file(inputs_.names[i].c_str(), &platform);
    if (regular) read_into(i, slot);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      deferred_[i % ring] = regular ? 0 : 1;
      ready_[i % ring] = i + 1;
    }
    changed_.notify_all();
  }
}

ReadInput& InputReader::next() {
  const std::size_t i = handed_++;
  ReadInput& slot = slots_[i % slots_.size()];
  if (threads_.empty()) {
    read_into(i, slot);
    return slot;
  }
  bool deferred = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_[i % slots_.size()] == i + 1; });
    deferred = deferred_[i % slots_.size()] != 0;
  }
  if (deferred) read_into(i, slot);
  return slot;
}

void InputReader::release(std::size_t count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > released_) released_ = count;
  }
  changed_.notify_all();
}

}  // namespace harnix
