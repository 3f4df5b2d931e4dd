#include "engine/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace trundle {
namespace {

// Every byte that JSON cannot carry as it is gets an escape, and every byte that begins
// no UTF-8 character (a Latin-1 name, a cut sequence, an overlong form, a surrogate)
// becomes U+FFFD, so that the text is valid JSON and valid UTF-8 whatever a name held.
TEST(JsonWriterTest, StringsAreEscapedAndMadeValidUtf8) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"a\nb\rc\td\be\ff", "\"a\\nb\\rc\\td\\be\\ff\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"caf\xE9!", "\"caf\xEF\xBF\xBD!\""},                      // Latin-1
      {"\xC3", "\"\xEF\xBF\xBD\""},                              // cut short
      {"\xC0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},              // overlong NUL
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // > U+10FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(JsonQuoted(c.in), c.out);
  }
}

TEST(JsonWriterTest, NumbersAndNestingKeepTheirForm) {
  JsonWriter json;
  json.BeginObject();
  json.Key("low").Int(std::numeric_limits<int64_t>::min());
  json.Key("tenth").Double(0.1);
  json.Key("whole").Double(2.0);
  json.Key("nan").Double(std::nan(""));
  json.Key("inf").Double(std::numeric_limits<double>::infinity());
  json.Key("none").BeginArray().EndArray();
  json.Key("list").BeginArray().Bool(true).Null().BeginObject().EndObject().EndArray();
  json.EndObject();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"low\": -9223372036854775808,\n"
            "  \"tenth\": 0.1,\n"
            "  \"whole\": 2,\n"
            "  \"nan\": null,\n"
            "  \"inf\": null,\n"
            "  \"none\": [],\n"
            "  \"list\": [\n"
            "    true,\n"
            "    null,\n"
            "    {}\n"
            "  ]\n"
            "}");
}

}  // namespace
}  // namespace trundle
