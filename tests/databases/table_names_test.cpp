#include "databases/sql/table_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fake_engine.h"

namespace trundle {
namespace {

namespace fs = std::filesystem;

TEST(TableNamesTest, RecognisesWholeTableSelects) {
  struct Case {
    const char* sql;
    std::optional<std::string> name;
  } cases[] = {
      {"select * from cust", "cust"},
      {"SELECT * FROM \"a\"\"b\";", "a\"b"},
      {"select*from[x y]", "x y"},
      {" select * from `t`  ; \n", "t"},
      {"select * from cust.dbf", "cust.dbf"},
      {"select * from \"/data/a,b.dbf\"", "/data/a,b.dbf"},
      {"select * from cust where 1", std::nullopt},
      {"select id from cust", std::nullopt},
      {"select * from a, b", std::nullopt},
      {"select * from cust; select 1", std::nullopt},
      {"selected * from x", std::nullopt},
      {"select * fromcust", std::nullopt},
      {"select * from \"unterminated", std::nullopt},
      {"select * from", std::nullopt},
      {"select * from \"\"", std::nullopt},
      {"select * from cust -- all", std::nullopt},
      {"select * from main.\"cust\"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(WholeTableSelectName(c.sql), c.name) << c.sql;
}

TEST(TableNamesTest, FindsFilesByNameExtensionAndLetterCase) {
  testing::RegisterFakeEngine();
  const fs::path folder =
      (fs::path(::testing::TempDir()) / ("names_" + std::to_string(getpid()))).lexically_normal();
  fs::remove_all(folder);
  fs::create_directories(folder / "dir.fake");  // a folder is never a table
  for (const char* name : {"Cust.FAKE", "orders.fake", "plain", "TWICE.FAKE", "twice.Fake"})
    std::ofstream(folder / name).close();
  const std::string base = folder.string();
  struct Case {
    std::string name;
    std::string found;  // file name in folder; "" for none
  } cases[] = {
      {"cust", "Cust.FAKE"},
      {"CUST.fake", "Cust.FAKE"},
      {"orders", "orders.fake"},
      {"ORDERS.FAKE", "orders.fake"},
      {(folder / "orders.fake").string(), "orders.fake"},
      // A relative path runs from the current folder first, then from base.
      {(folder.filename() / "x" / ".." / "orders").string(), "orders.fake"},
      {"x/../orders", "orders.fake"},
      {"twice", "TWICE.FAKE"},  // of two spellings, the first in byte order
      {"plain", ""},
      {"dir", ""},
      {"nosuch", ""},
  };
  const fs::path cwd = fs::current_path();
  fs::current_path(folder.parent_path());
  for (const Case& c : cases) {
    std::string looked_for;
    const std::optional<TableFile> file = FindTableFile(c.name, base, &looked_for);
    if (c.found.empty()) {
      EXPECT_FALSE(file) << c.name;
      EXPECT_EQ(looked_for, "looked for " + c.name + ", " + c.name + ".fake in " + base);
    } else {
      ASSERT_TRUE(file) << c.name;
      EXPECT_EQ(file->path, (folder / c.found).string());
      EXPECT_EQ(file->engine->name, "fake");
    }
  }
  fs::current_path(cwd);
  fs::remove_all(folder);
}

TEST(TableNamesTest, QuotesNamesForSql) {
  EXPECT_EQ(QuoteSqlName("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(QuoteSqlName("/d/x, y.dbf"), "\"/d/x, y.dbf\"");
}

}  // namespace
}  // namespace trundle
