// The Access adaptor inside whole runs of the job: every message, the tables the other
// kinds create from an Access source, and records appended to an existing table.
#include "databases/access/trundle_access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "access_test_util.h"
#include "databases/access/jet/jet_verify.h"
#include "databases/dbase/dbase_file.h"
#include "databases/paradox/paradox_file.h"
#include "databases/kinds/trundle_table_file.h"
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
                          "Table doesn't exist or is empty", dir / "out.csv does not exist yet: it is created",
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
  // A folder named like a database is no database, as a file of other bytes is not.
  std::filesystem::create_directory(other / "shop.mdb");
  WriteFile(other / "notes.mdb", "not a database\n");
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
      {other / "shop.mdb",
       "Table1",
       "dao36",
       "",
       "",
       {"Reading from table", other / "shop.mdb" + " is not an Access database"}},
      {other / "notes.mdb",
       "Table1",
       "dao36",
       "",
       "",
       {"Reading from table", other / "notes.mdb" + " is not an Access database"}},
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
    // The adaptor's one line, then the job's word that the run failed.
    std::vector<std::string> expected = c.log;
    expected.push_back("Failed: nothing was moved");
    EXPECT_EQ(Run(job), expected);
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
                  "Table doesn't exist or is empty", dir / (file + " does not exist yet: it is created"),
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

// Table1's Currency column H holds 0 and 3.5. Comma- and tab-delimited text and the HTML
// page write an amount as dollars with two decimals; a table of another kind gets the
// number (NewTablesTakeTheSourcesTranslatedFields), and so does a text field.
TEST_F(AccessAdaptorTest, ACurrencyIsWrittenInDollarsOnlyToTextAndPages) {
  for (const auto& [kind, file] :
       {std::pair{dkCsv, "t1.csv"}, std::pair{dkText, "t1.txt"}, std::pair{dkHtml, "t1.html"}}) {
    SCOPED_TRACE(file);
    TTrundle job;
    Setup(job, AccessFixture("testV1997.mdb"), "Table1", kind, file);
    Run(job);
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
    const std::string text = ReadFile(dir / file);
    EXPECT_NE(text.find("$0.00"), std::string::npos) << text;
    EXPECT_NE(text.find("$3.50"), std::string::npos) << text;
  }
  // Into an existing table whose H is text, the amount is the number's text.
  WriteFile(dir / "h.csv", "H\r\nplaceholder\r\n");
  TTrundle to_dbase;
  to_dbase.SetSourceKind(dkCsv);
  to_dbase.SetDestinationKind(dkDBase);
  to_dbase.Source().TableName = dir / "h.csv";
  to_dbase.Destination().TableName = dir / "h.dbf";
  Run(to_dbase);
  TTrundle job;
  Setup(job, AccessFixture("testV1997.mdb"), "Table1", dkDBase, "h.dbf");
  Run(job);
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  auto reader = OpenDBaseTable(dir / "h.dbf", {});
  std::vector<std::string> values;
  for (std::vector<Variant> row; reader->Next(row);) values.push_back(row[0].ToText());
  EXPECT_EQ(values, (std::vector<std::string>{"placeholder", "0", "3.5"}));
}

TEST_F(AccessAdaptorTest, AResultWiderThanARecordIsARangeCheckError) {
  TTrundle job;
  Setup(job, AccessFixture("test2V2000.mdb"), "MSP_PROJECTS", dkCsv, "out.csv");
  // 74 columns four times over.
  job.Source().Sql = "select * from MSP_PROJECTS a, MSP_PROJECTS b, MSP_PROJECTS c, MSP_PROJECTS d";
  const auto log = Run(job);
  // Refused when the source opens, naming the count and the limit: nothing is moved, and
  // no destination made.
  EXPECT_EQ(log,
            (std::vector<std::string>{"Reading from table",
                                      "Range check error\r\nThe statement " + job.Source().Sql +
                                          " on " + AccessFixture("test2V2000.mdb") +
                                          " gives 296 fields, and a record holds at most 256",
                                      "Failed: nothing was moved"}));
  EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
  EXPECT_FALSE(std::filesystem::exists(job.Destination().TableName));
}

// A job from a CSV file of the folder into a table of an Access database.
void SetupInto(TTrundle& job, const std::string& csv, const std::string& database,
               const std::string& table) {
  job.SetSourceKind(dkCsv);
  job.SetDestinationKind(dkAccess);
  job.Source().TableName = csv;
  job.Destination().Database = database;
  job.Destination().DaoVersion = "dao36";
  job.Destination().TableName = table;
}

// The table's rows as our reader reads them, each "a|b" with Null as "-".
std::vector<std::string> TableRows(const std::string& database, const std::string& table) {
  TDAODatabase db;
  db.DatabaseName = database;
  db.DAOVersion = kDao36;
  db.Open();
  TDAOQuery q(db);
  q.SQL = AccessTableSql(table);
  q.Open();
  std::vector<std::string> rows;
  for (; !q.Eof(); q.Next()) {
    std::string row;
    for (int i = 0; i < q.FieldCount(); ++i) {
      if (i) row.push_back('|');
      row += q.Value(i).IsEmpty() ? std::string("-") : q.Value(i).ToText();
    }
    rows.push_back(row);
  }
  return rows;
}

// A key the table's indexes refuse (a primary key's duplicate, a foreign key without its
// parent) ends the run naming the record, the index and the value; the open batch is
// undone, so the file stays as it was.
TEST_F(AccessAdaptorTest, ARefusedKeyEndsTheRunNamingRecordIndexAndValue) {
  const std::string database = dir / "shop.mdb";
  WriteFile(database, ReadFile(AccessFixture("indexTestV2000.mdb")));
  const std::string before = ReadFile(database);
  struct Case {
    const char* table;
    const char* csv;
    std::string cause;
  };
  for (const Case& c :
       {Case{"Table2", "id,data\r\n7,x\r\n8,y\r\n2,dup\r\n",
             "Record 3 could not be written to table Table2 of " + database +
                 ": index PrimaryKey already holds the key id = 2"},
        Case{"Table1", "id,otherfk1,data\r\n70,1,x\r\n71,,y\r\n72,77,z\r\n",
             "Record 3 could not be written to table Table1 of " + database +
                 ": relationship Table2Table1 is enforced, and table Table2 has no row with "
                 "id = 77"}}) {
    SCOPED_TRACE(c.table);
    WriteFile(dir / "in.csv", c.csv);
    TTrundle job;
    SetupInto(job, dir / "in.csv", database, c.table);
    try {
      Run(job);
      ADD_FAILURE() << "the run went on";
    } catch (const TrundleError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(c.cause, 0), 0u) << what;
      EXPECT_NE(what.find("the open batch (records 1 to 3) was rolled back"), std::string::npos)
          << what;
    }
    EXPECT_EQ(ReadFile(database), before);
    EXPECT_FALSE(std::filesystem::exists(database + "-journal"));
  }
}

// Tables that cannot take records say why, and the file stays as it was.
TEST_F(AccessAdaptorTest, ADestinationThatCannotTakeRecordsSaysWhy) {
  const std::string database = dir / "shop.mdb";
  WriteFile(database, ReadFile(AccessFixture("indexTestV2000.mdb")));
  const std::string before = ReadFile(database);
  WriteFile(dir / "in.csv", "id,data\r\n7,x\r\n");
  {
    // Access's lock file says another program has the database open.
    WriteFile(dir / "shop.ldb", "");
    TTrundle job;
    SetupInto(job, dir / "in.csv", database, "Table2");
    const auto log = Run(job);
    ASSERT_GE(log.size(), 2u);
    EXPECT_NE(log[log.size() - 2].find("shop.ldb"), std::string::npos) << log[log.size() - 2];
    EXPECT_EQ(log.back(), "Failed: nothing was moved");
    EXPECT_EQ(job.outcome(), TRunOutcome::kNotOpened);
    std::filesystem::remove(dir / "shop.ldb");
  }
  EXPECT_EQ(ReadFile(database), before);
}

// Names match fields exactly or else in any letter case (a CSV header is read upper-cased);
// a name without a field is reported with how many values it lost.
TEST_F(AccessAdaptorTest, RecordsAppendToAnExistingTable) {
  const std::string database = dir / "del.mdb";
  WriteFile(database, ReadFile(AccessFixture("delTestV2000.mdb")));
  const std::vector<std::string> old_rows = TableRows(database, "Table");
  WriteFile(dir / "in.csv", "B,extra,a\r\nb1,e,a1\r\n,e,a2\r\nb3,,\r\n");
  TTrundle job;
  SetupInto(job, dir / "in.csv", database, "table");
  const auto log = Run(job);
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  EXPECT_EQ(log.back(),
            "Field EXTRA: 3 values were not written, the destination has no field of that name")
      << log.back();
  std::vector<std::string> expected = old_rows;
  for (const char* row : {"a1|b1", "a2|", "-|b3"}) expected.push_back(row);
  EXPECT_EQ(TableRows(database, "Table"), expected);
  EXPECT_FALSE(std::filesystem::exists(database + "-journal"));
}

// Records whose names reach fewer fields than the one before: the fields left out are
// Null, holding nothing of the longer texts before them.
TEST_F(AccessAdaptorTest, AFieldARecordDoesNotNameIsNull) {
  const std::string database = dir / "del.mdb";
  WriteFile(database, ReadFile(AccessFixture("delTestV2000.mdb")));
  std::vector<std::string> expected = TableRows(database, "Table");
  {
    TTrundleAccess access;
    access.Database = database;
    access.DaoVersion = "dao36";
    access.TableName = "Table";
    access.PrepareDestination();
    ASSERT_TRUE(access.OpenTable());
    access.StartTransaction();
    const std::string a1(40, 'a'), b1(45, 'b');
    auto write = [&](std::vector<Variant> names, std::vector<Variant> values) {
      names.resize(kRecordBufferSize);
      values.resize(kRecordBufferSize);
      access.WriteRecord(names, values);
    };
    write({Variant::String("a"), Variant::String("b")}, {Variant::String(a1), Variant::String(b1)});
    write({Variant::String("b")}, {Variant::String("b2")});
    write({Variant::String("a"), Variant::String("b")}, {Variant::String("a3"), Variant::Null()});
    write({Variant::String("a")}, {Variant::String(b1)});
    access.Commit();
    access.SaveTable();
    for (const std::string& row : {a1 + "|" + b1, std::string("-|b2"), std::string("a3|-"), b1 + "|-"})
      expected.push_back(row);
  }
  EXPECT_EQ(TableRows(database, "Table"), expected);
}

// A value the table cannot take ends the run naming the record and the field; the
// batches before it stay, the open one is gone.
TEST_F(AccessAdaptorTest, ARefusedValueEndsTheRunAndDropsItsBatch) {
  const std::string database = dir / "del.mdb";
  WriteFile(database, ReadFile(AccessFixture("delTestV1997.mdb")));
  std::string csv = "a,b\r\n";
  for (int i = 1; i <= 1600; ++i) {
    if (i == 1500)
      csv.append(51, 'x');
    else
      csv.append("r").append(std::to_string(i));
    csv += ",v\r\n";
  }
  WriteFile(dir / "in.csv", csv);
  TTrundle job;
  SetupInto(job, dir / "in.csv", database, "Table");
  job.Destination().DaoVersion = "dao35";
  try {
    Run(job);
    ADD_FAILURE() << "the run went on";
  } catch (const TrundleError& e) {
    const std::string what = e.what();
    EXPECT_EQ(
        what.rfind(
            "Record 1500 could not be written to table Table of " + database + ": column a: ", 0),
        0u)
        << what;
    EXPECT_NE(what.find("1000 records were committed before it; the open batch (records 1001 "
                        "to 1500) was rolled back."),
              std::string::npos)
        << what;
  }
  const std::vector<std::string> rows = TableRows(database, "Table");
  ASSERT_EQ(rows.size(), 1002u);
  EXPECT_EQ(rows.back(), "r1000|v");
  EXPECT_FALSE(std::filesystem::exists(database + "-journal"));
}

// Empty text for a field that allows no zero-length text is refused as the engine refuses
// it, not stored as a Null: the run ends naming the record and the field, the file as it
// was.
TEST_F(AccessAdaptorTest, EmptyTextWhereTheFieldAllowsNoneEndsTheRun) {
  const std::string database = dir / "test.mdb";
  WriteFile(database, ReadFile(AccessFixture("testV1997.mdb")));  // Table1.B: no ""
  const std::string before = ReadFile(database);
  WriteFile(dir / "in.csv", "B,A\r\ny1,x1\r\n,x2\r\n");
  TTrundle job;
  SetupInto(job, dir / "in.csv", database, "Table1");
  try {
    Run(job);
    ADD_FAILURE() << "the run went on";
  } catch (const TrundleError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Record 2 could not be written to table Table1 of " + database +
                  ": column B: empty text is not allowed (the column allows no zero-length "
                  "text). 0 records were committed before it; the open batch (records 1 to 2) "
                  "was rolled back.");
  }
  EXPECT_EQ(ReadFile(database), before);
  EXPECT_FALSE(std::filesystem::exists(database + "-journal"));
}

// An AutoNumber field keeps the numbers the source gives (the rows of other tables that
// refer to them still find them); a record without one takes the next number, and the
// counter moves past the highest number kept, into a later run too. mdbtools reads the
// numbers alike.
TEST_F(AccessAdaptorTest, AutoNumbersTheSourceGivesAreKeptAndTheCounterMovesPastThem) {
  const std::string database = dir / "uni.mdb";
  WriteFile(database, ReadFile(AccessFixture("testUnicodeCompV2003.mdb")));  // ID: 1 to 8
  std::vector<std::string> expected = TableRows(database, "Table");
  ASSERT_EQ(expected.back().substr(0, 2), "8|");
  auto run = [&](const std::string& csv) {
    WriteFile(dir / "in.csv", csv);
    TTrundle job;
    SetupInto(job, dir / "in.csv", database, "Table");
    Run(job);
    EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  };
  run("ID,Unicode\r\n20,a\r\n,b\r\n15,c\r\n");
  run("Unicode\r\nd\r\ne\r\n");
  for (const char* row : {"20|a", "21|b", "15|c", "22|d", "23|e"}) expected.push_back(row);
  EXPECT_EQ(TableRows(database, "Table"), expected);
  const std::string ids =
      testing::CommandOutput("timeout 60 mdb-json " + testing::ShellWord(database) +
                             " Table | grep -o '^{\"ID\":[0-9]*' | cut -d: -f2");
  EXPECT_EQ(ids, "1\n2\n3\n4\n5\n6\n7\n8\n20\n21\n15\n22\n23\n");
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(database);
  EXPECT_TRUE(report.sound()) << report.Text();
}

// A stop request keeps the batches committed and drops the open one.
TEST_F(AccessAdaptorTest, AStopKeepsTheCommittedBatches) {
  const std::string database = dir / "del.mdb";
  WriteFile(database, ReadFile(AccessFixture("delTestV2000.mdb")));
  std::string csv = "a,b\r\n";
  for (int i = 1; i <= 2500; ++i) csv.append("r").append(std::to_string(i)).append(",v\r\n");
  WriteFile(dir / "in.csv", csv);
  TTrundle job;
  SetupInto(job, dir / "in.csv", database, "Table");
  job.OnProgress = [&job](int32_t) {
    if (job.records_moved() == 1500) job.RequestStop();
  };
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  EXPECT_EQ(job.outcome(), TRunOutcome::kStopped);
  // The stop's line, the completion lines, then what the table holds after the stop.
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(
      log[log.size() - 4],
      "Stopped on request: 1000 records moved; the open batch of 500 records was rolled back");
  EXPECT_EQ(log.back(), "The destination Table keeps the 1000 records moved before the stop");
  const std::vector<std::string> rows = TableRows(database, "Table");
  ASSERT_EQ(rows.size(), 1002u);
  EXPECT_EQ(rows.back(), "r1000|v");
}

TEST(AccessTableSqlTest, NamesAreBracketed) {
  EXPECT_EQ(AccessTableSql("Customer List"), "select * from [Customer List]");
  EXPECT_EQ(AccessTableSql("odd]name"), "select * from \"odd]name\"");
}

}  // namespace
}  // namespace trundle
