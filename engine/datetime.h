// Date-time values as days since 30 December 1899: whole days in the integer part,
// the time of day as the fraction. Moments before the epoch are negative; their
// fraction still counts forwards from midnight (-1.25 is 29 December 1899, 06:00).
#pragma once

#include <cstdint>
#include <string>

namespace trundle {

struct DateParts {
  int year = 1899;  // 1 .. 9999
  int month = 12;   // 1 .. 12
  int day = 30;     // 1 .. 31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// False when the parts do not name a real date and time (30 February, hour 24).
bool IsValidDate(int year, int month, int day);
bool IsValidDateParts(const DateParts& parts);

// REQUIRES: IsValidDateParts(parts).
double EncodeDateTime(const DateParts& parts);
// Rounds to the nearest millisecond. Values outside years 1 .. 9999 are clamped.
DateParts DecodeDateTime(double value);

// Days from 1 January of year 1 (day 1) in the proleptic Gregorian calendar, and back.
int64_t DaysFromCivil(int year, int month, int day);
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// The day number of 30 December 1899 in DaysFromCivil's count.
int64_t EpochDayNumber();

// The date-time of this moment in local time.
double NowLocal();

// "yyyy-mm-dd", "yyyy-mm-dd hh:nn:ss" (seconds always, milliseconds when not zero), or
// "hh:nn:ss" for a time of day alone (value in [0, 1)). Used where text must round-trip.
std::string IsoText(double value);
// Parses what IsoText writes, and "yyyy-mm-ddThh:nn[:ss[.zzz]]". False on anything else.
bool ParseIsoText(const std::string& text, double& value);

}  // namespace trundle
