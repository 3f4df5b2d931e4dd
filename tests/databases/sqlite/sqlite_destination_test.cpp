// The SQLite adaptor as the destination of whole runs of the job: the database and the
// table made when missing, the values of every kind arriving, an existing table appended
// by name, refused records, a busy file and a stop.
#include <gtest/gtest.h>

#include <filesystem>

#include "databases/sqlite/trundle_sqlite.h"
#include "databases/kinds/trundle_table_file.h"
#include "engine/errors.h"
#include "sqlite_test_util.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

using testing::Exec;
using testing::Joined;
using testing::kSqliteKind;
using testing::Literals;
using testing::Rows;
using testing::RunJob;

class SqliteDestinationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
    testing::LendSqliteKind();
  }

  // A job from a CSV file written with csv into table of db.
  void CsvInto(TTrundle& job, const std::string& csv, const std::string& table) {
    WriteFile(dir / "in.csv", csv);
    job.SetSourceKind(dkCsv);
    job.Source().TableName = dir / "in.csv";
    Into(job, table);
  }

  void Into(TTrundle& job, const std::string& table) {
    job.SetDestinationKind(kSqliteKind);
    job.Destination().Database = db;
    job.Destination().TableName = table;
  }

  // "a,b\r\nr1,v\r\nr2,v\r\n..." with rows records.
  static std::string Numbered(int rows) {
    std::string csv = "a,b\r\n";
    for (int i = 1; i <= rows; ++i) csv.append("r").append(std::to_string(i)).append(",v\r\n");
    return csv;
  }

  ScratchFolder dir;
  std::string db = dir / "shop.sqlite";
};

TEST_F(SqliteDestinationTest, ACsvFileMakesTheDatabaseAndItsTable) {
  TTrundle job;
  CsvInto(job, "name,qty,note\r\n\"O'Neil, \"\"Jr\"\"\",12,\"two\r\nlines\"\r\nÖl,,x\r\nshort\r\n",
          "Stock");
  const std::vector<std::string> log = RunJob(job);
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
  const std::string all = Joined(log);
  for (const std::string& line : {db + " doesn't exist yet; it is created",
                                  std::string("Table doesn't exist"), std::string("Creating table"),
                                  std::string("Table created"), std::string("3 records moved")})
    EXPECT_NE(all.find(line + "\n"), std::string::npos) << line << "\n" << all;
  EXPECT_EQ(Rows(db, "select sql from sqlite_schema"),
            std::vector<std::string>{
                "CREATE TABLE \"Stock\" (\"NAME\" TEXT, \"QTY\" TEXT, \"NOTE\" TEXT)"});
  // The empty field is the empty text; the fields a short line lacks are NULL.
  EXPECT_EQ(
      Literals(db, "Stock"),
      (std::vector<std::string>{"text:'O''Neil, \"Jr\"' text:'12' text:'two\r\nlines'",
                                "text:'Öl' text:'' text:'x'", "text:'short' null:NULL null:NULL"}));
  EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
}

// A table copied from SQLite into a new database keeps every value as SQLite held it and
// every column's type family, NOT NULL included.
TEST_F(SqliteDestinationTest, ATableCopiedIntoANewDatabaseKeepsEveryValue) {
  const std::string from = dir / "from.db";
  Exec(from,
       "create table v(i integer not null, r real, t text, b blob, d date, dt datetime, "
       "tm time, f boolean, p decimal(10,2), m money, c varchar(5));"
       "insert into v values (9223372036854775807, 0.1, 'Straße \"Ω\" ''x''\r\nline 2', "
       "x'00ff0041', '2024-02-29', '2024-02-29 13:45:00', '07:30:15', 1, 12.25, 3, 'abc');"
       "insert into v values (-9223372036854775808, -1e308, '', x'', 'yesterday', "
       "'2024-03-01 00:00:00', 0.25, 0, 1, 2.5, NULL);"
       "insert into v values (0, NULL, NULL, NULL, NULL, NULL, NULL, 2, NULL, NULL, 'toolong');");
  TTrundle job;
  job.SetSourceKind(kSqliteKind);
  job.Source().Database = from;
  job.Source().TableName = "V";
  Into(job, "copy");
  const std::vector<std::string> log = RunJob(job);
  ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
  EXPECT_EQ(
      Rows(db, "select sql from sqlite_schema"),
      std::vector<std::string>{
          "CREATE TABLE \"copy\" (\"i\" INTEGER not null, \"r\" REAL, \"t\" TEXT, \"b\" BLOB, "
          "\"d\" DATE, \"dt\" DATETIME, \"tm\" TIME, \"f\" BOOLEAN, \"p\" DECIMAL(10,2), "
          "\"m\" CURRENCY, \"c\" TEXT)"});
  EXPECT_EQ(Literals(db, "copy"), Literals(from, "v"));
  EXPECT_EQ(Rows(db, "pragma integrity_check"), std::vector<std::string>{"ok"});
}

// Every other kind into SQLite and out again to CSV gives the CSV the kind gives directly:
// no value is changed on the way through a new SQLite table. (dbase_03.dbf names two
// fields Point_ID, and a SQLite table cannot: the second is stored as Point_ID_2.)
TEST_F(SqliteDestinationTest, EveryOtherKindArrivesValueForValue) {
  const std::string fixtures = TRUNDLE_FIXTURES;
  struct Source {
    TDataKind kind;
    std::string file, table;
    std::string renamed = "";  // the last field's name in the table, where it changed
  };
  for (const Source& s : {Source{dkAccess, fixtures + "/access/testV2000.mdb", "Table1"},
                          Source{dkAccess, fixtures + "/access/fixedNumericTestV2000.mdb", "test"},
                          Source{dkDBase, fixtures + "/dbase/dbase_83.dbf", ""},
                          Source{dkDBase, fixtures + "/dbase/dbase_03.dbf", "", "Point_ID_2"},
                          Source{dkDBase, fixtures + "/dbase/dbase_8b.dbf", ""},
                          Source{dkParadox, fixtures + "/paradox/AccessZone.db", ""}}) {
    SCOPED_TRACE(s.file);
    auto set_source = [&](TTrundle& job) {
      job.SetSourceKind(s.kind);
      TTrundleUnknown& source = job.Source();
      if (s.kind == dkAccess) {
        source.Database = s.file;
        source.TableName = s.table;
        source.DaoVersion = "dao36";
        source.Sql = "select * from [" + s.table + "]";
      } else {
        source.TableName = s.file;
        source.Sql = "select * from \"" + s.file + "\"";
      }
    };
    std::filesystem::remove(db);
    std::filesystem::remove(dir / "direct.csv");
    std::filesystem::remove(dir / "through.csv");
    TTrundle direct, into, out;
    set_source(direct);
    direct.SetDestinationKind(dkCsv);
    direct.Destination().TableName = dir / "direct.csv";
    RunJob(direct);
    ASSERT_EQ(direct.outcome(), TRunOutcome::kMoved);
    set_source(into);
    Into(into, "t");
    const std::vector<std::string> log = RunJob(into);
    ASSERT_EQ(into.outcome(), TRunOutcome::kMoved) << Joined(log);
    out.SetSourceKind(kSqliteKind);
    out.Source().Database = db;
    out.Source().TableName = "t";
    out.SetDestinationKind(dkCsv);
    out.Destination().TableName = dir / "through.csv";
    RunJob(out);
    ASSERT_EQ(out.outcome(), TRunOutcome::kMoved);
    std::string expected = ReadFile(dir / "direct.csv");
    if (!s.renamed.empty()) {
      const size_t end = expected.find("\r\n");
      const size_t start = expected.rfind(",\"", end) + 2;
      expected.replace(start, end - 1 - start, s.renamed);
    }
    EXPECT_EQ(ReadFile(dir / "through.csv"), expected);
  }
}

// A keyed table read whole gives the new table its primary key; a statement's rows give
// none, since they need not be the table's own.
TEST_F(SqliteDestinationTest, AKeyedSourceTableGivesTheNewTableItsPrimaryKey) {
  const std::string fixtures = TRUNDLE_FIXTURES;
  const std::string paradox = fixtures + "/paradox/AccessZone.db";
  const std::string access = fixtures + "/access/indexTestV2000.mdb";
  struct Case {
    TDataKind kind;
    std::string file, sql;
    std::vector<std::string> key;
  };
  for (const Case& c : {Case{dkParadox, paradox, "select * from \"" + paradox + "\"", {"id"}},
                        Case{dkAccess, access, "select * from [Table2]", {"id"}},
                        Case{dkAccess, access, "select id, data from [Table2] where id > 0", {}}}) {
    SCOPED_TRACE(c.sql);
    std::filesystem::remove(db);
    TTrundle job;
    job.SetSourceKind(c.kind);
    if (c.kind == dkAccess) {
      job.Source().Database = c.file;
      job.Source().TableName = "Table2";
      job.Source().DaoVersion = "dao36";
    } else {
      job.Source().TableName = c.file;
    }
    job.Source().Sql = c.sql;
    Into(job, "t");
    const std::vector<std::string> log = RunJob(job);
    ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
    EXPECT_EQ(Rows(db, "select lower(name) from pragma_table_info('t') where pk > 0 order by pk"),
              c.key);
    EXPECT_EQ(Rows(db, "pragma integrity_check"), std::vector<std::string>{"ok"});
  }
}

// An existing table is found in any letter case; its fields take the values of the names
// that match them in any letter case, and the others their defaults (the INTEGER PRIMARY
// KEY its next number). A name without a field is reported with the values it lost.
TEST_F(SqliteDestinationTest, AnExistingTableInAnotherLetterCaseIsAppendedByName) {
  Exec(db,
       "create table Orders(Id integer primary key, Name text not null default '', "
       "Qty integer default 1, Note text, Total as (Qty * 2));"
       "insert into Orders(Name, Qty) values ('old', 5);");
  TTrundle job;
  CsvInto(job, "qty,name,extra\r\n7,ann,e\r\n,bo,e\r\n", "ORDERS");
  const std::vector<std::string> log = RunJob(job);
  ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
  EXPECT_NE(Joined(log).find("Table Orders holds 1 records; the new ones are appended\n"),
            std::string::npos)
      << Joined(log);
  EXPECT_EQ(log.back(),
            "Field EXTRA: 2 values were not written, the destination has no field of that name");
  EXPECT_EQ(Literals(db, "Orders"),
            (std::vector<std::string>{"integer:1 text:'old' integer:5 null:NULL integer:10",
                                      "integer:2 text:'ann' integer:7 null:NULL integer:14",
                                      "integer:3 text:'bo' text:'' null:NULL integer:0"}));
}

// Names SQLite could not take for two columns, or none at all, are changed and logged.
TEST_F(SqliteDestinationTest, EmptyAndRepeatedNamesAreRenamed) {
  TTrundle job;
  CsvInto(job, "a,A,,a_2\r\n1,2,3,4\r\n", "t");
  const std::string all = Joined(RunJob(job));
  ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << all;
  EXPECT_NE(all.find("Field 2 (A) is stored as A_2: the table has a field of that name already"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("Field 3 () is stored as Field3: it had no name"), std::string::npos) << all;
  EXPECT_NE(all.find("Field 4 (A_2) is stored as A_2_2"), std::string::npos) << all;
  EXPECT_EQ(Rows(db, "select * from t"), std::vector<std::string>{"1|2|3|4"});
  EXPECT_EQ(Rows(db, "select name from pragma_table_info('t')"),
            (std::vector<std::string>{"A", "A_2", "Field3", "A_2_2"}));
}

// A record SQLite refuses ends the run naming the record, the field and its value; the
// batches committed before it stay, its own batch is undone.
TEST_F(SqliteDestinationTest, ARefusedRecordUndoesItsBatchAndNamesRecordAndField) {
  Exec(db,
       "create table t(a text unique, b text not null check (b <> 'bad'));"
       "create table k(id integer primary key, b text)");
  struct Case {
    const char* table;
    int bad_row;
    std::string bad_line;
    std::string cause;
  };
  for (const Case& c : {
           Case{"t", 1500, "r7,v", "field a (value 'r7'): UNIQUE constraint failed: t.a"},
           Case{"t", 1200, "x1200", "field b (value Null): NOT NULL constraint failed: t.b"},
           Case{"t", 1001, "x,bad", "CHECK constraint failed: b <> 'bad'"},
           Case{"k", 1999, "abc,v", "field id (value 'abc'): datatype mismatch"},
       }) {
    SCOPED_TRACE(c.cause);
    Exec(db, "delete from t; delete from k;");
    const bool keyed = c.table == std::string("k");
    std::string csv = keyed ? "id,b\r\n" : "a,b\r\n";
    for (int i = 1; i <= 2500; ++i) {
      if (i == c.bad_row)
        csv.append(c.bad_line);
      else
        csv.append(keyed ? "" : "r").append(std::to_string(i)).append(",v");
      csv.append("\r\n");
    }
    TTrundle job;
    CsvInto(job, csv, c.table);
    try {
      RunJob(job);
      ADD_FAILURE() << "the run went on";
    } catch (const TrundleError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Record ") + std::to_string(c.bad_row) +
                    " could not be written to table " + c.table + " of " + db + ": " + c.cause +
                    ". 1000 records were committed before it; the open batch (records 1001 to " +
                    std::to_string(c.bad_row) + ") was rolled back.");
    }
    EXPECT_EQ(Rows(db, std::string("select count(*), max(rowid) from ") + c.table),
              std::vector<std::string>{"1000|1000"});
    EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
  }
}

// A database another program is writing is waited for, then named; it is left as it was.
TEST_F(SqliteDestinationTest, ABusyDatabaseIsWaitedForThenNamed) {
  Exec(db, "create table t(a, b); insert into t values ('old', 1);");
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "begin immediate; insert into t values ('other', 2)", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  TTrundle job;
  CsvInto(job, Numbered(3), "t");
  static_cast<TTrundleSqlite&>(job.Destination()).BusyWaitMs = 50;
  try {
    RunJob(job);
    ADD_FAILURE() << "the run went on";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()),
              db + " is being written by another program; try again when it has finished");
  }
  sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Rows(db, "select * from t"), std::vector<std::string>{"old|1"});
  TTrundle again;
  CsvInto(again, Numbered(3), "t");
  RunJob(again);
  EXPECT_EQ(Rows(db, "select count(*) from t"), std::vector<std::string>{"4"});
}

// A stop request keeps the batches committed and undoes the open one.
TEST_F(SqliteDestinationTest, AStopKeepsTheCommittedBatches) {
  TTrundle job;
  CsvInto(job, Numbered(2500), "t");
  job.OnProgress = [&job](int32_t) {
    if (job.records_moved() == 1500) job.RequestStop();
  };
  const std::vector<std::string> log = RunJob(job);
  EXPECT_EQ(job.outcome(), TRunOutcome::kStopped);
  EXPECT_EQ(
      log.back(),
      "Stopped on request: 1000 records moved; the open batch of 500 records was rolled back");
  EXPECT_EQ(Rows(db, "select count(*), max(a) from t"), std::vector<std::string>{"1000|r999"});
}

// What cannot be opened or made is said with the file's name, and a database file made
// for a table that could not be created is removed again.
TEST_F(SqliteDestinationTest, DestinationsThatCannotBeOpenedOrMadeSayWhy) {
  WriteFile(dir / "in.csv", Numbered(2));
  struct Case {
    std::string database, table, message;
    bool thrown;
  };
  WriteFile(dir / "text.sqlite", std::string(2048, 'x'));
  Exec(dir / "view.sqlite", "create table t(a); create view v as select a from t;");
  for (const Case& c : {
           Case{dir / "text.sqlite", "t", dir / "text.sqlite" + " is not a SQLite database", true},
           Case{dir / "no/such/folder.sqlite", "t",
                "Could not create " + dir / "no/such/folder.sqlite" + ": unable to open", true},
           Case{dir / "view.sqlite", "V",
                "v of " + dir / "view.sqlite" + " is a view; records are appended to tables",
                false},
           Case{dir / "new.sqlite", "sqlite_mine",
                "Could not create table sqlite_mine in " + dir / "new.sqlite" +
                    ": object name reserved for internal use: sqlite_mine",
                false},
       }) {
    SCOPED_TRACE(c.database);
    const std::string before = ReadFile(c.database);
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.Source().TableName = dir / "in.csv";
    db = c.database;
    Into(job, c.table);
    try {
      const std::vector<std::string> log = RunJob(job);
      EXPECT_FALSE(c.thrown);
      EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
      ASSERT_GE(log.size(), 2u);
      EXPECT_EQ(log[log.size() - 2], c.message);
      EXPECT_EQ(log.back(), "Failed: nothing was moved");
    } catch (const NotOpenedError& e) {
      EXPECT_TRUE(c.thrown);
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
    EXPECT_EQ(ReadFile(c.database), before);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "new.sqlite"));
}

// A query of a database into a table of the same file: in WAL mode SQLite writes while the
// query reads; in a rollback journal mode it cannot, and the run says so at once instead
// of waiting for the file and calling itself another program.
TEST_F(SqliteDestinationTest, AQueryIntoTheSameDatabase) {
  for (const std::string mode : {"wal", "delete"}) {
    SCOPED_TRACE(mode);
    db = dir / (mode + ".sqlite");
    Exec(db, "pragma journal_mode = " + mode +
                 "; create table o(c, total);"
                 "with recursive k(n) as (select 1 union all select n + 1 from k where n < 2500) "
                 "insert into o select n % 3, n from k;");
    const std::string before = ReadFile(db);
    TTrundle job;
    job.SetSourceKind(kSqliteKind);
    job.Source().Database = db;
    job.Source().Sql = "select c, total from o order by total";
    Into(job, "copy");
    try {
      const std::vector<std::string> log = RunJob(job);
      EXPECT_EQ(mode, "wal");
      EXPECT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
      EXPECT_EQ(Rows(db, "select count(*), sum(total) from copy"),
                std::vector<std::string>{"2500|3126250"});
    } catch (const NotOpenedError& e) {
      EXPECT_EQ(mode, "delete");
      EXPECT_EQ(std::string(e.what()),
                db + " is this run's source as well: SQLite cannot write to a database while a "
                     "statement reads it, in the rollback journal mode this one has; write to "
                     "another database, or set this one to WAL (pragma journal_mode = wal)");
      EXPECT_EQ(ReadFile(db), before);
    }
  }
}

}  // namespace
}  // namespace trundle
