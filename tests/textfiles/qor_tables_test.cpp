#include "textfiles/qor_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "engine/errors.h"
#include "engine/locale_format.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const TrundleError& e) {
    return e.what();
  }
  return "";
}

TEST(TableObjectTest, PlaceholderRecordsAndLookups) {
  TTableObject t;
  EXPECT_EQ(t.RecordListLength(), 1);
  EXPECT_TRUE(t.GetValue(0, 0).IsNull());
  EXPECT_TRUE(t.GetValue(0, 1).IsNull());
  t.FieldNames = {"NAME", "A", "A"};
  t.AddRecord();
  t.AddRecord();
  EXPECT_EQ(t.DataRecordCount(), 2);
  t.SetValue("Name", 1, Variant::String("x"));
  t.SetValue("name", 3, Variant::String("lost"));  // no record 3: nothing happens
  EXPECT_TRUE(t.GetValue(0, 3).IsNull());
  EXPECT_EQ(t.GetValueByName("nAmE", 1).text(), "x");
  EXPECT_EQ(ErrorOf([&] { t.GetValueByName("Missing", 1); }), "Field not found Missing");
  // Duplicate names: lookups by name reach the first; the second only by index.
  t.SetValue("a", 1, Variant::Integer(7));
  t.SetValueAt(2, 1, Variant::Integer(8));
  EXPECT_EQ(t.GetValueByName("A", 1).integer(), 7);
  EXPECT_EQ(t.GetValue(2, 1).integer(), 8);
  // Going back to an earlier record after a later one was added keeps both intact.
  t.SetValueAt(1, 2, Variant::Integer(9));
  t.SetValueAt(0, 1, Variant::String("y"));
  EXPECT_EQ(t.GetValue(0, 1).text(), "y");
  EXPECT_EQ(t.GetValue(1, 1).integer(), 7);
  EXPECT_EQ(t.GetValue(1, 2).integer(), 9);
  t.ClearRecords();
  EXPECT_EQ(t.RecordListLength(), 1);
  EXPECT_EQ(t.DataRecordCount(), 0);
  EXPECT_EQ(t.FieldNames.size(), 3u);
}

// As many values as the job's record buffers carry, and no more.
TEST(TableObjectTest, AsManyValuesAsARecordBufferAtMost) {
  constexpr int kMax = kMaxRecordValues;
  static_assert(kMax == kRecordBufferSize);
  TTableObject t;
  for (int i = 0; i <= kMax; ++i) t.FieldNames.push_back(FieldName(i));
  t.AddRecord();
  t.SetValueAt(kMax - 1, 1, Variant::String("last"));
  EXPECT_EQ(t.GetValue(kMax - 1, 1).text(), "last");
  EXPECT_EQ(ErrorOf([&] { t.SetValueAt(kMax, 1, Variant::String("x")); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { t.GetValue(kMax, 1); }), "Range check error");
  EXPECT_EQ(ErrorOf([&] { t.FormatValue(t.Record(1), kMax); }), "Range check error");
  std::vector<std::string_view> texts(kMax + 1, "v");
  EXPECT_EQ(ErrorOf([&] { t.AddTextRecord(texts); }), "Range check error");
  EXPECT_EQ(t.DataRecordCount(), 2);  // the record stays, with its first kMax values
  EXPECT_EQ(t.GetValue(kMax - 1, 2).text(), "v");
}

TEST(TableObjectTest, FormatsValuesWithoutLosingAnything) {
  LocaleFormats us;
  us.short_date = "%m/%d/%Y";
  SetLocaleFormats(us);
  TTableObject t;
  t.FieldNames = {"V"};
  struct Case {
    Variant value;
    const char* text;
  } cases[] = {
      {Variant::CurrencyFromDouble(1234.5), "$1234.50"},
      {Variant::Currency(0), "$0.00"},
      {Variant::Currency(-12000), "$-1.20"},
      // A currency amount has four decimals: none is rounded away.
      {Variant::CurrencyFromDouble(-0.125), "$-0.125"},
      {Variant::Currency(-4), "$-0.0004"},
      {Variant::Currency(INT64_MIN), "$-922337203685477.5808"},
      {Variant::DateTime(0.5), "12:00"},
      {Variant::DateTime((13 * 3600 + 5 * 60 + 7) / 86400.0), "13:05:07"},
      {Variant::DateTime(36526.0), "01/01/2000"},
      {Variant::DateTime(36526.75), "01/01/2000 18:00"},
      {Variant::DateTime(-304324.0), "10/14/1066"},  // before 1899 is still a date
      {Variant::Null(), ""},
      {Variant::Integer(-5), "-5"},
      {Variant::Float(0.1), "0.1"},
      {Variant::Boolean(false), "False"},
      {Variant::Blob(std::string("\x00\xff", 2)), "0x00FF"},
  };
  for (const Case& c : cases) {
    t.AddRecord();
    t.SetValueAt(0, t.RecordListLength() - 1, c.value);
    EXPECT_EQ(t.FormatValue(t.Record(t.RecordListLength() - 1), 0), c.text) << c.text;
  }
  LocaleFormats comma;
  comma.decimal_separator = ',';
  SetLocaleFormats(comma);
  EXPECT_EQ(t.FormatValue(t.Record(1), 0), "$1234,50");
  SetLocaleFormats(LocaleFormats());
}

TEST(TableObjectTest, DelimitedRenderingQuotesEverythingAndDoublesQuotes) {
  TTableObject t;
  t.FieldNames = {"A", "B"};
  t.AddTextRecord({"O\"Neil", "x,y"});
  t.AddRecord();
  t.SetValueAt(1, 2, Variant::Integer(3));
  EXPECT_EQ(t.SaveToCsv(), "\"A\",\"B\"\r\n\"O\"\"Neil\",\"x,y\"\r\n\"\",\"3\"\r\n");
  EXPECT_EQ(t.SaveToTabText(), "\"A\"\t\"B\"\r\n\"O\"\"Neil\"\t\"x,y\"\r\n\"\"\t\"3\"\r\n");
}

// Each value is measured by the length given (a number by its text form), so the longest
// in bytes need not be the longest in characters.
TEST(TableObjectTest, LongestValuesCountAsTheLengthGiven) {
  TTableObject t;
  t.FieldNames = {"A", "B", "C", "D"};
  t.AddTextRecord({"abc", "Офис", "", "Офис"});
  t.AddTextRecord({"", "x", "", "abcdef"});
  t.SetValueAt(2, 2, Variant::Integer(-12345));
  const auto characters = [](std::string_view s) {
    return static_cast<size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  };
  EXPECT_EQ(t.LongestValues(Utf8Bytes), (std::vector<int>{3, 8, 6, 8}));
  EXPECT_EQ(t.LongestValues(characters), (std::vector<int>{3, 4, 6, 6}));
}

}  // namespace
}  // namespace trundle
