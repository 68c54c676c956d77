// Time stamps as the UTC date and time texts of ISO 8601.
#ifndef HARNIX_EXPORT_UTC_TEXT_H_
#define HARNIX_EXPORT_UTC_TEXT_H_

#include <cstdint>
#include <string>

namespace harnix {

// "2023-11-14T22:13:20Z" for a time stamp in seconds since 1970-01-01 00:00 UTC; empty when the
// system cannot break the time down.
std::string utc_text(int32_t seconds);

}  // namespace harnix

#endif  // HARNIX_EXPORT_UTC_TEXT_H_
