// Reading back the texts that the user's locale writes: dates in its short date format
// (with a time of day after them or alone) and numbers with its decimal separator. What
// the program writes into a text file (locale_format.h) must go back into a date or
// number field of a table.
//
//   double day = 0;
//   ParseLocaleDateTime("31.12.2000 18:00", formats, day);  // de_DE: "%d.%m.%Y"
//
// Only forms that read one way are taken: the locale's own order of day, month and year
// with a four-digit year (12/31/2000 under en_US, 31.12.2000 under de_DE), never a guess
// between orders, never a two-digit year; a number has at most one decimal mark, '.' or
// the locale's separator, and no grouping. The ISO forms are read by ParseIsoText
// (datetime.h) and the C library's number syntax.
#pragma once

#include <string_view>

#include "engine/locale_format.h"

namespace trundle {

// "<date>", "<date> <time>" or "<time>", with the date in formats.short_date and the
// time as hh:nn, hh:nn:ss or hh:nn:ss.zzz (one- or two-digit hours). False for anything
// else, and for a date or time that does not exist (31 February). White space around
// is allowed.
bool ParseLocaleDateTime(std::string_view text, const LocaleFormats& formats, double& value);

// A decimal number written with formats.decimal_separator where '.' would be, as the
// program writes floats under that locale: "-12,5", "6,02e+23". False when the locale's
// separator is '.', or the text holds a '.' as well, or it is no number.
bool ParseLocaleNumber(std::string_view text, const LocaleFormats& formats, double& value);

}  // namespace trundle
