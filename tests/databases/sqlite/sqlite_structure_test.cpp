// The structure a SQLite database carries beyond its fields: auto-increment fields and
// indexes read from a source and made again in a new table, foreign keys listed from a
// database and given to tables already made, read back from SQLite's own catalogue.
#include <gtest/gtest.h>

#include "databases/sqlite/sqlite_structure.h"
#include "databases/sqlite/sqlite_values.h"
#include "databases/sqlite/trundle_sqlite.h"
#include "engine/trundle.h"
#include "sqlite_test_util.h"

namespace trundle {
namespace {

using testing::Exec;
using testing::Joined;
using testing::kSqliteKind;
using testing::Rows;
using testing::RunJob;

class SqliteStructureTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::LendSqliteKind(); }

  ScratchFolder dir;
  std::string source = dir / "from.sqlite";
  std::string dest = dir / "to.sqlite";
};

const TIndexDef* Named(const TIndexDefs& defs, const std::string& name) {
  for (const TIndexDef& def : defs)
    if (def.Name == name) return &def;
  return nullptr;
}

// AUTOINCREMENT makes an auto-increment field, a plain rowid alias stays an integer; the
// source gives its unique and plain indexes, never a partial one or one over an expression.
TEST_F(SqliteStructureTest, ASourceTableGivesItsCounterAndItsIndexes) {
  Exec(source,
       "create table items(id integer primary key autoincrement, code text unique, name text, "
       "price real);"
       "create index items_name on items(name, price);"
       "create index items_cheap on items(price) where price < 1;"
       "create index items_lower on items(lower(name));"
       "create table plain(id integer primary key, x text);");
  TTrundleSqlite items;
  items.Database = source;
  items.TableName = "items";
  ASSERT_TRUE(items.OpenTable());
  const TFieldDefs fields = items.SourceFieldDefs(nullptr);
  EXPECT_EQ(fields[0].DataType, ftAutoInc);
  const TIndexDefs keys = items.SourceIndexDefs();
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_TRUE(keys[0].Primary);
  EXPECT_EQ(keys[0].Fields, std::vector<std::string>{"id"});
  const TIndexDef* by_name = Named(keys, "items_name");
  ASSERT_NE(by_name, nullptr);
  EXPECT_FALSE(by_name->Unique);
  EXPECT_EQ(by_name->Fields, (std::vector<std::string>{"name", "price"}));
  ASSERT_EQ(keys[1].Fields, std::vector<std::string>{"code"});
  EXPECT_TRUE(keys[1].Unique);
  EXPECT_EQ(Named(keys, "items_cheap"), nullptr);
  EXPECT_EQ(Named(keys, "items_lower"), nullptr);

  TTrundleSqlite plain;
  plain.Database = source;
  plain.TableName = "plain";
  ASSERT_TRUE(plain.OpenTable());
  EXPECT_EQ(plain.SourceFieldDefs(nullptr)[0].DataType, SqliteColumnOf("INTEGER").def.DataType);
}

// A table copied whole keeps its numbers, and the next record added without one gets the
// highest plus one, also after the highest was deleted; its plain index is made again.
TEST_F(SqliteStructureTest, ACopiedCounterKeepsItsValuesAndCountsOnFromTheHighest) {
  Exec(source,
       "create table items(id integer primary key autoincrement, name text);"
       "create index items_name on items(name);"
       "insert into items values (3, 'c'), (7, 'g'), (41, 'z');");
  TTrundle job;
  job.SetSourceKind(kSqliteKind);
  job.Source().Database = source;
  job.Source().TableName = "items";
  job.SetDestinationKind(kSqliteKind);
  job.Destination().Database = dest;
  job.Destination().TableName = "items";
  const std::vector<std::string> log = RunJob(job);
  ASSERT_EQ(job.outcome(), TRunOutcome::kMoved) << Joined(log);
  EXPECT_EQ(Rows(dest, "select id, name from items order by id"),
            (std::vector<std::string>{"3|c", "7|g", "41|z"}));
  EXPECT_EQ(Rows(dest, "select name, \"unique\" from pragma_index_list('items')"),
            std::vector<std::string>{"items_name|0"});
  Exec(dest, "delete from items where id = 41; insert into items(name) values ('new');");
  EXPECT_EQ(Rows(dest, "select id from items where name = 'new'"), std::vector<std::string>{"42"});
}

// Foreign keys of several fields keep their order and their cascades; one that names no
// parent fields refers to the parent's primary key.
TEST_F(SqliteStructureTest, RelationshipsAreListedWithTheirFieldsInOrder) {
  Exec(source,
       "create table parent(a integer, b text, primary key (b, a));"
       "create table kin(id integer primary key);"
       "create table child(id integer primary key, pa integer, pb text, k integer "
       "references kin on delete cascade, foreign key (pb, pa) references parent(b, a) "
       "on update cascade);");
  const TRelationDefs relations = SqliteRelationships(source);
  ASSERT_EQ(relations.size(), 2u);
  const TRelationDef& to_kin = relations[0].RefTable == "kin" ? relations[0] : relations[1];
  const TRelationDef& to_parent = relations[0].RefTable == "kin" ? relations[1] : relations[0];
  EXPECT_EQ(to_kin.Table, "child");
  EXPECT_EQ(to_kin.Fields, std::vector<std::string>{"k"});
  EXPECT_EQ(to_kin.RefFields, std::vector<std::string>{"id"});
  EXPECT_TRUE(to_kin.CascadeDelete);
  EXPECT_FALSE(to_kin.CascadeUpdate);
  EXPECT_EQ(to_parent.Fields, (std::vector<std::string>{"pb", "pa"}));
  EXPECT_EQ(to_parent.RefFields, (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(to_parent.CascadeUpdate);
  EXPECT_FALSE(to_parent.CascadeDelete);
  EXPECT_NE(to_kin.Name, to_parent.Name);
}

// Tables made without foreign keys get them: the child is made again with its records,
// indexes and triggers; a relationship over dirty data, a missing table or parent fields
// that are no key is one line each, and the others are still made.
TEST_F(SqliteStructureTest, RelationshipsAreAddedAndThoseThatCannotBeSayWhy) {
  Exec(dest,
       "create table customers(id integer primary key, name text, region text);"
       "create table orders(id integer primary key autoincrement, cust integer, note text);"
       "create index orders_cust on orders(cust);"
       "create table visits(id integer primary key, cust integer);"
       "insert into customers values (1, 'Ann', 'N'), (2, 'Bob', 'S');"
       "insert into orders values (10, 1, 'x'), (11, 2, null), (12, null, 'y');"
       "insert into visits values (1, 1), (2, 99);"
       "create trigger orders_note after insert on orders begin "
       "update orders set note = 'seen' where id = new.id and note is null; end;");
  TRelationDefs wanted(4);
  wanted[0] = {"orders_customers", "orders", {"cust"}, "customers", {"id"}, true, true};
  wanted[1] = {"visits_customers", "visits", {"cust"}, "customers", {"id"}, false, false};
  wanted[2] = {"orders_ghosts", "orders", {"cust"}, "ghosts", {"id"}, false, false};
  wanted[3] = {"orders_regions", "orders", {"cust"}, "customers", {"region"}, false, false};
  const std::vector<std::string> lines = AddSqliteRelationships(dest, wanted);
  ASSERT_EQ(lines.size(), 3u) << Joined(lines);
  EXPECT_NE(lines[0].find("visits_customers"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("1 records of visits have no matching record in customers"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find("ghosts is not in the database"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("not that table's primary key or a unique index"), std::string::npos)
      << lines[2];

  EXPECT_EQ(Rows(dest, "select \"table\", \"from\", \"to\", on_update, on_delete from "
                       "pragma_foreign_key_list('orders')"),
            std::vector<std::string>{"customers|cust|id|CASCADE|CASCADE"});
  EXPECT_TRUE(Rows(dest, "select 1 from pragma_foreign_key_list('visits')").empty());
  EXPECT_EQ(Rows(dest, "select id, cust, note from orders order by id"),
            (std::vector<std::string>{"10|1|x", "11|2|NULL", "12|NULL|y"}));
  EXPECT_EQ(Rows(dest, "select name from sqlite_schema where tbl_name = 'orders' and type in "
                       "('index', 'trigger') order by name"),
            (std::vector<std::string>{"orders_cust", "orders_note"}));
  EXPECT_EQ(Rows(dest, "select name from sqlite_schema where type = 'table' and name not like "
                       "'sqlite%' order by name"),
            (std::vector<std::string>{"customers", "orders", "visits"}));
  EXPECT_EQ(Rows(dest, "select seq from sqlite_sequence where name = 'orders'"),
            std::vector<std::string>{"12"});
  EXPECT_EQ(Rows(dest, "pragma integrity_check"), std::vector<std::string>{"ok"});
  // The foreign key holds: with enforcement on, a cascade reaches the child.
  Exec(dest, "pragma foreign_keys = on; update customers set id = 5 where id = 2;");
  EXPECT_EQ(Rows(dest, "select cust from orders where id = 11"), std::vector<std::string>{"5"});
}

TEST_F(SqliteStructureTest, ATableBodyStartsAtTheFirstParenthesisOutsideQuotes) {
  EXPECT_EQ(SqliteTableBody("CREATE TABLE \"a(b\" (x, y)"), "(x, y)");
  EXPECT_EQ(SqliteTableBody("create table [p(q] (x) strict"), "(x) strict");
  EXPECT_EQ(SqliteTableBody("create table `t``(` (x)"), "(x)");
  EXPECT_EQ(SqliteTableBody("create table \"open("), "");
}

}  // namespace
}  // namespace trundle
