// trundle-cli --all-tables as a user runs it: a whole database or folder per run, with the
// exit status and standard error a script reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/test_files.h"

namespace trundle {
namespace {

// An Access database of three tables, one with a non-ASCII name, made by our own writer.
void MakeAccess(const ScratchFolder& dir) {
  WriteFile(dir / "a.csv", "ID,NAME\n1,Ann\n2,Bo\n");
  WriteFile(dir / "b.csv", "CODE\nS\nXL\n");
  WriteFile(dir / "c.csv", "N\n7\n");
  ASSERT_EQ(RunCli(dir, {"--create-database", "a.csv", "db.mdb", "--dest-table", "Kunden"}).status,
            0);
  ASSERT_EQ(RunCli(dir, {"b.csv", "db.mdb", "--dest-table", "Größen"}).status, 0);
  ASSERT_EQ(RunCli(dir, {"c.csv", "db.mdb", "--dest-table", "Extra"}).status, 0);
}

// Access into a folder of CSV files and into SQLite, with --exclude-tables and --tables;
// each table's lines carry its name, and the run ends with a summary.
TEST(CliAllTablesTest, AccessIntoCsvFilesAndSqlite) {
  ScratchFolder dir;
  MakeAccess(dir);
  CliRun run = RunCli(dir, {"--all-tables", "--dest-kind", "csv", "--exclude-tables", "extra",
                            "db.mdb", "out"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadFile(dir / "out/Kunden.csv"),
            "\"ID\",\"NAME\"\r\n\"1\",\"Ann\"\r\n\"2\",\"Bo\"\r\n");
  EXPECT_EQ(ReadFile(dir / "out/Größen.csv"), "\"CODE\"\r\n\"S\"\r\n\"XL\"\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "out/Extra.csv"));
  EXPECT_NE(run.out.find("[Größen] moved: 2 records moved"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("2 tables, 4 records moved, 0 set aside"), std::string::npos);

  run = RunCli(dir, {"--all-tables", "--tables", "Größen,Extra", "--jobs", "2", "--report",
                     "r.json", "--verify", "db.mdb", "all.sqlite"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // Each table is read back on its own.
  EXPECT_NE(run.out.find("[Extra] Verified: 1 records"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[Größen] Verified: 2 records"), std::string::npos) << run.out;
  // Two at once: the order they were made in is the order they came.
  run = RunCli(dir, {"--list-tables", "all.sqlite"});
  EXPECT_TRUE(run.out == "Extra\nGrößen\n" || run.out == "Größen\nExtra\n") << run.out;
  const std::string report = ReadFile(dir / "r.json");
  EXPECT_NE(report.find("\"table\": \"Größen\""), std::string::npos) << report;
  EXPECT_NE(report.find("\"records_moved\": 3"), std::string::npos) << report;
}

// A table that cannot be read fails alone: the others arrive, the run exits 3 and names
// it on standard error and in the summary.
TEST(CliAllTablesTest, AFailingTableIsNamedAndTheRestArrive) {
  ScratchFolder dir;
  std::filesystem::create_directories(dir / "in");
  WriteFile(dir / "in/good.csv", "ID\n1\n2\n");
  WriteFile(dir / "one.csv", "ID\n3\n");
  ASSERT_EQ(RunCli(dir, {"one.csv", "in/fine.dbf"}).status, 0);
  // A dBase file of a few bytes of nonsense.
  WriteFile(dir / "in/broken.dbf", "not a table");
  const CliRun run = RunCli(dir, {"--all-tables", "in", "out.sqlite"});
  EXPECT_EQ(run.status, 3) << run.out << run.err;
  EXPECT_NE(run.err.find("the table broken did not arrive"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("the table good"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("did not arrive whole: broken"), std::string::npos) << run.out;
  EXPECT_EQ(RunCli(dir, {"--list-tables", "out.sqlite"}).out, "fine\ngood\n");
}

// Options that make no sense for a whole database are usage errors naming the cause,
// found before anything is written.
TEST(CliAllTablesTest, UsageErrorsNameTheirCause) {
  ScratchFolder dir;
  MakeAccess(dir);
  std::filesystem::create_directories(dir / "folder");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--all-tables", "--tables", "Kunden,Nobody", "db.mdb", "x.sqlite"},
       "The table Nobody is not in db.mdb"},
      {{"--all-tables", "--jobs", "17", "db.mdb", "x.sqlite"}, "--jobs takes a count"},
      {{"--all-tables", "--jobs", "0", "db.mdb", "x.sqlite"}, "--jobs takes a count"},
      {{"--jobs", "2", "a.csv", "x.csv"}, "apply with --all-tables"},
      {{"--all-tables", "db.mdb", "folder"}, "needs --dest-kind"},
      {{"--all-tables", "a.csv", "x.sqlite"}, "needs a database or a folder"},
      {{"--all-tables", "--source-table", "Kunden", "db.mdb", "x.sqlite"}, "use --tables"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const CliRun run = RunCli(dir, c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "x.sqlite"));
}

}  // namespace
}  // namespace trundle
