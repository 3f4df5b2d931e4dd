// Calendar arithmetic after Howard Hinnant's days_from_civil, proleptic Gregorian.
#include "engine/datetime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace trundle {
namespace {

constexpr int64_t kMsPerDay = 86400000;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 for a civil date.
int64_t DaysFromEpoch1970(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromEpoch1970(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

const int64_t kDay1 = DaysFromEpoch1970(1, 1, 1);  // 1 January of year 1, as day 1 below

}  // namespace

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool IsValidDateParts(const DateParts& p) {
  return IsValidDate(p.year, p.month, p.day) && p.hour >= 0 && p.hour < 24 && p.minute >= 0 &&
         p.minute < 60 && p.second >= 0 && p.second < 60 && p.millisecond >= 0 &&
         p.millisecond < 1000;
}

int64_t DaysFromCivil(int year, int month, int day) {
  return DaysFromEpoch1970(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDay1 +
         1;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  CivilFromEpoch1970(days - 1 + kDay1, year, month, day);
}

int64_t EpochDayNumber() { return DaysFromCivil(1899, 12, 30); }

double EncodeDateTime(const DateParts& p) {
  const double days = static_cast<double>(DaysFromCivil(p.year, p.month, p.day) - EpochDayNumber());
  const double time =
      ((p.hour * 60.0 + p.minute) * 60.0 + p.second + p.millisecond / 1000.0) / 86400.0;
  // Before the epoch the fraction still runs forwards from midnight: -1.25 is 06:00.
  return days < 0 ? days - time : days + time;
}

DateParts DecodeDateTime(double value) {
  DateParts p;
  if (!std::isfinite(value)) return p;
  const double lo = static_cast<double>(DaysFromCivil(1, 1, 1) - EpochDayNumber());
  const double hi = static_cast<double>(DaysFromCivil(9999, 12, 31) - EpochDayNumber());
  double whole = std::trunc(value);
  int64_t ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {  // rounding carried into the next day
    ms -= kMsPerDay;
    whole += value < 0 ? -1 : 1;
  }
  if (whole < lo) whole = lo, ms = 0;
  if (whole > hi) whole = hi, ms = kMsPerDay - 1;
  CivilFromDays(static_cast<int64_t>(whole) + EpochDayNumber(), p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

double NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  DateParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec < 60 ? local.tm_sec : 59;
  p.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return EncodeDateTime(p);
}

std::string IsoText(double value) {
  const DateParts p = DecodeDateTime(value);
  char buf[40];
  const bool time_only = value >= 0 && value < 1.0;
  const bool has_time = p.hour || p.minute || p.second || p.millisecond;
  int n = 0;
  if (time_only) {
    n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  } else if (!has_time) {
    return (std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day), buf);
  } else {
    n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                      p.hour, p.minute, p.second);
  }
  if (p.millisecond) std::snprintf(buf + n, sizeof buf - n, ".%03d", p.millisecond);
  return buf;
}

namespace {

// Reads exactly `count` decimal digits at s; false (out unchanged) when any is not one.
bool ReadDigits(const char* s, int count, int& out) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  return true;
}

// "YYYY-MM-DD" at s, as sscanf's "%4d-%2d-%2d%n" reads it to its tenth character. The
// plain digits that nearly every value has are read directly, a server's millions of
// dates spending most of their time in sscanf otherwise; the rest go to sscanf.
bool ReadIsoDate(const char* s, int& y, int& mo, int& d) {
  if (ReadDigits(s, 4, y) && s[4] == '-' && ReadDigits(s + 5, 2, mo) && s[7] == '-' &&
      ReadDigits(s + 8, 2, d))
    return true;
  int used = 0;
  return std::sscanf(s, "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 && used == 10;
}

// "HH:MM" at s, as "%2d:%2d%n" to its fifth character; the same fast way.
bool ReadIsoTime(const char* s, int& h, int& mi) {
  if (ReadDigits(s, 2, h) && s[2] == ':' && ReadDigits(s + 3, 2, mi)) return true;
  int used = 0;
  return std::sscanf(s, "%2d:%2d%n", &h, &mi, &used) == 2 && used == 5;
}

// "SS" at s, as "%2d%n" to its second character.
bool ReadIsoSeconds(const char* s, int& sec) {
  if (ReadDigits(s, 2, sec)) return true;
  int used = 0;
  return std::sscanf(s, "%2d%n", &sec, &used) == 1 && used == 2;
}

}  // namespace

bool ParseIsoText(const std::string& text, double& value) {
  DateParts p{};
  p.year = 1899, p.month = 12, p.day = 30;
  const char* s = text.c_str();
  bool has_date = false;
  int y = 0, mo = 0, d = 0;
  if (ReadIsoDate(s, y, mo, d)) {
    has_date = true;
    p.year = y, p.month = mo, p.day = d;
    s += 10;
    if (*s == ' ' || *s == 'T')
      ++s;
    else if (*s)
      return false;
  }
  if (*s) {
    int ms_digits = 0;
    if (!ReadIsoTime(s, p.hour, p.minute)) return false;
    s += 5;
    if (*s == ':') {
      if (!ReadIsoSeconds(s + 1, p.second)) return false;
      s += 3;
      if (*s == '.') {
        ++s;
        int ms = 0;
        while (*s >= '0' && *s <= '9') {
          if (ms_digits < 3) ms = ms * 10 + (*s - '0'), ++ms_digits;
          ++s;
        }
        if (!ms_digits) return false;
        while (ms_digits++ < 3) ms *= 10;
        p.millisecond = ms;
      }
    }
    if (*s) return false;
  } else if (!has_date) {
    return false;
  }
  if (!IsValidDateParts(p)) return false;
  value = EncodeDateTime(p);
  return true;
}

}  // namespace trundle
