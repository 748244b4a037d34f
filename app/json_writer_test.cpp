#include "app/json_writer.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(JsonWriterTest, EscapesTable) {
  struct Case {
    std::string text;
    std::string written;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a/b", "\"a\\/b\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"line\nbreak\ttab\rcr", "\"line\\nbreak\\ttab\\rcr\""},
      {std::string("nul\0byte", 8), "\"nul\\u0000byte\""},
      {"\x01\x1f", "\"\\u0001\\u001f\""},
      {"\b\f", "\"\\b\\f\""},
      {"Grüße 日本 😀", "\"Grüße 日本 😀\""},
      {"\x7f", "\"\x7f\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(writePrettyJson(JsonValue(c.text)), c.written) << c.text;
}

TEST(JsonWriterTest, PrettyLayout) {
  JsonValue value = JsonValue::object();
  value["success"] = true;
  value["data"] = JsonValue::array({JsonValue::object({{"n", 1}}), nullptr, false});
  value["empty"] = JsonValue::array();
  value["none"] = JsonValue::object();
  EXPECT_EQ(*writePrettyJson(value),
            "{\n"
            "  \"success\" : true,\n"
            "  \"data\" : [\n"
            "    {\n"
            "      \"n\" : 1\n"
            "    },\n"
            "    null,\n"
            "    false\n"
            "  ],\n"
            "  \"empty\" : [],\n"
            "  \"none\" : {}\n"
            "}");
}

TEST(JsonWriterTest, KeysKeepInsertionOrder) {
  JsonValue value = JsonValue::object();
  value["z"] = 1;
  value["a"] = -2;
  EXPECT_EQ(*writePrettyJson(value), "{\n  \"z\" : 1,\n  \"a\" : -2\n}");
}

TEST(JsonWriterTest, RefusesWhatHasNoJsonText) {
  EXPECT_FALSE(writePrettyJson(JsonValue("bad \xff byte")));
  JsonValue nested = JsonValue::object();
  nested["k\xc3"] = 1;  // a key cut in the middle of a character
  EXPECT_FALSE(writePrettyJson(nested));
  EXPECT_FALSE(writePrettyJson(JsonValue(std::nan(""))));
}

}  // namespace
}  // namespace corvane
