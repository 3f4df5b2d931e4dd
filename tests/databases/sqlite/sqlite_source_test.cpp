// The SQLite adaptor as a source: which statements it runs and which it refuses (the
// file's bytes unchanged, nothing created), the values it delivers and the fields it
// describes.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "databases/sqlite/trundle_sqlite.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "sqlite_test_util.h"

namespace trundle {
namespace {

using testing::Exec;

class SqliteSourceTest : public ::testing::Test {
 protected:
  // A source adaptor on db; messages go to log.
  std::unique_ptr<TTrundleSqlite> Source(const std::string& table, const std::string& sql = "") {
    auto source = std::make_unique<TTrundleSqlite>();
    source->Database = db;
    source->TableName = table;
    source->Sql = sql;
    source->OnMessage = [this](const std::string& m) { log.push_back(m); };
    return source;
  }

  // Every record of an open source, values only.
  static std::vector<std::vector<Variant>> ReadAll(TTrundleSqlite& source) {
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    std::vector<std::vector<Variant>> rows;
    while (source.ReadRecord(names, values)) {
      std::vector<Variant> row;
      for (size_t i = 0; !names[i].IsUnassigned(); ++i) row.push_back(values[i]);
      rows.push_back(row);
    }
    return rows;
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchFolder dir;
  std::string db = dir / "shop.sqlite";
  std::vector<std::string> log;
};

// Statements that would write, make files or change settings are refused before they
// run, each with its reason, and the database stays byte for byte as it was.
TEST_F(SqliteSourceTest, StatementsThatChangeAnythingAreRefusedAndTheFileStaysAsItWas) {
  Exec(db,
       "create table orders(id integer primary key, name text); insert into orders values "
       "(1, 'a'), (2, 'b'); pragma user_version = 7;");
  const std::string before = ReadFile(db);
  const std::vector<std::string> files = Listing();
  const std::string read_only = "; a source is only read";
  struct Case {
    std::string sql;
    std::string message;
  };
  for (const Case& c : {
           Case{"insert into orders values (3, 'c')", "would change " + db + read_only},
           Case{"update orders set name = 'x'", "would change " + db + read_only},
           Case{"delete from orders", "would change " + db + read_only},
           Case{"create table more(a)", "would change " + db + read_only},
           Case{"drop table orders", "would change " + db + read_only},
           Case{"vacuum", "VACUUM writes a database file" + read_only},
           Case{"/* copy */ VACUUM INTO '" + dir / "copy.db" + "'",
                "VACUUM writes a database file"},
           Case{"attach '" + dir / "other.db" + "' as other", "attaches or detaches a database"},
           Case{"pragma user_version = 8", "PRAGMA user_version would change " + db},
           Case{"pragma journal_mode = wal", "PRAGMA journal_mode would change"},
           Case{"pragma main.synchronous = off", "PRAGMA synchronous would change"},
           Case{"pragma optimize", "PRAGMA optimize would change"},
           Case{"pragma wal_checkpoint(truncate)", "PRAGMA wal_checkpoint would change"},
           Case{"select 1; delete from orders", "holds more than one statement"},
           Case{"begin", "returns no records"},
           Case{"  -- nothing\n", "is empty"},
           Case{"select * from nowhere", "could not be run on " + db + ": no such table: nowhere"},
       }) {
    SCOPED_TRACE(c.sql);
    log.clear();
    auto source = Source("", c.sql);
    EXPECT_FALSE(source->OpenTable());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_NE(log[1].find(c.message), std::string::npos) << log[1];
    TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
    EXPECT_FALSE(source->ReadRecord(names, values));
  }
  EXPECT_EQ(ReadFile(db), before);
  EXPECT_EQ(Listing(), files);
}

// What SQLite runs and only reads is a source: joins, grouping, window functions, views,
// pragmas that describe; the log says how many records it gives.
TEST_F(SqliteSourceTest, AnyStatementThatOnlyReadsIsASource) {
  Exec(db,
       "create table c(id integer primary key, name text);"
       "create table o(c integer, total real);"
       "insert into c values (1, 'Ann'), (2, 'Bo');"
       "insert into o values (1, 2.5), (1, 4), (2, 1);"
       "create view big as select * from o where total > 1.5;");
  const std::string before = ReadFile(db);
  struct Case {
    std::string table, sql;
    std::vector<std::vector<Variant>> rows;
  };
  const Variant ann = Variant::String("Ann"), bo = Variant::String("Bo");
  for (const Case& c : {
           Case{"",
                "select name, sum(total) from c join o on o.c = c.id group by name order by name",
                {{ann, Variant::Float(6.5)}, {bo, Variant::Float(1)}}},
           Case{"",
                "select name, row_number() over (order by name desc) from c",
                {{bo, Variant::Integer(1)}, {ann, Variant::Integer(2)}}},
           Case{"BIG",
                "",
                {{Variant::Integer(1), Variant::Float(2.5)},
                 {Variant::Integer(1), Variant::Float(4)}}},
           Case{"",
                "pragma table_info(c)",
                {{Variant::Integer(0), Variant::String("id"), Variant::String("INTEGER"),
                  Variant::Integer(0), Variant::Null(), Variant::Integer(1)},
                 {Variant::Integer(1), Variant::String("name"), Variant::String("TEXT"),
                  Variant::Integer(0), Variant::Null(), Variant::Integer(0)}}},
       }) {
    SCOPED_TRACE(c.table + c.sql);
    log.clear();
    auto source = Source(c.table, c.sql);
    ASSERT_TRUE(source->OpenTable()) << testing::Joined(log);
    EXPECT_EQ(log, (std::vector<std::string>{"Reading from table",
                                             std::to_string(c.rows.size()) + " records read"}));
    EXPECT_EQ(source->RecordCount, static_cast<int32_t>(c.rows.size()));
    EXPECT_EQ(ReadAll(*source), c.rows);
  }
  EXPECT_EQ(ReadFile(db), before);
}

// Without a table or a statement, a database of one table reads it; of several it names
// them; a table is found in any letter case, or said to be missing.
TEST_F(SqliteSourceTest, TheTableIsNamedOrTheOnlyOne) {
  Exec(db, "create table Only(a); insert into Only values (1);");
  auto only = Source("");
  EXPECT_TRUE(only->OpenTable());
  EXPECT_EQ(ReadAll(*only), (std::vector<std::vector<Variant>>{{Variant::Integer(1)}}));
  Exec(db, "create table second(b); create view third as select 1;");
  struct Case {
    std::string table, message;
  };
  for (const Case& c :
       {Case{"", db + " holds 3 tables (Only, second, third); name the one to read"},
        Case{"nothing", "Table nothing doesn't exist in " + db}}) {
    log.clear();
    EXPECT_FALSE(Source(c.table)->OpenTable());
    EXPECT_EQ(log.back(), c.message);
  }
  auto named = Source("SECOND");
  EXPECT_TRUE(named->OpenTable());
  EXPECT_EQ(named->RecordCount, 0);
  db = dir / "missing.sqlite";
  log.clear();
  EXPECT_FALSE(Source("t")->OpenTable());
  EXPECT_EQ(log.back(), "Database " + db + " doesn't exist");
  EXPECT_FALSE(std::filesystem::exists(db));
  db = dir / "text.db";
  WriteFile(db, "id,name\r\n1,a\r\n");
  EXPECT_FALSE(Source("t")->OpenTable());
  EXPECT_EQ(log.back().rfind(db + " is not a SQLite database", 0), 0u) << log.back();
}

// Each storage class arrives whole: 64-bit integers exact, UTF-8 text with quotes and line
// breaks, blobs with zero bytes, NULL apart from the empty text; declared date and
// Boolean columns give date-times and Booleans where their values are ISO 8601 text or
// 0 and 1, and anything else as stored.
TEST_F(SqliteSourceTest, ValuesArriveAsStoredOrAsTheirDeclaredTypeAsks) {
  Exec(db,
       "create table v(i integer, r real, t text, b blob, d date, dt datetime, ts timestamp, "
       "tm time, f boolean, n);"
       "insert into v values (9223372036854775807, 0.1, 'Straße \"Ω\" ''x''\r\nline 2', "
       "x'00ff0041', '2024-02-29', '2024-02-29 13:45:00', '2024-02-29T13:45', '07:30:15', 1, NULL);"
       "insert into v values (-9223372036854775808, -1e308, '', x'', 'yesterday', "
       "2460000.5, '2024-02-29 13:45:00.123456', '25:00:00', 0, '');"
       "insert into v values (NULL, NULL, NULL, NULL, NULL, NULL, '2024-02-30', NULL, 2, 5);");
  auto source = Source("v");
  ASSERT_TRUE(source->OpenTable());
  DateParts day{2024, 2, 29}, moment{2024, 2, 29, 13, 45}, morning;
  morning.hour = 7, morning.minute = 30, morning.second = 15;
  const std::vector<std::vector<Variant>> expected = {
      {Variant::Integer(std::numeric_limits<int64_t>::max()), Variant::Float(0.1),
       Variant::String("Straße \"Ω\" 'x'\r\nline 2"), Variant::Blob(std::string("\0\xff\0A", 4)),
       Variant::DateTime(EncodeDateTime(day)), Variant::DateTime(EncodeDateTime(moment)),
       Variant::DateTime(EncodeDateTime(moment)), Variant::DateTime(EncodeDateTime(morning)),
       Variant::Boolean(true), Variant::Null()},
      {Variant::Integer(std::numeric_limits<int64_t>::min()), Variant::Float(-1e308),
       Variant::String(""), Variant::Blob(""), Variant::String("yesterday"),
       Variant::Float(2460000.5), Variant::String("2024-02-29 13:45:00.123456"),
       Variant::String("25:00:00"), Variant::Boolean(false), Variant::String("")},
      {Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
       Variant::Null(), Variant::String("2024-02-30"), Variant::Null(), Variant::Integer(2),
       Variant::Integer(5)},
  };
  EXPECT_EQ(ReadAll(*source), expected);
  // Read to its end, a source stays there.
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  EXPECT_FALSE(source->ReadRecord(names, values));
  EXPECT_TRUE(source->ReadError().empty());
}

// The fields a destination creates from: declared types read by SQLite's affinity rules,
// a column without one typed by its first value, NOT NULL as required; with a measure,
// text fields as wide as their longest value.
TEST_F(SqliteSourceTest, FieldsComeFromDeclaredTypesOrFirstValues) {
  Exec(db,
       "create table f(id integer primary key, code varchar(8) not null, note text, "
       "price decimal(10,2), amount money, qty numeric(6), ratio double precision, "
       "made date, at timestamp, ok bool, pic blob, anything, blank);"
       "insert into f values (1, 'ab', 'Ωmega', 1.5, 2, 3, 0.5, '2024-01-01', NULL, 1, x'00', "
       "NULL, NULL);"
       "insert into f values (2, 'abcdefghijk', 'x', 1, 2, 3, 4, NULL, NULL, 0, NULL, 2.5, NULL);");
  auto source = Source("f");
  ASSERT_TRUE(source->OpenTable());
  auto summary = [](const TFieldDefs& defs) {
    std::vector<std::string> out;
    for (const TFieldDef& d : defs)
      out.push_back(d.Name + ":" + FieldTypeName(d.DataType) + "(" + std::to_string(d.Size) + "," +
                    std::to_string(d.Decimals) + ")" + (d.Required ? "!" : ""));
    return out;
  };
  EXPECT_EQ(summary(source->SourceFieldDefs(nullptr)),
            (std::vector<std::string>{
                "id:" + std::string(FieldTypeName(ftLargeint)) + "(0,0)",
                "code:" + std::string(FieldTypeName(ftString)) + "(8,0)!",
                "note:" + std::string(FieldTypeName(ftMemo)) + "(0,0)",
                "price:" + std::string(FieldTypeName(ftBCD)) + "(10,2)",
                "amount:" + std::string(FieldTypeName(ftCurrency)) + "(0,0)",
                "qty:" + std::string(FieldTypeName(ftLargeint)) + "(0,0)",
                "ratio:" + std::string(FieldTypeName(ftFloat)) + "(0,0)",
                "made:" + std::string(FieldTypeName(ftDate)) + "(0,0)",
                "at:" + std::string(FieldTypeName(ftDateTime)) + "(0,0)",
                "ok:" + std::string(FieldTypeName(ftBoolean)) + "(0,0)",
                "pic:" + std::string(FieldTypeName(ftBlob)) + "(0,0)",
                "anything:" + std::string(FieldTypeName(ftFloat)) + "(0,0)",
                "blank:" + std::string(FieldTypeName(ftMemo)) + "(0,0)",
            }));
  const TFieldDefs measured = source->SourceFieldDefs(Utf8Bytes);
  EXPECT_EQ(measured[1].DataType, ftString);
  EXPECT_EQ(measured[1].Size, 11);  // wider than declared: SQLite does not hold to widths
  EXPECT_EQ(measured[2].DataType, ftString);
  EXPECT_EQ(measured[2].Size, 6);  // "Ωmega" in UTF-8 bytes
  EXPECT_EQ(measured[12].Size, 1);
  // Describing the fields did not move the reading on.
  EXPECT_EQ(ReadAll(*source).size(), 2u);
}

// A result wider than the job's record is refused when it opens, before a destination is
// touched, with a range check error that says where and by how much; an empty one has
// nothing to cut and opens.
TEST_F(SqliteSourceTest, AResultWiderThanARecordIsRefusedWhenItOpens) {
  Exec(db, "create table t(a); insert into t values (1); create table e(a);");
  std::string columns = "a";
  for (int i = 1; i < kRecordBufferSize + 4; ++i) columns += ", a";
  auto source = Source("", "select " + columns + " from t");
  EXPECT_FALSE(source->OpenTable());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], std::string(kRangeCheckError) + "\r\nThe statement select " + columns +
                        " from t of " + db + " gives 260 fields, and a record holds at most 256");
  log.clear();
  auto empty = Source("", "select " + columns + " from e");
  EXPECT_TRUE(empty->OpenTable());
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  EXPECT_FALSE(empty->ReadRecord(names, values));
}

// A stop asked for while a long statement runs ends it at once: OpenTable says nothing of
// its own, as the job reports the stop.
TEST_F(SqliteSourceTest, AStopEndsALongStatement) {
  Exec(db, "create table t(a)");
  auto source = Source("",
                       "with recursive n(i) as (select 1 union all select i + 1 from n) "
                       "select i from n");
  int ticks = 0;
  source->OnTick = [&ticks] { return ++ticks == 3; };
  EXPECT_FALSE(source->OpenTable());
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(log, std::vector<std::string>{"Reading from table"});
}

}  // namespace
}  // namespace trundle
