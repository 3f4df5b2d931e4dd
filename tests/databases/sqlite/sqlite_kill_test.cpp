// A run killed with SIGKILL while it writes (in a child process) leaves the database sound,
// holding whole batches, and the next run appends after them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "sqlite_test_util.h"
#include "textfiles/trundle_text.h"

namespace trundle {
namespace {

using testing::kSqliteKind;

// Opened for writing as the next run would, which rolls back what a killed one left open;
// the integrity check's verdict and the rows of each run ("first last count").
std::vector<std::string> Check(const std::string& db) {
  sqlite3* handle = nullptr;
  std::vector<std::string> out;
  if (sqlite3_open(db.c_str(), &handle) != SQLITE_OK) return {"cannot open"};
  auto query = [&](const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(handle, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      out.push_back(sqlite3_errmsg(handle));
      return;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        if (i) row += ' ';
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        row += text ? text : "NULL";
      }
      out.push_back(row);
    }
    sqlite3_finalize(stmt);
  };
  query("pragma integrity_check");
  query(
      "select min(cast(N as integer)), max(cast(N as integer)), count(*) from t group by RUN "
      "order by cast(RUN as integer)");
  sqlite3_close(handle);
  return out;
}

// Table t of db opened as a source: empty when it opens, else its message.
std::string OpenAsSource(const std::string& db) {
  TTrundleSqlite source;
  source.Database = db;
  source.TableName = "t";
  std::string last;
  source.OnMessage = [&last](const std::string& m) { last = m; };
  return source.OpenTable() ? "" : last;
}

// The records of one run: its number, the record's number from 1, some text.
void WriteRun(const std::string& path, int run, int rows) {
  std::string csv = "run,n,text\r\n";
  for (int n = 1; n <= rows; ++n)
    csv.append(std::to_string(run)).append(",").append(std::to_string(n)).append(",row text\r\n");
  WriteFile(path, csv);
}

void SetUpJob(TTrundle& job, const std::string& csv, const std::string& db) {
  job.SetSourceKind(dkCsv);
  job.Source().TableName = csv;
  job.SetDestinationKind(kSqliteKind);
  job.Destination().Database = db;
  job.Destination().TableName = "t";
}

TEST(SqliteKillTest, AKilledRunLeavesWholeBatchesAndTheNextRunAppends) {
  RegisterTextAdaptors();
  testing::LendSqliteKind();
  ScratchFolder dir;
  const std::string db = dir / "killed.sqlite";
  constexpr int kRows = 40000;
  constexpr int kRuns = 5;
  std::vector<std::string> runs;  // what Check should list for the runs so far
  for (int run = 1; run <= kRuns; ++run) {
    SCOPED_TRACE(run);
    WriteRun(dir / "in.csv", run, kRows);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_fds[0]);
      TTrundle job;
      SetUpJob(job, dir / "in.csv", db);
      // One byte for each batch committed (progress is also called while reading, and
      // again with the same count while time passes).
      int64_t told = 0;
      job.OnProgress = [&job, &told, fd = pipe_fds[1]](int32_t) {
        for (; told < job.records_moved() / kRecordsPerBatch; ++told) {
          const char batch = 'b';
          if (write(fd, &batch, 1) != 1) _exit(3);
        }
      };
      job.Execute();
      _exit(2);  // the kill should have come long before
    }
    close(pipe_fds[1]);
    // Once `run` batches are in, the child is killed at once, or a little later in the
    // later runs: wherever it then is in writing the next batch or committing it.
    char batch = 0;
    for (int k = 0; k < run; ++k) ASSERT_EQ(read(pipe_fds[0], &batch, 1), 1);
    if (run > 1) usleep(static_cast<useconds_t>(run * 500));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(pipe_fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    // Read as a source, the file stays as the kill left it.
    const std::string before = ReadFile(db);
    const std::string refusal = OpenAsSource(db);
    if (!refusal.empty()) {
      EXPECT_EQ(refusal.rfind(db + " holds a write that a program stopped in the middle of", 0), 0u)
          << refusal;
    }
    EXPECT_EQ(ReadFile(db), before);
    const std::vector<std::string> checked = Check(db);
    ASSERT_EQ(checked.size(), runs.size() + 2);
    EXPECT_EQ(checked[0], "ok");
    // The earlier runs as they were; this one from its first record, in whole batches.
    EXPECT_EQ(std::vector<std::string>(checked.begin() + 1, checked.end() - 1), runs);
    int first = 0, last = 0, count = 0;
    ASSERT_EQ(std::sscanf(checked.back().c_str(), "%d %d %d", &first, &last, &count), 3);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, count);
    EXPECT_EQ(count % kRecordsPerBatch, 0) << count;
    EXPECT_GE(count, run * kRecordsPerBatch);
    runs.push_back(checked.back());
  }
  WriteRun(dir / "in.csv", kRuns + 1, kRows);
  TTrundle job;
  SetUpJob(job, dir / "in.csv", db);
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  const std::vector<std::string> checked = Check(db);
  ASSERT_EQ(checked.size(), runs.size() + 2);
  EXPECT_EQ(checked[0], "ok");
  EXPECT_EQ(std::vector<std::string>(checked.begin() + 1, checked.end() - 1), runs);
  EXPECT_EQ(checked.back(),
            std::string("1 ") + std::to_string(kRows) + " " + std::to_string(kRows));
  EXPECT_FALSE(std::filesystem::exists(db + "-journal"));
}

// A killed writer that had already changed pages of the file (its cache spilled) leaves a
// journal that must be played back: a source does not read the half-written file, and
// says how to recover it; a run into it recovers it and appends.
TEST(SqliteKillTest, AHalfWrittenFileIsNotReadUntilAWriterRecoversIt) {
  RegisterTextAdaptors();
  testing::LendSqliteKind();
  ScratchFolder dir;
  const std::string db = dir / "half.sqlite";
  testing::Exec(db,
                "create table t(run, n, text);"
                "with recursive k(i) as (select 1 union all select i + 1 from k where i < 2000) "
                "insert into t select 0, i, 'row text' from k;");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* handle = nullptr;
    sqlite3_open(db.c_str(), &handle);
    sqlite3_exec(handle, "pragma cache_size = 1; begin; update t set text = 'changed';", nullptr,
                 nullptr, nullptr);
    kill(getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_TRUE(std::filesystem::exists(db + "-journal"));
  const std::string before = ReadFile(db);
  EXPECT_EQ(OpenAsSource(db),
            db + " holds a write that a program stopped in the middle of (" + db +
                "-journal); it is read once it has been opened for writing (by a run "
                "into it, or by sqlite3), which undoes that write");
  EXPECT_EQ(ReadFile(db), before);
  WriteRun(dir / "in.csv", 1, 1500);
  TTrundle job;
  SetUpJob(job, dir / "in.csv", db);
  job.Execute();
  EXPECT_EQ(job.outcome(), TRunOutcome::kMoved);
  EXPECT_EQ(Check(db), (std::vector<std::string>{"ok", "1 2000 2000", "1 1500 1500"}));
  EXPECT_EQ(testing::Rows(db, "select count(*) from t where text = 'changed'"),
            std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace trundle
