#include "base/interrupt_cleanup.h"

#include <atomic>
#include <cstring>

namespace harnix {

namespace {

enum SlotState : int { FREE, FILLING, HELD };

struct Slot {
  std::atomic<int> state{FREE};
  char name[CLEANUP_NAME_BYTES + 1];
};

// Lock-free atomics are what a handler may touch.
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<const char*>::is_always_lock_free);

Slot slots[CLEANUP_SLOTS];
std::atomic<const char*> text{nullptr};

}  // namespace

bool remember_for_cleanup(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length > CLEANUP_NAME_BYTES) return false;
  for (Slot& slot : slots) {
    int expected = FREE;
    if (!slot.state.compare_exchange_strong(expected, FILLING)) continue;
    std::memcpy(slot.name, name, length + 1);
    slot.state.store(HELD);
    return true;
  }
  return false;
}

void forget_for_cleanup(const char* name) {
  for (Slot& slot : slots) {
    if (slot.state.load() == HELD && std::strcmp(slot.name, name) == 0) {
      slot.state.store(FREE);
      return;
    }
  }
}

void for_each_remembered(void (*remove)(const char* name)) {
  for (Slot& slot : slots)
    if (slot.state.load() == HELD) remove(slot.name);
}

const char* cleanup_text() {
  return text.load();
}

void set_cleanup_text(const char* t) {
  text.store(t);
}

}  // namespace harnix
