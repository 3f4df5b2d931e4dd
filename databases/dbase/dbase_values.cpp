#include "databases/dbase/dbase_values.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/datetime.h"

namespace trundle::dbase {
namespace {

std::string_view Trim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
  return s.substr(b, e - b);
}

// Julian day number of 30 December 1899, the DateTime epoch.
constexpr int64_t kJulianEpoch = 2415019;
constexpr double kMsPerDay = 86400000.0;

double FirstDay() { return EncodeDateTime(DateParts{1, 1, 1, 0, 0, 0, 0}); }
double AfterLastDay() { return EncodeDateTime(DateParts{9999, 12, 31, 0, 0, 0, 0}) + 1; }

bool InRange(double days) {
  return std::isfinite(days) && std::trunc(days) >= FirstDay() && std::trunc(days) < AfterLastDay();
}

void PadLeft(const char* text, size_t length, int width, char* field) {
  const size_t pad = static_cast<size_t>(width) - length;
  std::memset(field, ' ', pad);
  std::memcpy(field + pad, text, length);
}

}  // namespace

bool ParseNumber(std::string_view bytes, bool as_integer, Variant& out) {
  std::string_view t = Trim(bytes);
  if (t.empty()) {
    out.SetNull();
    return true;
  }
  if (t.find_first_not_of('*') == std::string_view::npos) {
    out.SetNull();
    return true;
  }
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  if (as_integer) {
    int64_t i = 0;
    auto [p, ec] = std::from_chars(first, last, i);
    if (ec == std::errc() && p == last) {
      out.SetInteger(i);
      return true;
    }
  }
  double d = 0;
  auto [p, ec] = std::from_chars(first, last, d);
  // Some writers use a comma for the decimal point.
  if (ec == std::errc() && p != last && *p == ',') {
    std::string copy(first, last);
    copy[static_cast<size_t>(p - first)] = '.';
    auto r = std::from_chars(copy.data(), copy.data() + copy.size(), d);
    if (r.ec != std::errc() || r.ptr != copy.data() + copy.size()) return false;
  } else if (ec != std::errc() || p != last) {
    return false;
  }
  if (!std::isfinite(d)) return false;
  if (as_integer && d == std::trunc(d) && std::fabs(d) < 9.2e18)
    out.SetInteger(static_cast<int64_t>(d));
  else
    out.SetFloat(d);
  return true;
}

bool ParseDate(std::string_view bytes, Variant& out) {
  const std::string_view t = Trim(bytes);
  if (t.empty() || t.find_first_not_of('0') == std::string_view::npos) {
    out.SetNull();
    return true;
  }
  if (bytes.size() != 8) return false;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (bytes[i] < '0' || bytes[i] > '9') return false;
    v[i] = bytes[i] - '0';
  }
  const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int month = v[4] * 10 + v[5];
  const int day = v[6] * 10 + v[7];
  if (!IsValidDate(year, month, day)) return false;
  out.SetDateTime(static_cast<double>(DaysFromCivil(year, month, day) - EpochDayNumber()));
  return true;
}

bool ParseLogical(char byte, Variant& out) {
  switch (byte) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      out.SetBoolean(true);
      return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      out.SetBoolean(false);
      return true;
    case '?':
    case ' ':
    case '\0':
      out.SetNull();
      return true;
    default:
      return false;
  }
}

bool ParseVfpDateTime(const char* bytes, Variant& out) {
  const int32_t julian = LoadInt32(bytes);
  const int32_t ms = LoadInt32(bytes + 4);
  if (julian == 0 && ms == 0) {
    out.SetNull();
    return true;
  }
  if (ms < 0 || ms >= 86400000) return false;
  const double days = static_cast<double>(julian - kJulianEpoch);
  if (days < FirstDay() || days >= AfterLastDay()) return false;
  // The fraction counts forwards from midnight even before the epoch (datetime.h).
  out.SetDateTime(days + (days < 0 ? -1.0 : 1.0) * (ms / kMsPerDay));
  return true;
}

bool ParseMemoPointer(std::string_view bytes, uint64_t& block) {
  if (bytes.size() == 4) {
    block = static_cast<uint32_t>(LoadInt32(bytes.data()));
    return true;
  }
  const std::string_view t = Trim(bytes);
  block = 0;
  if (t.empty()) return true;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
    block = block * 10 + static_cast<uint64_t>(c - '0');
  }
  return true;
}

int32_t LoadInt32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);  // the file is little-endian, as are the machines we build for
  return static_cast<int32_t>(v);
}
int64_t LoadInt64(const char* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
double LoadDouble(const char* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}
void StoreInt32(char* p, int32_t v) { std::memcpy(p, &v, 4); }
void StoreInt64(char* p, int64_t v) { std::memcpy(p, &v, 8); }
void StoreDouble(char* p, double v) { std::memcpy(p, &v, 8); }

bool FormatFixed(const Variant& value, int width, int decimals, char* field) {
  char buf[400];
  char* end = nullptr;
  if (value.type() == VarType::kInteger || value.type() == VarType::kBoolean) {
    end = std::to_chars(buf, buf + 40, value.ToInteger()).ptr;
    if (decimals > 0) {
      *end++ = '.';
      std::memset(end, '0', static_cast<size_t>(decimals));
      end += decimals;
    }
  } else if (value.type() == VarType::kCurrency && decimals == 4) {
    const int64_t units = value.integer();
    const uint64_t mag =
        units < 0 ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
    end = buf;
    if (units < 0) *end++ = '-';
    end = std::to_chars(end, buf + 40, mag / 10000).ptr;
    const unsigned frac = static_cast<unsigned>(mag % 10000);
    *end++ = '.';
    for (unsigned div = 1000; div; div /= 10) *end++ = static_cast<char>('0' + frac / div % 10);
  } else {
    const double d = value.ToDouble();
    if (!std::isfinite(d) || std::fabs(d) >= std::pow(10.0, width)) return false;
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return false;
    end = r.ptr;
  }
  const size_t length = static_cast<size_t>(end - buf);
  if (length > static_cast<size_t>(width)) return false;
  PadLeft(buf, length, width, field);
  return true;
}

bool FormatShortest(double value, int width, char* field, bool& rounded) {
  rounded = false;
  if (!std::isfinite(value)) return false;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  size_t length = static_cast<size_t>(r.ptr - buf);
  if (length <= static_cast<size_t>(width)) {
    PadLeft(buf, length, width, field);
    return true;
  }
  for (int precision = 16; precision >= 0; --precision) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision);
    length = static_cast<size_t>(r.ptr - buf);
    if (length <= static_cast<size_t>(width)) {
      rounded = true;
      PadLeft(buf, length, width, field);
      return true;
    }
  }
  return false;
}

bool FormatDate(double days, char* field) {
  if (!InRange(days)) return false;
  const DateParts p = DecodeDateTime(std::trunc(days));
  const int digits[8] = {p.year / 1000 % 10, p.year / 100 % 10, p.year / 10 % 10, p.year % 10,
                         p.month / 10,       p.month % 10,      p.day / 10,       p.day % 10};
  for (int i = 0; i < 8; ++i) field[i] = static_cast<char>('0' + digits[i]);
  return true;
}

bool FormatVfpDateTime(double days, char* field) {
  if (!InRange(days)) return false;
  // Before the epoch the fraction still counts forwards from midnight (datetime.h).
  const double whole = std::trunc(days);
  int64_t ms = std::llround(std::fabs(days - whole) * kMsPerDay);
  int64_t day = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++day;
  }
  StoreInt32(field, static_cast<int32_t>(day + kJulianEpoch));
  StoreInt32(field + 4, static_cast<int32_t>(ms));
  return true;
}

}  // namespace trundle::dbase
