#include "util/html_text.h"

#include <nettle/base64.h>

#include <cstdint>
#include <new>

namespace harnix {

std::string html_escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string data_uri(const char* media_type, const std::string& bytes) {
  std::string uri = std::string("data:") + media_type + ";base64,";
  const std::size_t head = uri.size();
  if (bytes.size() / 3 >= (uri.max_size() - head) / 4 - 1) throw std::bad_alloc();
  uri.resize(head + BASE64_ENCODE_RAW_LENGTH(bytes.size()));
  base64_encode_raw(uri.data() + head, bytes.size(),
                    reinterpret_cast<const uint8_t*>(bytes.data()));
  return uri;
}

}  // namespace harnix
