// A small strict reader of JSON text (RFC 8259): one value, objects with unique keys,
// strings with every escape, numbers, true, false and null; nothing else, no comments,
// no trailing commas. Every value keeps the line it starts on, so that a caller can
// name the line of a value it refuses.
//
//   JsonValue job = ReadJson(text, "job.json");  // throws JsonError
//   const JsonValue* version = job.Find("trundle_job");
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trundle {

class JsonError : public std::runtime_error {
 public:
  explicit JsonError(const std::string& message) : std::runtime_error(message) {}
};

struct JsonValue {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  int line = 1;              // where the value starts, from 1
  bool boolean = false;      // kBool
  double number = 0;         // kNumber
  bool integral = false;     // kNumber written without fraction or exponent, in int64 range
  int64_t integer = 0;       // kNumber when integral
  std::string text;          // kString, as UTF-8
  std::vector<JsonValue> items;                            // kArray
  std::vector<std::pair<std::string, JsonValue>> members;  // kObject, in file order

  // The member named `key` of an object; nullptr when there is none or this is no object.
  const JsonValue* Find(std::string_view key) const;
};

// "a string", "a number", "an object", ...: for messages.
const char* JsonTypeName(JsonValue::Type type);

// Parses `text` whole. Throws JsonError with a sentence naming `source` (a file's path)
// and the line of the fault: "job.json, line 3: a ',' or '}' was expected".
JsonValue ReadJson(std::string_view text, const std::string& source);

}  // namespace trundle
