#include "engine/locale_format.h"

#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "engine/datetime.h"

namespace trundle {
namespace {

std::string EnvLocale(const char* category) {
  for (const char* name : {"LC_ALL", category, "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return "C";
}

bool IsPlainC(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

LocaleFormats ReadFromEnvironment() {
  LocaleFormats f;
  const std::string time_name = EnvLocale("LC_TIME");
  if (!IsPlainC(time_name)) {
    if (locale_t loc = newlocale(LC_TIME_MASK, time_name.c_str(), nullptr)) {
      std::string fmt = nl_langinfo_l(D_FMT, loc);
      // A two-digit year loses the century; every date we show has four digits.
      for (size_t i = 0; i + 1 < fmt.size(); ++i)
        if (fmt[i] == '%' && fmt[i + 1] == 'y') fmt[i + 1] = 'Y';
      if (!fmt.empty()) f.short_date = fmt;
      for (int m = 0; m < 12; ++m) f.month_abbrev[m] = nl_langinfo_l(ABMON_1 + m, loc);
      freelocale(loc);
    }
  }
  const std::string numeric_name = EnvLocale("LC_NUMERIC");
  if (!IsPlainC(numeric_name)) {
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, numeric_name.c_str(), nullptr)) {
      const char* radix = nl_langinfo_l(RADIXCHAR, loc);
      if (radix && radix[0] && !radix[1]) f.decimal_separator = radix[0];
      freelocale(loc);
    }
  }
  return f;
}

std::mutex g_mutex;
std::shared_ptr<const LocaleFormats> g_formats;  // replaced whole, never changed in place

}  // namespace

std::shared_ptr<const LocaleFormats> CurrentLocaleFormats() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_formats) g_formats = std::make_shared<const LocaleFormats>(ReadFromEnvironment());
  return g_formats;
}

void SetLocaleFormats(const LocaleFormats& formats) {
  auto replacement = std::make_shared<const LocaleFormats>(formats);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_formats = std::move(replacement);
}

namespace {

// n in decimal, padded on the left with `pad` to `width` characters. Called for every
// date a text table writes, so it stays clear of printf.
void AppendNumber(std::string& out, int n, int width, char pad) {
  if (n < 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, pad == '0' ? "%0*d" : "%*d", width, n);
    out += buf;
    return;
  }
  char digits[12];
  int length = 0;
  do {
    digits[length++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (int i = length; i < width; ++i) out += pad;
  while (length > 0) out += digits[--length];
}

}  // namespace

std::string FormatShortDate(double value, const LocaleFormats& formats) {
  const DateParts p = DecodeDateTime(value);
  std::string out;
  const std::string& f = formats.short_date;
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%' || i + 1 == f.size()) {
      out += f[i];
      continue;
    }
    switch (f[++i]) {
      case 'd':
        AppendNumber(out, p.day, 2, '0');
        break;
      case 'e':
        AppendNumber(out, p.day, 2, ' ');
        break;
      case 'm':
        AppendNumber(out, p.month, 2, '0');
        break;
      case 'Y':
        AppendNumber(out, p.year, 4, '0');
        break;
      case 'b':
      case 'h':
        out += formats.month_abbrev[p.month - 1];
        break;
      case 'F':
        AppendNumber(out, p.year, 4, '0');
        out += '-';
        AppendNumber(out, p.month, 2, '0');
        out += '-';
        AppendNumber(out, p.day, 2, '0');
        break;
      case 'D':
        AppendNumber(out, p.month, 2, '0');
        out += '/';
        AppendNumber(out, p.day, 2, '0');
        out += '/';
        AppendNumber(out, p.year, 4, '0');
        break;
      case '%':
        out += '%';
        break;
      default:
        break;  // a conversion a date has no use for
    }
  }
  return out;
}

std::string FormatLogTimestamp(double value, const LocaleFormats& formats) {
  const DateParts p = DecodeDateTime(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d %s %04d %02d:%02d:%02d", p.day,
                formats.month_abbrev[p.month - 1].c_str(), p.year, p.hour, p.minute, p.second);
  return buf;
}

std::string FormatElapsed(double days) {
  if (!(days > 0)) days = 0;
  const long long total = std::llround(std::floor(days * 86400.0 + 1e-6));
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return buf;
}

}  // namespace trundle
