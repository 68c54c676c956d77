// File names in the program's two conventions.
//
// A name whose first two bytes form the UTF-16 byte-order mark (the 16-bit unit 0xFEFF or 0xFFFE,
// read least significant byte first) is a UTF-16 name that starts after the mark and ends at a
// zero unit; every other name is used byte for byte. This platform opens files by UTF-8 names,
// so a UTF-16 name is converted to UTF-8 (a unit 0xFFFE mark means the units are stored most
// significant byte first).
#ifndef HARNIX_DATAFILE_FILE_NAME_H_
#define HARNIX_DATAFILE_FILE_NAME_H_

#include <cstdio>
#include <string>

// True when `name` starts with the UTF-16 mark.
bool is_wide_name(const char* name);

// The name to hand to the platform's open and status calls. Returns false (leaving *out empty)
// for a UTF-16 name that cannot be converted (an unpaired surrogate, an odd trailing byte).
bool platform_file_name(const char* name, std::string* out);

// fopen through platform_file_name; nullptr when the name cannot be converted or opened.
std::FILE* open_file(const char* name, const char* mode);

#endif  // HARNIX_DATAFILE_FILE_NAME_H_
