// The server adaptor inside whole runs of the job, against a real PostgreSQL server
// (started by the test command) and the SQLite ODBC driver: values arriving intact both
// ways, the batches, and what the log says when something is wrong.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <map>

#include <sqlite3.h>

#include "databases/dbase/dbase_file.h"
#include "databases/paradox/paradox_file.h"
#include "databases/server/odbc.h"
#include "databases/server/oracle_dataset.h"
#include "databases/server/oracle_session.h"
#include "databases/server/trundle_oracle.h"
#include "databases/sqlite/trundle_sqlite.h"
#include "engine/adaptor_registry.h"
#include "databases/kinds/table_list.h"
#include "databases/kinds/trundle_table_file.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/trundle.h"
#include "tests/test_files.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

struct Backend {
  const char* name;
  bool postgres;
};

// The values of the round trip, as the text tables write them. SQLite keeps numbers
// as doubles, so its exact decimal is one a double holds.
std::string RoundTripCsv(bool postgres, const std::string& long_text) {
  return std::string("ID,AMOUNT,DAY,STAMP,FLAG,NOTE,BIN\r\n") + "\"12345678901\",\"" +
         (postgres ? "12345678901234.5678" : "1234.5678") +
         "\",\"2024-02-29\",\"2024-02-29 12:34:56\",\"True\",\"Brücke 東京 Ωmega\",\"0x00FF41\"\r\n"
         "\"-9223372036854775807\",\"" +
         (postgres ? "-0.0001" : "-0.25") +
         "\",\"1850-06-15\",\"1999-12-31 23:59:59\",\"False\",\"" + long_text +
         "\",\"0x0D0A\"\r\n"
         "\"7\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n";
}

class ServerTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
    RegisterServerAdaptor();
    if (GetParam().postgres) {
      const std::string port = ReadFile(std::string(TRUNDLE_PG_STATE) + "/port");
      ASSERT_FALSE(port.empty()) << "the PostgreSQL test server is not running (the test "
                                    "command starts it with pg_server.sh)";
      port_ = port.substr(0, port.find('\n'));
      database_ =
          "Driver=" TRUNDLE_PSQL_ODBC ";Server=127.0.0.1;Port=" + port_ + ";Database=trundle";
      user_ = "trundle";
      password_ = "trundle-pw";
    } else {
      // A reader and a writer of the same SQLite file at once need its write-ahead log.
      database_ = "Driver=" TRUNDLE_SQLITE_ODBC ";JournalMode=WAL;Database=" + (dir / "server.db");
    }
    // Each test works in tables of its own name, so the shared server needs no cleaning.
    // (PostgreSQL keeps 63 characters of a name.)
    prefix_ =
        std::string("t_") +
        std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).substr(0, 24);
    for (char& c : prefix_)
      if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    session_.LogonDatabase = database_;
    session_.LogonUsername = user_;
    session_.LogonPassword = password_;
    session_.LogOn();
  }

  bool postgres() const { return GetParam().postgres; }
  std::string Table(const std::string& name) const { return prefix_ + "_" + name; }

  // Makes a table of the test's own, dropping what an earlier run may have left.
  void Create(const std::string& name, const std::string& columns) {
    Exec("drop table if exists " + name);
    Exec("create table " + name + " " + columns);
  }
  // Runs statements and commits them.
  void Exec(const std::string& sql) {
    odbc::Handle statement(SQL_HANDLE_STMT, session_.connection());
    std::string text = sql;
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                statement, sql);
    session_.Commit();
  }
  // The first column of every row of a query, as text ("NULL" for a null).
  std::vector<std::string> Column(const std::string& sql) {
    odbc::Handle statement(SQL_HANDLE_STMT, session_.connection());
    std::string text = sql;
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                statement, sql);
    std::vector<std::string> out;
    while (SQL_SUCCEEDED(SQLFetch(statement.get()))) {
      char value[256];
      SQLLEN length = 0;
      SQLGetData(statement.get(), 1, SQL_C_CHAR, value, sizeof value, &length);
      out.push_back(length == SQL_NULL_DATA ? "NULL" : value);
    }
    session_.Commit();
    return out;
  }
  void CreateRoundTripTable(const std::string& name) {
    Create(name, (postgres() ? "(id bigint, amount numeric(20,4), day date, stamp timestamp, flag "
                               "boolean, note text, bin bytea)"
                             : "(id integer, amount numeric(20,4), day date, stamp timestamp, flag "
                               "boolean, note text, bin blob)"));
  }

  void ConfigureServer(TTrundleUnknown& end, const std::string& table, const std::string& sql) {
    end.Database = database_;
    end.UserName = user_;
    end.Password = password_;
    end.TableName = table;
    end.Sql = sql;
  }
  // Moves one table; the log between the opening and the closing lines, or up to the
  // exception, whose text goes to error.
  std::vector<std::string> Move(TDataKind from, const std::string& src, TDataKind to,
                                const std::string& dst, const std::string& source_sql = "") {
    TTrundle job;
    job.SetSourceKind(from);
    job.SetDestinationKind(to);
    if (from == dkOracle)
      ConfigureServer(job.Source(), src, source_sql.empty() ? "select * from " + src : source_sql);
    else
      job.Source().TableName = dir / src;
    if (from == dkDBase || from == dkParadox)
      job.Source().Sql = "select * from \"" + (dir / src) + "\"";
    if (to == dkOracle)
      ConfigureServer(job.Destination(), dst, "");
    else
      job.Destination().TableName = dir / dst;
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    error.clear();
    try {
      job.Execute();
      log.resize(log.size() - 2);
    } catch (const std::exception& e) {
      error = e.what();
    }
    outcome = job.outcome();
    return std::vector<std::string>(log.begin() + 2, log.end());
  }

  ScratchFolder dir;
  TOracleSession session_;
  std::string database_, user_, password_, port_, prefix_;
  std::string error;
  TRunOutcome outcome = TRunOutcome::kNotRun;
};

TEST_P(ServerTest, TextIntoATableAndBackValueByValue) {
  std::string long_text;
  for (int i = 0; long_text.size() < 9000; ++i) long_text += "é" + std::to_string(i);
  const std::string csv = RoundTripCsv(postgres(), long_text);
  WriteFile(dir / "in.csv", csv);
  CreateRoundTripTable(Table("r"));
  // The process locale must not matter: psqlODBC's wide-character path fails under C.
  setlocale(LC_ALL, "C");

  EXPECT_EQ(Move(dkCsv, "in.csv", dkOracle, Table("r")),
            (std::vector<std::string>{"Reading table", "3 records read", "Reading from table",
                                      "0 records read",
                                      "The destination table exists: the records are appended to it",
                                      "Moving data", "3 records moved"}));
  ASSERT_EQ(error, "");
  EXPECT_EQ(Column("select count(*) from " + Table("r")), std::vector<std::string>{"3"});
  // Empty text in a number, date or Boolean column is no value; in a text column it is.
  EXPECT_EQ(Column("select count(*) from " + Table("r") + " where day is null and note = ''"),
            std::vector<std::string>{"1"});

  EXPECT_EQ(
      Move(dkOracle, Table("r"), dkCsv, "out.csv", "select * from " + Table("r") + " order by id"),
      (std::vector<std::string>{"Reading from table", "3 records read", "Reading table",
                                "Table doesn't exist or is empty", dir / "out.csv does not exist yet: it is created",
                                "Table created", "Moving data", "3 records moved", "Writing table",
                                "3 records written"}));
  // Sorted by id the rows come back as -9223372036854775807, 7, 12345678901.
  const std::string out = ReadFile(dir / "out.csv");
  const std::string header = csv.substr(0, csv.find("\r\n") + 2);
  std::vector<std::string> in_rows;
  for (size_t at = header.size(); at < csv.size(); at = csv.find("\r\n", at) + 2)
    in_rows.push_back(csv.substr(at, csv.find("\r\n", at) + 2 - at));
  ASSERT_EQ(in_rows.size(), 3u);
  // The names come back as the table has them.
  const std::string names = "\"id\",\"amount\",\"day\",\"stamp\",\"flag\",\"note\",\"bin\"\r\n";
  EXPECT_EQ(out, names + in_rows[1] + in_rows[2] + in_rows[0]);
}

// Rows come in blocks into buffers of a bounded width: a value longer than its buffer,
// anywhere in a block, must still arrive whole and on its own row.
TEST_P(ServerTest, LongValuesArriveWholeFromAnyRowOfABlock) {
  // A number of 70 digits is longer than any buffer a numeric without precision gets.
  Create(Table("long"),
         postgres() ? "(k integer, note text, big numeric)" : "(k integer, note text, big text)");
  std::string csv = "k,note,big\r\n";
  std::string expected = "\"k\",\"note\",\"big\"\r\n";
  for (int k = 1; k <= 1300; ++k) {
    const std::string number = std::to_string(k);
    std::string note = "n";
    note += number;
    // Longer than any bound buffer, two-byte characters across its end, in some rows of
    // every block.
    if (k % 97 == 0 || k == 1300)
      while (note.size() < 9000 + number.size()) note.append("é").append(number);
    std::string big = number;
    if (k % 101 == 0) big.insert(0, 68, '9');
    csv.append(number).append(",").append(note).append(",").append(big).append("\r\n");
    expected.append("\"").append(number).append("\",\"").append(note).append("\",\"");
    expected.append(big).append("\"\r\n");
  }
  WriteFile(dir / "in.csv", csv);
  Move(dkCsv, "in.csv", dkOracle, Table("long"));
  ASSERT_EQ(error, "");
  Move(dkOracle, Table("long"), dkCsv, "out.csv", "select * from " + Table("long") + " order by k");
  ASSERT_EQ(error, "");
  ASSERT_EQ(outcome, TRunOutcome::kMoved);
  EXPECT_TRUE(ReadFile(dir / "out.csv") == expected) << "the table read back differs";
}

// A batch of a wide table goes out in several statements (and arrays) on some servers:
// every value must still land in its own row and column, the empty ones as NULL.
TEST_P(ServerTest, EveryValueOfAWideTableLandsInItsPlace) {
  std::string columns = "(k integer";
  std::string csv = "k";
  for (int c = 1; c <= 9; ++c) {
    columns += ", c" + std::to_string(c) + (c % 2 ? " varchar(12)" : " integer");
    csv += ",c" + std::to_string(c);
  }
  Create(Table("wide"), columns + ")");
  csv += "\r\n";
  std::string expected = csv;
  for (size_t at = 0; (at = expected.find(',', at)) != std::string::npos; at += 3)
    expected.replace(at, 1, "\",\"");
  expected = "\"" + expected.substr(0, expected.size() - 2) + "\"\r\n";
  for (int k = 1; k <= 2300; ++k) {
    std::string line = std::to_string(k);
    std::string quoted = "\"" + line + "\"";
    for (int c = 1; c <= 9; ++c) {
      std::string value = (k + c) % 11 == 0 ? "" : std::to_string(k * 10 + c);
      if (c % 2 && !value.empty()) value = "v" + value;
      line += "," + value;
      quoted += ",\"" + value + "\"";
    }
    csv += line + "\r\n";
    expected += quoted + "\r\n";
  }
  WriteFile(dir / "in.csv", csv);
  Move(dkCsv, "in.csv", dkOracle, Table("wide"));
  ASSERT_EQ(error, "");
  EXPECT_EQ(Column("select count(*) from " + Table("wide") + " where c2 is null"),
            std::vector<std::string>{"209"});
  Move(dkOracle, Table("wide"), dkCsv, "out.csv", "select * from " + Table("wide") + " order by k");
  ASSERT_EQ(error, "");
  EXPECT_TRUE(ReadFile(dir / "out.csv") == expected) << "the table read back differs";
}

// A statement of more columns than a record carries is refused when it opens.
TEST_P(ServerTest, AStatementWiderThanARecordIsRefused) {
  std::string sql = "select 0 as c0";
  for (int c = 1; c < 300; ++c) sql += ", " + std::to_string(c) + " as c" + std::to_string(c);
  const std::vector<std::string> log = Move(dkOracle, "", dkCsv, "out.csv", sql);
  ASSERT_EQ(error, "");
  EXPECT_EQ(outcome, TRunOutcome::kNotOpened);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2].rfind("Range check error\r\nThe statement select 0 as c0, ", 0), 0u)
      << log[log.size() - 2];
  EXPECT_TRUE(log[log.size() - 2].ends_with(" gives 300 fields, and a record holds at most 256"))
      << log[log.size() - 2];
  EXPECT_FALSE(std::filesystem::exists(dir / "out.csv"));
}

TEST_P(ServerTest, NullStaysApartFromEmptyText) {
  Create(Table("src"), "(k integer, note varchar(20))");
  Exec("insert into " + Table("src") + " values (1, NULL)");
  Exec("insert into " + Table("src") + " values (2, '')");
  Create(Table("dst"), "(K integer, NOTE varchar(20))");
  TTrundleOracle source;
  ConfigureServer(source, "", "select * from " + Table("src") + " order by k");
  ASSERT_TRUE(source.OpenTable());
  TRecordBuffer names(kRecordBufferSize), values(kRecordBufferSize);
  ASSERT_TRUE(source.ReadRecord(names, values));
  EXPECT_TRUE(values[1].IsNull());
  ASSERT_TRUE(source.ReadRecord(names, values));
  EXPECT_EQ(values[1], Variant::String(""));
  EXPECT_FALSE(source.ReadRecord(names, values));
  EXPECT_TRUE(names[0].IsUnassigned() && values[0].IsUnassigned());

  Move(dkOracle, Table("src"), dkOracle, Table("dst"));
  ASSERT_EQ(error, "");
  EXPECT_EQ(Column("select note from " + Table("dst") + " order by k"),
            (std::vector<std::string>{"NULL", ""}));
}

TEST_P(ServerTest, TableFilesInAndOutWithTheirTypes) {
  CreateRoundTripTable(Table("r"));
  Exec("insert into " + Table("r") +
       " (id, amount, day, stamp, flag, note) values (12345678901, 1234.5, '2024-02-29', "
       "'2024-02-29 12:34:56', " +
       (postgres() ? "true" : "1") + ", 'Zürich')");
  Exec("insert into " + Table("r") + " (id) values (2)");
  // A server source makes new dBase and Paradox tables through the type translations.
  for (const char* file : {"out.dbf", "out.db"}) {
    Move(dkOracle, Table("r"), file == std::string("out.dbf") ? dkDBase : dkParadox, file,
         "select id, amount, day, stamp, flag, note from " + Table("r") + " order by id");
    ASSERT_EQ(error, "");
    ASSERT_EQ(outcome, TRunOutcome::kMoved) << file;
    auto reader = file == std::string("out.dbf") ? OpenDBaseTable(dir / file, {})
                                                 : OpenParadoxTable(dir / file, {});
    const TFieldDefs& fields = reader->fields();
    ASSERT_EQ(fields.size(), 6u);
    const bool dbase = file == std::string("out.dbf");
    // 64 bits are not cut to 32: dBase has 20 digits for them, Paradox its Number field.
    EXPECT_EQ(fields[0].DataType, dbase ? ftLargeint : ftFloat) << file;
    EXPECT_EQ(fields[4].DataType, ftBoolean) << file;
    EXPECT_EQ(fields[5].DataType, ftMemo) << file;  // long text (112) is a memo
    std::vector<Variant> row;
    ASSERT_TRUE(reader->Next(row));
    EXPECT_EQ(row[0].ToInteger(), 2);
    EXPECT_TRUE(row[5].IsEmpty());
    ASSERT_TRUE(reader->Next(row));
    EXPECT_EQ(row[0].ToInteger(), 12345678901);
    EXPECT_DOUBLE_EQ(row[1].ToDouble(), 1234.5);
    EXPECT_EQ(row[3].ToText().substr(0, 19), "2024-02-29 12:34:56");
    EXPECT_EQ(row[4], Variant::Boolean(true));
    EXPECT_EQ(row[5].ToText(), "Zürich");
  }
  // And a dBase table goes back into a server table.
  Create(Table("back"),
         "(ID bigint, AMOUNT numeric(20,4), DAY date, STAMP timestamp, FLAG boolean, NOTE "
         "varchar(30))");
  Move(dkDBase, "out.dbf", dkOracle, Table("back"));
  ASSERT_EQ(error, "");
  EXPECT_EQ(Column("select note from " + Table("back") + " order by id"),
            (std::vector<std::string>{"NULL", "Zürich"}));
  EXPECT_EQ(
      Column("select count(*) from " + Table("back") + " where id = 12345678901 and " +
             "amount = 1234.5 and day = '2024-02-29' and flag = " + (postgres() ? "true" : "1")),
      std::vector<std::string>{"1"});
}

// --create-table: a missing table is made from each kind of source, with the sizes,
// required fields and key the source has, and every value reads back as it was; a
// second run appends to it.
TEST_P(ServerTest, CreateTableMakesAMissingTableFromEachSource) {
  struct Run {
    TDataKind kind;
    std::string file;
    std::string table;  // within the file, for a database
    std::string dest;
  };
  // A SQLite table with a key of two fields and a required one.
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "keys.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "create table K (Shop text not null, Nr integer not null, Qty bigint, "
                           "Note text, primary key (Nr, Shop));"
                           "insert into K values ('Oslo', 2, 9007199254740993, 'Zürich ✓'), "
                           "('Bergen', 1, null, '')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  WriteFile(dir / "in.csv", "ID,NAME\r\n1,Ann\r\n2,\r\n");
  const std::string access = std::string(TRUNDLE_FIXTURES) + "/access/testV2000.mdb";
  const Run runs[] = {
      {dkCsv, dir / "in.csv", "", Table("csv")},
      {dkAccess, access, "Table1", Table("access")},
      {dkSqlite, dir / "keys.sqlite", "K", Table("sqlite")},
  };
  RegisterAdaptor(dkSqlite, [] { return std::make_unique<TTrundleSqlite>(); });
  for (const Run& r : runs) {
    SCOPED_TRACE(r.dest);
    Exec("drop table if exists \"" + r.dest + "\"");
    for (int pass = 0; pass < 2; ++pass) {
      TTrundle job;
      job.SetSourceKind(r.kind);
      job.SetDestinationKind(dkOracle);
      if (r.kind == dkCsv) {
        job.Source().TableName = r.file;
      } else {
        job.Source().Database = r.file;
        job.Source().TableName = r.table;
        if (r.kind == dkAccess) {
          job.Source().Sql = "select * from [" + r.table + "]";
          job.Source().DaoVersion = "dao36";
        }
      }
      ConfigureServer(job.Destination(), r.dest, "");
      job.Destination().CreateMissingTable = true;
      std::vector<std::string> log;
      job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
      // The second run appends: a table with a key (Access's, SQLite's) then refuses the
      // same records again.
      if (pass == 1 && r.kind != dkCsv) {
        EXPECT_THROW(job.Execute(), TrundleError);
        continue;
      }
      job.Execute();
      ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << testing::PrintToString(log);
      const auto created = std::find(log.begin(), log.end(), "Table created");
      EXPECT_EQ(created != log.end(), pass == 0);
      if (pass == 0) {
        // The statement comes before the table is there.
        ASSERT_NE(created, log.begin());
        EXPECT_EQ(LowerAscii(*(created - 1)).rfind("create table ", 0), 0u) << *(created - 1);
      }
    }
  }
  // Text stays text, its empty value apart from no value.
  EXPECT_EQ(Column("select \"ID\" || '|' || coalesce(\"NAME\", 'NULL') from \"" + Table("csv") +
                   "\" order by 1"),
            (std::vector<std::string>{"1|Ann", "1|Ann", "2|NULL", "2|NULL"}));
  // Access: the byte, integer, long, double, date, currency and required boolean.
  const std::string a = Table("access");
  if (postgres()) {
    EXPECT_EQ(Column("select column_name || ' ' || data_type || ' ' || "
                     "coalesce(character_maximum_length::text, '') || "
                     "coalesce(numeric_precision::text || ',' || numeric_scale::text, '') from "
                     "information_schema.columns where table_name = '" + a +
                     "' order by ordinal_position"),
              (std::vector<std::string>{
                  "A character varying 50", "B character varying 100", "C smallint 16,0",
                  "D smallint 16,0", "E integer 32,0", "F double precision ",
                  "G timestamp without time zone ", "H numeric 19,4", "I boolean "}));
    EXPECT_EQ(Column("select concat_ws('|', \"A\", \"B\", \"C\", \"D\", \"E\", \"F\", \"G\", "
                     "\"H\", \"I\") from \"" + a + "\" order by \"A\""),
              (std::vector<std::string>{"a|b|0|0|0|0|1981-12-12 00:00:00|0.0000|f",
                                        "abcdefg|hijklmnop|2|222|333333333|444.555|1974-09-21 "
                                        "00:00:00|3.5000|t"}));
    EXPECT_EQ(Column("select string_agg(a.attname, ',') from pg_index i join pg_attribute a on "
                     "a.attrelid = i.indrelid and a.attnum = any(i.indkey) where i.indisprimary "
                     "and i.indrelid = '\"" + a + "\"'::regclass"),
              std::vector<std::string>{"A"});
  } else {
    EXPECT_EQ(Column("select \"H\" from \"" + a + "\" where \"A\" = 'abcdefg'"),
              std::vector<std::string>{"3.5"});
  }
  // SQLite: the key of two fields in its order, the required fields, a 64-bit whole
  // number a double would not hold, and the key refusing the second run's records.
  const std::string k = Table("sqlite");
  EXPECT_EQ(Column("select \"Qty\" from \"" + k + "\" where \"Nr\" = 2"),
            std::vector<std::string>{"9007199254740993"});
  EXPECT_EQ(Column("select \"Note\" from \"" + k + "\" order by \"Nr\""),
            (std::vector<std::string>{"", "Zürich ✓"}));
  if (postgres()) {
    EXPECT_EQ(Column("select string_agg(a.attname, ',' order by array_position(i.indkey, "
                     "a.attnum)) from pg_index i join pg_attribute a on a.attrelid = i.indrelid "
                     "and a.attnum = any(i.indkey) where i.indisprimary and i.indrelid = '\"" +
                     k + "\"'::regclass"),
              std::vector<std::string>{"Nr,Shop"});
    EXPECT_EQ(Column("select string_agg(column_name, ',' order by ordinal_position) from "
                     "information_schema.columns where table_name = '" + k +
                     "' and is_nullable = 'NO'"),
              std::vector<std::string>{"Shop,Nr"});
  }
}

TEST_P(ServerTest, MissingDestinationTableIsNotCreated) {
  WriteFile(dir / "in.csv", "a\r\n1\r\n");
  const std::vector<std::string> log = Move(dkCsv, "in.csv", dkOracle, Table("none"));
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[2], "Reading from table");
  // The server's text, which names the table (PostgreSQL in lower case).
  EXPECT_NE(UpperAscii(log[3]).find(UpperAscii(Table("none"))), std::string::npos) << log[3];
  EXPECT_EQ(log[4], "Can't create an Oracle table");
  EXPECT_EQ(log[5], "Failed: nothing was moved");
  EXPECT_EQ(outcome, TRunOutcome::kNotOpened);
}

TEST_P(ServerTest, ARefusedRecordRollsBackItsBatchOnly) {
  Create(Table("chk"), "(Id integer check (id <> 1500), name varchar(10))");
  std::string csv = "id,name\r\n";
  for (int i = 1; i <= 2500; ++i) csv += std::to_string(i) + ",n" + std::to_string(i) + "\r\n";
  WriteFile(dir / "in.csv", csv);
  Move(dkCsv, "in.csv", dkOracle, Table("chk"));
  EXPECT_NE(error.find("Record 1500 was refused by the server: "), std::string::npos) << error;
  EXPECT_NE(error.find("1000 records were committed before it; the open batch (records 1001 to "
                       "2000) was rolled back."),
            std::string::npos)
      << error;
  EXPECT_EQ(Column("select count(*), max(id) from " + Table("chk")),
            std::vector<std::string>{"1000"});
  EXPECT_EQ(Column("select max(id) from " + Table("chk")), std::vector<std::string>{"1000"});
}

// A batch the server undoes with a serialization failure (a trigger raising 40001 once,
// counting its calls in a sequence, which a rollback leaves counted) is sent again: the
// log says so and every record arrives once. Undone every time, the run gives up.
TEST_P(ServerTest, ABatchUndoneBySerializationFailureIsSentAgain) {
  if (!postgres()) GTEST_SKIP() << "SQLite has no serialization failures to raise";
  std::string csv = "id,name\r\n";
  for (int i = 1; i <= 2500; ++i) csv += std::to_string(i) + ",n" + std::to_string(i) + "\r\n";
  WriteFile(dir / "in.csv", csv);
  for (const bool always : {false, true}) {
    SCOPED_TRACE(always ? "always" : "once");
    const std::string t = Table(always ? "always" : "once");
    Create(t, "(id integer, name varchar(10))");
    Exec("drop sequence if exists " + t + "_tries");
    Exec("create sequence " + t + "_tries");
    Exec("create or replace function " + t + "_f() returns trigger language plpgsql as $$ begin "
         "if new.id = 1500 and (nextval('" + t + "_tries') = 1 or " + (always ? "true" : "false") +
         ") then raise exception 'could not serialize access' using errcode = '40001'; end if; "
         "return new; end $$");
    Exec("create trigger " + t + "_t before insert on " + t + " for each row execute function " +
         t + "_f()");
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkOracle);
    job.Source().TableName = dir / "in.csv";
    ConfigureServer(job.Destination(), t, "");
    job.FirstRetryPause = std::chrono::milliseconds(1);
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    if (always) {
      EXPECT_THROW(job.Execute(), BatchUndoneError);
      EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"1000"});
      EXPECT_NE(std::find(log.begin(), log.end(),
                          "Batch 2 undone by the server 6 times; the run gives up"),
                log.end())
          << testing::PrintToString(log);
      continue;
    }
    job.Execute();
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
    EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"2500"});
    EXPECT_EQ(Column("select count(distinct id) from " + t), std::vector<std::string>{"2500"});
    EXPECT_EQ(Column("select last_value from " + t + "_tries"), std::vector<std::string>{"2"});
    const auto retry = std::find_if(log.begin(), log.end(), [](const std::string& line) {
      return line.rfind("Batch 2 undone by the server (", 0) == 0;
    });
    ASSERT_NE(retry, log.end()) << testing::PrintToString(log);
    EXPECT_NE(retry->find("could not serialize access"), std::string::npos) << *retry;
    EXPECT_NE(retry->find("); sending it again, try 1 of 5"), std::string::npos) << *retry;
  }
}

// --on-error skip through the driver: records refused for each cause the server has,
// spread over three batches (two in one, a key an earlier record of the same batch holds,
// one that only the last batch's commit meets), set aside with their numbers and the
// server's reasons; every other record arrives with its values.
TEST_P(ServerTest, RefusedRecordsAreSetAsideAndTheRestOfTheirBatchesArrive) {
  const std::string t = Table("skip");
  // SQLite keeps any text in any column: its limits are checks.
  Create(t, postgres() ? "(id integer primary key, code varchar(5), small smallint, n integer "
                         "not null, qty integer check (qty >= 0))"
                       : "(id integer primary key, code varchar(5) check (length(code) <= 5), "
                         "small smallint check (small between -32768 and 32767), n integer not "
                         "null, qty integer check (qty >= 0))");
  // record number -> the line that spoils it, and the reason's words on each server
  struct Bad {
    std::string line, postgres, sqlite;
  };
  const std::map<int, Bad> bad = {
      {17, {"17,toolong,17,17,17", "value too long for type character varying(5)", "CHECK"}},
      {700, {"700,c700,70000,700,700", "out of range for type smallint", "CHECK"}},
      {1200, {"12x,c200,0,1200,1200", "invalid input syntax for type integer", "mismatch"}},
      {1500, {"1500,c500,0,,1500", "null value in column", "NOT NULL"}},
      {1999, {"1001,c999,0,1999,1999", "duplicate key value", "UNIQUE"}},
      {2001, {"2001,c1,0,2001,-1", "violates check constraint", "CHECK"}},
      {2400, {"5,c400,0,2400,2400", "duplicate key value", "UNIQUE"}},
  };
  std::string csv = "id,code,small,n,qty\r\n";
  for (int i = 1; i <= 2500; ++i) {
    const auto spoilt = bad.find(i);
    csv += spoilt != bad.end() ? spoilt->second.line
                               : std::to_string(i) + ",c" + std::to_string(i % 1000) + "," +
                                     std::to_string(i % 300) + "," + std::to_string(i) + "," +
                                     std::to_string(i);
    csv += "\r\n";
  }
  WriteFile(dir / "in.csv", csv);
  TTrundle job;
  job.SetSourceKind(dkCsv);
  job.SetDestinationKind(dkOracle);
  job.Source().TableName = dir / "in.csv";
  ConfigureServer(job.Destination(), t, "");
  job.OnError = TOnError::kSkip;
  job.RejectFilePath = dir / "rejects.csv";
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved) << testing::PrintToString(log);
  EXPECT_EQ(job.records_rejected(), static_cast<int64_t>(bad.size()));
  EXPECT_EQ(job.records_moved(), 2493);
  int64_t ids = 0;
  for (int i = 1; i <= 2500; ++i) ids += bad.count(i) ? 0 : i;
  EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"2493"});
  EXPECT_EQ(Column("select sum(id) from " + t), std::vector<std::string>{std::to_string(ids)});
  EXPECT_EQ(Column("select count(*) from " + t +
                   " where code <> 'c' || (id % 1000) or small <> id % 300 or n <> id or qty <> id"),
            std::vector<std::string>{"0"});
  std::vector<std::string> lines;
  const std::string rejects = ReadFile(dir / "rejects.csv");
  for (size_t at = 0, end; (end = rejects.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(rejects.substr(at, end - at));
  ASSERT_EQ(lines.size(), bad.size() + 1) << rejects;
  EXPECT_EQ(lines[0], "Record,ID,CODE,SMALL,N,QTY,Reason");
  size_t k = 1;
  for (const auto& [number, spoilt] : bad) {
    const std::string& line = lines[k++];
    EXPECT_EQ(line.rfind(std::to_string(number) + "," + spoilt.line + ",", 0), 0u) << line;
    EXPECT_NE(line.find(postgres() ? spoilt.postgres : spoilt.sqlite), std::string::npos) << line;
  }
}

// Records written as parameter arrays (or as INSERTs of many rows): 2345 of them, so the
// last batch is not a whole one, with texts of 0 to 300,000 characters side by side in
// one column, a record of no values, and refused records at the end of a batch, in the
// middle of one and at the end of the run. Under skip each refused record alone is set
// aside; under stop the run ends naming the first one and keeps the batches before it.
TEST_P(ServerTest, ArraysKeepEveryRecordAroundRefusedOnes) {
  const int kRecords = 2345;
  const auto note = [](int i) {
    return std::string(i % 97 == 0 ? 300000 : i % 5, static_cast<char>('a' + i % 26));
  };
  const std::string columns =
      postgres() ? "(id integer primary key, code varchar(5), note text, amount numeric(12,2), "
                   "day date, stamp timestamp, flag boolean, big bigint)"
                 : "(id integer primary key, code varchar(5) check (length(code) <= 5), note "
                   "text, amount numeric(12,2), day date, stamp timestamp, flag boolean, big "
                   "bigint)";
  struct Case {
    TOnError on_error;
    std::vector<int> refused;
    int64_t kept;  // records in the table afterwards
  };
  const Case cases[] = {
      {TOnError::kSkip, {1000, 1501, kRecords}, kRecords - 3},
      {TOnError::kStop, {1000}, 0},
      {TOnError::kStop, {kRecords}, 2000},
  };
  for (const Case& c : cases) {
    const std::string t = Table("arr" + std::to_string(&c - cases));
    SCOPED_TRACE(t);
    Create(t, columns);
    std::string csv = "id,code,note,amount,day,stamp,flag,big\r\n";
    int64_t ids = 0, note_length = 0;
    for (int i = 1; i <= kRecords; ++i) {
      const bool refused =
          std::find(c.refused.begin(), c.refused.end(), i) != c.refused.end();
      if (i == 7) {
        csv += "7,,,,,,,\r\n";
      } else {
        csv += std::to_string(i) + "," + (refused ? "toolong" : "c" + std::to_string(i % 100)) +
               "," + note(i) + "," + std::to_string(i) + ".25,2024-02-" +
               std::to_string(1 + i % 28) + ",1999-12-31 23:59:" + std::to_string(10 + i % 50) +
               "," + (i % 2 ? "True" : "False") + "," + std::to_string(4000000000LL + i) + "\r\n";
      }
      if (!refused) ids += i, note_length += i == 7 ? 0 : static_cast<int64_t>(note(i).size());
    }
    WriteFile(dir / "in.csv", csv);
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkOracle);
    job.Source().TableName = dir / "in.csv";
    ConfigureServer(job.Destination(), t, "");
    job.OnError = c.on_error;
    job.RejectFilePath = dir / (t + ".rejects.csv");
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    std::string failure;
    try {
      job.Execute();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    EXPECT_EQ(Column("select count(*) from " + t),
              std::vector<std::string>{std::to_string(c.kept)});
    if (c.on_error == TOnError::kStop) {
      EXPECT_NE(failure.find("Record " + std::to_string(c.refused[0]) +
                             " was refused by the server: "),
                std::string::npos)
          << failure;
      EXPECT_NE(failure.find(std::to_string(c.kept) + " records were committed before it"),
                std::string::npos)
          << failure;
      continue;
    }
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved) << failure << testing::PrintToString(log);
    EXPECT_EQ(job.records_rejected(), 3);
    const std::string rejects = ReadFile(dir / (t + ".rejects.csv"));
    for (int number : c.refused)
      EXPECT_NE(rejects.find("\r\n" + std::to_string(number) + "," + std::to_string(number) +
                             ",toolong,"),
                std::string::npos)
          << number;
    EXPECT_EQ(Column("select sum(id) from " + t), std::vector<std::string>{std::to_string(ids)});
    EXPECT_EQ(Column("select sum(length(note)) from " + t),
              std::vector<std::string>{std::to_string(note_length)});
    // Every value in its own record's place, whatever the widths of its neighbours.
    EXPECT_EQ(Column("select count(*) from " + t + " where id <> 7 and (code <> 'c' || (id % "
                     "100) or amount <> id + 0.25 or big <> 4000000000 + id or length(note) <> " +
                     (postgres() ? "case when id % 97 = 0 then 300000 else id % 5 end"
                                 : "(case when id % 97 = 0 then 300000 else id % 5 end)") +
                     " or substr(note, 1, 1) <> substr('abcdefghijklmnopqrstuvwxyz', id % 26 + "
                     "1, 1) and id % 5 > 0)"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Column("select coalesce(code, 'NULL') || '|' || coalesce(note, 'NULL') || '|' || "
                     "coalesce(cast(amount as text), 'NULL') || '|' || coalesce(cast(day as "
                     "text), 'NULL') || '|' || coalesce(cast(stamp as text), 'NULL') || '|' || "
                     "coalesce(cast(flag as text), 'NULL') || '|' || coalesce(cast(big as text), "
                     "'NULL') from " + t + " where id = 7"),
              std::vector<std::string>{"||NULL|NULL|NULL|NULL|NULL"});
  }
}

TEST_P(ServerTest, AStopInTheSecondBatchKeepsTheFirstOnly) {
  Create(Table("stop"), "(id integer, name varchar(10))");
  std::string csv = "id,name\r\n";
  for (int i = 1; i <= 2500; ++i) csv += std::to_string(i) + ",n" + std::to_string(i) + "\r\n";
  WriteFile(dir / "in.csv", csv);
  TTrundle job;
  job.SetSourceKind(dkCsv);
  job.SetDestinationKind(dkOracle);
  job.Source().TableName = dir / "in.csv";
  ConfigureServer(job.Destination(), Table("stop"), "");
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  // Asked for after record 1500, half way through the second batch, as the window asks
  // between records.
  job.OnProgress = [&job](int32_t) {
    if (job.records_moved() == 1500) job.RequestStop();
  };
  job.Execute();
  EXPECT_EQ(job.outcome(), TRunOutcome::kStopped);
  EXPECT_EQ(job.records_moved(), 1000);
  const std::string said =
      "Stopped on request: 1000 records moved; the open batch of 500 records was rolled back";
  EXPECT_NE(std::find(log.begin(), log.end(), said), log.end()) << testing::PrintToString(log);
  EXPECT_EQ(Column("select count(*) from " + Table("stop")), std::vector<std::string>{"1000"});
  EXPECT_EQ(Column("select max(id) from " + Table("stop")), std::vector<std::string>{"1000"});
}

TEST_P(ServerTest, NamesMatchWithoutLetterCaseAndTablesAreListed) {
  Create(Table("Mixed"), "(Customer_Id integer, NOTE varchar(5))");
  WriteFile(dir / "in.csv", "customer_id,Note,extra\r\n42,hi,x\r\n");
  const std::vector<std::string> log = Move(dkCsv, "in.csv", dkOracle, Table("Mixed"));
  ASSERT_EQ(error, "");
  EXPECT_EQ(Column("select note from " + Table("Mixed") + " where customer_id = 42"),
            std::vector<std::string>{"hi"});
  // The value that had no field is reported, not dropped silently.
  bool reported = false;
  for (const std::string& line : log) reported |= line.find("EXTRA") != std::string::npos;
  EXPECT_TRUE(reported);

  const std::vector<std::string> tables = ListTables(dkOracle, {database_, user_, password_, ""});
  bool listed = false;
  for (const std::string& t : tables)
    listed |= EqualsIgnoringAsciiCase(t, Table("Mixed"));  // PostgreSQL folds to lower case
  EXPECT_TRUE(listed);
}

// A table name is data: whatever it holds (quotes, semicolons, spaces, dots, letters
// outside ASCII), it names one table or none, and never runs as SQL.
TEST_P(ServerTest, TableNamesAreDataNeverSql) {
  const std::string victim = Table("victim");
  Create(victim, "(a integer)");
  const auto quoted = [](const std::string& name) {
    std::string out = "\"";
    for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
  };
  std::vector<std::string> names = {Table("x") + "; drop table " + victim + "; --",
                                    Table("Say \"hi\" 'there'"), Table("Grüße Ωmega"),
                                    Table("a.b")};
  std::string schema;
  if (postgres()) {
    schema = "s" + Table("");
    Exec("drop schema if exists " + schema + " cascade");
    Exec("create schema " + schema);
    Exec("create table " + schema + ".inner_t (a integer)");
  }
  for (const std::string& name : names) {
    Exec("drop table if exists " + quoted(name));
    Exec("create table " + quoted(name) + " (a integer)");
  }
  if (postgres()) names.push_back(schema + ".inner_t");
  WriteFile(dir / "in.csv", "a\r\n1\r\n2\r\n");
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    Move(dkCsv, "in.csv", dkOracle, name);
    ASSERT_EQ(error, "") << name;
    ASSERT_EQ(outcome, TRunOutcome::kMoved) << name;
    const std::string sql_name =
        name == schema + ".inner_t" ? name : quoted(name);
    EXPECT_EQ(Column("select count(*) from " + sql_name), std::vector<std::string>{"2"}) << name;
    // As a source named by the table alone, with no statement.
    TTrundle job;
    job.SetSourceKind(dkOracle);
    job.SetDestinationKind(dkCsv);
    ConfigureServer(job.Source(), name, "");
    const std::string out = dir / ("out" + std::to_string(i) + ".csv");
    job.Destination().TableName = out;
    job.Execute();
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved) << name;
    EXPECT_EQ(LowerAscii(ReadFile(out)), "\"a\"\r\n\"1\"\r\n\"2\"\r\n") << name;
  }
  // A name in another letter case finds its table; a statement passed as a name finds
  // none, and runs nothing.
  Move(dkCsv, "in.csv", dkOracle, UpperAscii(Table("Say \"hi\" 'there'")));
  EXPECT_EQ(outcome, TRunOutcome::kMoved);
  for (const std::string& attack :
       {victim + "; drop table " + victim + "; commit; --",
        victim + " a ; drop table " + victim + " ; --",
        "x\" a ; drop table " + victim + " ; --"}) {
    Move(dkCsv, "in.csv", dkOracle, attack);
    EXPECT_EQ(outcome, TRunOutcome::kNotOpened) << attack;
  }
  EXPECT_EQ(Column("select count(*) from " + victim), std::vector<std::string>{"0"});
  // NUL ends no name early.
  TTrundleOracle adaptor;
  ConfigureServer(adaptor, victim + std::string(1, '\0') + "; drop table " + victim, "");
  adaptor.PrepareDestination();
  std::vector<std::string> log;
  adaptor.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  EXPECT_FALSE(adaptor.OpenTable());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("NUL"), std::string::npos) << log[1];
  EXPECT_EQ(Column("select count(*) from " + victim), std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerTest,
                         ::testing::Values(Backend{"PostgreSQL", true}, Backend{"SQLite", false}),
                         [](const auto& test) { return std::string(test.param.name); });

// Failures to log on, against the PostgreSQL server only (SQLite has no passwords).
class PostgresLogonTest : public ::testing::Test {
 protected:
  std::vector<std::string> Open(const std::string& database, const std::string& password) {
    TTrundleOracle adaptor;
    adaptor.Database = database;
    adaptor.UserName = "trundle";
    adaptor.Password = password;
    adaptor.Sql = "select 1";
    std::vector<std::string> log;
    adaptor.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    EXPECT_FALSE(adaptor.OpenTable());
    EXPECT_EQ(adaptor.RecordCount, 0);
    return log;
  }
  std::string Server(const std::string& port) const {
    return "Driver=" TRUNDLE_PSQL_ODBC ";Server=127.0.0.1;Port=" + port + ";Database=trundle";
  }
};

TEST_F(PostgresLogonTest, WrongPasswordAndUnreachableServer) {
  std::string port = ReadFile(std::string(TRUNDLE_PG_STATE) + "/port");
  ASSERT_FALSE(port.empty());
  port = port.substr(0, port.find('\n'));
  std::vector<std::string> log = Open(Server(port), "not-the-password");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "Reading from table");
  EXPECT_NE(log[1].find("password authentication failed"), std::string::npos) << log[1];
  EXPECT_EQ(log[1].find("not-the-password"), std::string::npos);

  // A port nobody listens on: found free, then closed again.
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(s);
  log = Open(Server(std::to_string(ntohs(address.sin_port))), "trundle-pw");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("127.0.0.1"), std::string::npos) << log[1];
  EXPECT_EQ(log[1].find("trundle-pw"), std::string::npos);
}

// The way records are written and read is chosen by what the server says it is and
// what the driver says it takes, never by the driver's name: both drivers are copied
// to files of other names and registered under other names in a driver manager
// configuration of the test's own.
class DriverChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(TRUNDLE_PSQL_ODBC, dir / "store_a.so");
    std::filesystem::copy_file(TRUNDLE_SQLITE_ODBC, dir / "store_b.so");
    WriteFile(dir / "odbcinst.ini", "[Store A]\nDriver=" + (dir / "store_a.so") +
                                        "\n[Store B]\nDriver=" + (dir / "store_b.so") + "\n");
    WriteFile(dir / "odbc.ini", "");
    setenv("ODBCSYSINI", dir.path().c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ODBCSYSINI");
    unsetenv("ODBCINSTINI");
    unsetenv("ODBCINI");
  }
  void Exec(TOracleSession& session, const std::string& sql) {
    odbc::Handle statement(SQL_HANDLE_STMT, session.connection());
    std::string text = sql;
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                statement, sql);
  }
  // The first column of the first row of a query, as a number.
  int64_t Number(TOracleSession& session, const std::string& sql) {
    odbc::Handle statement(SQL_HANDLE_STMT, session.connection());
    std::string text = sql;
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                statement, sql);
    SQLBIGINT value = -1;
    if (SQL_SUCCEEDED(SQLFetch(statement.get())))
      SQLGetData(statement.get(), 1, SQL_C_SBIGINT, &value, 0, nullptr);
    return value;
  }
  // Appends `count` records (n, "row n") to `table`, committed; returns the path taken.
  TOracleDataSet::Insertion Append(TOracleSession& session, const std::string& table, int count) {
    TOracleDataSet data;
    data.Session = &session;
    data.SQL = "select a.*, a.rowid from " + table + " a ";
    data.Open();
    EXPECT_TRUE(data.Updatable());
    const TOracleDataSet::Insertion path = data.InsertionPath();
    for (int i = 1; i <= count; ++i) {
      data.Append();
      data.SetValue(0, Variant::Integer(i));
      data.SetValue(1, Variant::String("row " + std::to_string(i)));
      data.Post();
    }
    data.CommitBatch();
    EXPECT_EQ(data.CommittedRecords(), count);
    return path;
  }
  ScratchFolder dir;
};

TEST_F(DriverChoiceTest, PostgresUnderAnotherNameWritesManyRowsAndReadsThroughACursor) {
  std::string port = ReadFile(std::string(TRUNDLE_PG_STATE) + "/port");
  ASSERT_FALSE(port.empty());
  port = port.substr(0, port.find('\n'));
  TOracleSession session;
  session.LogonDatabase = "Driver={Store A};Server=127.0.0.1;Port=" + port + ";Database=trundle";
  session.LogonUsername = "trundle";
  session.LogonPassword = "trundle-pw";
  session.LogOn();
  EXPECT_TRUE(session.IsPostgres());
  EXPECT_FALSE(session.IsSQLite());

  Exec(session, "drop table if exists t_renamed_driver");
  Exec(session, "create table t_renamed_driver (id bigint primary key, note varchar(20))");
  session.Commit();
  EXPECT_EQ(Append(session, "t_renamed_driver", 250), TOracleDataSet::Insertion::kManyRows);
  EXPECT_EQ(Number(session, "select count(*) from t_renamed_driver"), 250);
  EXPECT_EQ(Number(session, "select sum(id) from t_renamed_driver where note = 'row ' || id"),
            250 * 251 / 2);

  // A result being read is held by a cursor on the server, not whole in the driver.
  TOracleDataSet reading;
  reading.Session = &session;
  reading.SQL = "select id from t_renamed_driver order by id";
  reading.Open();
  ASSERT_FALSE(reading.Eof());
  EXPECT_EQ(reading.Value(0).ToInteger(), 1);
  EXPECT_GE(Number(session, "select count(*) from pg_cursors"), 1);
  reading.Close();
  Exec(session, "drop table t_renamed_driver");
  session.Commit();
}

TEST_F(DriverChoiceTest, SqliteUnderAnotherNameNeverWritesPostgresManyRows) {
  TOracleSession session;
  session.LogonDatabase = "Driver={Store B};Database=" + (dir / "x.db");
  session.LogOn();
  EXPECT_FALSE(session.IsPostgres());
  EXPECT_TRUE(session.IsSQLite());

  Exec(session, "create table plain (id integer primary key, note varchar(20))");
  Exec(session, "create table with_blob (id integer primary key, note varchar(20), b blob)");
  session.Commit();
  // INSERTs of many rows are PostgreSQL's path; this driver's arrays are its own
  // answer to SQL_PARAM_ARRAY_ROW_COUNTS (the packaged one gives none, so one a record).
  EXPECT_NE(Append(session, "plain", 250), TOracleDataSet::Insertion::kManyRows);
  EXPECT_EQ(Number(session, "select count(*) from plain"), 250);
  EXPECT_EQ(Number(session, "select sum(id) from plain where note = 'row ' || id"), 250 * 251 / 2);
  // The driver's arrays cannot carry a binary value's length: one record at a time.
  EXPECT_EQ(Append(session, "with_blob", 30), TOracleDataSet::Insertion::kOneByOne);
  EXPECT_EQ(Number(session, "select count(*) from with_blob where b is null"), 30);
}

}  // namespace
}  // namespace trundle
