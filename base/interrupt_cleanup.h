// What an interrupted process must undo, kept where a signal handler can reach it: the names of
// the temporary files not yet renamed or removed, and the text to write before ending. Used by
// the two sides of base/platform.h only.
//
// A handler may run at any moment on any thread, so nothing here allocates or locks: the names
// are copied into fixed slots, each taken and given back through an atomic state.
#ifndef HARNIX_BASE_INTERRUPT_CLEANUP_H_
#define HARNIX_BASE_INTERRUPT_CLEANUP_H_

#include <cstddef>

namespace harnix {

// Slots for names, and the longest name a slot holds (its terminator apart).
constexpr std::size_t CLEANUP_SLOTS = 16;
constexpr std::size_t CLEANUP_NAME_BYTES = 4095;

// Remembers `name`; false (nothing remembered) when it is too long or every slot is taken.
bool remember_for_cleanup(const char* name);

// Forgets `name` when it is remembered.
void forget_for_cleanup(const char* name);

// Calls `remove(name)` for every name remembered; safe in a signal handler when `remove` is.
void for_each_remembered(void (*remove)(const char* name));

// The text set by set_interrupt_text (base/platform.h), or nullptr.
const char* cleanup_text();
void set_cleanup_text(const char* text);

}  // namespace harnix

#endif  // HARNIX_BASE_INTERRUPT_CLEANUP_H_
