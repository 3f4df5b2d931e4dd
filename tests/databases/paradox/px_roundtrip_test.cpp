// Tables we create and append to read back value by value, and the notes and renames the
// user sees for what could not be stored as given.
#include <gtest/gtest.h>

#include "databases/paradox/paradox_file.h"
#include "engine/errors.h"
#include "px_test_util.h"

namespace trundle {
namespace {

using pxtest::Def;
using pxtest::Moment;

TFieldDefs AllTypes() {
  return {Def("Name", ftString, 20),  Def("Qty", ftSmallint),   Def("Count", ftInteger),
          Def("Id", ftAutoInc),       Def("Ratio", ftFloat),    Def("Price", ftCurrency),
          Def("Amount", ftBCD, 0, 2), Def("Ok", ftBoolean),     Def("Day", ftDate),
          Def("At", ftTime),          Def("Stamp", ftDateTime), Def("Notes", ftMemo),
          Def("Rtf", ftFmtMemo),      Def("Data", ftBlob),      Def("Pic", ftGraphic),
          Def("Ole", ftParadoxOle),   Def("Big", ftLargeint)};
}

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

std::string LongMemo() {
  std::string text;
  while (text.size() < 100 * 1024)
    text += "Zeile äöü – строка " + std::to_string(text.size()) + "\n";
  return text;
}

struct Row {
  std::vector<Variant> in;
  std::vector<Variant> out;  // as read back
};

std::vector<Row> Rows() {
  const Variant null = Variant::Null();
  const std::string blob256 = AllBytes();
  std::string big_blob;
  for (int i = 0; i < 40; ++i) big_blob += blob256;
  const std::string memo = LongMemo();
  std::vector<Row> rows;
  rows.push_back({std::vector<Variant>(17, null), std::vector<Variant>(17, null)});
  rows.push_back(
      {{Variant::String(""), Variant::Integer(0), Variant::Integer(0), Variant::Integer(0),
        Variant::Float(0), Variant::Currency(0), Variant::Currency(0), Variant::Boolean(false),
        Variant::DateTime(0), Variant::DateTime(0), Variant::DateTime(0), Variant::String(""),
        Variant::Blob(""), Variant::Blob(""), Variant::Blob(""), Variant::Blob(""),
        Variant::Integer(0)},
       {null, Variant::Integer(0), Variant::Integer(0), Variant::Integer(0), Variant::Float(0),
        Variant::Currency(0), Variant::Currency(0), Variant::Boolean(false), Variant::DateTime(0),
        Variant::DateTime(0), Variant::DateTime(0), null, null, null, null, null,
        Variant::Float(0)}});
  rows.push_back(
      {{Variant::String("Grüße, мир"), Variant::Integer(-32768), Variant::Integer(-2147483648LL),
        Variant::Integer(2147483647), Variant::Float(-1.5e-300), Variant::Currency(-12345678),
        Variant::Currency(1234567), Variant::Boolean(true), Variant::DateTime(Moment(1812, 6, 24)),
        Variant::DateTime(Moment(1899, 12, 30, 23, 59, 59, 999)),
        Variant::DateTime(Moment(1850, 3, 1, 12, 34, 56, 789)), Variant::String(memo),
        Variant::Blob(blob256), Variant::Blob(big_blob), Variant::Blob(blob256), Variant::Blob("x"),
        Variant::Integer((1LL << 53) + 1)},
       {Variant::String("Grüße, мир"), null, null, Variant::Integer(2147483647),
        Variant::Float(-1.5e-300), Variant::Currency(-12345678), Variant::Currency(1234600),
        Variant::Boolean(true), Variant::DateTime(Moment(1812, 6, 24)),
        Variant::DateTime(Moment(1899, 12, 30, 23, 59, 59, 999)),
        Variant::DateTime(Moment(1850, 3, 1, 12, 34, 56, 789)), Variant::String(memo),
        Variant::Blob(blob256), Variant::Blob(big_blob), Variant::Blob(blob256), Variant::Blob("x"),
        Variant::Float(static_cast<double>(1LL << 53))}});
  rows.push_back(
      {{Variant::String("ё123456789012345678901"), Variant::Integer(32767), Variant::Integer(-7),
        Variant::Integer(5), Variant::Float(3.25), Variant::Currency(1), Variant::Currency(-500),
        Variant::String("false"), Variant::DateTime(Moment(2024, 2, 29)),
        Variant::DateTime(Moment(1899, 12, 30, 6, 0)),
        Variant::DateTime(Moment(2024, 2, 29, 6, 7, 8)), Variant::String("short memo"),
        Variant::String("{\\rtf1}"), Variant::Blob("tiny"), null, null, Variant::Integer(-42)},
       {Variant::String("ё123456789012345678"), Variant::Integer(32767), Variant::Integer(-7),
        Variant::Integer(5), Variant::Float(3.25), Variant::Currency(1), Variant::Currency(-500),
        Variant::Boolean(false), Variant::DateTime(Moment(2024, 2, 29)), Variant::DateTime(0.25),
        Variant::DateTime(Moment(2024, 2, 29, 6, 7, 8)), Variant::String("short memo"),
        Variant::Blob("{\\rtf1}"), Variant::Blob("tiny"), null, null, Variant::Float(-42)}});
  return rows;
}

void ExpectRowsEqual(const std::vector<std::vector<Variant>>& got, const std::vector<Row>& want,
                     const TFieldDefs& defs) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t r = 0; r < want.size(); ++r)
    for (size_t c = 0; c < want[r].out.size(); ++c) {
      const std::string shown = want[r].out[c].ToText().substr(0, 40);
      EXPECT_EQ(got[r][c], want[r].out[c]) << "row " << r << " field " << defs[c].Name << " want "
                                           << shown << " got " << got[r][c].ToText().substr(0, 40);
    }
}

TEST(ParadoxRoundTrip, EveryTypeValueByValue) {
  ScratchFolder dir;
  const std::string path = dir / "all.db";
  const CreatedTable created = CreateParadoxTable(path, AllTypes(), {});
  EXPECT_TRUE(created.renames.empty());
  const std::vector<Row> rows = Rows();
  auto writer = AppendToParadoxTable(path, {});
  for (const Row& row : rows) writer->Append(row.in);
  writer->Close();
  EXPECT_EQ(writer->TakeNotes(),
            (std::vector<std::string>{
                "Field Name: 1 value was longer than the field's 20 bytes and was cut",
                "Field Qty: 1 value -32768 cannot be stored (Paradox keeps it for an empty field) "
                "and was left empty",
                "Field Count: 1 value -2147483648 cannot be stored (Paradox keeps it for an empty "
                "field) and was left empty",
                "Field Amount: 1 value was rounded to 2 decimals",
                "Field Big: 1 value beyond 2^53 was stored as the nearest floating-point number"}));
  auto reader = OpenParadoxTable(path, {});
  EXPECT_EQ(reader->record_count(), 4);
  ASSERT_EQ(reader->fields().size(), 17u);
  const TFieldType read_types[] = {ftString,     ftSmallint, ftInteger, ftAutoInc, ftFloat,
                                   ftCurrency,   ftBCD,      ftBoolean, ftDate,    ftTime,
                                   ftDateTime,   ftMemo,     ftFmtMemo, ftBlob,    ftGraphic,
                                   ftParadoxOle, ftFloat};
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(reader->fields()[i].DataType, read_types[i]) << i;
  ExpectRowsEqual(pxtest::ReadAll(path), rows, AllTypes());
}

TEST(ParadoxRoundTrip, ReopeningAppendsAfterTheLastRecord) {
  ScratchFolder dir;
  const std::string path = dir / "grow.db";
  CreateParadoxTable(path, {Def("N", ftInteger), Def("Memo", ftMemo)}, {});
  int next = 0;
  // Several sessions, each ending inside a block or exactly at a block's end.
  for (int session_rows : {1, 2000, 1, 0, 3000}) {
    auto writer = AppendToParadoxTable(path, {});
    for (int i = 0; i < session_rows; ++i, ++next)
      writer->Append({Variant::Integer(next), Variant::String(std::string(next % 3000, 'm'))});
    writer->Close();
  }
  const auto rows = pxtest::ReadAll(path);
  ASSERT_EQ(rows.size(), static_cast<size_t>(next));
  for (int i = 0; i < next; ++i) {
    ASSERT_EQ(rows[i][0], Variant::Integer(i));
    ASSERT_EQ(rows[i][1], i % 3000 ? Variant::String(std::string(i % 3000, 'm')) : Variant::Null());
  }
}

TEST(ParadoxRoundTrip, CodePagesOfCreatedTables) {
  struct Case {
    std::string encoding;
    std::string text;
    std::string read;  // as read back with the table's own code page
    std::vector<std::string> notes;
  } cases[] = {
      {"UTF-8", "Grüße мир 中文", "Grüße мир 中文", {}},
      {"CP1251", "Внешний мир", "Внешний мир", {}},
      {"windows-1252",
       "Grüße мир",
       "Grüße ???",
       {"Field T: 1 value held characters that code page CP1252 cannot hold; they were "
        "stored as '?'"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    ScratchFolder dir;
    const std::string path = dir / "cp.db";
    TableWriteOptions options;
    options.encoding = c.encoding;
    CreateParadoxTable(path, {Def("T", ftString, 40), Def("M", ftMemo)}, options);
    auto writer = AppendToParadoxTable(path, {});
    writer->Append({Variant::String(c.text)});
    writer->Close();
    EXPECT_EQ(writer->TakeNotes(), c.notes);
    EXPECT_EQ(pxtest::ReadAll(path).at(0).at(0), Variant::String(c.read));
  }
}

TEST(ParadoxRoundTrip, TextIsCutBetweenCharacters) {
  ScratchFolder dir;
  const std::string path = dir / "cut.db";
  CreateParadoxTable(path, {Def("T", ftString, 5)}, {});
  auto writer = AppendToParadoxTable(path, {});
  writer->Append({Variant::String("abмир")});  // 2 + 6 bytes: the cut falls inside "и"
  writer->Append({Variant::String("€€")});     // 3 + 3 bytes
  writer->Close();
  const auto rows = pxtest::ReadAll(path);
  EXPECT_EQ(rows[0][0], Variant::String("abм"));
  EXPECT_EQ(rows[1][0], Variant::String("€"));
  EXPECT_EQ(writer->TakeNotes(),
            std::vector<std::string>{
                "Field T: 2 values were longer than the field's 5 bytes and were cut"});
}

TEST(ParadoxRoundTrip, NamesAreShortenedAndMadeUnique) {
  ScratchFolder dir;
  const std::string path = dir / "names.db";
  const std::string long_name = "A_very_long_field_name_that_goes_on";
  const CreatedTable created =
      CreateParadoxTable(path,
                         {Def(long_name, ftInteger), Def(long_name + "2", ftInteger),
                          Def("id", ftInteger), Def("ID", ftInteger), Def("", ftInteger)},
                         {});
  std::vector<std::string> stored;
  for (const TFieldDef& d : created.stored) stored.push_back(d.Name);
  EXPECT_EQ(stored,
            (std::vector<std::string>{"A_very_long_field_name_th", "A_very_long_field_name__2",
                                      "id", "ID_2", "Field5"}));
  EXPECT_EQ(created.renames, (std::vector<std::string>{
                                 "Field " + long_name + " stored as A_very_long_field_name_th",
                                 "Field " + long_name + "2 stored as A_very_long_field_name__2",
                                 "Field ID stored as ID_2", "Field  stored as Field5"}));
  auto reader = OpenParadoxTable(path, {});
  for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(reader->fields()[i].Name, stored[i]);
}

TEST(ParadoxRoundTrip, CreateRefusesAnExistingFileAndLeavesNothingOnFailure) {
  ScratchFolder dir;
  const std::string path = dir / "t.db";
  CreateParadoxTable(path, {Def("A", ftInteger)}, {});
  const std::string before = ReadFile(path);
  EXPECT_THROW(CreateParadoxTable(path, {Def("B", ftMemo)}, {}), TrundleError);
  EXPECT_EQ(ReadFile(path), before);

  // Beside an existing table its memo file is never touched ...
  WriteFile(dir / "t.mb", "kept");
  EXPECT_THROW(CreateParadoxTable(path, {Def("B", ftMemo)}, {}), TrundleError);
  EXPECT_EQ(ReadFile(dir / "t.mb"), "kept");
  // ... but one whose table is gone, in any letter case, is replaced.
  const std::string other = dir / "u.db";
  WriteFile(dir / "U.MB", "stale");
  CreateParadoxTable(other, {Def("B", ftMemo)}, {});
  EXPECT_FALSE(std::filesystem::exists(dir / "U.MB"));
  EXPECT_EQ(std::filesystem::file_size(dir / "u.mb"), 4096u);
  TableWriteOptions options;
  options.encoding = "NO-SUCH-CODEPAGE";
  EXPECT_THROW(CreateParadoxTable(dir / "v.db", {Def("A", ftInteger)}, options), TrundleError);
  EXPECT_FALSE(std::filesystem::exists(dir / "v.db"));
}

TEST(ParadoxRoundTrip, ImpossibleConversionNamesFieldAndValue) {
  ScratchFolder dir;
  const std::string path = dir / "t.db";
  CreateParadoxTable(path, {Def("Qty", ftSmallint)}, {});
  auto writer = AppendToParadoxTable(path, {});
  try {
    writer->Append({Variant::String("abc")});
    FAIL() << "no error";
  } catch (const TrundleError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("Field Qty"), std::string::npos) << message;
    EXPECT_NE(message.find("abc"), std::string::npos) << message;
  }
  writer->Append({Variant::Integer(7)});
  writer->Close();
  const auto rows = pxtest::ReadAll(path);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Variant::Integer(7));
}

// Asked to refuse what it would store less than whole, the writer refuses the record
// (naming the field and why) for a text too long, a number outside its field's range or
// the one it keeps for empty, a date outside the years 1 to 9999; nothing of a refused
// record stays, and the records around it are stored whole.
TEST(ParadoxRoundTrip, ValuesThatDoNotFitRefuseTheirRecordWhenAsked) {
  ScratchFolder dir;
  const std::string path = dir / "t.db";
  CreateParadoxTable(path, {Def("Name", ftString, 5), Def("Qty", ftSmallint), Def("Day", ftDate)},
                     {});
  TableWriteOptions options;
  options.refuse_lossy = true;
  auto writer = AppendToParadoxTable(path, options);
  const Variant day = Variant::DateTime(Moment(2024, 2, 29));
  struct Case {
    std::vector<Variant> record;
    std::string cause;
  };
  const Case refused[] = {
      {{Variant::String("Annabel"), Variant::Integer(1), day},
       "field Name: the value 'Annabel' takes 7 bytes, and the field holds 5"},
      {{Variant::String("Bo"), Variant::Integer(40000), day},
       "field Qty: the value 40000 is outside -32767 to 32767"},
      {{Variant::String("Cy"), Variant::Integer(-32768), day},
       "field Qty: the value -32768 is the one the field keeps for empty"},
      {{Variant::String("Di"), Variant::Integer(2), Variant::DateTime(-700000)},
       "field Day: the date"},
  };
  for (const Case& c : refused) {
    try {
      writer->Append(c.record);
      FAIL() << "stored: " << c.cause;
    } catch (const RecordRefusedError& e) {
      EXPECT_EQ(e.cause().rfind(c.cause, 0), 0u) << e.cause();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    writer->Append({Variant::String("Ok"), Variant::Integer(32767), day});
  }
  writer->Close();
  EXPECT_TRUE(writer->TakeNotes().empty());
  const auto rows = pxtest::ReadAll(path);
  ASSERT_EQ(rows.size(), 4u);
  for (const auto& row : rows)
    EXPECT_EQ(row, (std::vector<Variant>{Variant::String("Ok"), Variant::Integer(32767), day}));
}

TEST(ParadoxRoundTrip, MemoFileFoundWhateverItsLetterCase) {
  ScratchFolder dir;
  const std::string path = dir / "Mixed.db";
  CreateParadoxTable(path, {Def("M", ftMemo)}, {});
  auto writer = AppendToParadoxTable(path, {});
  writer->Append({Variant::String(std::string(5000, 'q'))});
  writer->Close();
  std::filesystem::rename(dir / "Mixed.mb", dir / "MIXED.Mb");
  EXPECT_EQ(pxtest::ReadAll(path).at(0).at(0), Variant::String(std::string(5000, 'q')));
}

}  // namespace
}  // namespace trundle
