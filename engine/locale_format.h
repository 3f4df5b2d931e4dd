// The user's locale as the program's texts need it: the short date format, the
// abbreviated month names and the decimal separator. Read once from the environment
// (LC_ALL, LC_TIME, LC_NUMERIC, LANG) without changing the C library's global locale,
// so number parsing elsewhere stays in the C locale.
#pragma once

#include <array>
#include <memory>
#include <string>

namespace trundle {

struct LocaleFormats {
  // strftime conversions for a date, always with a four-digit year ("%m/%d/%Y").
  // ISO 8601 ("%Y-%m-%d") where the locale has none of its own (C, POSIX).
  std::string short_date = "%Y-%m-%d";
  std::array<std::string, 12> month_abbrev = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char decimal_separator = '.';
};

// The formats of the user's locale, read on first use. The snapshot never changes: a
// run that holds it keeps its formats while SetLocaleFormats installs new ones.
std::shared_ptr<const LocaleFormats> CurrentLocaleFormats();
// Replaces them for later callers, for tests and for a front end that knows better.
// Safe to call from any thread.
void SetLocaleFormats(const LocaleFormats& formats);

// A date-time value (days since 1899-12-30) in the short date format.
std::string FormatShortDate(double value, const LocaleFormats& formats);
// "dd mmm yyyy hh:nn:ss" with the locale's month abbreviation.
std::string FormatLogTimestamp(double value, const LocaleFormats& formats);
// A length of time in days as "hh:nn:ss", all hours shown (27:03:09).
std::string FormatElapsed(double days);

}  // namespace trundle
