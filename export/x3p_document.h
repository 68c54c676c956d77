// main.xml of an X3P archive (ISO 5436-2 / ISO 25178-72): the description of an areal map whose
// point values are stored in bindata/data.bin, written so that it validates against both the
// 2007 schema and its 2020 revision.
//
// Record1 describes the axes: CX and CY incremental (x = Offset + column * Increment, likewise
// y), CZ absolute (z = Offset + stored value * Increment), all in metres; every axis carries
// AxisType, DataType, Increment and Offset, as the 2020 revision demands. Record2 holds the
// metadata, Record3 the matrix size and the links with the MD5s of the binary members, Record4
// the name of the checksum file of main.xml itself.
#ifndef HARNIX_EXPORT_X3P_DOCUMENT_H_
#define HARNIX_EXPORT_X3P_DOCUMENT_H_

#include <cstdint>
#include <string>

namespace harnix {

struct X3pDescription {
  int32_t size_x;              // columns
  int32_t size_y;              // rows
  double x_increment;          // metres between columns
  double y_increment;          // metres between rows
  double x_offset;             // metres: position of column 0
  double y_offset;             // metres: position of row 0
  char z_data_type;            // 'L' int32 or 'D' float64
  double z_increment;          // metres (or counts) per stored unit
  std::string date;            // xsd:dateTime, "2023-11-14T22:13:20Z"
  std::string creator;         // the program and its version
  std::string identification;  // of the probing system, one line
  std::string comment;         // one line of UTF-8, may be empty
  std::string data_md5;        // 32 hex digits of bindata/data.bin
  std::string valid_md5;       // of bindata/valid.bin; empty when there is no validity file
};

// Member names inside the archive.
constexpr const char* X3P_MAIN = "main.xml";
constexpr const char* X3P_DATA = "bindata/data.bin";
constexpr const char* X3P_VALID = "bindata/valid.bin";
constexpr const char* X3P_CHECKSUM = "md5checksum.hex";

// The UTF-8 text of main.xml. Free texts are escaped for XML, and characters XML 1.0 cannot hold
// (U+FFFE, U+FFFF) become '?'.
std::string x3p_main_xml(const X3pDescription& d);

}  // namespace harnix

#endif  // HARNIX_EXPORT_X3P_DOCUMENT_H_
