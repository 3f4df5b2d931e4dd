#include "engine/json_reader.h"

#include <cerrno>
#include <cstdlib>

namespace trundle {
namespace {

// Nesting deeper than this is refused rather than followed down the stack.
constexpr int kMostDepth = 64;

class Parser {
 public:
  Parser(std::string_view text, const std::string& source) : text_(text), source_(source) {}

  JsonValue Document() {
    // A byte order mark is no part of JSON, but editors write one; it says nothing.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    SkipSpace();
    JsonValue value = Value(0);
    SkipSpace();
    if (at_ < text_.size()) Fail("there is more after the end of the JSON value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw JsonError(source_ + ", line " + std::to_string(line_) + ": " + what);
  }

  void SkipSpace() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n') ++line_;
      else if (c != ' ' && c != '\t' && c != '\r') return;
      ++at_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  JsonValue Value(int depth) {
    if (depth > kMostDepth) Fail("the JSON is nested too deeply");
    if (at_ >= text_.size()) Fail("the text ends where a value was expected");
    JsonValue value;
    value.line = line_;
    const char c = text_[at_];
    if (c == '{') {
      value.type = JsonValue::Type::kObject;
      Object(value, depth);
    } else if (c == '[') {
      value.type = JsonValue::Type::kArray;
      Array(value, depth);
    } else if (c == '"') {
      value.type = JsonValue::Type::kString;
      value.text = String();
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      value.type = JsonValue::Type::kNumber;
      Number(value);
    } else if (Literal("true")) {
      value.type = JsonValue::Type::kBool;
      value.boolean = true;
    } else if (Literal("false")) {
      value.type = JsonValue::Type::kBool;
    } else if (!Literal("null")) {
      Fail("a value was expected (a string in double quotes, a number, true, false, null, "
           "an object or an array)");
    }
    return value;
  }

  void Object(JsonValue& value, int depth) {
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return;
    }
    for (;;) {
      if (at_ >= text_.size() || text_[at_] != '"') Fail("a key in double quotes was expected");
      std::string key = String();
      if (value.Find(key)) Fail("the key \"" + key + "\" is given twice");
      SkipSpace();
      if (at_ >= text_.size() || text_[at_] != ':') Fail("a ':' was expected after a key");
      ++at_;
      SkipSpace();
      value.members.emplace_back(std::move(key), Value(depth + 1));
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        SkipSpace();
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') {
        ++at_;
        return;
      }
      Fail("a ',' or '}' was expected");
    }
  }

  void Array(JsonValue& value, int depth) {
    ++at_;
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return;
    }
    for (;;) {
      value.items.push_back(Value(depth + 1));
      SkipSpace();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        SkipSpace();
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') {
        ++at_;
        return;
      }
      Fail("a ',' or ']' was expected");
    }
  }

  static void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  uint32_t Hex4() {
    if (at_ + 4 > text_.size()) Fail("\\u needs four hexadecimal digits");
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      code <<= 4;
      if (c >= '0' && c <= '9') code |= static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f') code |= static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') code |= static_cast<uint32_t>(c - 'A' + 10);
      else Fail("\\u needs four hexadecimal digits");
    }
    return code;
  }

  // REQUIRES: text_[at_] is the opening quote.
  std::string String() {
    ++at_;
    std::string out;
    for (;;) {
      if (at_ >= text_.size()) Fail("a string is not closed by a double quote");
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("a string holds a control character; write it as an escape (\\n, \\t)");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) Fail("a string is not closed by a double quote");
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code = Hex4();
          if (code >= 0xDC00 && code <= 0xDFFF) Fail("a \\u escape is half a character");
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (!Literal("\\u")) Fail("a \\u escape is half a character");
            const uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a \\u escape is half a character");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          Fail(std::string("unknown escape \\") + e + " in a string");
      }
    }
  }

  void Number(JsonValue& value) {
    const size_t start = at_;
    auto digits = [this] {
      const size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - from;
    };
    if (text_[at_] == '-') ++at_;
    const size_t first = at_;
    const size_t whole = digits();
    if (whole == 0 || (whole > 1 && text_[first] == '0')) Fail("a number is not written as JSON writes one");
    bool integral = true;
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      integral = false;
      if (digits() == 0) Fail("a number is not written as JSON writes one");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      integral = false;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) Fail("a number is not written as JSON writes one");
    }
    const std::string written(text_.substr(start, at_ - start));
    value.number = std::strtod(written.c_str(), nullptr);
    if (integral) {
      errno = 0;
      value.integer = std::strtoll(written.c_str(), nullptr, 10);
      value.integral = errno != ERANGE;
    }
  }

  std::string_view text_;
  const std::string& source_;
  size_t at_ = 0;
  int line_ = 1;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const auto& [name, value] : members)
    if (name == key) return &value;
  return nullptr;
}

const char* JsonTypeName(JsonValue::Type type) {
  switch (type) {
    case JsonValue::Type::kNull: return "null";
    case JsonValue::Type::kBool: return "true or false";
    case JsonValue::Type::kNumber: return "a number";
    case JsonValue::Type::kString: return "a string";
    case JsonValue::Type::kArray: return "an array";
    case JsonValue::Type::kObject: return "an object";
  }
  return "a value";
}

JsonValue ReadJson(std::string_view text, const std::string& source) {
  return Parser(text, source).Document();
}

}  // namespace trundle
