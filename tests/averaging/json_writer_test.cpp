// The run record's JSON: escaping that keeps any file name valid JSON text, and numbers that read
// back as the values written.
#include "averaging/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace harnix {

namespace {

struct StringCase {
  std::string text;
  std::string json;
};

TEST(JsonWriter, StringsAreEscapedAndKeptValid) {
  const StringCase cases[] = {
      {"plain é 測 😀", "\"plain é 測 😀\""},
      {"q\"b\\s/", "\"q\\\"b\\\\s/\""},
      {std::string("\n\t\x01\x1f", 4), "\"\\u000a\\u0009\\u0001\\u001f\""},
      {"\xff", "\"\\ufffd\""},                           // never a UTF-8 byte
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                // overlong "/"
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},     // a surrogate
      {"\xE6\xB8", "\"\\ufffd\\ufffd\""},                // cut short
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // beyond U+10FFFF
  };
  for (const StringCase& c : cases) {
    JsonWriter json;
    json.string(c.text);
    EXPECT_EQ(c.json, json.text()) << c.json;
  }
}

TEST(JsonWriter, NumbersReadBackAndNonFiniteIsNull) {
  const double values[] = {0.1, -2.5e-9, 1.0 / 3.0, 6.02214076e23, 0.0};
  for (const double v : values) {
    JsonWriter json;
    json.number(v);
    EXPECT_EQ(v, std::strtod(json.text().c_str(), nullptr)) << json.text();
  }
  JsonWriter json;
  json.begin_array();
  json.number(std::nan(""));
  json.number(std::numeric_limits<double>::infinity());
  json.integer(INT64_MIN);
  json.end_array();
  EXPECT_EQ("[\n  null,\n  null,\n  -9223372036854775808\n]\n", json.text());
}

TEST(JsonWriter, NestedContainers) {
  JsonWriter json;
  json.begin_object();
  json.field("a", int32_t(1));
  json.key("empty");
  json.begin_array();
  json.end_array();
  json.key("o");
  json.begin_object();
  json.field("s", "x");
  json.field("n", nullptr);
  json.end_object();
  json.end_object();
  EXPECT_EQ("{\n  \"a\": 1,\n  \"empty\": [],\n  \"o\": {\n    \"s\": \"x\",\n    \"n\": null\n  }\n}\n",
            json.text());
}

}  // namespace

}  // namespace harnix
