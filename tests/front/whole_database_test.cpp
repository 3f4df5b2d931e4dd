// Whole databases in one run: a folder or database of tables into another, each table by
// a run of its own. The sources are made by our own writers (a folder of CSV files copied
// into SQLite or Access first).
#include "front/whole_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "front/register_adaptors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

const std::map<std::string, std::string> kTables = {
    {"Orders", "\"ID\",\"ITEM\",\"QTY\"\r\n\"1\",\"pen\",\"3\"\r\n\"2\",\"ink\",\"10\"\r\n"},
    {"Größe", "\"CODE\",\"TEXT\"\r\n\"S\",\"klein\"\r\n\"XL\",\"sehr groß\"\r\n"},
    {"people", "\"NAME\"\r\n\"Ann\"\r\n\"Bo\"\r\n\"Cy\"\r\n"},
};

void WriteCsvFolder(const std::string& folder, const std::map<std::string, std::string>& tables) {
  std::filesystem::create_directories(folder);
  for (const auto& [name, text] : tables) WriteFile(folder + "/" + name + ".csv", text);
}

std::map<std::string, std::string> ReadFolder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  return files;
}

EndDescription Folder(TDataKind kind, const std::string& path) {
  EndDescription end;
  end.kind = kind;
  end.file = path;
  return end;
}

EndDescription Database(TDataKind kind, const std::string& path) {
  EndDescription end;
  end.kind = kind;
  end.database = path;
  end.dao_version = kind == dkAccess ? "dao36" : "";
  end.create_database = kind == dkAccess;
  return end;
}

// Runs a whole-database copy; the tables that did not arrive. `log` gets every line,
// prefixed by its table.
int Copy(const EndDescription& from, const EndDescription& to, std::string* log = nullptr,
         int jobs = 1, std::vector<std::string> only = {}, std::vector<std::string> without = {}) {
  WholeDatabaseOptions o;
  o.source = from;
  o.destination = to;
  o.jobs = jobs;
  o.tables = std::move(only);
  o.exclude_tables = std::move(without);
  WholeDatabaseRun run(o);
  run.OnMessage = [log](const std::string& table, const std::string& line) {
    if (log) *log += "[" + table + "] " + line + "\n";
  };
  return run.Run();
}

class WholeDatabaseTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAllAdaptors(); }
  ScratchFolder dir_;
};

std::map<std::string, std::string> CsvFiles() {
  std::map<std::string, std::string> files;
  for (const auto& [name, text] : kTables) files[name + ".csv"] = text;
  return files;
}

// Every table goes into a database and comes out whole, the non-ASCII name included:
// through SQLite, and through a new Access database made for the run.
TEST_F(WholeDatabaseTest, TablesRoundTripThroughSqliteAndAccess) {
  WriteCsvFolder(dir_ / "in", kTables);
  for (TDataKind kind : {dkSqlite, dkAccess}) {
    SCOPED_TRACE(kind == dkSqlite ? "sqlite" : "access");
    const std::string db = dir_ / (kind == dkSqlite ? "all.sqlite" : "all.mdb");
    const std::string out = dir_ / (kind == dkSqlite ? "out-sqlite" : "out-access");
    std::string log;
    ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Database(kind, db), &log), 0) << log;
    EXPECT_EQ(DatabaseTables(kind, db, "", "", "dao36").size(), 3u);
    ASSERT_EQ(Copy(Database(kind, db), Folder(dkCsv, out), &log), 0) << log;
    EXPECT_EQ(ReadFolder(out), CsvFiles());
  }
}

// SQLite into a folder of dBase files and back: the folder is made, one .dbf per table
// (its memo and code page files beside it are no tables when read back).
TEST_F(WholeDatabaseTest, SqliteIntoADbaseFolderAndBack) {
  WriteCsvFolder(dir_ / "in", kTables);
  std::string log;
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Database(dkSqlite, dir_ / "a.sqlite"), &log), 0);
  ASSERT_EQ(Copy(Database(dkSqlite, dir_ / "a.sqlite"), Folder(dkDBase, dir_ / "new/dbf"), &log),
            0)
      << log;
  for (const auto& [name, text] : kTables)
    EXPECT_TRUE(std::filesystem::exists(dir_ / ("new/dbf/" + name + ".dbf"))) << name;
  ASSERT_EQ(Copy(Folder(dkUnknown, dir_ / "new/dbf"), Database(dkSqlite, dir_ / "b.sqlite"), &log),
            0)
      << log;
  ASSERT_EQ(Copy(Database(dkSqlite, dir_ / "b.sqlite"), Folder(dkCsv, dir_ / "out"), &log), 0);
  const auto out = ReadFolder(dir_ / "out");
  ASSERT_EQ(out.size(), 3u);
  // dBase keeps text padded to its width and numbers as numbers; the rows all arrive.
  EXPECT_NE(out.at("people.csv").find("Cy"), std::string::npos);
  EXPECT_NE(out.at("Größe.csv").find("sehr groß"), std::string::npos);
  EXPECT_NE(out.at("Orders.csv").find("ink"), std::string::npos);
}

// --tables and --exclude-tables pick tables; a name the source lacks is refused by name
// before anything is written; system tables are never planned.
TEST_F(WholeDatabaseTest, TablesArePickedAndUnknownNamesRefused) {
  auto tables = kTables;
  tables["MSysObjects"] = "\"ID\"\r\n\"1\"\r\n";
  WriteCsvFolder(dir_ / "in", tables);
  WholeDatabaseOptions o;
  o.source = Folder(dkCsv, dir_ / "in");
  o.destination = Folder(dkCsv, dir_ / "out");
  {
    WholeDatabaseRun run(o);
    ASSERT_EQ(run.Plan(), "");
    EXPECT_EQ(run.Tables(), (std::vector<std::string>{"Größe", "Orders", "people"}));
  }
  o.tables = {"orders", "people"};
  o.exclude_tables = {"People"};
  {
    WholeDatabaseRun run(o);
    ASSERT_EQ(run.Plan(), "");
    EXPECT_EQ(run.Tables(), std::vector<std::string>{"Orders"});
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(ReadFolder(dir_ / "out").size(), 1u);
  }
  o.tables = {"Orders", "Missing"};
  WholeDatabaseRun run(o);
  EXPECT_EQ(run.Plan(), "The table Missing is not in " + (dir_ / "in"));
  EXPECT_EQ(run.Run(), -1);
  EXPECT_EQ(ReadFolder(dir_ / "out").size(), 1u);
}

// Tables whose names are no file names, or only differ in letter case, become files of
// their own in a folder; no two share one.
TEST_F(WholeDatabaseTest, FileNamesAreMendedAndNeverShared) {
  // Two source tables "a b" and "A b" from two kinds' files of one stem each.
  std::filesystem::create_directories(dir_ / "in");
  WriteFile(dir_ / "in/a b.csv", "\"X\"\r\n\"1\"\r\n");
  WriteFile(dir_ / "in/A b.txt", "X\r\n2\r\n");
  WholeDatabaseOptions o;
  o.source = Folder(dkUnknown, dir_ / "in");
  o.destination = Folder(dkCsv, dir_ / "out");
  WholeDatabaseRun run(o);
  ASSERT_EQ(run.Plan(), "");
  ASSERT_EQ(run.Tables().size(), 2u);
  EXPECT_NE(run.DestinationOf(run.Tables()[0]), run.DestinationOf(run.Tables()[1]));
  EXPECT_EQ(run.Run(), 0);
  EXPECT_EQ(ReadFolder(dir_ / "out").size(), 2u);
}

// A table that fails leaves the others to arrive; its result says why, the summary
// names it, and the run counts it.
TEST_F(WholeDatabaseTest, AFailingTableDoesNotStopTheOthers) {
  WriteCsvFolder(dir_ / "in", kTables);
  // The file Orders would become is a folder: that table cannot be written.
  std::filesystem::create_directories(dir_ / "out/Orders.csv/x");
  WholeDatabaseOptions o;
  o.source = Folder(dkCsv, dir_ / "in");
  o.destination = Folder(dkCsv, dir_ / "out");
  WholeDatabaseRun run(o);
  std::vector<std::string> finished;
  run.OnTableFinished = [&finished](const TableResult& r) { finished.push_back(r.table); };
  EXPECT_EQ(run.Run(), 1);
  EXPECT_EQ(finished.size(), 3u);
  for (const TableResult& r : run.Results()) {
    SCOPED_TRACE(r.table);
    EXPECT_EQ(r.outcome == TableOutcome::kMoved, r.table != "Orders") << r.error;
    if (r.table == "Orders") {
      EXPECT_FALSE(r.error.empty());
    }
  }
  EXPECT_EQ(ReadFile(dir_ / "out/people.csv"), kTables.at("people"));
  EXPECT_NE(run.Summary().find("did not arrive whole: Orders"), std::string::npos) << run.Summary();
  EXPECT_NE(run.ReportJson().find("\"failed\": 1"), std::string::npos);
}

// Several tables at once give what one at a time gives, into a folder and into one
// SQLite file (whose tables are written one after another), and every log line stays
// whole and prefixed by its table.
TEST_F(WholeDatabaseTest, TwoJobsGiveWhatOneGives) {
  std::map<std::string, std::string> tables;
  for (int t = 0; t < 8; ++t) {
    std::string text = "\"N\",\"T\"\r\n";
    for (int r = 0; r < 300 * (t + 1); ++r)
      text.append("\"").append(std::to_string(r)).append("\",\"t").append(std::to_string(t)).append(
          "\"\r\n");
    tables["t" + std::to_string(t)] = text;
  }
  WriteCsvFolder(dir_ / "in", tables);
  std::string log1, log2;
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Folder(dkCsv, dir_ / "one"), &log1, 1), 0);
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Folder(dkCsv, dir_ / "two"), &log2, 2), 0);
  EXPECT_EQ(ReadFolder(dir_ / "one"), ReadFolder(dir_ / "two"));
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Database(dkSqlite, dir_ / "two.sqlite"), &log2, 2), 0)
      << log2;
  EXPECT_NE(log2.find("takes one writer at a time"), std::string::npos);
  ASSERT_EQ(Copy(Database(dkSqlite, dir_ / "two.sqlite"), Folder(dkCsv, dir_ / "back"), &log2, 2),
            0);
  EXPECT_EQ(ReadFolder(dir_ / "back"), ReadFolder(dir_ / "one"));
  // Each table's closing line follows its own prefix.
  for (int t = 0; t < 8; ++t)
    EXPECT_NE(log2.find("[t" + std::to_string(t) + "] moved: " + std::to_string(300 * (t + 1)) +
                        " records moved"),
              std::string::npos)
        << t;
}

// Existing destination tables are appended to, their structure left alone.
TEST_F(WholeDatabaseTest, ExistingTablesAreAppendedTo) {
  WriteCsvFolder(dir_ / "in", {{"people", kTables.at("people")}});
  const std::string db = dir_ / "p.sqlite";
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Database(dkSqlite, db)), 0);
  ASSERT_EQ(Copy(Folder(dkCsv, dir_ / "in"), Database(dkSqlite, db)), 0);
  ASSERT_EQ(Copy(Database(dkSqlite, db), Folder(dkCsv, dir_ / "out")), 0);
  EXPECT_EQ(ReadFile(dir_ / "out/people.csv"),
            kTables.at("people") + kTables.at("people").substr(kTables.at("people").find('\n') + 1));
}

TRelationDef Refers(const std::string& child, const std::string& parent) {
  TRelationDef r;
  r.Name = child + "_" + parent;
  r.Table = child;
  r.Fields = {"ID"};
  r.RefTable = parent;
  r.RefFields = {"ID"};
  return r;
}

std::vector<std::string> Ordered(const std::vector<std::string>& tables,
                                 const TRelationDefs& relations) {
  std::vector<std::string> out;
  for (size_t at : ParentsFirst(tables, relations)) out.push_back(tables.at(at));
  return out;
}

// Parents load before children; a table referring to itself, or to a table not loaded,
// waits for nothing; a cycle keeps the source's order after the rest.
TEST(ParentsFirstTest, ParentsComeBeforeChildren) {
  EXPECT_EQ(Ordered({"Lines", "Orders", "Customers"},
                    {Refers("Lines", "Orders"), Refers("orders", "CUSTOMERS")}),
            (std::vector<std::string>{"Customers", "Orders", "Lines"}));
  EXPECT_EQ(Ordered({"Staff", "Elsewhere"}, {Refers("Staff", "Staff"), Refers("Staff", "Gone")}),
            (std::vector<std::string>{"Staff", "Elsewhere"}));
  EXPECT_EQ(Ordered({"A", "B", "C", "D"}, {Refers("A", "B"), Refers("B", "A"), Refers("C", "D")}),
            (std::vector<std::string>{"D", "C", "A", "B"}));
}

// A stop asked for before the run begins no table and writes nothing; each table says so.
TEST_F(WholeDatabaseTest, AStopBeforeTheRunBeginsNoTable) {
  WriteCsvFolder(dir_ / "in", kTables);
  WholeDatabaseOptions o;
  o.source = Folder(dkCsv, dir_ / "in");
  o.destination = Folder(dkCsv, dir_ / "out");
  WholeDatabaseRun run(o);
  run.Stop();
  EXPECT_EQ(run.Run(), 3);
  for (const TableResult& r : run.Results()) EXPECT_EQ(r.outcome, TableOutcome::kStopped);
  EXPECT_TRUE(ReadFolder(dir_ / "out").empty());
}

}  // namespace
}  // namespace trundle
