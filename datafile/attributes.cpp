#include "datafile/attributes.h"

namespace harnix {

int32_t phase_res_counts(int32_t code) {
  switch (code) {
    case PHASE_RES_NORMAL:
      return 4096;
    case PHASE_RES_HIGH:
      return 32768;
    default:  // Super, and every unknown code
      return 131072;
  }
}

const char* phase_res_label(int32_t code) {
  switch (code) {
    case PHASE_RES_NORMAL:
      return "Normal";
    case PHASE_RES_HIGH:
      return "High";
    default:
      return "Super";
  }
}

}  // namespace harnix
