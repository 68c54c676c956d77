#include "export/utc_text.h"

#include <ctime>

namespace harnix {

std::string utc_text(int32_t seconds) {
  const std::time_t t = seconds;
  std::tm parts{};
  if (gmtime_r(&t, &parts) == nullptr) return std::string();
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace harnix
