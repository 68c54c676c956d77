#include "fit/fit_model.h"

namespace harnix {

int32_t fit_term_count(FitType type) {
  using enum FitType;
  switch (type) {
    case piston:
      return 1;
    case plane:
      return 3;
    case sphere:
      return 4;
    case cylinder:
      return 6;
    default:
      return 0;
  }
}

}  // namespace harnix
