// Reading real tables and the byte encodings of the format.
#include <gtest/gtest.h>

#include "databases/paradox/paradox_file.h"
#include "databases/paradox/px_format.h"
#include "engine/errors.h"
#include "px_test_util.h"

namespace trundle {
namespace {

using pxtest::Def;
using pxtest::Moment;

const std::string kAccessZone = std::string(TRUNDLE_FIXTURES) + "/paradox/AccessZone.db";

TEST(ParadoxRead, AccessZoneByItsHeaderCodePage) {
  auto reader = OpenParadoxTable(kAccessZone, {});
  ASSERT_EQ(reader->fields().size(), 5u);
  const TFieldDefs& f = reader->fields();
  EXPECT_EQ(f[0].Name, "ID");
  EXPECT_EQ(f[0].DataType, ftAutoInc);
  EXPECT_EQ(f[1].DataType, ftInteger);
  EXPECT_EQ(f[2].Name, "Name");
  EXPECT_EQ(f[2].DataType, ftString);
  EXPECT_EQ(f[2].Size, 25);
  EXPECT_EQ(reader->record_count(), 2);
  std::vector<Variant> row;
  ASSERT_TRUE(reader->Next(row));
  // The header says 1252, so the Cyrillic bytes come out as Latin-1 letters.
  EXPECT_EQ(row[2], Variant::String("Âíåøíèé ìèð"));
  EXPECT_EQ(row[0], Variant::Integer(1));
  EXPECT_EQ(row[1], Variant::Integer(0));  // stored zero, not empty
  EXPECT_TRUE(row[3].IsNull());            // stored empty
  EXPECT_TRUE(row[4].IsNull());
  ASSERT_TRUE(reader->Next(row));
  EXPECT_FALSE(reader->Next(row));
  EXPECT_TRUE(reader->TakeNotes().empty());
}

TEST(ParadoxRead, AccessZoneWithTheEncodingItReallyHas) {
  TableReadOptions options;
  options.encoding = "CP1251";
  const auto rows = pxtest::ReadAll(kAccessZone, options);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][2], Variant::String("Внешний мир"));
  EXPECT_EQ(rows[1][2], Variant::String("Офис"));
  EXPECT_EQ(rows[1][0], Variant::Integer(2));
  EXPECT_EQ(rows[1][1], Variant::Integer(1));
}

TEST(ParadoxRead, RewindStartsAgain) {
  auto reader = OpenParadoxTable(kAccessZone, {});
  std::vector<Variant> row;
  while (reader->Next(row)) {
  }
  reader->Rewind();
  ASSERT_TRUE(reader->Next(row));
  EXPECT_EQ(row[0], Variant::Integer(1));
}

TEST(ParadoxRead, KeyedTableIsRefusedForAppend) {
  ScratchFolder dir;
  const std::string copy = dir / "AccessZone.db";
  WriteFile(copy, ReadFile(kAccessZone));
  try {
    AppendToParadoxTable(copy, {});
    FAIL() << "appending to a keyed table was allowed";
  } catch (const TrundleError& e) {
    EXPECT_EQ(
        std::string(e.what()),
        "The Paradox table " + copy + " is keyed; appending to it would break its primary index");
  }
  EXPECT_EQ(ReadFile(copy), ReadFile(kAccessZone));
}

// Values written by the writer land in the record as the published format notes say
// (big-endian, sign bit flipped; days since 1 January of year 1; negative doubles inverted).
TEST(ParadoxRead, RecordBytesFollowTheFormatNotes) {
  struct Case {
    TFieldType type;
    Variant value;
    std::string bytes;
  } cases[] = {
      {ftDate, Variant::DateTime(Moment(1996, 5, 4)), std::string("\x80\x0B\x1E\xCF", 4)},
      {ftDate, Variant::DateTime(Moment(100, 1, 1)), std::string("\x80\x00\x8D\x40", 4)},
      {ftFloat, Variant::Float(100.5), std::string("\xC0\x59\x20\x00\x00\x00\x00\x00", 8)},
      {ftFloat, Variant::Float(-100.5), std::string("\x3F\xA6\xDF\xFF\xFF\xFF\xFF\xFF", 8)},
      {ftFloat, Variant::Float(0.0), std::string("\x80\x00\x00\x00\x00\x00\x00\x00", 8)},
      {ftSmallint, Variant::Integer(-1), std::string("\x7F\xFF", 2)},
      {ftSmallint, Variant::Integer(2), std::string("\x80\x02", 2)},
      {ftInteger, Variant::Integer(0), std::string("\x80\x00\x00\x00", 4)},
      {ftBoolean, Variant::Boolean(true), std::string("\x81", 1)},
      {ftBoolean, Variant::Boolean(false), std::string("\x80", 1)},
      {ftTime, Variant::DateTime(0.5), std::string("\x82\x93\x2E\x00", 4)},
      {ftString, Variant::String("ab"), std::string("ab\0\0", 4)},
      {ftBCD, Variant::Currency(-12345),
       std::string("\x42\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                   "\xFF\xFF\xFF\xFF\xFF\xFE\xDC",
                   17)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FieldTypeName(c.type) + std::string(" ") + c.value.ToText());
    ScratchFolder dir;
    const std::string path = dir / "t.db";
    CreateParadoxTable(path, {Def("F", c.type, c.type == ftString ? 4 : 0, 2)}, {});
    auto writer = AppendToParadoxTable(path, {});
    writer->Append({c.value});
    writer->Close();
    const std::string file = ReadFile(path);
    const size_t header = paradox::GetLe16(file.data() + 2);
    ASSERT_GE(file.size(), header + paradox::kBlockHeaderSize + c.bytes.size());
    EXPECT_EQ(file.substr(header + paradox::kBlockHeaderSize, c.bytes.size()), c.bytes);
    EXPECT_EQ(pxtest::ReadAll(path).at(0).at(0).ToText(), c.type == ftBCD      ? "-1.23"
                                                          : c.type == ftString ? "ab"
                                                                               : c.value.ToText());
  }
}

}  // namespace
}  // namespace trundle
