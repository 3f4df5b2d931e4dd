// One table's run as both ends make it: how each way of ending is told apart, what the
// report collects, and that the callbacks come in their order.
#include "front/run_sequence.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "front/register_adaptors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

class RunSequenceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAllAdaptors(); }

  JobDescription CsvToCsv(const std::string& from, const std::string& to) const {
    JobDescription d;
    d.source.kind = dkCsv;
    d.source.file = dir_ / from;
    d.destination.kind = dkCsv;
    d.destination.file = dir_ / to;
    return d;
  }

  // A SQLite table made by SQLite itself, whose NOT NULL refuses a record without a name.
  JobDescription CsvToKeyedSqlite() const {
    const std::string db = dir_ / "db.sqlite";
    EXPECT_EQ(std::system(("sqlite3 " + ShellQuote(db) +
                           " 'create table t(id integer primary key, name text not null)'")
                              .c_str()),
              0);
    WriteFile(dir_ / "in.csv", "id,name\r\n1,Ann\r\n2,\r\n3,\r\n4,Cy\r\n");
    JobDescription d;
    d.source.kind = dkCsv;
    d.source.file = dir_ / "in.csv";
    d.destination.kind = dkSqlite;
    d.destination.database = db;
    d.destination.table = "t";
    d.reject_file = dir_ / "t.rejects.csv";
    return d;
  }

  ScratchFolder dir_;
};

// Each way a run ends gets its own end, its sentence and whether that came from an
// exception; OnEnded sees the same result the caller gets, exactly once.
TEST_F(RunSequenceTest, EachWayOfEndingIsToldApart) {
  WriteFile(dir_ / "in.csv", "id,name\r\n1,Ann\r\n2,Bo\r\n");
  struct Case {
    const char* what;
    JobDescription description;
    RunEnd end;
    bool thrown;
    const char* error_holds;  // empty: no error
  };
  JobDescription missing = CsvToCsv("none.csv", "out1.csv");
  JobDescription bad_map = CsvToCsv("in.csv", "out2.csv");
  bad_map.field_map = {{"NOSUCH", "X"}};
  const Case cases[] = {
      {"moved", CsvToCsv("in.csv", "out0.csv"), RunEnd::kMoved, false, ""},
      {"missing source", missing, RunEnd::kNotOpened, false, "none.csv"},
      {"map that does not fit", bad_map, RunEnd::kFieldMap, true, "NOSUCH"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunSequence run(c.description);
    int ended = 0;
    RunEnd seen = RunEnd::kDiffers;
    run.OnEnded = [&](const RunResult& r) {
      ++ended;
      seen = r.end;
    };
    const RunResult result = run.Run();
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(result.thrown, c.thrown);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(seen, c.end);
    if (*c.error_holds)
      EXPECT_NE(result.error.find(c.error_holds), std::string::npos) << result.error;
    else
      EXPECT_EQ(result.error, "");
  }
  EXPECT_EQ(ReadFile(dir_ / "out0.csv"), "\"ID\",\"NAME\"\r\n\"1\",\"Ann\"\r\n\"2\",\"Bo\"\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out1.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out2.csv"));
}

// A run stopped by its limit of records set aside is a failure with its own sentence,
// for the window's box as for the command line; the report lists it after the log's lines.
TEST_F(RunSequenceTest, TooManyRejectsIsAFailureThatSaysSo) {
  JobDescription d = CsvToKeyedSqlite();
  d.on_error = TOnError::kSkip;
  d.max_rejects = 1;
  RunSequence run(d);
  std::vector<std::string> log;
  run.OnMessage = [&log](const std::string& line) { log.push_back(line); };
  const RunResult result = run.Run();
  EXPECT_EQ(result.end, RunEnd::kTooManyRejects);
  EXPECT_EQ(result.error, "more than 1 records were set aside; the run was stopped");
  EXPECT_FALSE(result.thrown);
  ASSERT_FALSE(run.Reported().empty());
  EXPECT_EQ(run.Reported().back(), result.error);
  EXPECT_FALSE(log.empty());
  EXPECT_EQ(run.job().records_rejected(), 2);
}

// Without a limit the same run moves the rest, and its report names the reject file and
// the exit status the caller gave.
TEST_F(RunSequenceTest, RecordsSetAsideStillMoveTheRestAndTheReportSaysWhere) {
  JobDescription d = CsvToKeyedSqlite();
  d.on_error = TOnError::kSkip;
  RunSequence run(d);
  const RunResult result = run.Run();
  EXPECT_EQ(result.end, RunEnd::kMoved);
  EXPECT_EQ(run.job().records_moved(), 2);
  EXPECT_EQ(run.job().records_rejected(), 2);
  const std::string json = run.ReportJson(4);
  EXPECT_NE(json.find("\"exit_status\": 4,"), std::string::npos) << json;
  EXPECT_NE(json.find("t.rejects.csv"), std::string::npos) << json;
}

// Asked to verify: a whole run is read back and found sound; a run that never opened
// has a verification that says it did not finish, not none.
TEST_F(RunSequenceTest, VerificationFollowsOnlyAWholeRun) {
  WriteFile(dir_ / "in.csv", "id,name\r\n1,Ann\r\n2,Bo\r\n");
  const JobDescription whole = CsvToCsv("in.csv", "out.csv");
  RunSequence good(whole);
  good.Verify();
  EXPECT_EQ(good.Run().end, RunEnd::kMoved);
  ASSERT_TRUE(good.verification());
  EXPECT_TRUE(good.verification()->sound()) << good.verification()->Text();

  const JobDescription missing = CsvToCsv("none.csv", "out3.csv");
  RunSequence bad(missing);
  bad.Verify();
  EXPECT_EQ(bad.Run().end, RunEnd::kNotOpened);
  ASSERT_TRUE(bad.verification());
  EXPECT_FALSE(bad.verification()->done);
  EXPECT_EQ(bad.verification()->reason, "the run did not finish");
}

// A table that differs arrived and is not lost; one stopped is lost; records set aside
// count over every table, whatever its end.
TEST(TallyTablesTest, CountsEachEndOnce) {
  std::vector<TableResult> results(5);
  const TableOutcome ends[] = {TableOutcome::kMoved, TableOutcome::kMoved, TableOutcome::kDiffers,
                               TableOutcome::kStopped, TableOutcome::kFailed};
  for (size_t i = 0; i < results.size(); ++i) {
    results[i].outcome = ends[i];
    results[i].records_rejected = static_cast<int64_t>(i);
  }
  const TablesTally tally = TallyTables(results);
  EXPECT_EQ(tally.moved, 2);
  EXPECT_EQ(tally.differs, 1);
  EXPECT_EQ(tally.lost, 2);
  EXPECT_EQ(tally.set_aside, 0 + 1 + 2 + 3 + 4);
  EXPECT_EQ(TallyTables({}).lost, 0);
}

}  // namespace
}  // namespace trundle
