#include "averaging/settings.h"

namespace harnix {

RunSettings& run_settings() {
  static RunSettings settings;
  return settings;
}

InputList& input_list() {
  static InputList list;
  return list;
}

}  // namespace harnix
