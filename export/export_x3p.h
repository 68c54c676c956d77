// The X3P export: an ISO 5436-2 / ISO 25178-72 archive (see x3p_document.h) holding
//   main.xml           the description
//   bindata/data.bin   the points, little-endian, X fastest, then Y: int32 counts (DataType L,
//                      CZ Increment the value per count) as stored, or, for a levelled map,
//                      float64 values (DataType D, Increment 1) with invalid points NaN
//   bindata/valid.bin  for int32 data: one bit per point, 1 = valid, bit (i mod 8) of byte i / 8
//   md5checksum.hex    "<md5 of main.xml> *main.xml\n", as `md5sum -b main.xml` prints it
// CX and CY step by the lateral spacing from the window's position on the camera (rows in
// storage order, row 0 the camera's top row). Invalid points of int32 data hold the invalid
// marker 0x7FFFFFF8, so that a reader ignoring the validity file sees no plausible height.
#ifndef HARNIX_EXPORT_EXPORT_X3P_H_
#define HARNIX_EXPORT_EXPORT_X3P_H_

#include <cstdio>
#include <string>

#include "export/export_formats.h"

namespace harnix {

// Writes the archive of `data` (attributes given, spacing > 0) to `stream`. On failure returns
// false with `*message` set. Throws std::bad_alloc when memory runs out.
bool write_x3p(const ExportData& data, std::FILE* stream, std::string* message);

}  // namespace harnix

#endif  // HARNIX_EXPORT_EXPORT_X3P_H_
