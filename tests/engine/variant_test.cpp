#include "engine/variant.h"

#include <gtest/gtest.h>

#include "engine/codepage.h"
#include "engine/datetime.h"
#include "engine/errors.h"

namespace trundle {
namespace {

TEST(DateTimeTest, EncodesAndDecodesAroundTheEpoch) {
  struct Case {
    DateParts parts;
    double value;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
      {{2000, 1, 1, 18, 0, 0, 0}, 36526.75},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
      {{1066, 10, 14, 12, 0, 0, 0}, -304324.5},
      {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
      {{9999, 12, 31, 23, 59, 59, 999}, 2958465.0 + 86399.999 / 86400.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(EncodeDateTime(c.parts), c.value, 1e-9) << c.parts.year;
    const DateParts back = DecodeDateTime(c.value);
    EXPECT_EQ(back.year, c.parts.year);
    EXPECT_EQ(back.month, c.parts.month);
    EXPECT_EQ(back.day, c.parts.day);
    EXPECT_EQ(back.hour, c.parts.hour);
    EXPECT_EQ(back.minute, c.parts.minute);
    EXPECT_EQ(back.second, c.parts.second);
    EXPECT_EQ(back.millisecond, c.parts.millisecond);
  }
}

TEST(DateTimeTest, IsoTextRoundTrips) {
  for (const char* text : {"1899-12-31", "1066-10-14 12:00:00", "2026-12-05 14:03:09.250",
                           "13:45:07", "1600-02-29", "9999-12-31 23:59:59"}) {
    double v = 0;
    ASSERT_TRUE(ParseIsoText(text, v)) << text;
    EXPECT_EQ(IsoText(v), text);
  }
  double v = 0;
  for (const char* bad : {"", "1999-02-29", "2000-13-01", "12:60", "2000-01-01x", "abc",
                          "2000-01-0", "2000-1-01", "20000-01-01", "2000/01/01", "1:30",
                          "12:3", "12:30:6", "12:30:", "2000-01-01 12"})
    EXPECT_FALSE(ParseIsoText(bad, v)) << bad;
  // A date and a time apart by a T, and digits the day's fast reading passes over to the
  // general one (a sign, leading spaces), read as before.
  ASSERT_TRUE(ParseIsoText("2024-02-29T07:05", v));
  EXPECT_EQ(IsoText(v), "2024-02-29 07:05:00");
  ASSERT_TRUE(ParseIsoText("+999-01-02", v));
  EXPECT_EQ(IsoText(v), "0999-01-02");
}

TEST(VariantTest, KeepsKindsAndConverts) {
  EXPECT_TRUE(Variant().IsUnassigned());
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_FALSE(Variant::Null() == Variant());
  EXPECT_EQ(Variant::Integer(-42).ToText(), "-42");
  EXPECT_EQ(Variant::Float(0.1).ToText(), "0.1");
  EXPECT_EQ(Variant::Currency(12345000).ToText(), "1234.5");
  EXPECT_EQ(Variant::Currency(-1).ToText(), "-0.0001");
  EXPECT_EQ(Variant::Boolean(true).ToText(), "True");
  EXPECT_EQ(Variant::String(" 17 ").ToInteger(), 17);
  EXPECT_EQ(Variant::String("0.1").ToCurrency(), 1000);
  EXPECT_EQ(Variant::String("-$3.25").ToCurrency(), -32500);
  EXPECT_DOUBLE_EQ(Variant::String("1e3").ToDouble(), 1000.0);
  EXPECT_TRUE(Variant::String("Y").ToBoolean());
  EXPECT_FALSE(Variant::String("false").ToBoolean());
  EXPECT_DOUBLE_EQ(Variant::String("2000-01-01 18:00:00").ToDateTime(), 36526.75);
  try {
    (void)Variant::String("abc").ToInteger();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(), "Could not convert the value 'abc' (String) to an integer");
  }
}

// Currency holds 1/10000 units in 64 bits: the largest amount is 922337203685477.5807.
// Everything up to the limit converts exactly; beyond it the conversion reports instead of
// wrapping round to a wrong amount.
TEST(VariantTest, CurrencyConvertsExactlyToItsLimitsAndReportsBeyond) {
  struct Case {
    Variant value;
    int64_t units;  // ignored when it does not fit
    bool fits;
  } cases[] = {
      {Variant::String("922337203685477.5807"), INT64_MAX, true},
      {Variant::String("-922337203685477.5808"), INT64_MIN, true},
      {Variant::String("$922337203685477"), 9223372036854770000, true},
      {Variant::String("922337203685477.5808"), 0, false},
      {Variant::String("-922337203685477.5809"), 0, false},
      {Variant::String("922337203685479"), 0, false},
      {Variant::String("99999999999999999999999"), 0, false},
      {Variant::String("1e15"), 0, false},
      {Variant::String("1.5e3"), 15000000, true},
      {Variant::String("0.00005"), 1, true},
      {Variant::String("-0.00005"), -1, true},
      {Variant::String("2.000049"), 20000, true},
      {Variant::String("922337203685477.58075"), 0, false},  // rounds past the limit
      {Variant::Integer(922337203685477), 9223372036854770000, true},
      {Variant::Integer(-922337203685477), -9223372036854770000, true},
      {Variant::Integer(922337203685478), 0, false},
      {Variant::Integer(INT64_MIN), 0, false},
      {Variant::Float(1e15), 0, false},
      {Variant::Float(-2.5), -25000, true},
  };
  for (const Case& c : cases) {
    if (c.fits) {
      EXPECT_EQ(c.value.ToCurrency(), c.units) << c.value.ToText();
    } else {
      EXPECT_THROW((void)c.value.ToCurrency(), TrundleError) << c.value.ToText();
    }
  }
  try {
    (void)Variant::Integer(1000000000000000).ToCurrency();
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    EXPECT_STREQ(e.what(),
                 "Could not convert the value '1000000000000000' (Integer) to a currency amount");
  }
  EXPECT_THROW(Variant::CurrencyFromDouble(1e300), TrundleError);
}

TEST(VariantTest, ReusesItsStringBuffer) {
  Variant v = Variant::String(std::string(100, 'x'));
  const char* before = v.text().data();
  v.Clear();
  v.SetString(std::string(50, 'y'));
  EXPECT_EQ(v.text().data(), before);
}

TEST(CodePageTest, ConvertsAndReportsWhatDoesNotFit) {
  auto from = TextCodec::ToUtf8From("1251");
  std::string out;
  EXPECT_TRUE(from->Convert("\xCE\xF4\xE8\xF1", out));
  EXPECT_EQ(out, "Офис");
  auto to = TextCodec::FromUtf8To("windows-1252");
  out.clear();
  EXPECT_FALSE(to->Convert("caf\xC3\xA9 Офис", out));
  EXPECT_EQ(out, "caf\xE9 ????");
  EXPECT_THROW(TextCodec::ToUtf8From("no-such-page"), TrundleError);
  EXPECT_TRUE(IsValidUtf8("plain ascii and Офис"));
  EXPECT_FALSE(IsValidUtf8("\xCE\xF4"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  FallbackDecoder fallback("CP1251");
  out.clear();
  fallback.Decode("\xCE\xF4\xE8\xF1", out);
  fallback.Decode(" мир", out);
  EXPECT_EQ(out, "Офис мир");
}

// A text converted in pieces, cut at every byte, gives what it gives whole: a character
// cut at a piece's end waits for the next piece, and only at the text's end is it
// reported as not converted.
TEST(CodePageTest, TextInPiecesConvertsAsWhole) {
  const std::pair<const char*, std::string> texts[] = {
      {"CP932", "\x93\xFA\x96\x7B a\x8C\xEA"},                    // Shift-JIS "日本 a語"
      {"UTF-16LE", std::string("A\0\x3D\xD8\x00\xDE\x2C\x67", 8)},  // "A😀本"
      {"UTF-8", "a\xF0\x9F\x98\x80\xC3\xA9"}};
  for (const auto& [code_page, text] : texts) {
    auto codec = TextCodec::ToUtf8From(code_page);
    std::string whole;
    ASSERT_TRUE(codec->Convert(text, whole)) << code_page;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      std::string out;
      size_t used = 0;
      EXPECT_TRUE(codec->ConvertPiece(text.substr(0, cut), false, out, used));
      const std::string rest = text.substr(used);
      EXPECT_TRUE(codec->ConvertPiece(rest, true, out, used)) << code_page << " " << cut;
      EXPECT_EQ(used, rest.size());
      EXPECT_EQ(out, whole) << code_page << " cut at " << cut;
    }
    std::string out;
    size_t used = 0;
    EXPECT_FALSE(codec->ConvertPiece(text.substr(0, text.size() - 1), true, out, used));
    // UTF-8 passes as it is, only checked.
    if (!codec->identity()) {
      EXPECT_EQ(out.back(), '?') << code_page;
    }
  }
}

}  // namespace
}  // namespace trundle
