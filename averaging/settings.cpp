#include "averaging/settings.h"

#include "averaging/option_words.h"

namespace harnix {

const char* sdev_remove_label(RemovalMode mode) {
  return option_label(mode, REMOVAL_WORDS);
}

const char* level_label(LevelMode mode) {
  return option_label(mode, LEVEL_WORDS);
}

}  // namespace harnix
