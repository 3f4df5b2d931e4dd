// The keys a server's ODBC catalogue gives, through the SQLite ODBC driver and a
// throw-away PostgreSQL server: primary keys and unique indexes in key order, foreign
// keys pair by pair with their rules, and the server kind's relationships.
#include "databases/server/server_keys.h"

#include <gtest/gtest.h>
#include <sqlext.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "databases/kinds/database_kinds.h"
#include "databases/server/odbc.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

class ServerKeysTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (postgres()) {
      const std::string port = ReadFile(std::string(TRUNDLE_PG_STATE) + "/port");
      ASSERT_FALSE(port.empty()) << "the PostgreSQL test server is not running";
      connection_.database =
          "Driver=" TRUNDLE_PSQL_ODBC ";Server=127.0.0.1;Port=" + port.substr(0, port.find('\n')) +
          ";Database=trundle";
      connection_.user = "trundle";
      connection_.password = "trundle-pw";
    } else {
      connection_.database = "Driver=" TRUNDLE_SQLITE_ODBC ";Database=" + (dir / "keys.db");
    }
    prefix_ = std::string("k_") + (postgres() ? "pg_" : "sq_") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    prefix_ = prefix_.substr(0, prefix_.find('/'));
    for (char& c : prefix_) c = char(tolower(static_cast<unsigned char>(c)));
    session_.LogonDatabase = connection_.database;
    session_.LogonUsername = connection_.user;
    session_.LogonPassword = connection_.password;
    session_.LogOn();
  }
  bool postgres() const { return GetParam(); }
  std::string Table(const std::string& name) const { return prefix_ + "_" + name; }
  void Exec(const std::string& sql) {
    odbc::Handle statement(SQL_HANDLE_STMT, session_.connection());
    std::string text = sql;
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
                statement, sql);
    session_.Commit();
  }
  void Drop(const std::vector<std::string>& tables) {
    for (const std::string& t : tables)
      Exec("drop table if exists " + t + (postgres() ? " cascade" : ""));
  }

  ScratchFolder dir;
  ConnectionFields connection_;
  TOracleSession session_;
  std::string prefix_;
};

std::string Shown(const TIndexDef& key) {
  std::string out = key.Primary ? "primary(" : key.Unique ? "unique(" : "plain(";
  for (const std::string& f : key.Fields) out += f + " ";
  return out + ")";
}

std::string Shown(const TRelationDef& r) {
  std::string out = r.Table + "(";
  for (const std::string& f : r.Fields) out += f + " ";
  out += ")->" + r.RefTable + "(";
  for (const std::string& f : r.RefFields) out += f + " ";
  return out + ")" + (r.CascadeUpdate ? " u" : "") + (r.CascadeDelete ? " d" : "");
}

// A primary key declared in another order than its columns keeps the key's order; a
// unique index is given, a plain one and one repeating the primary key are not.
TEST_P(ServerKeysTest, PrimaryKeyAndUniqueIndexesInKeyOrder) {
  const std::string t = Table("t");
  Drop({t});
  Exec("create table " + t +
       " (a integer not null, b integer not null, c integer, d integer, "
       "primary key (b, a))");
  Exec("create unique index " + t + "_c on " + t + " (c)");
  Exec("create index " + t + "_d on " + t + " (d)");
  Exec("create unique index " + t + "_again on " + t + " (b, a)");
  const std::optional<TIndexDefs> keys = ReadServerKeys(session_, t);
  ASSERT_TRUE(keys);
  std::vector<std::string> shown;
  for (const TIndexDef& k : *keys) shown.push_back(Shown(k));
  EXPECT_EQ(shown, (std::vector<std::string>{"primary(b a )", "unique(c )"}));
  EXPECT_EQ(keys->at(1).Name, t + "_c");
  // A table without keys has none.
  const std::string bare = Table("bare");
  Drop({bare});
  Exec("create table " + bare + " (x integer)");
  ASSERT_TRUE(ReadServerKeys(session_, bare));
  EXPECT_TRUE(ReadServerKeys(session_, bare)->empty());
}

// Two keys from one table into one parent stay two (SQLite names neither), a key of two
// pairs keeps them in key order, and the cascade rules come along.
TEST_P(ServerKeysTest, ForeignKeysPairByPairWithTheirRules) {
  const std::string parent = Table("parent"), child = Table("child"), other = Table("other");
  Drop({child, other, parent});
  Exec("create table " + parent + " (a integer not null, b integer not null, primary key (a, b))");
  Exec("create table " + child +
       " (id integer primary key, x integer, y integer, z integer, "
       "w integer, foreign key (y, x) references " +
       parent +
       " (a, b) on delete cascade, "
       "foreign key (w, z) references " +
       parent + " (a, b) on update cascade)");
  Exec("create table " + other + " (id integer)");
  const std::optional<TRelationDefs> keys = ReadServerForeignKeys(session_, {child, other});
  ASSERT_TRUE(keys);
  std::vector<std::string> shown;
  for (const TRelationDef& r : *keys) shown.push_back(Shown(r));
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, (std::vector<std::string>{child + "(w z )->" + parent + "(a b ) u",
                                             child + "(y x )->" + parent + "(a b ) d"}));
  ASSERT_EQ(keys->size(), 2u);
  EXPECT_FALSE(keys->at(0).Name.empty());
  EXPECT_NE(keys->at(0).Name, keys->at(1).Name);

  // The kind gives them to the whole-database run.
  const KindDeclaration kind = ServerKind();
  ASSERT_TRUE(kind.list_relationships);
  size_t found = 0;
  for (const TRelationDef& r : kind.list_relationships(connection_))
    found += r.Table == child && r.RefTable == parent;
  EXPECT_EQ(found, 2u);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ServerKeysTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& driver) {
                           return driver.param ? "PostgreSQL" : "SQLite";
                         });

}  // namespace
}  // namespace trundle
