#include "databases/sql/dataset.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "databases/sql/lookup_index.h"
#include "databases/sql/sql_query.h"
#include "databases/core/table_engine.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "fake_engine.h"

namespace trundle {
namespace {

namespace fs = std::filesystem;
using testing::FakeTable;

double Day(const std::string& text) {
  double value = 0;
  EXPECT_TRUE(ParseIsoText(text, value)) << text;
  return value;
}

// Every kind of value that must survive a trip through SQLite: a date before 1900, a
// currency with four decimals, blobs with zero bytes and of no bytes, Null beside empty
// text, a time of day on the first day of the epoch, milliseconds.
FakeTable Customers() {
  FakeTable t;
  t.fields = {{"ID", ftInteger},       {"NAME", ftString, 20}, {"BORN", ftDate},
              {"BALANCE", ftCurrency}, {"ACTIVE", ftBoolean},  {"PHOTO", ftBlob},
              {"NOTES", ftMemo},       {"SEEN", ftDateTime},   {"RATE", ftBCD, 10, 2},
              {"OPENS", ftTime}};
  const Variant null = Variant::Null();
  t.records = {
      {Variant::Integer(1), Variant::String("Ada"), Variant::DateTime(Day("1815-12-10")),
       Variant::Currency(12345678), Variant::Boolean(true), Variant::Blob(std::string("\0\1\0", 3)),
       Variant::String("5"), Variant::DateTime(Day("2024-03-01 10:15:30.250")),
       Variant::Float(12.34), Variant::DateTime(Day("08:30:00"))},
      {Variant::Integer(2), Variant::String("Bob"), Variant::DateTime(Day("1990-06-01")),
       Variant::Currency(-1), Variant::Boolean(false), Variant::Blob(""), Variant::String(""), null,
       Variant::Float(-0.5), null},
      {Variant::Integer(3), null, null, null, null, null, null,
       Variant::DateTime(Day("1899-12-30 06:00:00")), null, null},
      {Variant::Integer(4), Variant::String("Cyd"), Variant::DateTime(Day("1949-12-31")),
       Variant::Currency(100000), Variant::Boolean(true), null, Variant::String("05"), null,
       Variant::Float(0), null},
  };
  t.header_count = 6;  // as a dBase header counts two deleted records
  return t;
}

FakeTable Orders() {
  FakeTable t;
  t.fields = {{"CUST_ID", ftInteger}, {"AMOUNT", ftFloat}, {"DAY", ftDate}};
  auto order = [](int cust, double amount, const char* day) {
    return std::vector<Variant>{Variant::Integer(cust), Variant::Float(amount),
                                Variant::DateTime(Day(day))};
  };
  t.records = {order(1, 10.5, "2024-01-05"), order(1, 4.5, "2024-02-01"), order(2, 7, "2024-01-20"),
               order(4, 1.25, "2024-03-03")};
  return t;
}

// A generated table: ID counts from 0; PAD is 100 bytes, so keeping its rows would show.
FakeTable Numbers(int64_t rows) {
  FakeTable t;
  t.fields = {{"ID", ftLargeint}, {"PAD", ftString, 100}};
  t.generated_rows = rows;
  t.generate = [](int64_t row, std::vector<Variant>& values) {
    values[0].SetInteger(row);
    values[1].SetString(std::string(100, static_cast<char>('a' + row % 26)));
  };
  return t;
}

class DatasetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RegisterFakeEngine();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::path(::testing::TempDir()) /
              ("dataset_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    folder_ = folder_.lexically_normal();
    testing::PutFakeTable(Path("cust.fake"), Customers());
    testing::PutFakeTable(Path("orders.fake"), Orders());
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  std::unique_ptr<TQuery> Open(const std::string& sql, bool live = true) {
    auto query = std::make_unique<TQuery>();
    query->SQL = sql;
    query->BaseFolder = folder_.string();
    query->RequestLive = live;
    query->Open();
    return query;
  }

  // The message Open() throws, or "" when it does not.
  std::string OpenError(const std::string& sql) {
    try {
      Open(sql);
    } catch (const TrundleError& e) {
      return e.what();
    }
    return "";
  }

  // The rest of the result, a row per line, values as text joined by '|'.
  static std::vector<std::string> Rows(TQuery& query) {
    std::vector<std::string> rows;
    for (; !query.Eof(); query.Next()) {
      std::string row;
      for (int i = 0; i < query.FieldCount(); ++i) {
        if (i) row += '|';
        row += query.Value(i).ToText();
      }
      rows.push_back(row);
    }
    return rows;
  }

  static void ExpectRecords(TQuery& query, const FakeTable& table) {
    ASSERT_EQ(query.FieldCount(), static_cast<int>(table.fields.size()));
    for (size_t i = 0; i < table.fields.size(); ++i) {
      const TFieldDef& got = query.FieldDefs()[i];
      EXPECT_EQ(got.Name, table.fields[i].Name);
      EXPECT_EQ(got.DataType, table.fields[i].DataType) << got.Name;
      EXPECT_EQ(got.Size, table.fields[i].Size) << got.Name;
      EXPECT_EQ(got.Decimals, table.fields[i].Decimals) << got.Name;
    }
    for (size_t r = 0; r < table.records.size(); ++r, query.Next()) {
      ASSERT_FALSE(query.Eof()) << "record " << r;
      for (size_t i = 0; i < table.fields.size(); ++i)
        EXPECT_TRUE(query.Value(static_cast<int>(i)) == table.records[r][i])
            << "record " << r << " " << table.fields[i].Name << ": got "
            << VarTypeName(query.Value(static_cast<int>(i)).type()) << " '"
            << query.Value(static_cast<int>(i)).ToText() << "', want "
            << VarTypeName(table.records[r][i].type()) << " '" << table.records[r][i].ToText()
            << "'";
    }
    EXPECT_TRUE(query.Eof());
  }

  fs::path folder_;
};

// The header's count (6, two records deleted) shows that the file was read directly.
TEST_F(DatasetTest, WholeTableSelectReadsTheFileDirectlyHoweverNamed) {
  testing::PutFakeTable(Path("Mixed.FAKE"), Customers());
  for (const std::string& sql :
       {std::string("select * from cust.fake"), std::string("SELECT * FROM \"cust.fake\";"),
        std::string("  select*from [cust.fake]  ;  \n"), std::string("Select * From cust"),
        std::string("select * from `CUST`"), std::string("select * from mixed"),
        "select * from \"" + Path("cust.fake") + "\"",
        std::string("select * from \"sub/../cust\"")}) {
    SCOPED_TRACE(sql);
    auto query = Open(sql);
    EXPECT_EQ(query->RecordCount(), 6);
    ExpectRecords(*query, Customers());
  }
}

// The same values through SQLite: only 4 live records, every type and value intact.
TEST_F(DatasetTest, ValuesAndTypesSurviveSqlite) {
  auto query = Open("select * from cust where 1");
  EXPECT_EQ(query->RecordCount(), 4);
  ExpectRecords(*query, Customers());
}

TEST_F(DatasetTest, ExpressionColumnsAreTypedByTheirFirstValue) {
  auto query = Open("select count(*), sum(balance), 'x', x'0001', null, max(born) from cust");
  const TFieldType want[] = {ftLargeint, ftFloat, ftString, ftBlob, ftString, ftString};
  ASSERT_EQ(query->FieldCount(), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(query->FieldDefs()[i].DataType, want[i]) << i;
  EXPECT_TRUE(query->Value(0) == Variant::Integer(4));
  EXPECT_NEAR(query->Value(1).real(), 1234.5678 - 0.0001 + 10, 1e-9);
  EXPECT_TRUE(query->Value(3) == Variant::Blob(std::string("\0\1", 2)));
  EXPECT_TRUE(query->Value(4).IsNull());
  EXPECT_TRUE(query->Value(5) == Variant::String("1990-06-01"));
}

TEST_F(DatasetTest, SqlQueriesGiveTheirRows) {
  testing::PutFakeTable(Path("sub/items.fake"), Orders());
  testing::PutFakeTable(Path("Mixed.FAKE"), Orders());
  struct Case {
    const char* sql;
    std::vector<std::string> rows;
  } cases[] = {
      {"select name, id from cust where id <= 2", {"Ada|1", "Bob|2"}},
      {"select id from cust where born < '1950-01-01' order by id", {"1", "4"}},
      {"select id from cust where seen >= '2024-03-01'", {"1"}},
      {"select id from cust where opens between '08:00' and '09:00'", {"1"}},
      {"select name from cust where name is not null order by name desc", {"Cyd", "Bob", "Ada"}},
      {"select cust_id, sum(amount) from orders group by cust_id order by 1",
       {"1|15", "2|7", "4|1.25"}},
      {"select c.name, o.amount from cust c join orders o on o.cust_id = c.id "
       "where o.day >= '2024-01-20' order by o.day",
       {"Bob|7", "Ada|4.5", "Cyd|1.25"}},
      {"select a.id, b.id from cust a join cust b on b.id = a.id + 1 order by 1",
       {"1|2", "2|3", "3|4"}},
      // Memo columns have TEXT affinity: "05" is not '5', though "5" is 5.
      {"select id from cust where notes = '5' order by id", {"1"}},
      {"select id from cust where notes = 5 order by id", {"1"}},
      {"select id from cust where active order by id", {"1", "4"}},
      {"select id from cust where balance > 100", {"1"}},
      {"select strftime('%Y', born) from cust where id = 1", {"1815"}},
      {"select count(*) from \"cust.fake\"", {"4"}},
      {"select count(*) from [cust.fake]", {"4"}},
      {"select count(*) from cust.fake where id > 1", {"3"}},
      {"select count(*) from cust", {"4"}},
      {"select count(*) from CUST.FAKE", {"4"}},
      {"select count(*) from main.cust", {"4"}},
      {"select count(*) from mixed", {"4"}},
      {"select count(*) from \"sub/items\" join [sub/items.fake] using (day)", {"4"}},
      {"select count(*) from cust where id = 99", {"0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    auto query = Open(c.sql);
    EXPECT_EQ(Rows(*query), c.rows);
  }
}

// The inside of a join is looked up through an index built on its second scan; the index
// must find every record SQLite's comparison would match, whichever side is inside.
TEST_F(DatasetTest, JoinLookupsMatchAsSqliteCompares) {
  FakeTable codes;
  codes.fields = {{"CODE", ftString, 5}};
  for (const char* code : {"1", "01", " 2", "x", "4.0", "1e0"})
    codes.records.push_back({Variant::String(code)});
  codes.records.push_back({Variant::Null()});
  testing::PutFakeTable(Path("codes.fake"), codes);
  const std::vector<std::string> want = {"4.0|1.25", "01|4.5",  "1|4.5",  "1e0|4.5",
                                         " 2|7",     "01|10.5", "1|10.5", "1e0|10.5"};
  for (const char* join : {"codes c cross join orders o", "orders o cross join codes c"}) {
    auto query = Open(std::string("select c.code, o.amount from ") + join +
                      " on o.cust_id = c.code order by o.amount, c.code");
    EXPECT_EQ(Rows(*query), want) << join;
  }
  // A NOCASE comparison is left to SQLite: the index files "Ada" and "ADA" apart.
  auto nocase = Open(
      "select count(*) from cust a cross join cust b on b.name = upper(a.name) collate nocase");
  EXPECT_EQ(Rows(*nocase), std::vector<std::string>{"3"});
}

TEST_F(DatasetTest, PathsWithQuotesAndCommasAreFound) {
  const std::string path = Path("we\"ird, (dir)/a,b\"c.fake");
  testing::PutFakeTable(path, Orders());
  std::string quoted;
  for (char c : path) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  auto direct = Open("select * from \"" + quoted + "\"");
  ExpectRecords(*direct, Orders());
  auto sql = Open("select sum(amount) from \"" + quoted + "\" where cust_id = 1");
  EXPECT_EQ(Rows(*sql), std::vector<std::string>{"15"});
  auto relative = Open("select count(*) from [we\"ird, (dir)/a,b\"c]");
  EXPECT_EQ(Rows(*relative), std::vector<std::string>{"4"});
}

TEST_F(DatasetTest, BadStatementsGiveClearMessages) {
  const std::string folder = folder_.string();
  struct Case {
    std::string sql;
    std::string message;
  } cases[] = {
      {"select * from nosuch",
       "no such table: nosuch (looked for nosuch, nosuch.fake in " + folder + ")"},
      {"select id from nosuch.fake",
       "no such table: nosuch.fake (looked for nosuch.fake in " + folder + ")"},
      {"select * from main.nosuch",
       "no such table: main.nosuch (looked for nosuch, nosuch.fake in " + folder + ")"},
      {"select * from \"/no/such/dir/t.fake\"",
       "no such table: /no/such/dir/t.fake (looked for t.fake in /no/such/dir)"},
      {"select * form cust", "near \"form\": syntax error"},
      {"select nosuch from cust", "no such column: nosuch"},
      {"select 1; select 2",
       "Only one SQL statement can be run at a time, but the text goes on after the first: "
       "\"select 2\""},
      {"select 1; -- done\n;", ""},
      {"select * from \"cust", "unrecognized token: \"\"cust\""},
      {"select * from [cust", "unrecognized token: \"[cust\""},
      {std::string("select 1\0; drop table x", 24), "The SQL text holds a NUL character"},
      {"", "The SQL text holds no statement"},
      {"  /* nothing */ ", "The SQL text holds no statement"},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenError(c.sql), c.message) << c.sql;
}

// The user's SQL reads and never writes: nothing that could change data or reach a
// file runs, not even for a moment before it is refused.
TEST_F(DatasetTest, OnlyStatementsThatReadRun) {
  const std::string x = Path("x.db");
  const std::string refused = kStatementChangesData;
  const char* statements[] = {
      "attach database '{}' as x",
      "attach '{}' as x",
      "vacuum into '{}'",
      "vacuum",
      "detach database temp",
      "pragma temp_store_directory = '{}'",
      "pragma user_version = 3",
      "pragma journal_mode = wal",
      "create table t as select * from cust",
      "create temp view v as select 1",
      "insert into cust (id) values (5)",
      "delete from cust",
      "update cust set id = 1",
      "alter table cust rename to c2",
      "drop table cust",
      "with n(v) as (select 1) insert into cust (id) select v from n",
  };
  for (std::string sql : statements) {
    if (const size_t at = sql.find("{}"); at != std::string::npos) sql.replace(at, 2, x);
    EXPECT_EQ(OpenError(sql), refused) << sql;
    EXPECT_FALSE(fs::exists(x)) << sql;
  }
  EXPECT_EQ(testing::GetFakeTable(Path("cust.fake")).records.size(), 4u);

  // Reading forms of pragmas still run, and a dotted bare name still gets its schema.
  EXPECT_EQ(Rows(*Open("pragma user_version")), std::vector<std::string>{"0"});
  EXPECT_EQ(Rows(*Open("select count(*) from cust.fake join orders.fake on cust_id = id")),
            std::vector<std::string>{"4"});
  EXPECT_EQ(Rows(*Open("select p.name from pragma_table_info('cust') p "
                       "where p.cid = 1 and exists (select 1 from cust)")),
            std::vector<std::string>{"NAME"});
}

TEST_F(DatasetTest, EngineErrorsComeThroughWithTheirOwnMessage) {
  FakeTable broken = Orders();
  broken.fail_at = 2;
  testing::PutFakeTable(Path("broken.fake"), broken);
  std::ofstream(Path("ghost.fake")).close();  // a file the engine does not take
  const std::string damaged = Path("broken.fake") + ": record 3 is damaged";
  const std::string ghost = "Cannot open " + Path("ghost.fake") + ": not a fake table";
  struct Case {
    std::string sql;
    std::string message;
  } cases[] = {
      {"select * from broken", damaged},
      {"select * from broken where 1", damaged},
      {"select count(*) from broken", damaged},
      {"select cust_id, sum(amount) from broken group by 1", damaged},
      {"select * from ghost where 1", ghost},
      {"select * from ghost", ghost},
  };
  for (const Case& c : cases) {
    std::string message;
    try {
      auto query = Open(c.sql);
      while (!query->Eof()) query->Next();
    } catch (const TrundleError& e) {
      message = e.what();
    }
    EXPECT_EQ(message, c.message) << c.sql;
  }
}

TEST_F(DatasetTest, RecordCountCountsWithoutKeepingRowsOrMoving) {
  const int64_t rows = 100000;
  testing::PutFakeTable(Path("numbers.fake"), Numbers(rows));
  auto query = Open("select id, pad from numbers where id % 7 = 0");
  sqlite3_int64 before = sqlite3_memory_used();
  sqlite3_memory_highwater(1);
  EXPECT_EQ(query->RecordCount(), (rows + 6) / 7);
  // Keeping the 14,286 rows of 100 bytes would take well over a megabyte.
  EXPECT_LT(sqlite3_memory_highwater(0) - before, 1 << 20);
  EXPECT_EQ(query->Value(0).integer(), 0);
  query->Next();
  EXPECT_EQ(query->Value(0).integer(), 7);
  EXPECT_EQ(query->RecordCount(), (rows + 6) / 7);
}

// Running and counting a statement and building a join's index keep the tick coming. A
// stop ends opening and counting with StopRequestedError; rows already being delivered
// are never cut short by it (the caller stops between them).
TEST_F(DatasetTest, LongPassesTickAndAStopEndsOnlyOpeningAndCounting) {
  const int64_t rows = 50000;
  testing::PutFakeTable(Path("numbers.fake"), Numbers(rows));
  int ticks = 0;
  bool stop = false;
  auto open = [this, &ticks, &stop](const std::string& sql) {
    auto query = std::make_unique<TQuery>();
    query->SQL = sql;
    query->BaseFolder = folder_.string();
    query->OnTick = [&ticks, &stop] {
      ++ticks;
      return stop;
    };
    query->Open();
    return query;
  };
  auto query = open("select id from numbers where id % 7 = 0");
  ticks = 0;
  EXPECT_EQ(query->RecordCount(), (rows + 6) / 7);
  EXPECT_GE(ticks, 10);
  stop = true;
  EXPECT_EQ(Rows(*query).size(), static_cast<size_t>((rows + 6) / 7));

  EXPECT_THROW(open("select id from numbers order by id desc"), StopRequestedError);
  stop = false;
  auto counted = open("select id from numbers where id % 3 = 0");
  stop = true;
  EXPECT_THROW(counted->RecordCount(), StopRequestedError);

  // The index over the inside of a join: every record read ticks; a stop leaves no index.
  const TableEngine* engine = EngineByName("fake");
  ASSERT_NE(engine, nullptr);
  const std::unique_ptr<TableFileReader> reader = engine->open(Path("numbers.fake"), {});
  LookupIndex index;
  ticks = 0;
  stop = false;
  const TTrundleTickEvent tick = [&ticks, &stop] {
    ++ticks;
    return stop;
  };
  EXPECT_TRUE(index.Build(*reader, 0, reader->fields(), tick));
  EXPECT_GE(ticks, rows / kTickStride);
  stop = true;
  EXPECT_FALSE(index.Build(*reader, 0, reader->fields(), tick));
  // With the tick in place, a join still finds every match through its index.
  stop = false;
  auto join = open("select count(*) from orders o join numbers n on n.id = o.cust_id");
  EXPECT_EQ(Rows(*join), std::vector<std::string>{"4"});
}

TEST_F(DatasetTest, FirstGoesBackToTheFirstRecord) {
  for (const char* sql : {"select * from cust", "select id, name from cust order by id desc"}) {
    SCOPED_TRACE(sql);
    auto query = Open(sql);
    const std::vector<std::string> all = Rows(*query);
    ASSERT_EQ(all.size(), 4u);
    query->First();
    EXPECT_EQ(Rows(*query), all);
  }
}

TEST_F(DatasetTest, AppendGoesThroughTheEngineWriter) {
  auto query = Open("select * from cust");
  query->Append();
  query->SetValue(0, Variant::String("5"));
  query->SetValue(1, Variant::String("Eve"));
  query->SetValue(2, Variant::String("2001-02-03"));
  query->Post();
  query->Append();
  query->SetValue(0, Variant::String("abc"));
  EXPECT_THROW(
      {
        try {
          query->Post();
        } catch (const TrundleError& e) {
          EXPECT_STREQ(e.what(), "Could not convert the value 'abc' (String) to an integer");
          throw;
        }
      },
      TrundleError);
  query->SetValue(0, Variant::Integer(6));
  query->Post();
  EXPECT_EQ(query->RecordCount(), 8);
  query->First();  // the file read again, new records included
  EXPECT_EQ(Rows(*query).size(), 6u);
  query->Close();
  EXPECT_EQ(query->TakeNotes(), std::vector<std::string>{"Closed cust.fake"});

  const FakeTable& stored = testing::GetFakeTable(Path("cust.fake"));
  ASSERT_EQ(stored.records.size(), 6u);
  EXPECT_TRUE(stored.records[4][0] == Variant::Integer(5));
  EXPECT_TRUE(stored.records[4][2] == Variant::DateTime(Day("2001-02-03")));
  EXPECT_TRUE(stored.records[5][1].IsNull());
  auto reopened = Open("select id, name, born from cust where id >= 5");
  EXPECT_EQ(Rows(*reopened), (std::vector<std::string>{"5|Eve|2001-02-03", "6||"}));
}

// Reading back between appends: each First reads the file again, and the next Append
// must close that reader before the writer changes the file under it.
TEST_F(DatasetTest, AppendsAndReadsMayAlternate) {
  auto query = Open("select * from cust");
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    query->Append();
    query->SetValue(0, Variant::Integer(10 + round));
    query->Post();
    query->First();
    const std::vector<std::string> rows = Rows(*query);
    ASSERT_EQ(rows.size(), 4u + round);
    EXPECT_EQ(rows.back().substr(0, 3), std::to_string(10 + round) + "|");
  }
  query->Close();
  EXPECT_EQ(testing::GetFakeTable(Path("cust.fake")).records.size(), 7u);
}

TEST_F(DatasetTest, OnlyALiveWholeTableSelectTakesRecords) {
  const std::string read_only =
      "The query is read-only: only a whole-table select (select * from a table file) opened "
      "with RequestLive takes new records";
  struct Case {
    const char* sql;
    bool live;
  } cases[] = {{"select * from cust", false},
               {"select id from cust", true},
               {"select * from cust where 1", true}};
  for (const Case& c : cases) {
    auto query = Open(c.sql, c.live);
    try {
      query->Append();
      ADD_FAILURE() << c.sql;
    } catch (const TrundleError& e) {
      EXPECT_EQ(e.what(), read_only) << c.sql;
    }
  }
  auto query = Open("select * from cust");
  query->Append();
  EXPECT_THROW(query->SetValue(10, Variant::Integer(1)), TrundleError);
}

TEST_F(DatasetTest, NotesOfEveryReaderComeOnce) {
  FakeTable noted = Orders();
  noted.notes = {"2 values in DAY were not dates"};
  testing::PutFakeTable(Path("noted.fake"), noted);
  auto query = Open("select a.cust_id from noted a join noted b using (day)");
  EXPECT_EQ(Rows(*query).size(), 4u);
  query->Close();
  EXPECT_EQ(query->TakeNotes(), std::vector<std::string>{"2 values in DAY were not dates"});
  EXPECT_TRUE(query->TakeNotes().empty());
}

// Run by hand in a release build for the scan speed (bench, not a test):
//   dataset_tests --gtest_also_run_disabled_tests --gtest_filter='*Million*'
TEST_F(DatasetTest, DISABLED_ScansAMillionRowsOfTenColumns) {
  FakeTable wide;
  const TFieldType types[3] = {ftString, ftInteger, ftDate};
  for (int i = 0; i < 10; ++i)
    wide.fields.push_back({std::string(1, 'C').append(std::to_string(i)), types[i % 3], 20});
  wide.generated_rows = 1000000;
  std::vector<std::string> texts;
  for (int i = 0; i < 1000; ++i)
    texts.push_back(std::string("text value ").append(std::to_string(i)));
  wide.generate = [texts](int64_t row, std::vector<Variant>& values) {
    for (size_t i = 0; i < 10; ++i) {
      if (i % 3 == 0)
        values[i].SetString(texts[static_cast<size_t>(row % 1000)]);
      else if (i % 3 == 1)
        values[i].SetInteger(row * static_cast<int64_t>(i));
      else
        values[i].SetDateTime(40000.0 + static_cast<double>(row % 3000));
    }
  };
  testing::PutFakeTable(Path("wide.fake"), wide);
  auto query = Open("select * from wide where 1");
  int64_t rows = 0;
  for (; !query->Eof(); query->Next()) ++rows;
  EXPECT_EQ(rows, 1000000);
}

}  // namespace
}  // namespace trundle
