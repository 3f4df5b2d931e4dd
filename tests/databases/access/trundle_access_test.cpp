// The Access adaptor inside whole runs of the job: every message, the tables the other
// kinds create from an Access source, and a destination that reads but never writes.
#include "databases/access/trundle_access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "access_test_util.h"
#include "databases/dbase/dbase_file.h"
#include "databases/paradox/paradox_file.h"
#include "databases/trundle_table_file.h"
#include "engine/errors.h"
#include "engine/trundle.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

using testing::AccessFixture;

class AccessAdaptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTextAdaptors();
    RegisterDatabaseAdaptors();
  }

  // Runs the job; returns the log between the opening and the closing lines.
  std::vector<std::string> Run(TTrundle& job) {
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    job.Execute();
    return std::vector<std::string>(log.begin() + 2, log.end() - 2);
  }

  // A job from an Access table into a file of the folder.
  void Setup(TTrundle& job, const std::string& database, const std::string& table, TDataKind to,
             const std::string& file) {
    job.SetSourceKind(dkAccess);
    job.SetDestinationKind(to);
    job.Source().Database = database;
    job.Source().TableName = table;
    job.Source().DaoVersion = "Dao36";
    job.Source().Sql = AccessTableSql(table);
    job.Destination().TableName = dir / file;
  }

  ScratchFolder dir;
};

TEST_F(AccessAdaptorTest, ATableIntoCsvLogsWhatTheSourceDoes) {
  TTrundle job;
  Setup(job, AccessFixture("testV1997.mdb"), "TABLE1", dkCsv, "out.csv");
  // Read again once the destination has its table, as for every destination.
  EXPECT_EQ(Run(job), (std::vector<std::string>{
                          "Reading from table", "2 records read", "Reading table",
                          "Table doesn't exist or is empty", dir / "out.csv: no such file",
                          "Table created", "Reading from table", "2 records read", "Moving data",
                          "2 records moved", "Writing table", "2 records written"}));
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  const std::string csv = ReadFile(dir / "out.csv");
  EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
            "\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\"");
  EXPECT_NE(csv.find("\"abcdefg\",\"hijklmnop\",\"2\",\"222\",\"333333333\""), std::string::npos)
      << csv;
}

TEST_F(AccessAdaptorTest, FailuresToOpenAreOneLineAndNoRun) {
  ScratchFolder other;
  testing::CopyWithPassword(AccessFixture("indexTestV2000.mdb"), other / "locked.mdb", u"pw");
  struct Case {
    std::string database, table, dao, password, sql;
    std::vector<std::string> log;
  } cases[] = {
      {dir / "none.mdb",
       "Table1",
       "dao36",
       "",
       "",
       {"Reading from table", "Database doesn't exist"}},
      {AccessFixture("indexTestV2000.mdb"),
       "Customers",
       "dao36",
       "",
       "",
       {"Reading from table", "Table doesn't exist"}},
      {AccessFixture("indexTestV2000.mdb"),
       "Table1",
       "dao35",
       "",
       "",
       {"Reading from table",
        "Unrecognized database format '" + AccessFixture("indexTestV2000.mdb") + "'."}},
      // No version named: DAO 3.5, as the connection starts.
      {AccessFixture("indexTestV2000.mdb"),
       "Table1",
       "",
       "",
       "",
       {"Reading from table",
        "Unrecognized database format '" + AccessFixture("indexTestV2000.mdb") + "'."}},
      {other / "locked.mdb",
       "Table1",
       "dao36",
       "pW",
       "",
       {"Reading from table", "Not a valid password."}},
      // The table must exist even when the statement reads another.
      {AccessFixture("indexTestV2000.mdb"),
       "Table9",
       "dao36",
       "",
       "select * from Table2",
       {"Reading from table", "Table doesn't exist"}},
      {AccessFixture("indexTestV2000.mdb"),
       "Table1",
       "dao36",
       "",
       "select nosuch from Table1",
       {"Reading from table", "no such column: nosuch"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.database + " " + c.table);
    TTrundle job;
    Setup(job, c.database, c.table, dkCsv, "out.csv");
    job.Source().DaoVersion = c.dao;
    job.Source().Password = c.password;
    if (!c.sql.empty()) job.Source().Sql = c.sql;
    EXPECT_EQ(Run(job), c.log);
    EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.csv"));
  }
  // The right password opens.
  TTrundle job;
  Setup(job, other / "locked.mdb", "table2", dkCsv, "out.csv");
  job.Source().Password = "pw";
  EXPECT_EQ(Run(job)[1], "3 records read");
}

// A dBase or Paradox table made from an Access source takes its fields' names, sizes and
// translated types; the source is opened again once the table exists.
TEST_F(AccessAdaptorTest, NewTablesTakeTheSourcesTranslatedFields) {
  for (TDataKind kind : {dkDBase, dkParadox}) {
    const std::string file = kind == dkDBase ? "t1.dbf" : "t1.db";
    SCOPED_TRACE(file);
    TTrundle job;
    Setup(job, AccessFixture("testV1997.mdb"), "Table1", kind, file);
    EXPECT_EQ(Run(job),
              (std::vector<std::string>{
                  "Reading from table", "2 records read", "Reading from table",
                  "Table doesn't exist or is empty", dir / (file + ": no such file"),
                  "Table created", "Reading from table", "0 records read", "Reading from table",
                  "2 records read", "Moving data", "2 records moved"}));
    auto reader =
        kind == dkDBase ? OpenDBaseTable(dir / file, {}) : OpenParadoxTable(dir / file, {});
    const TFieldDefs& fields = reader->fields();
    ASSERT_EQ(fields.size(), 9u);
    // A Text(50), E Long, F Double, G Date/Time, H Currency, I Yes/No.
    EXPECT_EQ(fields[0].Name, "A");
    EXPECT_STREQ(FieldTypeName(fields[0].DataType), FieldTypeName(ftString));
    EXPECT_EQ(fields[0].Size, 50);
    // dBase keeps whole numbers in numeric fields, which read back as large integers.
    EXPECT_STREQ(FieldTypeName(fields[4].DataType),
                 FieldTypeName(kind == dkDBase ? ftLargeint : ftInteger));
    EXPECT_STREQ(FieldTypeName(fields[5].DataType), FieldTypeName(ftString));
    EXPECT_STREQ(FieldTypeName(fields[6].DataType),
                 FieldTypeName(kind == dkDBase ? ftMemo : ftDateTime));
    EXPECT_STREQ(FieldTypeName(fields[7].DataType), FieldTypeName(ftFloat));
    EXPECT_STREQ(FieldTypeName(fields[8].DataType), FieldTypeName(ftBoolean));
    std::vector<Variant> row;
    ASSERT_TRUE(reader->Next(row));
    ASSERT_TRUE(reader->Next(row));
    EXPECT_EQ(row[0].ToText(), "abcdefg");
    EXPECT_EQ(row[4].ToInteger(), 333333333);
    EXPECT_DOUBLE_EQ(row[7].ToDouble(), 3.5);
    EXPECT_TRUE(row[8].ToBoolean());
    EXPECT_FALSE(reader->Next(row));
  }
}

TEST_F(AccessAdaptorTest, AResultWiderThanARecordIsARangeCheckError) {
  TTrundle job;
  Setup(job, AccessFixture("test2V2000.mdb"), "MSP_PROJECTS", dkCsv, "out.csv");
  // 74 columns four times over.
  job.Source().Sql = "select * from MSP_PROJECTS a, MSP_PROJECTS b, MSP_PROJECTS c, MSP_PROJECTS d";
  const auto log = Run(job);
  // The error ends the reading, and the run is a failure, not an empty copy.
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{"Moving data", "Range check error",
                                      "Stopped by an error reading the source: 0 records moved"}));
  EXPECT_EQ(job.outcome(), TRunOutcome::kReadFailed);
  EXPECT_FALSE(std::filesystem::exists(job.Destination().TableName));
}

// As a destination an existing table opens and counts; nothing is ever written, and the
// database file stays as it was.
TEST_F(AccessAdaptorTest, ADestinationReadsButNeverWrites) {
  const std::string database = dir / "shop.mdb";
  WriteFile(database, ReadFile(AccessFixture("indexTestV2000.mdb")));
  const std::string before = ReadFile(database);
  WriteFile(dir / "in.csv", "id,data\r\n7,x\r\n");
  {
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkAccess);
    job.Source().TableName = dir / "in.csv";
    job.Destination().Database = database;
    job.Destination().DaoVersion = "dao36";
    job.Destination().TableName = "New Table";
    const auto log = Run(job);
    EXPECT_EQ(job.Destination().Sql, "select * from [New Table]");
    EXPECT_EQ(std::vector<std::string>(log.begin() + 2, log.end()),
              (std::vector<std::string>{"Reading from table", "Table doesn't exist",
                                        "Writing to Access databases is not available yet: the "
                                        "table New Table was not created in " +
                                            database}));
    EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
  }
  {
    TTrundle job;
    job.SetSourceKind(dkCsv);
    job.SetDestinationKind(dkAccess);
    job.Source().TableName = dir / "in.csv";
    job.Destination().Database = database;
    job.Destination().DaoVersion = "dao36";
    job.Destination().TableName = "table2";
    std::vector<std::string> log;
    job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
    try {
      job.Execute();
      ADD_FAILURE() << "a record was taken";
    } catch (const TrundleError& e) {
      EXPECT_EQ(
          std::string(e.what()),
          "Writing to Access databases is not available yet: nothing was written to " + database);
    }
    EXPECT_EQ(job.Destination().RecordCount, 3);
    EXPECT_NE(std::find(log.begin(), log.end(), "3 records read"), log.end());
  }
  EXPECT_EQ(ReadFile(database), before);
}

TEST(AccessTableSqlTest, NamesAreBracketed) {
  EXPECT_EQ(AccessTableSql("Customer List"), "select * from [Customer List]");
  EXPECT_EQ(AccessTableSql("odd]name"), "select * from \"odd]name\"");
}

}  // namespace
}  // namespace trundle
