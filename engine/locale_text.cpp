#include "engine/locale_text.h"

#include <charconv>
#include <string>

#include "engine/ascii.h"
#include "engine/datetime.h"

namespace trundle {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Reads between min and max digits from the front of text into out.
bool TakeDigits(std::string_view& text, size_t min, size_t max, int& out) {
  size_t n = 0;
  out = 0;
  while (n < text.size() && n < max && text[n] >= '0' && text[n] <= '9')
    out = out * 10 + (text[n++] - '0');
  if (n < min) return false;
  text.remove_prefix(n);
  return true;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// The month whose abbreviation text starts with, the longest that matches (letter case
// ignored, as the abbreviations are written in either case).
bool TakeMonthName(std::string_view& text, const LocaleFormats& formats, int& month) {
  size_t best = 0;
  for (int m = 0; m < 12; ++m) {
    const std::string& name = formats.month_abbrev[static_cast<size_t>(m)];
    if (name.empty() || name.size() <= best || name.size() > text.size()) continue;
    if (EqualsIgnoringAsciiCase(text.substr(0, name.size()), name)) {
      best = name.size();
      month = m + 1;
    }
  }
  if (!best) return false;
  text.remove_prefix(best);
  return true;
}

// Reads a date from the front of text as the strftime pattern writes it.
bool TakeDate(std::string_view& text, std::string_view pattern, const LocaleFormats& formats,
              DateParts& parts) {
  bool day = false, month = false, year = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 == pattern.size()) {
      // A space in the pattern stands for any run of them (%e pads with one).
      if (IsSpace(c)) {
        if (text.empty() || !IsSpace(text.front())) return false;
        while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
      } else if (!TakeChar(text, c)) {
        return false;
      }
      continue;
    }
    switch (pattern[++i]) {
      case 'e':
        while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
        [[fallthrough]];
      case 'd':
        if (!TakeDigits(text, 1, 2, parts.day)) return false;
        day = true;
        break;
      case 'm':
        if (!TakeDigits(text, 1, 2, parts.month)) return false;
        month = true;
        break;
      case 'b':
      case 'h':
        if (!TakeMonthName(text, formats, parts.month)) return false;
        month = true;
        break;
      case 'Y':
      case 'y':  // written with four digits too (locale_format.cpp)
        if (!TakeDigits(text, 4, 4, parts.year)) return false;
        year = true;
        break;
      case 'F':
        if (!TakeDate(text, "%Y-%m-%d", formats, parts)) return false;
        day = month = year = true;
        break;
      case 'D':
        if (!TakeDate(text, "%m/%d/%Y", formats, parts)) return false;
        day = month = year = true;
        break;
      case '%':
        if (!TakeChar(text, '%')) return false;
        break;
      default:
        return false;  // a conversion no date is written with (a weekday name, ...)
    }
  }
  return day && month && year;
}

// hh:nn[:ss[.zzz]], as the program writes a time of day.
bool TakeTime(std::string_view& text, DateParts& parts) {
  if (!TakeDigits(text, 1, 2, parts.hour) || !TakeChar(text, ':') ||
      !TakeDigits(text, 2, 2, parts.minute))
    return false;
  if (!TakeChar(text, ':')) return true;
  if (!TakeDigits(text, 2, 2, parts.second)) return false;
  if (!TakeChar(text, '.')) return true;
  int ms = 0;
  return TakeDigits(text, 3, 3, ms) && (parts.millisecond = ms, true);
}

}  // namespace

bool ParseLocaleDateTime(std::string_view text, const LocaleFormats& formats, double& value) {
  text = Trim(text);
  DateParts parts;  // 30 December 1899, the day a time alone falls on
  std::string_view rest = text;
  if (TakeDate(rest, formats.short_date, formats, parts)) {
    if (!rest.empty()) {
      if (!IsSpace(rest.front())) return false;
      rest = Trim(rest);
      if (!TakeTime(rest, parts)) return false;
    }
  } else {
    rest = text;
    parts = DateParts{};
    if (!TakeTime(rest, parts)) return false;
  }
  if (!rest.empty() || !IsValidDateParts(parts)) return false;
  value = EncodeDateTime(parts);
  return true;
}

bool ParseLocaleNumber(std::string_view text, const LocaleFormats& formats, double& value) {
  const char separator = formats.decimal_separator;
  text = Trim(text);
  if (separator == '.' || text.empty() || text.find('.') != std::string_view::npos) return false;
  std::string c_form(text);
  const size_t mark = c_form.find(separator);
  if (mark == std::string::npos || c_form.find(separator, mark + 1) != std::string::npos)
    return false;
  c_form[mark] = '.';
  const char* first = c_form.data() + (c_form[0] == '+');
  const char* last = c_form.data() + c_form.size();
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

}  // namespace trundle
