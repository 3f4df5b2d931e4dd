// Single values between record bytes and Variants: numbers, dates, logicals, Visual
// FoxPro date-times and memo pointers, in both directions.

#include "databases/dbase/dbase_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/datetime.h"

namespace trundle {
namespace {

double Day(int y, int m, int d) { return EncodeDateTime(DateParts{y, m, d, 0, 0, 0, 0}); }

TEST(DBaseValuesTest, ParseNumber) {
  struct Case {
    std::string bytes;
    bool as_integer;
    bool ok;
    Variant want;
  };
  const std::vector<Case> cases = {
      {"     ", true, true, Variant::Null()},
      {"  -42", true, true, Variant::Integer(-42)},
      {"+7", true, true, Variant::Integer(7)},
      {"  12.50", false, true, Variant::Float(12.5)},
      {"12,50", false, true, Variant::Float(12.5)},
      {" 1e+300", false, true, Variant::Float(1e300)},
      {"  3.0", true, true, Variant::Integer(3)},  // a whole number in an N(w,0) field
      {"  3.5", true, true, Variant::Float(3.5)},
      {"99999999999999999999", true, true, Variant::Float(1e20)},  // beyond int64
      {"*****", false, true, Variant::Null()},                     // dBase's overflow mark
      {"1x3", true, false, Variant()},
      {"-", false, false, Variant()},
      {"nan", false, false, Variant()},
      {std::string("  1\0", 4), true, true, Variant::Integer(1)},  // NUL padding
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    Variant got;
    EXPECT_EQ(dbase::ParseNumber(c.bytes, c.as_integer, got), c.ok);
    if (c.ok) {
      EXPECT_EQ(got, c.want);
    }
  }
}

TEST(DBaseValuesTest, ParseDateAndLogical) {
  struct DateCase {
    const char* bytes;
    bool ok;
    Variant want;
  };
  const std::vector<DateCase> dates = {
      {"10661014", true, Variant::DateTime(Day(1066, 10, 14))},
      {"18991229", true, Variant::DateTime(-1)},
      {"99991231", true, Variant::DateTime(Day(9999, 12, 31))},
      {"        ", true, Variant::Null()},
      {"00000000", true, Variant::Null()},
      {"20230229", false, Variant()},
      {"2023-1-1", false, Variant()},
  };
  for (const DateCase& c : dates) {
    SCOPED_TRACE(c.bytes);
    Variant got;
    EXPECT_EQ(dbase::ParseDate(std::string_view(c.bytes, 8), got), c.ok);
    if (c.ok) {
      EXPECT_EQ(got, c.want);
    }
  }
  const std::string trues = "TtYy", falses = "FfNn", nulls = std::string("? \0", 3);
  for (char c = 1; c < 127; ++c) {
    Variant got;
    const bool ok = dbase::ParseLogical(c, got);
    if (trues.find(c) != std::string::npos)
      EXPECT_EQ(got, Variant::Boolean(true)) << c;
    else if (falses.find(c) != std::string::npos)
      EXPECT_EQ(got, Variant::Boolean(false)) << c;
    else if (nulls.find(c) != std::string::npos)
      EXPECT_TRUE(got.IsNull()) << c;
    else
      EXPECT_FALSE(ok) << c;
  }
}

TEST(DBaseValuesTest, DatesAndDateTimesRoundTrip) {
  const std::vector<double> moments = {Day(1066, 10, 14), -1.25,
                                       Day(1899, 12, 30), Day(2024, 2, 29) + 0.999,
                                       Day(1, 1, 1),      Day(9999, 12, 31) + 0.5};
  for (double m : moments) {
    SCOPED_TRACE(IsoText(m));
    char field[8];
    ASSERT_TRUE(dbase::FormatVfpDateTime(m, field));
    Variant got;
    ASSERT_TRUE(dbase::ParseVfpDateTime(field, got));
    EXPECT_EQ(IsoText(got.real()), IsoText(m));
    ASSERT_TRUE(dbase::FormatDate(m, field));
    ASSERT_TRUE(dbase::ParseDate(std::string_view(field, 8), got));
    EXPECT_EQ(IsoText(got.real()), IsoText(m).substr(0, 10));
  }
  char field[8];
  EXPECT_FALSE(dbase::FormatDate(Day(9999, 12, 31) + 1, field));
  EXPECT_FALSE(dbase::FormatDate(NAN, field));
}

TEST(DBaseValuesTest, FormatNumbers) {
  struct Case {
    Variant value;
    int width;
    int decimals;
    const char* want;  // nullptr: does not fit
  };
  const std::vector<Case> cases = {
      {Variant::Integer(-42), 6, 0, "   -42"},
      {Variant::Integer(42), 6, 2, " 42.00"},
      {Variant::Integer(-9223372036854775807LL - 1), 20, 0, "-9223372036854775808"},
      {Variant::Float(2.675), 5, 2, " 2.67"},  // the double just below 2.675
      {Variant::Float(-99.999), 6, 2, nullptr},
      {Variant::Float(1e300), 20, 0, nullptr},
      {Variant::Float(INFINITY), 20, 2, nullptr},
      {Variant::Currency(-12345), 10, 4, "   -1.2345"},
      {Variant::Currency(5), 8, 2, "    0.00"},
      {Variant::Boolean(true), 3, 0, "  1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.ToText());
    std::string field(static_cast<size_t>(c.width), '#');
    const bool ok = dbase::FormatFixed(c.value, c.width, c.decimals, field.data());
    ASSERT_EQ(ok, c.want != nullptr);
    if (ok) {
      EXPECT_EQ(field, c.want);
    }
  }
}

TEST(DBaseValuesTest, ShortestFloatsKeepEveryDigit) {
  for (double v :
       {0.1, -1.0 / 3.0, 6.02214076e23, -2.2250738585072014e-308, 123456789.125, 5e-324}) {
    SCOPED_TRACE(v);
    char field[20];
    bool rounded = false;
    ASSERT_TRUE(dbase::FormatShortest(v, 20, field, rounded));
    Variant got;
    ASSERT_TRUE(dbase::ParseNumber(std::string_view(field, 20), false, got));
    if (!rounded)
      EXPECT_EQ(got.real(), v);
    else
      EXPECT_NEAR(got.real(), v, std::fabs(v) * 1e-10);  // at least 11 digits kept
  }
  char field[20];
  bool rounded = false;
  EXPECT_FALSE(dbase::FormatShortest(NAN, 20, field, rounded));
}

TEST(DBaseValuesTest, MemoPointers) {
  uint64_t block = 99;
  EXPECT_TRUE(dbase::ParseMemoPointer("        12", block));
  EXPECT_EQ(block, 12u);
  EXPECT_TRUE(dbase::ParseMemoPointer("          ", block));
  EXPECT_EQ(block, 0u);
  EXPECT_TRUE(dbase::ParseMemoPointer(std::string_view("\x05\x01\x00\x00", 4), block));
  EXPECT_EQ(block, 261u);
  EXPECT_FALSE(dbase::ParseMemoPointer("     12a  ", block));
}

}  // namespace
}  // namespace trundle
