// A small writer of JSON text: values appended in order into one string, the commas and
// the escaping done here. Text that is not valid UTF-8 is written with each byte that
// is not as U+FFFD, so that the output is always valid JSON.
//
//   JsonWriter json;
//   json.BeginObject();
//   json.Key("records").Int(3);
//   json.Key("file").String("in.csv");
//   json.EndObject();
//   json.text();  // {"records": 3, "file": "in.csv"}
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trundle {

class JsonWriter {
 public:
  // REQUIRES: inside an object, Key before each value; nowhere else.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Int(int64_t value);
  // A number in its shortest exact form; NaN and the infinities, which JSON has no
  // number for, are written as null.
  JsonWriter& Double(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();

  // The text so far; whole once every object and array opened is closed. Objects and
  // arrays that hold something are laid out one member a line, indented by two.
  const std::string& text() const { return out_; }

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);

  std::string out_;
  int depth_ = 0;
  bool first_ = true;      // nothing written yet at the current depth
  bool after_key_ = false;  // a key was written and waits for its value
};

// `text` as a JSON string, quotes included.
std::string JsonQuoted(std::string_view text);

}  // namespace trundle
