// Column types the fixtures lack (Single, Large Number, Binary, GUID), made by changing the
// type codes of columns of a fixture table whose stored bytes fit the new type; mdb-reader
// reads the same copies as the witness. Also the exact Decimal and GUID text forms.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_rows.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::JetDatabase;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// testV1997.mdb's Table1 (A, B text; C Byte; D Integer; E Long; F Double; G Date/Time;
// H Currency; I Boolean) has its definition on page 29; Jet 3 column blocks are 18 bytes
// (type at 0, column number at 1) after 8 bytes for each physical index.
constexpr size_t kPage = 2048, kTdef = 29;

size_t ColumnBlock(const std::string& db, int number) {
  const size_t t = kTdef * kPage;
  const uint32_t real_idx = uint8_t(db[t + 31]) | (uint8_t(db[t + 32]) << 8);
  const int cols = uint8_t(db[t + 25]);
  for (int i = 0; i < cols; ++i) {
    const size_t at = t + 43 + 8 * real_idx + 18 * size_t(i);
    if (uint8_t(db[at + 1]) == number) return at;
  }
  return 0;
}

TEST(JetTypes, RetypedColumnsReadAsMdbReaderReadsThem) {
  std::string db = Slurp(jet_test::Fixture("testV1997.mdb"));
  ASSERT_EQ(db[kTdef * kPage], 2);
  const struct {
    int column;
    uint8_t type;
  } retype[] = {{4, jet::kSingle}, {5, jet::kBigInt}, {1, jet::kBinary}};
  for (const auto& r : retype) {
    const size_t at = ColumnBlock(db, r.column);
    ASSERT_NE(at, 0u);
    db[at] = char(r.type);
  }
  ScratchFolder dir;
  const std::string path = dir / "types.mdb";
  std::ofstream(path, std::ios::binary).write(db.data(), std::streamsize(db.size()));

  auto jet = JetDatabase::Open(path);
  auto reader = jet->OpenTable("Table1");
  const TFieldDefs& f = reader->fields();
  EXPECT_EQ(f[4].DataType, ftFloat);     // Single
  EXPECT_EQ(f[5].DataType, ftLargeint);  // Large Number
  EXPECT_EQ(f[1].DataType, ftVarBytes);  // Binary
  auto ours = jet_test::OurRows(*jet, "Table1");
  auto theirs = jet_test::ReaderRows(path, "Table1", f);
  std::sort(ours.begin(), ours.end());
  std::sort(theirs.begin(), theirs.end());
  EXPECT_EQ(ours, theirs);
  std::vector<Variant> row;
  ASSERT_TRUE(reader->Next(row));
  EXPECT_EQ(row[1].type(), VarType::kBlob);
  EXPECT_EQ(row[5].type(), VarType::kInteger);
}

TEST(JetTypes, DecimalsKeepEveryDigit) {
  auto numeric = [](bool negative, std::vector<uint32_t> words, int scale) {
    uint8_t b[17] = {uint8_t(negative ? 0x80 : 0)};
    for (size_t w = 0; w < 4; ++w)
      for (int i = 0; i < 4; ++i) b[1 + 4 * w + size_t(i)] = uint8_t(words[w] >> (8 * i));
    Variant v;
    jet::DecodeNumeric(b, scale, v);
    return v;
  };
  // Whole numbers that fit arrive as integers.
  EXPECT_EQ(numeric(false, {0, 0, 0, 1234}, 0), Variant::Integer(1234));
  EXPECT_EQ(numeric(true, {0, 0, 0, 5}, 0), Variant::Integer(-5));
  // A double holding every digit: a float.
  EXPECT_EQ(numeric(false, {0, 0, 0, 12345}, 2), Variant::Float(123.45));
  EXPECT_EQ(numeric(true, {0, 0, 0, 5}, 1), Variant::Float(-0.5));
  // Too many digits for a double or an int64: the exact text.
  EXPECT_EQ(numeric(false, {0, 0, 1, 0}, 0), Variant::Integer(4294967296));
  EXPECT_EQ(numeric(false, {0x4B3B4CA8, 0x5A86C47A, 0x098A223F, 0xFFFFFFFF}, 0),
            Variant::String("99999999999999999999999999999999999999"));
  EXPECT_EQ(numeric(false, {0, 0, 0x002386F2, 0x6FC10001}, 16),
            Variant::String("1.0000000000000001"));
  EXPECT_EQ(numeric(true, {0, 0, 0, 7}, 28), Variant::String("-0.0000000000000000000000000007"));
}

// A 96-bit Decimal written into fixedNumericTestV2000.mdb's row (over col5's 4) reads as
// mdb-reader reads it, digit for digit: the mantissa's words, most significant first.
TEST(JetTypes, WideDecimalReadsAsMdbReaderReadsIt) {
  std::string db = Slurp(jet_test::Fixture("fixedNumericTestV2000.mdb"));
  const std::string four = std::string(13, '\0') + std::string("\x04\0\0\0", 4);
  const size_t at = db.rfind(four);  // the table's row; the first copy lies elsewhere
  ASSERT_NE(at, std::string::npos);
  const uint32_t words[4] = {1, 2, 3, 4};
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 4; ++i) db[at + 1 + 4 * size_t(w) + size_t(i)] = char(words[w] >> (8 * i));
  ScratchFolder dir;
  const std::string path = dir / "wide.mdb";
  std::ofstream(path, std::ios::binary).write(db.data(), std::streamsize(db.size()));
  auto jet = JetDatabase::Open(path);
  auto reader = jet->OpenTable("test");
  std::vector<Variant> row;
  ASSERT_TRUE(reader->Next(row));
  ASSERT_EQ(row[4], Variant::String("79228162551157825753847955460"));  // 2^96 + 2*2^64 + ...
  const std::string oracle = jet_test::Run(
      "node " + jet_test::Quote(std::string(TRUNDLE_SOURCE_DIR) + "/tests/oracles/mdb_table.mjs") +
      " " + jet_test::Quote(path) + " test");
  EXPECT_NE(oracle.find("\ts:79228162551157825753847955460\t"), std::string::npos) << oracle;
}

TEST(JetTypes, GuidsInBracesWithTheFirstGroupsLittleEndian) {
  const uint8_t g[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                         0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(jet::GuidText(g), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
}

}  // namespace
}  // namespace trundle
