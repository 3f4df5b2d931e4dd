// The DAO layer over real Access databases: versions, passwords, table lists, and SQL
// whose rows must be those SQLite gives over the same tables exported by mdbtools.
#include "databases/access/dao.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>

#include "access_test_util.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"
#include "databases/core/file_io.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using testing::AccessFixture;
using testing::CommandOutput;
using testing::ShellWord;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// The message Open() throws for the database, or "" when it opens.
std::string OpenError(const std::string& path, int version, const std::string& password = "") {
  TDAODatabase database;
  database.DatabaseName = path;
  database.DAOVersion = version;
  database.Password = password;
  try {
    database.Open();
  } catch (const TrundleError& e) {
    return e.what();
  }
  return database.Connected() ? "" : "not connected";
}

TEST(DaoDatabaseTest, EachEngineVersionOpensTheDatabasesOfItsEra) {
  const std::string jet3 = AccessFixture("testV1997.mdb");
  const std::string jet4 = AccessFixture("indexTestV2000.mdb");
  EXPECT_EQ(OpenError(jet3, kDao35), "");
  EXPECT_EQ(OpenError(jet3, kDao36), "");
  EXPECT_EQ(OpenError(jet4, kDao36), "");
  EXPECT_EQ(OpenError(jet4, kDao35), "Unrecognized database format '" + jet4 + "'.");
  EXPECT_EQ(OpenError(AccessFixture("testUnicodeCompV2003.mdb"), kDao35),
            "Unrecognized database format '" + AccessFixture("testUnicodeCompV2003.mdb") + "'.");
  // A missing file is the reader's message, which names the file.
  const std::string missing = OpenError(AccessFixture("nope.mdb"), kDao36);
  EXPECT_NE(missing.find("nope.mdb"), std::string::npos) << missing;
}

TEST(DaoDatabaseTest, APasswordIsCheckedAndNeverShown) {
  ScratchFolder dir;
  struct Case {
    const char* fixture;
    std::u16string password;
    std::string utf8;
  } cases[] = {{"testV1997.mdb", u"Sesam", "Sesam"},
               {"indexTestV2000.mdb", u"Sesam \u00F6ffne",
                "Sesam \xC3\xB6"
                "ffne"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    const std::string path = dir / c.fixture;
    testing::CopyWithPassword(AccessFixture(c.fixture), path, c.password);
    EXPECT_EQ(OpenError(path, kDao36, c.utf8), "");
    for (const std::string& wrong : {std::string(""), std::string("sesam"), c.utf8 + " "}) {
      const std::string message = OpenError(path, kDao36, wrong);
      EXPECT_EQ(message, "Not a valid password.") << wrong;
    }
    // Listing reports no error, and lists nothing it could not open.
    TDAODatabase database;
    database.DatabaseName = path;
    database.DAOVersion = kDao36;
    database.Password = "wrong";
    std::vector<std::string> names = {"left over"};
    database.GetTableNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(database.Connected());
  }
  // A database without a password opens whatever password is given.
  EXPECT_EQ(OpenError(AccessFixture("testV1997.mdb"), kDao35, "anything"), "");
}

TEST(DaoDatabaseTest, TableNamesAreTheUserTablesInTheCataloguesOrder) {
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb", "empty2000.mdb",
                              "delTestV1997.mdb", "test2V2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const std::string path = AccessFixture(fixture);
    TDAODatabase database;
    database.DatabaseName = path;
    database.DAOVersion = kDao36;
    std::vector<std::string> names;
    database.GetTableNames(names);
    EXPECT_EQ(names, Lines(CommandOutput("mdb-tables -1 " + ShellWord(path))));
    EXPECT_FALSE(database.Connected());  // connected for the call only
  }
}

// The same statement run by SQLite over mdbtools' export of the database.
class Oracle {
 public:
  explicit Oracle(const std::string& path) {
    sqlite3_open(":memory:", &db_);
    std::string sql = CommandOutput("mdb-schema " + ShellWord(path) + " sqlite");
    for (const std::string& table : Lines(CommandOutput("mdb-tables -1 " + ShellWord(path))))
      sql += CommandOutput("mdb-export -I sqlite -D '%Y-%m-%d %H:%M:%S' " + ShellWord(path) + " " +
                           ShellWord(table));
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
      ADD_FAILURE() << "the oracle cannot load " << path << ": " << error;
    sqlite3_free(error);
  }
  ~Oracle() { sqlite3_close(db_); }

  // Rows of text; NULL as "<null>".
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        row.push_back(text ? text : "<null>");
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
};

// Numbers compare as values (the two print them differently), the rest as text.
bool SameValue(const Variant& ours, const std::string& theirs) {
  if (ours.IsNull()) return theirs == "<null>";
  switch (ours.type()) {
    case VarType::kInteger:
    case VarType::kFloat:
    case VarType::kCurrency:
    case VarType::kBoolean: {
      char* end = nullptr;
      const double value = std::strtod(theirs.c_str(), &end);
      return end != theirs.c_str() && *end == '\0' && std::abs(value - ours.ToDouble()) < 1e-9;
    }
    default:
      return ours.ToText() == theirs;
  }
}

TEST(DaoQueryTest, StatementsGiveTheRowsSqliteGivesOverTheExportedTables) {
  struct Case {
    const char* fixture;
    const char* sql;
  } cases[] = {
      {"indexTestV2000.mdb", "select data from [table1] where otherfk1 = 1 order by 1"},
      {"indexTestV2000.mdb",
       "select t1.id, t2.data, t3.data from Table1 t1 join Table2 t2 on t2.id = t1.otherfk1 "
       "join Table3 t3 on t3.id = t1.otherfk2 order by t1.id"},
      {"indexTestV2000.mdb",
       "select t2.data, count(*), sum(t1.otherfk2) from Table1 t1 join [TABLE2] t2 "
       "on t2.id = t1.otherfk1 group by t2.data order by 1"},
      {"testV1997.mdb", "select A, B, C, D, E, F, H from Table1 where I order by E desc"},
      {"testV1997.mdb", "select count(*), sum(E), max(F), min(A) from Table1 where D >= 0"},
      {"delTestV2000.mdb", "select b, a from [Table] order by a"},
      {"delTestV1997.mdb", "select count(*) from [table]"},
      {"delColTestV2000.mdb", "select id, data2 from Table1 order by id desc"},
      {"overflowTestV2000.mdb", "select data1 from Table1 where data1 like 'row%' order by 1 desc"},
      {"testUnicodeCompV2003.mdb", "select ID, Unicode from [Table] where ID > 1 order by Unicode"},
      {"fixedNumericTestV2000.mdb", "select col1, col2 + col5 from test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + ": " + c.sql);
    TDAODatabase database;
    database.DatabaseName = AccessFixture(c.fixture);
    database.DAOVersion = kDao36;
    database.Open();
    TDAOQuery query(database);
    query.SQL = c.sql;
    query.Open();
    const auto want = Oracle(AccessFixture(c.fixture)).Rows(c.sql);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(query.RecordCount(), static_cast<int64_t>(want.size()));
    size_t row = 0;
    for (; !query.Eof(); query.Next(), ++row) {
      ASSERT_LT(row, want.size());
      ASSERT_EQ(static_cast<size_t>(query.FieldCount()), want[row].size());
      for (int i = 0; i < query.FieldCount(); ++i)
        EXPECT_TRUE(SameValue(query.Value(i), want[row][static_cast<size_t>(i)]))
            << "row " << row << " column " << i << ": ours '" << query.Value(i).ToText()
            << "', SQLite's '" << want[row][static_cast<size_t>(i)] << "'";
    }
    EXPECT_EQ(row, want.size());
  }
}

// A whole table read straight through, and the same through SQLite, give the same
// records; counts are the tables' live rows.
TEST(DaoQueryTest, WholeTablesReadDirectlyAndThroughSqliteAlike) {
  for (const char* fixture :
       {"testV1997.mdb", "delTestV2000.mdb", "overflowTestV2000.mdb", "testUnicodeCompV2003.mdb"}) {
    TDAODatabase database;
    database.DatabaseName = AccessFixture(fixture);
    database.DAOVersion = kDao36;
    database.Open();
    std::vector<std::string> tables;
    database.GetTableNames(tables);
    for (const std::string& table : tables) {
      SCOPED_TRACE(std::string(fixture) + " " + table);
      TDAOQuery direct(database), sql(database);
      direct.SQL = "select * from [" + table + "]";
      sql.SQL = "select * from [" + table + "] where 1";
      direct.Open();
      sql.Open();
      const std::string count =
          CommandOutput("mdb-count " + ShellWord(database.DatabaseName) + " " + ShellWord(table));
      EXPECT_EQ(direct.RecordCount(), std::stoll(count));
      EXPECT_EQ(sql.RecordCount(), direct.RecordCount());
      ASSERT_EQ(sql.FieldCount(), direct.FieldCount());
      for (int i = 0; i < direct.FieldCount(); ++i) {
        EXPECT_EQ(sql.FieldDefs()[i].Name, direct.FieldDefs()[i].Name);
        EXPECT_EQ(sql.FieldDefs()[i].DataType, direct.FieldDefs()[i].DataType);
      }
      for (; !direct.Eof(); direct.Next(), sql.Next()) {
        ASSERT_FALSE(sql.Eof());
        for (int i = 0; i < direct.FieldCount(); ++i)
          EXPECT_EQ(sql.Value(i).ToText(), direct.Value(i).ToText()) << i;
      }
      EXPECT_TRUE(sql.Eof());
      direct.First();
      EXPECT_EQ(direct.Eof(), direct.RecordCount() == 0);
    }
  }
}

TEST(DaoQueryTest, NamesThatAreNoUserTableSaySo) {
  TDAODatabase database;
  database.DatabaseName = AccessFixture("indexTestV2000.mdb");
  database.DAOVersion = kDao36;
  database.Open();
  for (const char* sql : {"select * from Customers", "select * from MSysObjects",
                          "select t.id from Table1 t join Customers c on c.id = t.id"}) {
    TDAOQuery query(database);
    query.SQL = sql;
    try {
      query.Open();
      ADD_FAILURE() << sql << " opened";
    } catch (const TrundleError& e) {
      const std::string name =
          std::string(sql).find("MSys") != std::string::npos ? "MSysObjects" : "Customers";
      EXPECT_EQ(std::string(e.what()), "no such table: " + name +
                                           " (no user table of that name in " +
                                           database.DatabaseName + ")");
    }
  }
}

// A run stopped in the middle of a batch (Ctrl-C or SIGTERM: the job rolls the batch back
// and ends the appending) into a keyed table it created: the committed records stay,
// and the table has its indexes, built at the end.
TEST(DaoDatabaseTest, AppendingStoppedMidBatchEndsWithTheIndexesBuilt) {
  ScratchFolder dir;
  const std::string path = dir / "stop.mdb";
  WriteFile(path, ReadFile(AccessFixture("indexTestV2000.mdb")));
  TDAODatabase database;
  database.DatabaseName = path;
  database.DAOVersion = kDao36;
  database.Open();
  TDAOTableDef def = database.CreateTableDef("Keyed");
  def.Fields.Append(def.CreateField("id", dbLong));
  def.Fields.Append(def.CreateField("data", dbText, 50));
  def.Indexes.push_back(TDAOIndex{"PrimaryKey", {"id"}, true, true});
  database.TableDefs_Append(def);
  database.OpenAppend("Keyed");
  std::vector<Variant> row(2);
  for (int n = 0; n < 2500; ++n) {
    row.assign(2, Variant());
    row[0].SetInteger(int64_t(n) * 7919 % 100003);
    row[1].SetString("x");
    database.Append(row);
    if (n % 1000 == 999) database.CommitTrans(1);
  }
  database.Rollback();
  database.EndAppend();
  EXPECT_EQ(database.TakeEndAppendError(), "");
  database.Close();
  const jet::TableDef keyed = jet::JetDatabase::Open(path)->Definition("Keyed");
  EXPECT_EQ(keyed.row_count, 2000u);
  ASSERT_EQ(keyed.indexes.size(), 1u);
  EXPECT_EQ(keyed.indexes[0].entry_count, 2000u);
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(path);
  EXPECT_TRUE(report.sound()) << report.Text();
}

}  // namespace
}  // namespace trundle
