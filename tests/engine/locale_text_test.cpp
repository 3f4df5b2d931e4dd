// Dates and numbers written in a locale's forms, read back into values: each form read
// one way only, and the ISO forms under every locale.
#include "engine/locale_text.h"

#include <gtest/gtest.h>

#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/variant.h"

namespace trundle {
namespace {

LocaleFormats UnitedStates() {
  LocaleFormats f;
  f.short_date = "%m/%d/%Y";
  return f;
}

LocaleFormats Germany() {
  LocaleFormats f;
  f.short_date = "%d.%m.%Y";
  f.month_abbrev = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                    "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
  f.decimal_separator = ',';
  return f;
}

LocaleFormats WithMonthNames() {
  LocaleFormats f = Germany();
  f.short_date = "%e %b %Y";
  return f;
}

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime(DateParts{y, mo, d, h, mi, s, ms});
}

TEST(LocaleTextTest, DatesInTheLocalesOwnOrderOnly) {
  struct Case {
    LocaleFormats formats;
    const char* text;
    double want;  // -1: refused
  } cases[] = {
      {UnitedStates(), "12/31/2000", At(2000, 12, 31)},
      {UnitedStates(), " 1/2/2000 ", At(2000, 1, 2)},
      {UnitedStates(), "12/31/2000 18:05", At(2000, 12, 31, 18, 5)},
      {UnitedStates(), "12/31/1850 07:08:09.250", At(1850, 12, 31, 7, 8, 9, 250)},
      {UnitedStates(), "31/12/2000", -1},  // no month 31: never read the other way round
      {UnitedStates(), "12/31/00", -1},    // the century is not guessed
      {UnitedStates(), "02/30/2000", -1},
      {UnitedStates(), "12/31/2000x", -1},
      {UnitedStates(), "12/31/2000 25:00", -1},
      {UnitedStates(), "12/31/2000 18:5", -1},
      {Germany(), "31.12.2000", At(2000, 12, 31)},
      {Germany(), "01.02.0099 00:00:01", At(99, 2, 1, 0, 0, 1)},
      {Germany(), "12/31/2000", -1},
      {Germany(), "31.12.2000 18:00:00.5", -1},
      {WithMonthNames(), " 3 Mär 2024", At(2024, 3, 3)},
      {WithMonthNames(), "13 okt 2024 10:00", At(2024, 10, 13, 10)},
      {WithMonthNames(), "13 Oct 2024", -1},
      // A time of day alone falls on 30 December 1899, as the program writes it.
      {Germany(), "18:30", 18.5 / 24},
      {UnitedStates(), "7:00:00", 7.0 / 24},
      {Germany(), "", -1},
      {Germany(), "18", -1},
  };
  for (const Case& c : cases) {
    double got = -1;
    const bool ok = ParseLocaleDateTime(c.text, c.formats, got);
    EXPECT_EQ(ok, c.want != -1) << c.text << " under " << c.formats.short_date;
    if (ok) {
      EXPECT_DOUBLE_EQ(got, c.want) << c.text;
    }
  }
}

TEST(LocaleTextTest, NumbersWithTheLocalesSeparatorAndNoOther) {
  struct Case {
    char separator;
    const char* text;
    double want;  // -1: refused
  } cases[] = {
      {',', "12,5", 12.5},
      {',', " -0,25 ", -0.25},
      {',', "+3,0", 3.0},
      {',', "6,02e+23", 6.02e23},
      {',', "1,234,5", -1},
      {',', "1.234,5", -1},
      {',', "12", -1},  // no separator: the C syntax
                        // reads it, not this
      {',', "abc,d", -1},
      {'.', "12,5", -1},
      {'.', "12.5", -1},
  };
  for (const Case& c : cases) {
    LocaleFormats formats;
    formats.decimal_separator = c.separator;
    double got = -1;
    const bool ok = ParseLocaleNumber(c.text, formats, got);
    EXPECT_EQ(ok, c.want != -1) << c.text;
    if (ok) {
      EXPECT_DOUBLE_EQ(got, c.want) << c.text;
    }
  }
}

// What the variants convert to under a locale: its forms and the ISO ones, and nothing
// read in a way the locale would not write it.
TEST(LocaleTextTest, VariantsConvertTheLocalesTextsAndIsoAlike) {
  SetLocaleFormats(Germany());
  EXPECT_DOUBLE_EQ(Variant::String("31.12.2000").ToDateTime(), At(2000, 12, 31));
  EXPECT_DOUBLE_EQ(Variant::String("2000-12-31").ToDateTime(), At(2000, 12, 31));
  EXPECT_DOUBLE_EQ(Variant::String("12,5").ToDouble(), 12.5);
  EXPECT_DOUBLE_EQ(Variant::String("12.5").ToDouble(), 12.5);
  EXPECT_DOUBLE_EQ(Variant::String("$-12,50").ToDouble(), -12.5);
  EXPECT_EQ(Variant::String("$1234,56").ToCurrency(), 12345600);
  EXPECT_EQ(Variant::String("0,1").ToCurrency(), 1000);
  EXPECT_THROW(Variant::String("12/31/2000").ToDateTime(), TrundleError);

  SetLocaleFormats(UnitedStates());
  EXPECT_DOUBLE_EQ(Variant::String("12/31/2000").ToDateTime(), At(2000, 12, 31));
  EXPECT_EQ(Variant::String("$1234.56").ToCurrency(), 12345600);
  // Under a locale whose separator is '.', a comma is grouping or a mistake, not a point.
  EXPECT_THROW(Variant::String("1,500").ToCurrency(), TrundleError);
  EXPECT_THROW(Variant::String("12,5").ToDouble(), TrundleError);
  SetLocaleFormats(LocaleFormats());
}

}  // namespace
}  // namespace trundle
