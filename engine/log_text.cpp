#include "engine/log_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace trundle {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t CountCharacters(std::string_view text) {
  size_t n = 0;
  for (char c : text) n += !IsContinuation(c);
  return n;
}

// Byte offset of the start of character number `index` (0-based), or text.size().
size_t OffsetOfCharacter(std::string_view text, size_t index) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuation(text[i])) continue;
    if (seen++ == index) return i;
  }
  return text.size();
}

}  // namespace

std::string ValueInLog(const Variant& value) {
  switch (value.type()) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return "Null";
    case VarType::kBlob:
      return std::to_string(value.text().size()) + " bytes";
    case VarType::kString: {
      // Built by appending: GCC 12 warns (-Wrestrict) of a false overlap in "'" + string.
      std::string quoted(1, '\'');
      quoted += ShownInLog(value.text());
      quoted += '\'';
      return quoted;
    }
    default:
      return ShownInLog(value.ToText());
  }
}

std::string ShownInLog(std::string_view text) {
  if (text.size() <= kLogValueLimit) return std::string(text);
  const size_t characters = CountCharacters(text);
  if (characters <= kLogValueLimit) return std::string(text);
  std::string out(text.substr(0, OffsetOfCharacter(text, kLogValueLimit)));
  out += "... (" + std::to_string(characters) + " characters)";
  return out;
}

std::string ShortenedLogLine(std::string_view line) {
  if (line.size() <= kLogLineLimit) return std::string(line);
  const size_t characters = CountCharacters(line);
  if (characters <= kLogLineLimit) return std::string(line);
  // The beginning says what the line is about; the end often names the cause.
  constexpr size_t kHead = kLogLineLimit * 3 / 5;
  constexpr size_t kTail = kLogLineLimit / 5;
  const size_t head_end = OffsetOfCharacter(line, kHead);
  const size_t tail_start = OffsetOfCharacter(line, characters - kTail);
  std::string out(line.substr(0, head_end));
  out += "... (" + std::to_string(characters - kHead - kTail) + " characters left out) ...";
  out += line.substr(tail_start);
  return out;
}

std::string NoTableCause(const std::string& path) {
  if (path.empty()) return "No file name was given";
  struct stat st {};
  if (stat(path.c_str(), &st) != 0)
    return path + ": " + (errno == ENOENT ? std::string("no such file") : std::strerror(errno));
  if (S_ISDIR(st.st_mode)) return path + " is a folder, not a file";
  return "";
}

std::string NewDestinationNote(const std::string& path) {
  struct stat st {};
  if (!path.empty() && stat(path.c_str(), &st) != 0 && errno == ENOENT)
    return path + " does not exist yet: it is created";
  return NoTableCause(path);
}

}  // namespace trundle
