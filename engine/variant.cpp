#include "engine/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/ascii.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/locale_text.h"

namespace trundle {
namespace {

std::string Trimmed(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

[[noreturn]] void CannotConvert(const Variant& v, const char* to) {
  std::string shown = v.ToText();
  if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
  throw TrundleError("Could not convert the value '" + shown + "' (" + VarTypeName(v.type()) +
                     ") to " + to);
}

bool ParseDouble(const std::string& raw, double& out) {
  const std::string t = Trimmed(raw);
  if (t.empty()) return false;
  const char* first = t.data();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, t.data() + t.size(), out);
  return ec == std::errc() && ptr == t.data() + t.size();
}

// Amounts below this convert from a double without leaving int64_t once multiplied by
// 10000 (the exact limit is 922337203685477.5807).
constexpr double kCurrencyLimit = 9.2e14;

// Exact decimal parse of "[$][-|+][$]digits[.|,digits]", so "0.1" is 1000 units and not
// 999. A fifth decimal rounds half away from zero, as the conversion from a double does;
// further ones are dropped. False when the text is no such amount or the amount does not
// fit in 64 bits of 1/10000 units.
// An amount as "$-12.50", "-$12.50" or "12.5", the decimal mark '.' or the locale's
// separator: never both, so "1,500" under a locale whose separator is '.' is refused
// rather than read as 1.5.
bool ParseCurrencyText(const std::string& raw, char separator, int64_t& out) {
  std::string t = Trimmed(raw);
  if (!t.empty() && t[0] == '$') t.erase(0, 1);
  bool negative = false;
  size_t i = 0;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  if (!t.empty() && t[0] != '$' && i < t.size() && t[i] == '$') ++i;
  if (i == t.size()) return false;
  uint64_t units = 0;  // the magnitude, in 1/10000 units once four decimals are in
  int frac_digits = 0, digits = 0;
  bool point = false, round_up = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      ++digits;
      if (point && frac_digits >= 4) {
        if (frac_digits++ == 4) round_up = c >= '5';
        continue;
      }
      if (point) ++frac_digits;
      if (__builtin_mul_overflow(units, uint64_t{10}, &units) ||
          __builtin_add_overflow(units, static_cast<uint64_t>(c - '0'), &units))
        return false;
    } else if ((c == '.' || c == separator) && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  for (; frac_digits < 4; ++frac_digits)
    if (__builtin_mul_overflow(units, uint64_t{10}, &units)) return false;
  if (round_up && __builtin_add_overflow(units, uint64_t{1}, &units)) return false;
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0);
  if (units > limit) return false;
  out = negative ? static_cast<int64_t>(0 - units) : static_cast<int64_t>(units);
  return true;
}

void AppendCurrency(int64_t units, std::string& out) {
  // Up to four decimals, trailing zeros dropped: 12.5, -0.0001, 7.
  const bool negative = units < 0;
  const uint64_t mag = negative ? 0 - static_cast<uint64_t>(units) : static_cast<uint64_t>(units);
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%s%llu", negative ? "-" : "",
                        static_cast<unsigned long long>(mag / 10000));
  out.append(buf, n);
  unsigned frac = static_cast<unsigned>(mag % 10000);
  if (frac) {
    n = std::snprintf(buf, sizeof buf, ".%04u", frac);
    while (buf[n - 1] == '0') --n;
    out.append(buf, n);
  }
}

}  // namespace

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::kUnassigned:
      return "Unassigned";
    case VarType::kNull:
      return "Null";
    case VarType::kString:
      return "String";
    case VarType::kInteger:
      return "Integer";
    case VarType::kFloat:
      return "Float";
    case VarType::kCurrency:
      return "Currency";
    case VarType::kDateTime:
      return "DateTime";
    case VarType::kBoolean:
      return "Boolean";
    case VarType::kBlob:
      return "Blob";
  }
  return "?";
}

Variant Variant::Null() {
  Variant v;
  v.type_ = VarType::kNull;
  return v;
}
Variant Variant::String(std::string_view text) {
  Variant v;
  v.SetString(text);
  return v;
}
Variant Variant::Integer(int64_t value) {
  Variant v;
  v.SetInteger(value);
  return v;
}
Variant Variant::Float(double value) {
  Variant v;
  v.SetFloat(value);
  return v;
}
Variant Variant::Currency(int64_t ten_thousandths) {
  Variant v;
  v.SetCurrency(ten_thousandths);
  return v;
}
Variant Variant::CurrencyFromDouble(double amount) { return Currency(Float(amount).ToCurrency()); }
Variant Variant::DateTime(double days) {
  Variant v;
  v.SetDateTime(days);
  return v;
}
Variant Variant::Boolean(bool value) {
  Variant v;
  v.SetBoolean(value);
  return v;
}
Variant Variant::Blob(std::string_view bytes) {
  Variant v;
  v.SetBlob(bytes);
  return v;
}

void Variant::SetString(std::string_view text) {
  type_ = VarType::kString;
  text_.assign(text.data(), text.size());
}
void Variant::SetInteger(int64_t value) {
  type_ = VarType::kInteger;
  number_.i = value;
}
void Variant::SetFloat(double value) {
  type_ = VarType::kFloat;
  number_.d = value;
}
void Variant::SetCurrency(int64_t ten_thousandths) {
  type_ = VarType::kCurrency;
  number_.i = ten_thousandths;
}
void Variant::SetDateTime(double days) {
  type_ = VarType::kDateTime;
  number_.d = days;
}
void Variant::SetBoolean(bool value) {
  type_ = VarType::kBoolean;
  number_.i = 0;
  number_.b = value;
}
void Variant::SetBlob(std::string_view bytes) {
  type_ = VarType::kBlob;
  text_.assign(bytes.data(), bytes.size());
}

int64_t Variant::ToInteger() const {
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return 0;
    case VarType::kInteger:
      return number_.i;
    case VarType::kBoolean:
      return number_.b ? 1 : 0;
    case VarType::kCurrency:
      return number_.i / 10000;
    case VarType::kFloat:
    case VarType::kDateTime: {
      const double r = std::round(number_.d);
      if (!(r >= -9.2e18 && r <= 9.2e18)) CannotConvert(*this, "an integer");
      return static_cast<int64_t>(r);
    }
    case VarType::kString: {
      const std::string t = Trimmed(text_);
      int64_t out = 0;
      const char* first = t.data() + (!t.empty() && t[0] == '+');
      auto [ptr, ec] = std::from_chars(first, t.data() + t.size(), out);
      if (!t.empty() && ec == std::errc() && ptr == t.data() + t.size()) return out;
      double d = 0;
      if (ParseDouble(text_, d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
        return static_cast<int64_t>(d);
      CannotConvert(*this, "an integer");
    }
    case VarType::kBlob:
      break;
  }
  CannotConvert(*this, "an integer");
}

double Variant::ToDouble() const {
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return 0;
    case VarType::kInteger:
      return static_cast<double>(number_.i);
    case VarType::kBoolean:
      return number_.b ? 1 : 0;
    case VarType::kCurrency:
      return static_cast<double>(number_.i) / 10000.0;
    case VarType::kFloat:
    case VarType::kDateTime:
      return number_.d;
    case VarType::kString: {
      double d = 0;
      if (ParseDouble(text_, d)) return d;
      // The forms the program writes under the user's locale: 12,5 and $12,50.
      const std::shared_ptr<const LocaleFormats> formats = CurrentLocaleFormats();
      if (ParseLocaleNumber(text_, *formats, d)) return d;
      int64_t units = 0;
      if (text_.find('$') != std::string::npos &&
          ParseCurrencyText(text_, formats->decimal_separator, units))
        return static_cast<double>(units) / 10000.0;
      break;
    }
    case VarType::kBlob:
      break;
  }
  CannotConvert(*this, "a number");
}

int64_t Variant::ToCurrency() const {
  switch (type_) {
    case VarType::kCurrency:
      return number_.i;
    case VarType::kInteger: {
      int64_t units = 0;
      if (__builtin_mul_overflow(number_.i, int64_t{10000}, &units))
        CannotConvert(*this, "a currency amount");
      return units;
    }
    case VarType::kString: {
      const std::shared_ptr<const LocaleFormats> formats = CurrentLocaleFormats();
      int64_t units = 0;
      if (ParseCurrencyText(text_, formats->decimal_separator, units)) return units;
      double d = 0;
      if ((ParseDouble(text_, d) || ParseLocaleNumber(text_, *formats, d)) &&
          std::fabs(d) < kCurrencyLimit)
        return std::llround(d * 10000.0);
      CannotConvert(*this, "a currency amount");
    }
    default: {
      const double d = ToDouble();
      if (!(std::fabs(d) < kCurrencyLimit)) CannotConvert(*this, "a currency amount");
      return std::llround(d * 10000.0);
    }
  }
}

double Variant::ToDateTime() const {
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return 0;
    case VarType::kDateTime:
    case VarType::kFloat:
      return number_.d;
    case VarType::kInteger:
      return static_cast<double>(number_.i);
    case VarType::kString: {
      double d = 0;
      if (ParseIsoText(Trimmed(text_), d)) return d;
      if (ParseLocaleDateTime(text_, *CurrentLocaleFormats(), d)) return d;
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "a date");
}

bool Variant::ToBoolean() const {
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return false;
    case VarType::kBoolean:
      return number_.b;
    case VarType::kInteger:
    case VarType::kCurrency:
      return number_.i != 0;
    case VarType::kFloat:
    case VarType::kDateTime:
      return number_.d != 0;
    case VarType::kString: {
      const std::string t = Trimmed(text_);
      if (t.size() == 1) {
        switch (t[0]) {
          case 'T':
          case 't':
          case 'Y':
          case 'y':
          case '1':
            return true;
          case 'F':
          case 'f':
          case 'N':
          case 'n':
          case '0':
            return false;
          default:
            break;
        }
      }
      const std::string lower = LowerAscii(t);
      if (lower == "true" || lower == "yes") return true;
      if (lower == "false" || lower == "no") return false;
      break;
    }
    case VarType::kBlob:
      break;
  }
  CannotConvert(*this, "a Boolean");
}

void Variant::AppendText(std::string& out) const {
  char buf[40];
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return;
    case VarType::kString:
    case VarType::kBlob:
      out += text_;
      return;
    case VarType::kInteger: {
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, number_.i);
      out.append(buf, p);
      return;
    }
    case VarType::kFloat: {
      auto [p, ec] = std::to_chars(buf, buf + sizeof buf, number_.d);
      out.append(buf, p);
      return;
    }
    case VarType::kCurrency:
      AppendCurrency(number_.i, out);
      return;
    case VarType::kDateTime:
      out += IsoText(number_.d);
      return;
    case VarType::kBoolean:
      out += number_.b ? "True" : "False";
      return;
  }
}

std::string Variant::ToText() const {
  std::string out;
  AppendText(out);
  return out;
}

bool Variant::operator==(const Variant& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return true;
    case VarType::kString:
    case VarType::kBlob:
      return text_ == other.text_;
    case VarType::kInteger:
    case VarType::kCurrency:
      return number_.i == other.number_.i;
    case VarType::kFloat:
    case VarType::kDateTime:
      return number_.d == other.number_.d || (std::isnan(number_.d) && std::isnan(other.number_.d));
    case VarType::kBoolean:
      return number_.b == other.number_.b;
  }
  return false;
}

}  // namespace trundle
