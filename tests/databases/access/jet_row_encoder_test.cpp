// Rows packed by RowEncoder and read back by RowDecoder, in Jet 3 and Jet 4 layouts: every
// column type with its edge values, text in its stored forms, long values in and out of
// the row, and the values a column refuses.

#include "databases/access/jet/jet_row_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "databases/access/jet/jet_rows.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using namespace jet;

struct Col {
  const char* name;
  uint8_t type;
  int size = 0;  // bytes, for Text and Binary
  bool compressed = false;
  int precision = 0, scale = 0;
};

// A definition laid out as Access lays one out after a column was deleted between each
// two: column numbers and fixed offsets with gaps, one unused variable-offset entry.
TableDef MakeDef(const std::vector<Col>& cols) {
  TableDef def;
  def.name = "T";
  int number = 1, fixed = 4, var = 1;
  for (const Col& c : cols) {
    ColumnDef d;
    d.column.name = c.name;
    d.column.type = c.type;
    const int width = FixedWidth(c.type);
    d.column.fixed = width > 0 || c.type == kBoolean;
    d.column.size = width > 0 ? width : c.size;
    d.column.precision = c.precision;
    d.column.scale = c.scale;
    d.compressed = c.compressed;
    if (width > 0) {
      d.fixed_offset = fixed;
      fixed += width + 1;
    } else if (!d.column.fixed) {
      d.var_index = var++;
    }
    d.number = number;
    number += 2;
    def.columns.push_back(d);
  }
  def.max_cols = number;
  def.num_var_cols = var;
  return def;
}

// Long values on LVAL pages of a scratch file: one row a page, chained over pages when
// longer than a page holds.
class LvalFile : public LongValueStore {
 public:
  explicit LvalFile(const Format& f) : f_(f), pages_(1, std::string(size_t(f.page_size), '\0')) {}

  LongValueRef Store(const ColumnDef& column, const std::string& data) override {
    columns.push_back(column.column.name);
    ++stored;
    const size_t room = size_t(f_.page_size - f_.data_row_offsets - 2 - 4);
    const bool chained = data.size() > room + 4;
    LongValueRef ref{uint8_t(chained ? 0x00 : 0x40), uint32_t(pages_.size()) << 8};
    size_t at = 0;
    do {
      const size_t n = std::min(room, data.size() - at);
      std::string piece;
      if (chained) {
        const bool last = at + n == data.size();
        const uint32_t next = last ? 0 : uint32_t(pages_.size() + 1) << 8;
        for (int i = 0; i < 4; ++i) piece.push_back(char(next >> (8 * i)));
      }
      piece.append(data, at, n);
      at += n;
      std::string page(size_t(f_.page_size), '\0');
      page[0] = 1;
      page[1] = 1;
      page.replace(4, 4, "LVAL");
      page[size_t(f_.data_row_count)] = 1;
      const size_t begin = page.size() - piece.size();
      page[size_t(f_.data_row_offsets)] = char(begin & 0xFF);
      page[size_t(f_.data_row_offsets) + 1] = char(begin >> 8);
      page.replace(begin, piece.size(), piece);
      pages_.push_back(page);
    } while (at < data.size());
    return ref;
  }

  std::string Write(const ScratchFolder& dir) const {
    std::string all;
    for (const std::string& p : pages_) all += p;
    const std::string path = dir / "lval.mdb";
    WriteFile(path, all);
    return path;
  }

  int stored = 0;
  std::vector<std::string> columns;  // whose values were stored, in order

 private:
  const Format& f_;
  std::vector<std::string> pages_;
};

class Codec {
 public:
  explicit Codec(const char* page)
      : in_(TextCodec::FromUtf8To(page)), out_(TextCodec::ToUtf8From(page)) {}
  TextCodec* in() { return in_.get(); }
  TextCodec* out() { return out_.get(); }

 private:
  std::unique_ptr<TextCodec> in_, out_;
};

struct RoundTrip {
  explicit RoundTrip(bool jet3, TableDef table)
      : format(jet3 ? Format::Jet3() : Format::Jet4()),
        def(std::move(table)),
        lval(format),
        encoder(format, def, codec.in(), lval) {}

  // Encodes each row, then decodes every one of them.
  std::vector<std::vector<Variant>> Run(const std::vector<std::vector<Variant>>& rows) {
    std::vector<std::vector<uint8_t>> packed(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      encoder.Encode(rows[i], packed[i]);
      EXPECT_LE(packed[i].size(), size_t(format.max_row_size));
    }
    PageFile file(lval.Write(dir));
    file.SetLayout(format.page_size, 0);
    RowDecoder decoder(file, format, def, codec.out(), "test");
    std::vector<std::vector<Variant>> out(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
      decoder.Decode(packed[i].data(), int(packed[i].size()), out[i]);
    return out;
  }

  std::vector<Variant> One(const std::vector<Variant>& row) { return Run({row})[0]; }

  std::vector<uint8_t> Bytes(const std::vector<Variant>& row) {
    std::vector<uint8_t> out;
    encoder.Encode(row, out);
    return out;
  }

  std::string Refusal(const std::vector<Variant>& row) {
    std::vector<uint8_t> out;
    try {
      encoder.Encode(row, out);
    } catch (const TrundleError& e) {
      return e.what();
    }
    return "(accepted)";
  }

  Format format;
  TableDef def;
  Codec codec{"CP1252"};
  ScratchFolder dir;
  LvalFile lval;
  RowEncoder encoder;
};

std::vector<Col> EveryType() {
  return {{"Yes", kBoolean},       {"Byte", kByte},
          {"Int", kInteger},       {"Long", kLong},
          {"Money", kCurrency},    {"Single", kSingle},
          {"Double", kDouble},     {"When", kDateTime},
          {"Bin", kBinary, 20},    {"Name", kText, 100, true},
          {"Ole", kOle},           {"Notes", kMemo, 0, true},
          {"Id", kGuid},           {"Dec", kNumeric, 0, false, 18, 4},
          {"Big", kBigInt},        {"Wide", kText, 40}};
}

class EveryFormat : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Jet, EveryFormat, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Jet3" : "Jet4"; });

TEST_P(EveryFormat, EveryTypeRoundTripsWithItsEdgeValues) {
  RoundTrip t(GetParam(), MakeDef(EveryType()));
  const std::string big_blob(3000, '\x01');
  const std::vector<std::vector<Variant>> rows = {
      {Variant::Boolean(true), Variant::Integer(255), Variant::Integer(-32768),
       Variant::Integer(2147483647), Variant::Currency(-922337203685477LL),
       Variant::Float(1.5), Variant::Float(-1e300), Variant::DateTime(-1.25),
       Variant::Blob(std::string("\0\1\2\xff", 4)), Variant::String("hello"),
       Variant::Blob(std::string("\0ole\0", 5)), Variant::String("short memo"),
       Variant::String("{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}"), Variant::String("-12345.6789"),
       Variant::Integer(std::numeric_limits<int64_t>::min()), Variant::String("x")},
      {Variant::Boolean(false), Variant::Integer(0), Variant::Integer(32767),
       Variant::Integer(-2147483648LL), Variant::Currency(0), Variant::Float(-3.25e30),
       Variant::Float(5e-324), Variant::DateTime(2958465.5), Variant::Blob(""),
       Variant::String(""), Variant::Blob(big_blob), Variant::String(std::string(5000, 'm')),
       Variant::String("00000000-0000-0000-0000-000000000001"), Variant::Integer(0),
       Variant::Integer(std::numeric_limits<int64_t>::max()), Variant::String("")},
      // Every column Null: a Yes/No column reads No.
      std::vector<Variant>(16, Variant::Null()),
  };
  const auto back = t.Run(rows);
  const std::vector<Variant>& a = back[0];
  EXPECT_EQ(a[0], Variant::Boolean(true));
  EXPECT_EQ(a[1], Variant::Integer(255));
  EXPECT_EQ(a[2], Variant::Integer(-32768));
  EXPECT_EQ(a[3], Variant::Integer(2147483647));
  EXPECT_EQ(a[4], Variant::Currency(-922337203685477LL));
  EXPECT_EQ(a[5], Variant::Float(1.5));
  EXPECT_EQ(a[6], Variant::Float(-1e300));
  EXPECT_EQ(a[7], Variant::DateTime(-1.25));
  EXPECT_EQ(a[8], Variant::Blob(std::string("\0\1\2\xff", 4)));
  EXPECT_EQ(a[9], Variant::String("hello"));
  EXPECT_EQ(a[10], Variant::Blob(std::string("\0ole\0", 5)));
  EXPECT_EQ(a[11], Variant::String("short memo"));
  EXPECT_EQ(a[12], Variant::String("{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}"));
  EXPECT_EQ(a[13], Variant::Float(-12345.6789));
  EXPECT_EQ(a[14], Variant::Integer(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(a[15], Variant::String("x"));

  const std::vector<Variant>& b = back[1];
  EXPECT_EQ(b[0], Variant::Boolean(false));
  EXPECT_EQ(b[1], Variant::Integer(0));
  EXPECT_EQ(b[5], Variant::Float(double(float(-3.25e30))));
  EXPECT_EQ(b[6], Variant::Float(5e-324));
  EXPECT_EQ(b[7], Variant::DateTime(2958465.5));
  EXPECT_EQ(b[8], Variant::Blob(""));
  EXPECT_EQ(b[9], Variant::String(""));  // zero-length text stays apart from Null
  EXPECT_EQ(b[10], Variant::Blob(big_blob));
  EXPECT_EQ(b[11], Variant::String(std::string(5000, 'm')));
  EXPECT_EQ(b[12], Variant::String("{00000000-0000-0000-0000-000000000001}"));
  EXPECT_EQ(b[13], Variant::Float(0));
  EXPECT_EQ(b[14], Variant::Integer(std::numeric_limits<int64_t>::max()));

  EXPECT_EQ(back[2][0], Variant::Boolean(false));
  for (size_t i = 1; i < back[2].size(); ++i) EXPECT_TRUE(back[2][i].IsNull()) << i;
  // Only the long values too big for their row went to LVAL pages, each with its column.
  EXPECT_EQ(t.lval.columns, (std::vector<std::string>{"Ole", "Notes"}));
}

TEST_P(EveryFormat, LongValuesGoInlineSingleOrChainedAndKeepEveryByte) {
  RoundTrip t(GetParam(), MakeDef({{"A", kMemo, 0, true}, {"B", kOle}, {"C", kMemo}}));
  std::string binary;
  for (int i = 0; i < 20000; ++i) binary.push_back(char(i * 7));
  const std::vector<std::vector<Variant>> rows = {
      {Variant::String(""), Variant::Blob(""), Variant::String(std::string(64, 'a'))},
      {Variant::String(std::string(65, 'b')), Variant::Blob(std::string(1000, '\0')),
       Variant::String("c")},
      {Variant::String(std::string(1025, 'd')), Variant::Blob(binary),
       Variant::String(std::string(1024, 'e'))},
  };
  const auto back = t.Run(rows);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < 3; ++c) EXPECT_EQ(back[r][c], rows[r][c]) << r << "," << c;
}

TEST_P(EveryFormat, ManyLongValuesInOneRowMoveOutOfTheRowToFit) {
  // Each value is short enough to stay in its row, but not all of them together.
  std::vector<Col> cols;
  std::vector<std::string> names;
  for (int i = 0; i < 60; ++i) names.push_back(FieldName(i));
  for (int i = 0; i < 60; ++i) cols.push_back({names[size_t(i)].c_str(), kMemo, 0, true});
  RoundTrip t(GetParam(), MakeDef(cols));
  std::vector<Variant> row;
  for (int i = 0; i < 60; ++i) row.push_back(Variant::String(std::string(60, char('A' + i % 26))));
  const auto back = t.One(row);
  for (size_t i = 0; i < 60; ++i) EXPECT_EQ(back[i], row[i]) << i;
  EXPECT_GT(t.lval.stored, 0);
}

TEST(RowEncoderJet3, JumpTableCoversOffsetsPastEachBoundary) {
  // Text columns of 255 bytes put the offsets of later columns past 256, 512, ... bytes;
  // row sizes around the boundaries exercise the dummy last entry.
  std::vector<Col> cols;
  std::vector<std::string> names;
  for (int i = 0; i < 8; ++i) names.push_back(FieldName(i));
  for (int i = 0; i < 8; ++i) cols.push_back({names[size_t(i)].c_str(), kText, 255});
  cols.push_back({"N", kLong});
  RoundTrip t(true, MakeDef(cols));
  std::vector<std::vector<Variant>> rows;
  for (int len : {0, 1, 200, 230, 236, 237, 238, 240, 250, 255}) {
    std::vector<Variant> row;
    for (int i = 0; i < 8; ++i)
      row.push_back(i % 3 == 1 ? Variant::Null()
                               : Variant::String(std::string(size_t(len), char('a' + i))));
    row.push_back(Variant::Integer(len));
    rows.push_back(row);
  }
  // A single column whose data ends just short of and just past a boundary.
  for (int len : {200, 220, 230, 240}) {
    std::vector<Variant> row(8, Variant::Null());
    row[0] = Variant::String(std::string(size_t(len), 'z'));
    row[7] = Variant::String("end");
    row.push_back(Variant::Integer(-len));
    rows.push_back(row);
  }
  const auto back = t.Run(rows);
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c) EXPECT_EQ(back[r][c], rows[r][c]) << r << "," << c;
}

TEST(RowEncoderJet4, TextIsCompressedWhereItFitsAndUtf16Elsewhere) {
  RoundTrip t(false, MakeDef({{"C", kText, 510, true}, {"U", kText, 510, false}}));
  const std::vector<std::string> texts = {
      "plain ascii",
      "caf\xC3\xA9 \xC3\xBC",                   // Latin-1 range: one byte each
      "mixed \xD0\x9F\xD1\x80\xD0\xB8 runs",      // Cyrillic inside ASCII: switches
      "\xE4\xB8\x80 starts wide",                  // U+4E00 has a zero low byte
      "\xC4\x80",                                  // U+0100 likewise
      "emoji \xF0\x9F\x98\x80 pair",               // a surrogate pair
      "\xD0\x9F\xD1\x80\xD0\xB8",                  // all wide: never shorter compressed
  };
  std::vector<std::vector<Variant>> rows;
  for (const std::string& s : texts) rows.push_back({Variant::String(s), Variant::String(s)});
  const auto back = t.Run(rows);
  for (size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(back[r][0], rows[r][0]) << texts[r];
    EXPECT_EQ(back[r][1], rows[r][1]) << texts[r];
  }
  auto stored_compressed = [&](const std::string& s) {
    const auto row = t.Bytes({Variant::String(s), Variant::Null()});
    return row[2] == 0xFF && row[3] == 0xFE;  // no fixed columns: data starts at 2
  };
  EXPECT_TRUE(stored_compressed("plain ascii"));
  EXPECT_TRUE(stored_compressed("mixed \xD0\x9F\xD1\x80\xD0\xB8 runs"));
  EXPECT_FALSE(stored_compressed("\xE4\xB8\x80 starts wide"));
  EXPECT_FALSE(stored_compressed("\xD0\x9F\xD1\x80\xD0\xB8"));
  // The column's length counts UTF-16 units: 255 fit, 256 do not; a pair counts two.
  EXPECT_EQ(t.Refusal({Variant::String(std::string(255, 'x')), Variant::Null()}), "(accepted)");
  EXPECT_EQ(t.Refusal({Variant::String(std::string(256, 'x')), Variant::Null()}),
            "column C: text of 256 characters is longer than the column's 255");
  std::string pairs;
  for (int i = 0; i < 128; ++i) pairs += "\xF0\x9F\x98\x80";
  EXPECT_EQ(t.Refusal({Variant::String(pairs), Variant::Null()}),
            "column C: text of 256 characters is longer than the column's 255");
}

TEST(RowEncoderJet4, TextThatIsNotUtf8IsStoredWithReplacementCharactersAndNoted) {
  RoundTrip t(false, MakeDef({{"C", kText, 100, true}}));
  const auto back = t.Run({{Variant::String("a\xFF" "b")},           // not a lead byte
                           {Variant::String("\xC0\xAF" "c")},        // overlong '/'
                           {Variant::String("d\xE2\x82")},           // cut short
                           {Variant::String("\xED\xA0\x80" "e")}}); // a surrogate
  EXPECT_EQ(back[0][0], Variant::String("a\xEF\xBF\xBD" "b"));
  EXPECT_EQ(back[1][0], Variant::String("\xEF\xBF\xBD\xEF\xBF\xBD" "c"));
  EXPECT_EQ(back[2][0], Variant::String("d\xEF\xBF\xBD\xEF\xBF\xBD"));
  EXPECT_EQ(back[3][0], Variant::String("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "e"));
  const auto notes = t.encoder.TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].substr(0, 37), "table T, column C: 4 texts were not v");
}

TEST(RowEncoderJet3, TextGoesInTheCodePageAndUnheldCharactersAreNoted) {
  RoundTrip t(true, MakeDef({{"A", kText, 10}, {"M", kMemo}}));
  const auto back = t.Run({{Variant::String("\xE2\x82\xAC 5 caf\xC3\xA9"),  // € is 0x80 in 1252
                            Variant::String("\xD0\x9F memo")}});
  EXPECT_EQ(back[0][0], Variant::String("\xE2\x82\xAC 5 caf\xC3\xA9"));
  EXPECT_EQ(back[0][1], Variant::String("? memo"));
  const auto notes = t.encoder.TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            "table T, column M: 1 texts held characters that CP1252 cannot hold; they were "
            "stored as '?'");
  EXPECT_TRUE(t.encoder.TakeNotes().empty());
  EXPECT_EQ(t.Refusal({Variant::String("eleven char"), Variant::Null()}),
            "column A: text of 11 bytes in CP1252 is longer than the column's 10");
}

TEST_P(EveryFormat, ValuesOfOtherKindsAreConverted) {
  RoundTrip t(GetParam(), MakeDef({{"I", kInteger},
                                   {"L", kBigInt},
                                   {"D", kDateTime},
                                   {"N", kNumeric, 0, false, 10, 2},
                                   {"S", kText, 60},
                                   {"G", kGuid},
                                   {"Y", kBoolean},
                                   {"C", kCurrency}}));
  const auto back = t.Run({
      {Variant::Float(2.5), Variant::String(" 9007199254740993 "),
       Variant::String("2024-02-29 13:45:00"), Variant::Float(0.125),
       Variant::DateTime(45351.5), Variant::String("6ba7b810-9dad-11d1-80b4-00c04fd430c8"),
       Variant::String("T"), Variant::String("12.34")},
  });
  EXPECT_EQ(back[0][0], Variant::Integer(2));  // half to even, as Jet rounds
  EXPECT_EQ(back[0][1], Variant::Integer(9007199254740993));  // not through a double
  double when;
  ASSERT_TRUE(ParseIsoText("2024-02-29 13:45:00", when));
  EXPECT_EQ(back[0][2], Variant::DateTime(when));
  EXPECT_EQ(back[0][3], Variant::Float(0.13));  // rounded to the scale, half away from zero
  EXPECT_EQ(back[0][4], Variant::String("2024-02-29 12:00:00"));
  EXPECT_EQ(back[0][5], Variant::String("{6BA7B810-9DAD-11D1-80B4-00C04FD430C8}"));
  EXPECT_EQ(back[0][6], Variant::Boolean(true));
  EXPECT_EQ(back[0][7], Variant::Currency(123400));
}

TEST_P(EveryFormat, ValuesAColumnCannotTakeAreRefusedNamingTheColumn) {
  TableDef def = MakeDef({{"B", kByte},
                          {"I", kInteger},
                          {"L", kLong},
                          {"S", kSingle},
                          {"D", kDateTime},
                          {"N", kNumeric, 0, false, 5, 2},
                          {"G", kGuid},
                          {"T", kText, 20},
                          {"R", kLong},
                          {"A", kLong},
                          {"X", kBinary, 4},
                          {"U", 13, 8},
                          {"V", kComplex}});
  def.columns[8].column.required = true;
  def.columns[9].column.autonumber = true;
  RoundTrip t(GetParam(), def);
  auto refusal = [&](size_t column, Variant v) {
    std::vector<Variant> row(13, Variant::Null());
    row[8] = Variant::Integer(1);
    row[9] = Variant::Integer(1);
    row[column] = std::move(v);
    return t.Refusal(row);
  };
  EXPECT_EQ(refusal(0, Variant::Integer(255)), "(accepted)");
  EXPECT_EQ(refusal(0, Variant::Integer(256)),
            "column B: 256 is out of the range of a Byte column (0 to 255)");
  EXPECT_EQ(refusal(0, Variant::Integer(-1)),
            "column B: -1 is out of the range of a Byte column (0 to 255)");
  EXPECT_EQ(refusal(1, Variant::Integer(32768)),
            "column I: 32768 is out of the range of an Integer column (-32768 to 32767)");
  EXPECT_EQ(refusal(2, Variant::Float(2147483647.5)),
            "column L: 2147483647.5 is out of the range of a Long Integer column "
            "(-2147483648 to 2147483647)");
  EXPECT_EQ(refusal(2, Variant::String("99999999999999999999")),
            "column L: 99999999999999999999 is out of the range of a Long Integer column "
            "(-2147483648 to 2147483647)");
  EXPECT_EQ(refusal(2, Variant::String("abc")),
            "column L: Could not convert the value 'abc' (String) to a number");
  EXPECT_EQ(refusal(3, Variant::Float(1e39)),
            "column S: 1e+39 is out of the range of a Single column");
  EXPECT_EQ(refusal(3, Variant::Float(NAN)), "column S: nan is not a finite number");
  EXPECT_EQ(refusal(4, Variant::DateTime(-657435)),
            "column D: 0099-12-31 is outside the dates a Date/Time column holds (the years "
            "100 to 9999)");
  EXPECT_EQ(refusal(5, Variant::String("999.994")), "(accepted)");
  EXPECT_EQ(refusal(5, Variant::String("999.995")),
            "column N: 999.995 does not fit a Decimal column of precision 5 and scale 2");
  EXPECT_EQ(refusal(6, Variant::String("not a guid")), "column G: 'not a guid' is not a GUID");
  EXPECT_EQ(refusal(7, Variant::String(std::string(21, 't'))).substr(0, 20),
            "column T: text of 21");
  EXPECT_EQ(refusal(8, Variant::Null()), "column R: a value is required");
  EXPECT_EQ(refusal(9, Variant::Null()), "column A: an AutoNumber column was given no number");
  EXPECT_EQ(refusal(10, Variant::Blob("12345")), "column X: 5 bytes are more than the column's 4");
  EXPECT_EQ(refusal(10, Variant::Integer(5)),
            "column X: a value of type Integer cannot be stored as binary data");
  // Types whose layout is not known take a Null only.
  EXPECT_EQ(refusal(11, Variant::Blob("ab")), "column U: columns of type 13 cannot be written");
  EXPECT_EQ(refusal(12, Variant::Integer(7)),
            "column V: multi-valued and attachment columns cannot be written (only Null can)");
  EXPECT_EQ(t.lval.stored, 0);
}

TEST_P(EveryFormat, RowsLargerThanAPageHoldsAreRefused) {
  std::vector<Col> cols;
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back(FieldName(i));
  for (int i = 0; i < 40; ++i) cols.push_back({names[size_t(i)].c_str(), kText, 510});
  cols.push_back({"M", kMemo});
  RoundTrip t(GetParam(), MakeDef(cols));
  std::vector<Variant> row(41, Variant::String(std::string(255, 'r')));
  row[40] = Variant::String(std::string(10000, 'm'));
  const std::string why = t.Refusal(row);
  EXPECT_EQ(why.rfind("the row takes at least ", 0), 0u) << why;
  EXPECT_NE(why.find(" a row can hold"), std::string::npos) << why;
  EXPECT_EQ(t.lval.stored, 0);  // refused before its long value was stored
}

TEST_P(EveryFormat, ValuesStoredChangedAreCountedInNotes) {
  TableDef def = MakeDef({{"Y", kBoolean}, {"T", kText, 20}, {"N", kLong}, {"M", kMemo}});
  RoundTrip t(GetParam(), def);
  const auto back =
      t.Run({{Variant::Null(), Variant::String(""), Variant::String("  "), Variant::String("")},
             {Variant(), Variant::String("t"), Variant::Null(), Variant::Null()}});
  EXPECT_EQ(back[0][0], Variant::Boolean(false));
  EXPECT_EQ(back[0][1], Variant::String(""));  // zero-length text allowed: kept
  EXPECT_TRUE(back[0][2].IsNull());            // blank text in a number column is no number
  EXPECT_EQ(back[0][3], Variant::String(""));
  const auto notes = t.encoder.TakeNotes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            "table T, column Y: 1 Null values were stored as No, since a Yes/No column holds "
            "no Null");
}

// Empty text where the column allows no zero-length text is refused, as the engine
// refuses it, not stored as a Null; Null itself is taken unless the column requires a
// value.
TEST_P(EveryFormat, EmptyTextWhereZeroLengthTextIsNotAllowedIsRefused) {
  TableDef def = MakeDef({{"T", kText, 20}, {"M", kMemo}, {"Z", kText, 20}});
  for (auto& c : def.columns) c.column.allow_zero_length = false;
  def.columns[2].column.required = true;
  RoundTrip t(GetParam(), def);
  const std::string why = "empty text is not allowed (the column allows no zero-length text)";
  EXPECT_EQ(t.Refusal({Variant::String(""), Variant::Null(), Variant::String("z")}),
            "column T: " + why);
  EXPECT_EQ(t.Refusal({Variant::Null(), Variant::String(""), Variant::String("z")}),
            "column M: " + why);
  EXPECT_EQ(t.Refusal({Variant::Null(), Variant::Null(), Variant::String("")}), "column Z: " + why);
  EXPECT_EQ(t.Refusal({Variant::Null(), Variant::Null(), Variant::Null()}),
            "column Z: a value is required");
  const auto back = t.Run({{Variant::Null(), Variant::Null(), Variant::String(" ")}});
  EXPECT_TRUE(back[0][0].IsNull());
  EXPECT_EQ(back[0][2], Variant::String(" "));
  EXPECT_TRUE(t.encoder.TakeNotes().empty());
}

}  // namespace
}  // namespace trundle
