// A SQLite file told from other files (a Paradox .db above all), and the tables it lists.
#include "databases/sqlite/sqlite_file.h"

#include <gtest/gtest.h>

#include "engine/errors.h"
#include "sqlite_test_util.h"

namespace trundle {
namespace {

using testing::Exec;

TEST(SqliteFileTest, KnownByItsExtensionsOrItsFirstBytes) {
  ScratchFolder dir;
  Exec(dir / "shop.db", "create table t(a)");
  Exec(dir / "shop.data", "create table t(a)");
  WriteFile(dir / "almost.db", std::string("SQLite format 3") + "x and more bytes after it");
  WriteFile(dir / "short.db", "SQLite format");
  WriteFile(dir / "empty.db", "");
  const std::string paradox = std::string(TRUNDLE_FIXTURES) + "/paradox/AccessZone.db";
  struct Case {
    std::string path;
    bool sqlite;
  };
  for (const Case& c :
       {Case{dir / "shop.db", true}, Case{dir / "shop.data", true}, Case{dir / "new.sqlite", true},
        Case{dir / "NEW.SQLITE3", true}, Case{dir / "x.Db3", true}, Case{paradox, false},
        Case{dir / "missing.db", false}, Case{dir / "almost.db", false},
        Case{dir / "short.db", false}, Case{dir / "empty.db", false}, Case{dir.path(), false},
        Case{dir / "x.sqlite.bak", false}}) {
    EXPECT_EQ(IsSqlitePath(c.path), c.sqlite) << c.path;
  }
  EXPECT_TRUE(SqliteHeaderAt(dir / "shop.db"));
  EXPECT_FALSE(SqliteHeaderAt(dir / "new.sqlite"));  // no such file: the extension alone
}

// Tables and views in the order they were made; never SQLite's own tables, nor the
// tables a virtual table keeps its data in.
TEST(SqliteFileTest, ListsTablesAndViewsButNotSqlitesOwn) {
  ScratchFolder dir;
  const std::string db = dir / "shop.sqlite";
  Exec(db,
       "create table zeta(a);"
       "create table Alpha(id integer primary key autoincrement, b);"  // makes sqlite_sequence
       "create index alpha_b on Alpha(b);"
       "create view \"big orders\" as select * from zeta;"
       "create virtual table notes using fts5(body);"
       "insert into Alpha(b) values (1); analyze;");  // makes sqlite_stat1
  EXPECT_EQ(SqliteTableNames(db),
            (std::vector<std::string>{"zeta", "Alpha", "big orders", "notes"}));
}

TEST(SqliteFileTest, ListingAFileThatIsNoDatabaseSaysWhichAndWhy) {
  ScratchFolder dir;
  WriteFile(dir / "notes.db3", std::string(4096, 'x'));
  struct Case {
    std::string path;
    std::string message;
  };
  for (const Case& c :
       {Case{dir / "missing.sqlite", "Database " + dir / "missing.sqlite" + " doesn't exist"},
        Case{dir / "notes.db3", dir / "notes.db3" + " is not a SQLite database"},
        Case{dir.path(), "Could not open " + dir.path() + ": it is a folder"}}) {
    try {
      SqliteTableNames(c.path);
      ADD_FAILURE() << c.path;
    } catch (const TrundleError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(ReadFile(dir / "notes.db3"), std::string(4096, 'x'));
}

}  // namespace
}  // namespace trundle
