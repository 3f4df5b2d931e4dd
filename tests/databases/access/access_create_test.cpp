// New Access tables made by whole runs of the job: the log, the file as mdbtools and
// mdb-reader read it, and definitions the engine refuses, which leave the file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "access_test_util.h"
#include "databases/access/dao.h"
#include "databases/access/new_database.h"
#include "databases/access/trundle_access.h"
#include "databases/kinds/trundle_table_file.h"
#include "engine/errors.h"
#include "engine/trundle.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

using testing::AccessFixture;

class AccessCreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
  }

  // A Jet 3 database (a copy of a fixture) or a new, empty Jet 4 one.
  std::string Database(bool jet3) {
    const std::string path = dir / (jet3 ? "old.mdb" : "new.mdb");
    if (!std::filesystem::exists(path)) {
      if (jet3)
        WriteFile(path, ReadFile(AccessFixture("testV1997.mdb")));
      else
        CreateAccessDatabase(path);
    }
    return path;
  }

  // Runs a job from the CSV text into the table; returns the log between the opening and
  // the closing lines.
  std::vector<std::string> RunCsv(const std::string& csv, const std::string& database,
                                  const std::string& table, TRunOutcome* outcome = nullptr) {
    WriteFile(dir / "in.csv", csv);
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkAccess);
    job.Source().TableName = dir / "in.csv";
    job.Destination().Database = database;
    job.Destination().DaoVersion = "dao36";
    job.Destination().TableName = table;
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    job.Execute();
    if (outcome) *outcome = job.outcome();
    return std::vector<std::string>(log.begin() + 2, log.end() - 2);
  }

  ScratchFolder dir;
};

// A definition the engine refuses gives its message, no table, and no run; the file is
// not touched.
TEST_F(AccessCreateTest, RefusedDefinitionsLeaveTheFileAsItWas) {
  struct Case {
    std::string csv, message;
  } cases[] = {
      // The source repeats a name (a CSV header is upper-cased on reading).
      {"Id,id,B\r\n1,2,3\r\n", "Can't define field more than once."},
      // A header field without a name.
      {"A,,C\r\n1,2,3\r\n", "'' is not a valid name."},
  };
  for (bool jet3 : {false, true}) {
    const std::string database = Database(jet3);
    const std::string before = ReadFile(database);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.csv);
      TRunOutcome outcome{};
      const std::vector<std::string> log = RunCsv(c.csv, database, "People", &outcome);
      ASSERT_EQ(log.size(), 7u) << ::testing::PrintToString(log);
      EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
                (std::vector<std::string>{"Reading table", "1 records read", "Reading from table",
                                          "Table doesn't exist", "Creating table"}));
      EXPECT_EQ(log[5].substr(0, c.message.size()), c.message);
      EXPECT_EQ(log[6], "Failed: nothing was moved");
      EXPECT_EQ(outcome, TRunOutcome::kNotOpened);
      EXPECT_EQ(ReadFile(database), before);
      EXPECT_FALSE(std::filesystem::exists(database + "-journal"));
    }
  }
}

// A database that cannot be opened: the job still says it is creating the table, then
// why it cannot; the opening line names the table with its database file.
TEST_F(AccessCreateTest, ATableInADatabaseNotOpenIsNotCreated) {
  WriteFile(dir / "in.csv", "A\r\n1\r\n");
  const std::string missing = dir / "missing.mdb";
  TTrundle job;
  job.SetSourceKind(dkCsv);
  job.SetDestinationKind(dkAccess);
  job.Source().TableName = dir / "in.csv";
  job.Destination().Database = missing;
  job.Destination().TableName = "People";
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  ASSERT_GE(log.size(), 9u) << ::testing::PrintToString(log);
  EXPECT_EQ(log[1], "Moving data from " + (dir / "in.csv") + " to People in " + missing + "\r\n");
  const auto creating = std::find(log.begin(), log.end(), "Creating table");
  ASSERT_NE(creating, log.end()) << ::testing::PrintToString(log);
  ASSERT_LT(creating + 2, log.end());
  EXPECT_EQ(creating[1],
            "The table People cannot be created: the database " + missing + " is not open");
  EXPECT_EQ(creating[2], "Failed: nothing was moved");
  EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// The facade refuses, writing nothing, what the database cannot hold.
TEST_F(AccessCreateTest, TheDaoLayerRefusesWhatTheDatabaseCannotHold) {
  for (bool jet3 : {false, true}) {
    const std::string database = Database(jet3);
    const std::string before = ReadFile(database);
    TDAODatabase db;
    db.DatabaseName = database;
    db.DAOVersion = kDao36;
    db.Open();
    EXPECT_EQ(db.Version(), jet3 ? "3.0" : "4.0");
    auto refusal = [&db](TDAOTableDef def) -> std::string {
      try {
        db.TableDefs_Append(def);
      } catch (const TrundleError& e) {
        return e.what();
      }
      return "";
    };
    TDAOTableDef empty = db.CreateTableDef("Nothing");
    EXPECT_EQ(refusal(empty), "No field defined--cannot append TableDef or Index.");
    TDAOTableDef big = db.CreateTableDef("Big");
    big.Fields.Append(big.CreateField("N", dbBigInt));
    EXPECT_EQ(refusal(big), "Invalid field data type.");
    TDAOTableDef decimal = db.CreateTableDef("Dec");
    decimal.Fields.Append(decimal.CreateField("D", dbDecimal));
    // Jet 4 brought the decimal type.
    if (jet3)
      EXPECT_EQ(refusal(decimal), "Invalid field data type.");
    else
      EXPECT_NE(refusal(decimal), "Invalid field data type.");
    if (jet3) {
      TDAOTableDef exists = db.CreateTableDef("table1");
      exists.Fields.Append(exists.CreateField("A", dbText, 10));
      EXPECT_EQ(refusal(exists), "Table 'table1' already exists.");
      EXPECT_EQ(ReadFile(database), before);
    }
    EXPECT_THROW(empty.Fields.Item(0), TrundleError);
  }
}

}  // namespace
}  // namespace trundle
