// Every table of every fixture database read by us equals what mdb-export and npm's
// mdb-reader read from it (rows compared as sets of values: numbers, dates as values).

#include <gtest/gtest.h>

#include <algorithm>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"

namespace trundle {
namespace {

using jet::JetDatabase;
using jet_test::Fixture;

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// mdb-export cannot tell Null from empty text.
std::vector<std::string> EmptyTextAsNull(std::vector<std::string> rows) {
  for (std::string& row : rows) {
    std::string out;
    size_t start = 0;
    while (true) {
      const size_t tab = row.find('\t', start);
      const std::string cell = row.substr(start, tab == std::string::npos ? tab : tab - start);
      if (start) out.push_back('\t');
      out += cell == "s:" ? std::string("N") : cell;
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    row = out;
  }
  return rows;
}

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (size_t tab; (tab = row.find('\t', start)) != std::string::npos; start = tab + 1)
    cells.push_back(row.substr(start, tab - start));
  cells.push_back(row.substr(start));
  return cells;
}

// Same rows in any order; a difference is reported by its first differing cell.
void ExpectSameRows(std::vector<std::string> ours, std::vector<std::string> theirs,
                    const char* oracle) {
  ours = Sorted(std::move(ours));
  theirs = Sorted(std::move(theirs));
  ASSERT_EQ(ours.size(), theirs.size()) << oracle << " reads another number of rows";
  for (size_t r = 0; r < ours.size(); ++r) {
    if (ours[r] == theirs[r]) continue;
    const auto a = Cells(ours[r]), b = Cells(theirs[r]);
    ASSERT_EQ(a.size(), b.size()) << oracle << " reads another number of columns";
    for (size_t c = 0; c < a.size(); ++c)
      ASSERT_EQ(a[c].substr(0, 200), b[c].substr(0, 200))
          << oracle << ": row " << r << " (sorted), column " << c;
    FAIL() << "rows differ";
  }
}

TEST(JetFixtures, OraclesAreInstalled) {
  int status = 0;
  jet_test::Run("mdb-export --version >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0) << "mdbtools is missing: run scripts/setup.sh";
  EXPECT_FALSE(jet_test::ReaderTables(Fixture("testV1997.mdb")).empty())
      << "mdb-reader is missing: run scripts/setup.sh";
}

TEST(JetFixtures, UserTablesMatchTheOracles) {
  for (const std::string& name : jet_test::FixtureNames()) {
    SCOPED_TRACE(name);
    auto db = JetDatabase::Open(Fixture(name));
    EXPECT_EQ(db->UserTables(), jet_test::ReaderTables(Fixture(name)));
    std::vector<std::string> listed;
    for (const std::string& t : [&] {
           std::vector<std::string> v;
           std::string out =
               jet_test::Run("timeout 60 mdb-tables -1 " + jet_test::Quote(Fixture(name)));
           size_t s = 0;
           for (size_t e; (e = out.find('\n', s)) != std::string::npos; s = e + 1)
             if (e > s) v.push_back(out.substr(s, e - s));
           return v;
         }())
      listed.push_back(t);
    EXPECT_EQ(db->UserTables(), listed);
  }
}

TEST(JetFixtures, EveryTableReadsAsTheOraclesReadIt) {
  int tables = 0;
  for (const std::string& name : jet_test::FixtureNames()) {
    auto db = JetDatabase::Open(Fixture(name));
    for (const std::string& table : db->UserTables()) {
      SCOPED_TRACE(name + " " + table);
      ++tables;
      const std::vector<std::string> ours = jet_test::OurRows(*db, table);
      auto reader = db->OpenTable(table);
      EXPECT_EQ(reader->record_count(), int64_t(ours.size()));
      ExpectSameRows(ours, jet_test::ReaderRows(Fixture(name), table, reader->fields()),
                     "mdb-reader");
      ExpectSameRows(EmptyTextAsNull(ours),
                     jet_test::ExportRows(Fixture(name), table, reader->fields()), "mdb-export");
    }
  }
  EXPECT_GE(tables, 14);
}

// The system tables hold what the user tables lack: Jet 3 rows past 256 bytes (the jump
// table), long binary property values, many text and date columns.
TEST(JetFixtures, SystemTablesReadAsMdbReaderReadsThem) {
  for (const std::string& name : jet_test::FixtureNames()) {
    auto db = JetDatabase::Open(Fixture(name));
    std::vector<std::string> ours = db->AllTables(),
                             theirs = jet_test::ReaderTables(Fixture(name), true);
    EXPECT_EQ(Sorted(ours), Sorted(theirs)) << name;
    for (const std::string& table : ours) {
      if (db->FindTable(table)) continue;  // user tables: above
      const auto cols = db->Columns(table);
      if (std::any_of(cols.begin(), cols.end(), [](const jet::JetColumn& c) {
            return c.type == 13 || c.type == 14 || c.type == 17 || c.type > 19;
          }))
        continue;  // mdb-reader knows no such type (MSysAccessObjects' type 17 blocks)
      SCOPED_TRACE(name + " " + table);
      auto reader = db->OpenAnyTable(table);
      ExpectSameRows(jet_test::OurRows(*db, table, true),
                     jet_test::ReaderRows(Fixture(name), table, reader->fields()), "mdb-reader");
    }
  }
}

// Index definitions: Access names a primary key "PrimaryKey" and makes its index unique
// and Null-free; every key column is a column of the table.
TEST(JetFixtures, IndexDefinitionsHoldKeysAndColumns) {
  int indexes = 0, keys = 0;
  for (const std::string& name : jet_test::FixtureNames()) {
    auto db = JetDatabase::Open(Fixture(name));
    for (const std::string& table : db->UserTables()) {
      SCOPED_TRACE(name + " " + table);
      const jet::TableDef def = db->Definition(table);
      indexes += int(def.indexes.size());
      for (const jet::LogicalIndex& l : def.logical_indexes) {
        ASSERT_LT(size_t(l.physical), def.indexes.size());
        if (l.kind != jet::kIndexPrimaryKey) continue;
        ++keys;
        EXPECT_EQ(l.name, "PrimaryKey");
        EXPECT_EQ(def.indexes[size_t(l.physical)].flags & (jet::kIndexUnique | jet::kIndexRequired),
                  jet::kIndexUnique | jet::kIndexRequired);
      }
      for (const jet::PhysicalIndex& x : def.indexes) EXPECT_FALSE(x.columns.empty());
    }
  }
  EXPECT_GE(indexes, 10);
  EXPECT_GE(keys, 3);
}

}  // namespace
}  // namespace trundle
