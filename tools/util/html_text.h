// Text and data made safe for an HTML page.
#ifndef HARNIX_TOOLS_UTIL_HTML_TEXT_H_
#define HARNIX_TOOLS_UTIL_HTML_TEXT_H_

#include <string>

namespace harnix {

// `text` with &, <, >, " and ' written as character references, for element content and quoted
// attribute values alike: a file named "<script>" shows as text and runs nothing.
std::string html_escaped(const std::string& text);

// A data URI holding `bytes` in base64 ("data:image/png;base64,iVBOR..."), so that a page
// carries its images and fetches nothing. Throws std::bad_alloc when memory runs out.
std::string data_uri(const char* media_type, const std::string& bytes);

}  // namespace harnix

#endif  // HARNIX_TOOLS_UTIL_HTML_TEXT_H_
