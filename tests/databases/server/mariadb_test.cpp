// trundle-cli and the server kind against a throw-away MariaDB server (started by the
// test command with mariadb_server.sh) through MariaDB's ODBC driver: every type both
// ways value by value, rows appended after those already there, Null apart from empty
// text, and the password in no output.
#include <gtest/gtest.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "databases/server/odbc.h"
#include "databases/server/oracle_session.h"
#include "databases/server/server_relations.h"
#include "databases/server/server_types.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

constexpr char kPassword[] = "trundle-pw";

class MariadbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TRUNDLE_MARIADB_ODBC).empty())
      GTEST_SKIP() << "MariaDB's server or ODBC driver is not installed (scripts/setup.sh)";
    const std::string port = ReadFile(std::string(TRUNDLE_MARIADB_STATE) + "/port");
    ASSERT_FALSE(port.empty()) << "the MariaDB test server is not running (the test command "
                                  "starts it with mariadb_server.sh)";
    server_ = "Driver=" TRUNDLE_MARIADB_ODBC ";Server=127.0.0.1;Port=" +
              port.substr(0, port.find('\n')) + ";Database=trundle";
    prefix_ = std::string("m_") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    prefix_ = prefix_.substr(0, 40);
    session_.LogonDatabase = server_;
    session_.LogonUsername = "trundle";
    session_.LogonPassword = kPassword;
    session_.LogOn();
  }
  void TearDown() override {
    // No output of any run shows the password.
    if (std::filesystem::exists(dir / "log")) {
      EXPECT_EQ(ReadFile(dir / "log").find(kPassword), std::string::npos) << ReadFile(dir / "log");
    }
  }

  std::string Table(const std::string& name) const { return prefix_ + "_" + name; }
  void Create(const std::string& name, const std::string& columns) {
    Exec("drop table if exists " + name);
    Exec("create table " + name + " " + columns + " default charset utf8mb4");
  }
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
      char value[512];
      SQLLEN length = 0;
      SQLGetData(statement.get(), 1, SQL_C_CHAR, value, sizeof value, &length);
      out.push_back(length == SQL_NULL_DATA ? "NULL" : value);
    }
    session_.Commit();
    return out;
  }
  // trundle-cli with the password in TRUNDLE_PW; its output goes to dir/log.
  int Cli(const std::vector<std::string>& args) {
    std::string command = "cd " + ShellQuote(dir.path()) + " && env TRUNDLE_PW=" + kPassword +
                          " " + ShellQuote(TRUNDLE_CLI);
    for (const std::string& a : args) command.append(" ").append(ShellQuote(a));
    command += " >>log 2>&1 </dev/null";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  int CsvIn(const std::string& csv, const std::string& table) {
    return Cli({"--dest-kind", "odbc", "--dest-user", "trundle", "--dest-password-env",
                "TRUNDLE_PW", "--dest-table", table, csv, server_});
  }
  int Out(const std::string& sql, const std::string& csv) {
    std::filesystem::remove(dir / csv);
    return Cli({"--source-kind", "odbc", "--source-user", "trundle", "--source-password-env",
                "TRUNDLE_PW", "--source-sql", sql, server_, csv});
  }

  ScratchFolder dir;
  TOracleSession session_;
  std::string server_, prefix_;
};

// One row of the CSV the text tables write: every value quoted.
std::string Quoted(const std::vector<std::string>& values) {
  std::string line;
  for (const std::string& v : values) line += (line.empty() ? "\"" : ",\"") + v + "\"";
  return line + "\r\n";
}

// Where two texts of CRLF lines part: the line's number and both lines, cut short.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = 0, line = 1;
  while (at < a.size() && at < b.size() && a[at] == b[at]) line += a[at++] == '\n';
  const size_t start = a.rfind('\n', at == 0 ? 0 : at - 1);
  const size_t from = start == std::string::npos ? 0 : start + 1;
  return "line " + std::to_string(line) + ": " + a.substr(from, 160) + " | " +
         b.substr(from, 160);
}

// CSV into a table of every type and back, value by value, over enough rows that they
// come in several blocks, with values longer than 64 KB in some of them.
TEST_F(MariadbTest, EveryTypeIntoTheServerAndBackValueByValue) {
  const std::string t = Table("types");
  Create(t,
         "(k int primary key, id bigint, u bigint unsigned, amount decimal(20,4), day date, "
         "stamp datetime, flag tinyint(1), b bit(1), note longtext, bin blob)");
  const std::vector<std::string> names = {"k",    "id", "u", "amount", "day",
                                          "stamp", "flag", "b", "note", "bin"};
  std::string huge;
  for (int i = 0; huge.size() < 70000; ++i) huge += "é😀𝄞" + std::to_string(i);
  std::vector<std::vector<std::string>> rows = {
      {"1", "9223372036854775807", "18446744073709551615", "12345678901234.5678", "2024-02-29",
       "2024-02-29 12:34:56", "1", "True", "Brücke 東京 Ωmega 😀", "0x00FF41"},
      {"2", "-9223372036854775807", "0", "-0.0001", "1000-01-01", "1999-12-31 23:59:59", "0",
       "False", huge, "0x0D0A"},
      {"3", "", "", "", "", "", "", "", "", ""},
  };
  for (int k = 4; k <= 1200; ++k) {
    const std::string n = std::to_string(k);
    rows.push_back({n, "-" + n + "000000000000", n + "000000000000000", n + ".0001",
                    "2001-01-" + std::string(k % 28 < 9 ? "0" : "") + std::to_string(k % 28 + 1),
                    // (The text tables leave out seconds of zero.)
                    "2001-02-03 04:05:" + std::string(k % 59 < 9 ? "0" : "") +
                        std::to_string(k % 59 + 1),
                    std::to_string(k % 2), k % 3 ? "True" : "False",
                    k % 97 ? "n" + n : huge + n, k % 5 ? "0x" + std::string(n.size() % 2, '0') + n : "0x00"});
  }
  std::string csv;
  for (size_t i = 0; i < names.size(); ++i) csv += (i ? "," : "") + names[i];
  csv += "\r\n";
  std::string expected = Quoted(names);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) csv += (i ? "," : "") + row[i];
    csv += "\r\n";
    expected += Quoted(row);
  }
  WriteFile(dir / "in.csv", csv);
  ASSERT_EQ(CsvIn("in.csv", t), 0) << ReadFile(dir / "log");

  // What the server holds, as its own functions show it.
  EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"1200"});
  EXPECT_EQ(Column("select concat_ws('|', id, u, amount, day, stamp, flag, b + 0, hex(note), "
                   "hex(bin)) from " + t + " where k = 1"),
            std::vector<std::string>{
                "9223372036854775807|18446744073709551615|12345678901234.5678|2024-02-29|"
                "2024-02-29 12:34:56|1|1|4272C3BC636B6520E69DB1E4BAAC20CEA96D65676120F09F9880|"
                "00FF41"});
  EXPECT_EQ(Column("select concat_ws('|', b + 0, octet_length(note), hex(bin)) from " + t +
                   " where k = 2"),
            std::vector<std::string>{"0|" + std::to_string(huge.size()) + "|0D0A"});
  EXPECT_EQ(Column("select k from " + t + " where note = '" + huge + "'"),
            std::vector<std::string>{"2"});
  // Empty text is empty text in a text column and no value in any other.
  EXPECT_EQ(Column("select concat_ws('|', isnull(id), isnull(u), isnull(amount), isnull(day), "
                   "isnull(stamp), isnull(flag), isnull(b), note = '', isnull(bin)) from " + t +
                   " where k = 3"),
            std::vector<std::string>{"1|1|1|1|1|1|1|1|1"});

  ASSERT_EQ(Out("select * from " + t + " order by k", "out.csv"), 0) << ReadFile(dir / "log");
  const std::string out = ReadFile(dir / "out.csv");
  EXPECT_TRUE(out == expected) << FirstDifference(out, expected);
}

// Table to table on the server, and CSV after rows already there: nothing there before
// is touched, and Null stays apart from empty text and empty bytes.
TEST_F(MariadbTest, RecordsAreAppendedAndNullStaysApartFromEmpty) {
  const std::string src = Table("src"), dst = Table("dst");
  Create(src, "(k int, note varchar(20), bin varbinary(10))");
  Exec("insert into " + src + " values (1, NULL, NULL), (2, '', ''), (3, '😀', x'00')");
  Create(dst, "(k int, note varchar(20), bin varbinary(10))");
  Exec("insert into " + dst + " values (0, 'there', x'FF')");
  ASSERT_EQ(Cli({"--source-kind", "odbc", "--source-user", "trundle", "--source-password-env",
                 "TRUNDLE_PW", "--source-table", src, "--dest-kind", "odbc", "--dest-user",
                 "trundle", "--dest-password-env", "TRUNDLE_PW", "--dest-table", dst, server_,
                 server_}),
            0)
      << ReadFile(dir / "log");
  WriteFile(dir / "more.csv", "k,note,bin\r\n4,,\r\n5,more,\r\n");
  ASSERT_EQ(CsvIn("more.csv", dst), 0) << ReadFile(dir / "log");
  EXPECT_EQ(Column("select concat_ws('|', k, ifnull(note, 'NULL'), ifnull(hex(bin), 'NULL')) "
                   "from " + dst + " order by k"),
            (std::vector<std::string>{"0|there|FF", "1|NULL|NULL", "2||", "3|😀|00", "4||NULL",
                                      "5|more|NULL"}));
}

// A record the server refuses in the second batch: the run fails naming it, the first
// batch stays committed and nothing of the second is left.
TEST_F(MariadbTest, ARefusedRecordUndoesItsBatchOnly) {
  const std::string t = Table("refused");
  Create(t, "(k int primary key, code varchar(5))");
  std::string csv = "k,code\r\n";
  for (int k = 1; k <= 1500; ++k) {
    std::string code = "c";
    code += std::to_string(k % 100);
    csv.append(std::to_string(k)).append(",").append(k == 1200 ? "much too long" : code);
    csv += "\r\n";
  }
  WriteFile(dir / "in.csv", csv);
  EXPECT_EQ(CsvIn("in.csv", t), 3);
  const std::string log = ReadFile(dir / "log");
  EXPECT_NE(log.find("Record 1200 was refused"), std::string::npos) << log;
  EXPECT_NE(log.find("Data too long"), std::string::npos) << log;
  EXPECT_EQ(Column("select concat_ws('|', count(*), min(k), max(k)) from " + t),
            std::vector<std::string>{"1000|1|1000"});
}

// Records written as parameter arrays: 2345 of them, so the last batch is not a whole
// one, texts of 0 to 300,000 characters side by side in one column (enough to split a
// batch's arrays), a record of no values, and under skip refused records at the end of
// a batch, in the middle of one and at the end of the run, each set aside alone; under
// stop the run ends naming the last record of the first batch and keeps nothing. With
// every record refused (a flag the column cannot take), each is set aside and the run ends
// as it should (the driver's heap was once corrupted by arrays bound over wider ones).
TEST_F(MariadbTest, ArraysKeepEveryRecordAroundRefusedOnes) {
  const int kRecords = 2345;
  const auto note = [](int i) {
    return std::string(i % 97 == 0 ? 300000 : i % 5, static_cast<char>('a' + i % 26));
  };
  enum Mode { kSkip, kStop, kEveryOne };
  for (const Mode mode : {kSkip, kStop, kEveryOne}) {
    const bool skip = mode != kStop;
    const std::vector<int> refused = skip ? std::vector<int>{1000, 1501, kRecords}
                                          : std::vector<int>{1000};
    const std::string t = Table(std::to_string(mode));
    SCOPED_TRACE(t);
    Create(t, "(k int primary key, code varchar(5), note mediumtext, amount decimal(12,2), day "
              "date, stamp datetime, flag boolean, big bigint, bin varbinary(8))");
    std::string csv = "k,code,note,amount,day,stamp,flag,big,bin\r\n";
    int64_t keys = 0, note_length = 0;
    for (int i = 1; i <= kRecords; ++i) {
      const bool bad = std::find(refused.begin(), refused.end(), i) != refused.end();
      if (i == 7) {
        csv += "7,,,,,,,,\r\n";
      } else {
        csv += std::to_string(i) + "," + (bad ? "toolong" : "c" + std::to_string(i % 100)) + "," +
               note(i) + "," + std::to_string(i) + ".25,2024-02-" + std::to_string(1 + i % 28) +
               ",1999-12-31 23:59:" + std::to_string(10 + i % 50) + "," +
               (mode == kEveryOne ? "True" : i % 2 ? "1" : "0") + "," +
               std::to_string(4000000000LL + i) + ",0x" +
               std::string(static_cast<size_t>(2 * (1 + i % 8)), 'A') + "\r\n";
      }
      if (!bad) keys += i, note_length += i == 7 ? 0 : static_cast<int64_t>(note(i).size());
    }
    WriteFile(dir / "in.csv", csv);
    std::vector<std::string> args = {"--dest-kind", "odbc", "--dest-user", "trundle",
                                     "--dest-password-env", "TRUNDLE_PW", "--dest-table", t,
                                     "in.csv", server_};
    if (skip) args.insert(args.begin(), {"--on-error", "skip", "--reject-file", "rejects.csv"});
    std::filesystem::remove(dir / "log");
    const int rc = Cli(args);
    const std::string log = ReadFile(dir / "log");
    if (!skip) {
      EXPECT_NE(rc, 0);
      EXPECT_NE(log.find("Record 1000 was refused by the server: "), std::string::npos) << log;
      EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"0"});
      continue;
    }
    // Moved, with records set aside.
    ASSERT_EQ(rc, 4) << log;
    if (mode == kEveryOne) {
      EXPECT_NE(log.find(std::to_string(kRecords - 1) + " records were set aside"),
                std::string::npos)
          << log.substr(log.size() - std::min<size_t>(log.size(), 400));
      EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"1"});
      continue;
    }
    const std::string rejects = ReadFile(dir / "rejects.csv");
    for (int number : refused)
      EXPECT_NE(rejects.find("\r\n" + std::to_string(number) + "," + std::to_string(number) +
                             ",toolong,"),
                std::string::npos)
          << number << rejects.substr(0, 300);
    EXPECT_EQ(Column("select concat_ws('|', count(*), sum(k), sum(length(note))) from " + t),
              std::vector<std::string>{std::to_string(kRecords - 3) + "|" +
                                       std::to_string(keys) + "|" +
                                       std::to_string(note_length)});
    // Every value in its own record's place, whatever the widths of its neighbours.
    EXPECT_EQ(Column("select count(*) from " + t + " where k <> 7 and (code <> concat('c', k % "
                     "100) or amount <> k + 0.25 or big <> 4000000000 + k or length(note) <> if(k "
                     "% 97 = 0, 300000, k % 5) or (k % 5 > 0 and left(note, 1) <> "
                     "substr('abcdefghijklmnopqrstuvwxyz', k % 26 + 1, 1)) or length(bin) <> 1 + "
                     "k % 8 or day <> concat('2024-02-', 1 + k % 28) or flag <> k % 2)"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Column("select concat_ws('|', ifnull(code, 'NULL'), ifnull(note, 'NULL'), "
                     "ifnull(amount, 'NULL'), ifnull(day, 'NULL'), ifnull(stamp, 'NULL'), "
                     "ifnull(flag, 'NULL'), ifnull(big, 'NULL'), ifnull(bin, 'NULL')) from " +
                     t + " where k = 7"),
              std::vector<std::string>{"||NULL|NULL|NULL|NULL|NULL|NULL"});
  }
}

// --create-table makes a missing table from a text file and from an Access table, with
// the Access table's types and key, and a second run appends to it.
TEST_F(MariadbTest, CreateTableMakesAMissingTable) {
  const std::string csv_table = Table("csv"), access_table = Table("access");
  Exec("drop table if exists " + csv_table);
  Exec("drop table if exists " + access_table);
  WriteFile(dir / "in.csv", "ID,NAME\r\n1,Ann\r\n2,\r\n3,Zürich 😀\r\n");
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(Cli({"--dest-kind", "odbc", "--dest-user", "trundle", "--dest-password-env",
                   "TRUNDLE_PW", "--dest-table", csv_table, "--create-table", "in.csv", server_}),
              0)
        << ReadFile(dir / "log");
  }
  EXPECT_EQ(Column("select concat(ID, '|', ifnull(NAME, 'NULL')) from " + csv_table +
                   " order by 1"),
            (std::vector<std::string>{"1|Ann", "1|Ann", "2|NULL", "2|NULL", "3|Zürich 😀",
                                      "3|Zürich 😀"}));
  const std::string access = std::string(TRUNDLE_FIXTURES) + "/access/testV2000.mdb";
  ASSERT_EQ(Cli({"--source-table", "Table1", "--dest-kind", "odbc", "--dest-user", "trundle",
                 "--dest-password-env", "TRUNDLE_PW", "--dest-table", access_table,
                 "--create-table", access, server_}),
            0)
      << ReadFile(dir / "log");
  EXPECT_EQ(Column("select group_concat(concat(column_name, ' ', column_type, ' ', column_key) "
                   "order by ordinal_position separator ',') from information_schema.columns "
                   "where table_schema = 'trundle' and table_name = '" + access_table + "'"),
            std::vector<std::string>{"A varchar(50) PRI,B varchar(100) ,C smallint(6) ,D "
                                     "smallint(6) ,E int(11) ,F double ,G datetime(3) ,H "
                                     "decimal(19,4) ,I tinyint(1) "});
  EXPECT_EQ(Column("select concat_ws('|', A, B, C, D, E, F, G, H, I) from " + access_table +
                   " order by A"),
            (std::vector<std::string>{"a|b|0|0|0|0|1981-12-12 00:00:00.000|0.0000|0",
                                      "abcdefg|hijklmnop|2|222|333333333|444.555|1974-09-21 "
                                      "00:00:00.000|3.5000|1"}));
}

// A wrong password and a password written into the connection string: refused, and
// neither appears in what the command prints.
TEST_F(MariadbTest, PasswordsAppearInNoOutput) {
  const std::string t = Table("t");
  Create(t, "(k int)");
  WriteFile(dir / "in.csv", "k\r\n1\r\n");
  EXPECT_NE(Cli({"--dest-kind", "odbc", "--dest-user", "trundle", "--dest-table", t, "in.csv",
                 server_ + ";PWD=s3cr3t-in-string"}),
            0);
  const std::string refused = ReadFile(dir / "log");
  EXPECT_NE(refused.find("environment variable"), std::string::npos) << refused;
  EXPECT_EQ(refused.find("s3cr3t"), std::string::npos) << refused;
  setenv("TRUNDLE_WRONG_PW", "not-the-s3cr3t", 1);
  EXPECT_NE(Cli({"--dest-kind", "odbc", "--dest-user", "trundle", "--dest-password-env",
                 "TRUNDLE_WRONG_PW", "--dest-table", t, "in.csv", server_}),
            0);
  const std::string denied = ReadFile(dir / "log").substr(refused.size());
  EXPECT_NE(denied.find("Access denied"), std::string::npos) << denied;
  EXPECT_EQ(denied.find("s3cr3t"), std::string::npos) << denied;
  EXPECT_EQ(Column("select count(*) from " + t), std::vector<std::string>{"0"});
}

// An auto-increment field that leads the primary key is AUTO_INCREMENT: the values given
// are kept and the next record without one gets the highest plus one; one that leads no
// key stays a plain integer, which the server would otherwise refuse.
TEST_F(MariadbTest, ACounterKeepsItsValuesAndCountsOnFromTheHighest) {
  const std::string table = Table("counted");
  Exec("drop table if exists " + table);
  TIndexDefs keys(1);
  keys[0].Name = "PrimaryKey";
  keys[0].Fields = {"id"};
  keys[0].Primary = true;
  const TFieldDefs fields = {{"id", ftAutoInc, 0, 0, true}, {"other", ftAutoInc}, {"name", ftString, 10}};
  std::vector<std::string> names;
  Exec(CreateTableSql(session_, table, fields, keys, names) + " default charset utf8mb4");
  Exec("insert into " + table +
       " (id, other, name) values (4, 1, 'a'), (0, 4, 'zero'), (17, 2, 'b'), (9, 3, 'c')");
  Exec("insert into " + table + " (name) values ('new')");
  // A source's own 0 is kept, not taken for "the next number".
  EXPECT_EQ(Column("select id from " + table + " where name in ('zero', 'new') order by id"),
            (std::vector<std::string>{"0", "18"}));
  EXPECT_EQ(Column("select concat(column_name, ' ', extra) from information_schema.columns where "
                   "table_schema = 'trundle' and table_name = '" + table +
                   "' order by ordinal_position"),
            (std::vector<std::string>{"id auto_increment", "other ", "name "}));
}

// Foreign keys are added to tables made without them; one over a child record with no
// parent is a line naming it, and the other is still made.
TEST_F(MariadbTest, RelationshipsAreAddedAndADirtyOneSaysWhy) {
  const std::string parent = Table("p"), clean = Table("clean"), dirty = Table("dirty");
  Exec("drop table if exists " + clean + ", " + dirty + ", " + parent);
  Create(parent, "(id integer primary key)");
  Create(clean, "(id integer, p integer)");
  Create(dirty, "(id integer, p integer)");
  Exec("insert into " + parent + " values (1), (2)");
  Exec("insert into " + clean + " values (1, 1), (2, null)");
  Exec("insert into " + dirty + " values (1, 3)");
  TRelationDefs wanted(2);
  wanted[0] = {Table("fk_clean"), clean, {"p"}, parent, {"id"}, false, true};
  wanted[1] = {Table("fk_dirty"), dirty, {"p"}, parent, {"id"}, false, false};
  const std::vector<std::string> lines =
      AddServerRelationships({server_, "trundle", kPassword, ""}, wanted);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(Table("fk_dirty")), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find(kPassword), std::string::npos) << lines[0];
  EXPECT_EQ(Column("select concat(constraint_name, ' ', delete_rule) from "
                   "information_schema.referential_constraints where constraint_schema = "
                   "'trundle' and table_name in ('" + clean + "', '" + dirty + "')"),
            std::vector<std::string>{Table("fk_clean") + " CASCADE"});
}

// A whole database from MariaDB into a new SQLite file: each table keeps its primary key
// and unique index, and the foreign key (two pairs, in key order, with its rule) is in
// SQLite's catalogue.
TEST_F(MariadbTest, AllTablesCarryKeysAndAForeignKeyIntoSqlite) {
  const std::string parent = Table("parent"), child = Table("child");
  Exec("drop table if exists " + child + ", " + parent);
  Create(parent, "(a integer not null, b integer not null, code varchar(10), "
                 "primary key (b, a), unique key " + Table("code") + " (code))");
  Create(child, "(id integer primary key, x integer, y integer, constraint " + Table("fk") +
                    " foreign key (y, x) references " + parent + " (b, a) on delete cascade)");
  Exec("insert into " + parent + " values (1, 2, 'one'), (3, 4, 'two')");
  Exec("insert into " + child + " values (10, 1, 2), (11, 3, 4), (12, null, null)");
  ASSERT_EQ(Cli({"--all-tables", "--tables", parent + "," + child, "--source-kind", "odbc",
                 "--source-user", "trundle", "--source-password-env", "TRUNDLE_PW", server_,
                 "out.sqlite"}),
            0)
      << ReadFile(dir / "log");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((dir / "out.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  const auto rows = [db](const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK)
      return std::vector<std::string>{sqlite3_errmsg(db)};
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        const unsigned char* text = sqlite3_column_text(statement, i);
        if (i) row += '|';
        row += text ? reinterpret_cast<const char*>(text) : "NULL";
      }
      out.push_back(row);
    }
    sqlite3_finalize(statement);
    return out;
  };
  EXPECT_EQ(rows("select \"table\", \"from\", \"to\", on_delete from pragma_foreign_key_list('" +
                 child + "') order by seq"),
            (std::vector<std::string>{parent + "|y|b|CASCADE", parent + "|x|a|CASCADE"}));
  EXPECT_EQ(rows("select name from pragma_table_info('" + parent + "') where pk > 0 order by pk"),
            (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(rows("select count(*) from pragma_index_list('" + parent + "') where \"unique\""),
            std::vector<std::string>{"2"});
  EXPECT_EQ(rows("select count(*) from " + child), std::vector<std::string>{"3"});
  EXPECT_EQ(rows("pragma foreign_key_check"), std::vector<std::string>{});
  sqlite3_close(db);
}

}  // namespace
}  // namespace trundle
