// File names in the program's two conventions.
//
// A name whose first two bytes form the UTF-16 byte-order mark (the 16-bit unit 0xFEFF or 0xFFFE,
// read least significant byte first) is a UTF-16 name that starts after the mark and ends at a
// zero unit; every other name is used byte for byte. Files are opened by UTF-8 names
// (base/platform.h), so a UTF-16 name is converted to UTF-8 (a unit 0xFFFE mark means the units
// are stored most significant byte first).
#ifndef HARNIX_DATAFILE_FILE_NAME_H_
#define HARNIX_DATAFILE_FILE_NAME_H_

#include <cstddef>
#include <cstdio>
#include <string>

namespace harnix {

// True when `name` starts with the UTF-16 mark.
bool is_wide_name(const char* name);

// The name to hand to the platform's open and status calls. A UTF-16 name is read no further than
// the string's terminating NUL, which completes an odd last unit (so "A" stored least significant
// byte first as 41 00 00 00 is found). Returns false (leaving *out empty) for a UTF-16 name that
// cannot be converted (an unpaired surrogate).
bool platform_file_name(const char* name, std::string* out);

// Converts `count` bytes of UTF-16 units (least significant byte first unless
// `most_significant_first`) to UTF-8 in *out, stopping early at a zero unit. Returns false, leaving
// *out empty, on an unpaired surrogate or an odd trailing byte.
bool utf16_to_utf8(const unsigned char* bytes, std::size_t count, bool most_significant_first,
                   std::string* out);

// open_file_utf8 through platform_file_name; nullptr when the name cannot be converted or opened.
std::FILE* open_file(const char* name, const char* mode);

// open_file_in_place_utf8 through platform_file_name; nullptr as open_file.
std::FILE* open_file_in_place(const char* name);

}  // namespace harnix

#endif  // HARNIX_DATAFILE_FILE_NAME_H_
