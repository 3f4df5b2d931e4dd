// Reading the real tables in the fixtures folder, checked against what GDAL and dbfread
// read from the same files.

#include <gtest/gtest.h>

#include <fstream>

#include "databases/dbase/dbase_file.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "tests/databases/dbase/dbase_test_util.h"

namespace trundle {
namespace {

using dbase_test::Fixture;

struct FixtureCase {
  const char* file;
  const char* encoding;  // what both we and the other readers are told, where the file names none
  int64_t header_records;
  size_t live_records;
  size_t field_count;
  bool dbase4_memo;
  // A few fields: name, type, size, decimals.
  std::vector<TFieldDef> some_fields;
};

const std::vector<FixtureCase>& Cases() {
  static const std::vector<FixtureCase> cases = {
      {"dbase_03.dbf",
       "CP1252",
       14,
       14,
       31,
       false,
       {{"Point_ID", ftString, 12, 0},
        {"Date_Visit", ftDate, 0, 0},
        {"Max_PDOP", ftFloat, 5, 1},
        {"Unfilt_Pos", ftLargeint, 10, 0},
        {"GPS_Week", ftInteger, 6, 0}}},
      {"dbase_83.dbf",
       "CP1252",
       67,
       67,
       15,
       false,
       {{"ID", ftLargeint, 19, 0},
        {"DESC", ftMemo, 0, 0},
        {"PRICE", ftFloat, 13, 2},
        {"TAXABLE", ftBoolean, 0, 0}}},
      {"dbase_8b.dbf",
       "CP1252",
       10,
       10,
       6,
       true,
       {{"CHARACTER", ftString, 100, 0},
        {"FLOAT", ftFloat, 20, 18},
        {"MEMO", ftMemo, 0, 0},
        {"DATE", ftDate, 0, 0}}},
      {"dbase_30.dbf",
       "CP1252",
       34,
       34,
       145,
       false,
       {{"ACQVALUE", ftFloat, 12, 2},
        {"FLAGDATE", ftDateTime, 0, 0},
        {"WEBINCLUDE", ftBoolean, 0, 0},
        {"EXHIBITNO", ftInteger, 7, 0}}},
      {"cp1251.dbf",
       "CP1251",
       4,
       4,
       2,
       false,
       {{"RN", ftInteger, 4, 0}, {"NAME", ftString, 100, 0}}},
  };
  return cases;
}

TEST(DBaseFixtureTest, FieldsAndCounts) {
  for (const FixtureCase& c : Cases()) {
    SCOPED_TRACE(c.file);
    auto reader = OpenDBaseTable(Fixture(c.file), {});
    EXPECT_EQ(reader->record_count(), c.header_records);
    ASSERT_EQ(reader->fields().size(), c.field_count);
    for (const TFieldDef& want : c.some_fields) {
      const int i = FindFieldIndex(reader->fields(), want.Name);
      ASSERT_GE(i, 0) << want.Name;
      const TFieldDef& got = reader->fields()[static_cast<size_t>(i)];
      EXPECT_EQ(got.DataType, want.DataType) << want.Name;
      if (want.Size) {
        EXPECT_EQ(got.Size, want.Size) << want.Name;
      }
      EXPECT_EQ(got.Decimals, want.Decimals) << want.Name;
    }
    size_t live = 0;
    std::vector<Variant> row;
    while (reader->Next(row)) ++live;
    EXPECT_EQ(live, c.live_records);
    // Rewind starts again with the same records.
    reader->Rewind();
    size_t again = 0;
    while (reader->Next(row)) ++again;
    EXPECT_EQ(again, live);
  }
}

TEST(DBaseFixtureTest, Cp1251TextArrivesAsUtf8Cyrillic) {
  const dbase_test::Rows rows = dbase_test::ReadAll(Fixture("cp1251.dbf"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][1].text(), "амбулаторно-поликлиническое");
  EXPECT_EQ(rows[2][1].text(), "НИИ");
  // The user's choice beats the language driver.
  const dbase_test::Rows as_866 = dbase_test::ReadAll(Fixture("cp1251.dbf"), {"CP866"});
  EXPECT_NE(as_866[0][1].text(), rows[0][1].text());
}

// Bytes that are not text in the table's code page arrive as '?', counted once.
TEST(DBaseFixtureTest, InvalidTextIsMarkedAndCounted) {
  // Read as UTF-8, all four Cyrillic names are invalid; as CP1251, the two with 0x98.
  for (const auto& [code_page, bad] : {std::pair{"UTF-8", "4"}, std::pair{"CP1251", "2"}}) {
    SCOPED_TRACE(code_page);
    ScratchFolder dir;
    const std::string path = dbase_test::CopyFixture(dir, "cp1251.dbf");
    { std::ofstream(dir / "cp1251.cpg") << code_page; }
    std::string bytes;
    {
      std::ifstream in(path, std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    // 0x98 is the one byte CP1251 leaves undefined; alone it is no UTF-8 either.
    bytes[360 + 5] = '\x98';
    bytes[360 + 105 + 5] = '\x98';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    auto reader = OpenDBaseTable(path, {});
    std::vector<Variant> row;
    ASSERT_TRUE(reader->Next(row));
    EXPECT_EQ(row[1].text().substr(0, 1), "?");
    EXPECT_TRUE(IsValidUtf8(row[1].text()));
    while (reader->Next(row)) {
    }
    EXPECT_EQ(reader->TakeNotes(),
              std::vector<std::string>{
                  path + ": " + bad + " values held text that is not valid in code page " +
                  std::string(code_page == std::string("UTF-8") ? "UTF-8" : "CP1251") +
                  " (read with ?)"});
    EXPECT_TRUE(reader->TakeNotes().empty());
  }
}

TEST(DBaseFixtureTest, MissingMemoFileIsNamed) {
  const std::string path = Fixture("dbase_83_missing_memo.dbf");
  try {
    OpenDBaseTable(path, {});
    FAIL() << "opened a table without its memo file";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()), "Memo file " + Fixture("dbase_83_missing_memo.dbt") +
                                         " is missing for table " + path);
  }
}

TEST(DBaseFixtureTest, MemoFoundWhateverItsLetterCase) {
  ScratchFolder dir;
  const std::string table = dbase_test::CopyFixture(dir, "dbase_8b.dbf");
  std::filesystem::rename(dir / "dbase_8b.dbt", dir / "dbase_8b.DBT");
  const dbase_test::Rows rows = dbase_test::ReadAll(table);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0][5].text(), "First memo\r\n");
}

// Every value of every fixture equals what GDAL (memo fields aside: it does not read
// memo files) and dbfread read.
TEST(DBaseFixtureTest, ValuesMatchOtherReaders) {
  for (const char* other : {"gdal", "dbfread"}) {
    if (!dbase_test::HaveOtherReader(other)) {
      GTEST_SKIP() << other << " is not installed (python3-gdal, python3-dbfread)";
    }
    for (const FixtureCase& c : Cases()) {
      SCOPED_TRACE(std::string(other) + " " + c.file);
      const auto theirs = dbase_test::ReadWithOther(other, Fixture(c.file), c.encoding);
      auto reader = OpenDBaseTable(Fixture(c.file), {c.encoding});
      const TFieldDefs& fields = reader->fields();
      ASSERT_EQ(theirs.size(), c.live_records + 1);
      ASSERT_EQ(theirs[0].size(), fields.size());
      std::vector<Variant> row;
      size_t differences = 0;
      for (size_t r = 1; r < theirs.size(); ++r) {
        ASSERT_TRUE(reader->Next(row));
        ASSERT_EQ(theirs[r].size(), fields.size()) << "record " << r;
        for (size_t i = 0; i < fields.size(); ++i) {
          const bool gdal = std::string(other) == "gdal";
          const TFieldType type = fields[i].DataType;
          // GDAL reads neither memo files nor Visual FoxPro date-times.
          if (gdal && (type == ftMemo || type == ftBlob || type == ftDateTime)) continue;
          Variant mine = row[i];
          std::string their = theirs[r][i];
          if (gdal && mine.IsText()) {
            // GDAL trims leading blanks too.
            const size_t b = mine.text().find_first_not_of(' ');
            mine.SetString(b == std::string::npos ? "" : mine.text().substr(b));
          }
          if (!gdal && type == ftMemo && c.dbase4_memo && mine.IsText() &&
              their.compare(0, 2 + mine.text().size(), "s:" + mine.text()) == 0) {
            // dbfread reads 8 bytes past a dBase IV memo's stated length, up to a 0x1F;
            // the fixture holds stale text there ("Fifth memoo\n" of length 10).
            their = "s:" + mine.text();
          }
          const std::string diff = dbase_test::CompareValue(mine, their, type);
          if (!diff.empty() && ++differences < 10)
            ADD_FAILURE() << "record " << r << " field " << fields[i].Name << ": " << diff;
        }
      }
      EXPECT_EQ(differences, 0u);
      EXPECT_FALSE(reader->Next(row));
    }
  }
}

}  // namespace
}  // namespace trundle
