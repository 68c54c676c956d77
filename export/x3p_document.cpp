// The schemas are elementFormDefault="unqualified": only the root carries the namespace prefix.
// The document is built as text (a fixed, small shape), with every free text escaped.
#include "export/x3p_document.h"

#include "export/number_text.h"

namespace harnix {

namespace {

// `text` safe as XML character data: markup characters escaped, U+FFFE and U+FFFF (EF BF BE,
// EF BF BF in UTF-8, which the callers' printable texts may still hold) replaced.
std::string xml_text(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (text.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < text.size() &&
               (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
      out += '?';
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

void element(std::string& out, int depth, const char* name, const std::string& value) {
  out.append(2 * depth, ' ');
  out += '<';
  out += name;
  out += '>';
  out += xml_text(value);
  out += "</";
  out += name;
  out += ">\n";
}

void open_element(std::string& out, int depth, const char* name) {
  out.append(2 * depth, ' ');
  out += '<';
  out += name;
  out += ">\n";
}

void close_element(std::string& out, int depth, const char* name) {
  out.append(2 * depth, ' ');
  out += "</";
  out += name;
  out += ">\n";
}

void axis(std::string& out, const char* name, const char* axis_type, char data_type,
          double increment, double offset) {
  open_element(out, 3, name);
  element(out, 4, "AxisType", axis_type);
  element(out, 4, "DataType", std::string(1, data_type));
  element(out, 4, "Increment", shortest_text(increment));
  element(out, 4, "Offset", shortest_text(offset));
  close_element(out, 3, name);
}

}  // namespace

std::string x3p_main_xml(const X3pDescription& d) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<p:ISO5436_2 xmlns:p=\"http://www.opengps.eu/2008/ISO5436_2\">\n";
  open_element(x, 1, "Record1");
  element(x, 2, "Revision", "ISO5436 - 2000");
  element(x, 2, "FeatureType", "SUR");
  open_element(x, 2, "Axes");
  // Lateral positions are written as float64 wherever a reader stores them.
  axis(x, "CX", "I", 'D', d.x_increment, d.x_offset);
  axis(x, "CY", "I", 'D', d.y_increment, d.y_offset);
  axis(x, "CZ", "A", d.z_data_type, d.z_increment, 0.0);
  close_element(x, 2, "Axes");
  close_element(x, 1, "Record1");

  open_element(x, 1, "Record2");
  element(x, 2, "Date", d.date);
  element(x, 2, "Creator", d.creator);
  open_element(x, 2, "Instrument");
  // A Planoryx file does not record its instrument's maker, model or serial number.
  element(x, 3, "Manufacturer", "unknown");
  element(x, 3, "Model", "unknown");
  element(x, 3, "Serial", "unknown");
  element(x, 3, "Version", d.creator);
  close_element(x, 2, "Instrument");
  // Nor a calibration date: the calibration in force is the one the measurement was scaled
  // with, so its date is the latest one known to hold, and the 2007 schema needs one.
  element(x, 2, "CalibrationDate", d.date);
  open_element(x, 2, "ProbingSystem");
  element(x, 3, "Type", "NonContacting");
  element(x, 3, "Identification", d.identification);
  close_element(x, 2, "ProbingSystem");
  if (!d.comment.empty()) element(x, 2, "Comment", d.comment);
  close_element(x, 1, "Record2");

  open_element(x, 1, "Record3");
  open_element(x, 2, "MatrixDimension");
  element(x, 3, "SizeX", std::to_string(d.size_x));
  element(x, 3, "SizeY", std::to_string(d.size_y));
  element(x, 3, "SizeZ", "1");
  close_element(x, 2, "MatrixDimension");
  open_element(x, 2, "DataLink");
  element(x, 3, "PointDataLink", X3P_DATA);
  element(x, 3, "MD5ChecksumPointData", d.data_md5);
  if (!d.valid_md5.empty()) {
    element(x, 3, "ValidPointsLink", X3P_VALID);
    element(x, 3, "MD5ChecksumValidPoints", d.valid_md5);
  }
  close_element(x, 2, "DataLink");
  close_element(x, 1, "Record3");

  open_element(x, 1, "Record4");
  element(x, 2, "ChecksumFile", X3P_CHECKSUM);
  close_element(x, 1, "Record4");
  x += "</p:ISO5436_2>\n";
  return x;
}

}  // namespace harnix
