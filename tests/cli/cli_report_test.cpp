// trundle-cli's --report and --verify as a user runs them: the report read back by a
// JSON parser we did not write (Python's), the verification against real destinations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "tests/test_files.h"

namespace trundle {
namespace {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int Shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

CliResult Cli(const ScratchFolder& dir, const std::vector<std::string>& args) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) of " " + Quote(a).
  std::string command("cd ");
  command.append(Quote(dir.path())).append(" && env -u DISPLAY -u WAYLAND_DISPLAY ");
  command.append(Quote(TRUNDLE_CLI));
  for (const std::string& a : args) command.append(" ").append(Quote(a));
  command.append(" >").append(Quote(dir / "stdout"));
  command.append(" 2>").append(Quote(dir / "stderr")).append(" </dev/null");
  CliResult run;
  run.status = Shell(command);
  run.out = ReadFile(dir / "stdout");
  run.err = ReadFile(dir / "stderr");
  return run;
}

// What a Python expression over the parsed report `r` prints; a report that is not
// valid JSON fails the test.
std::string Query(const ScratchFolder& dir, const std::string& report, const std::string& expr) {
  const std::string script = "import json,sys\nr=json.load(open(sys.argv[1],encoding='utf-8'))\n"
                             "sys.stdout.write(str(" + expr + "))\n";
  WriteFile(dir / "query.py", script);
  const std::string out = dir / "query.out";
  EXPECT_EQ(Shell("python3 " + Quote(dir / "query.py") + " " + Quote(dir / report) + " >" +
                  Quote(out) + " 2>&1"),
            0)
      << ReadFile(out);
  return ReadFile(out);
}

// A clean run: every member there, the times ISO 8601 in UTC, the counts right, one
// entry per destination field under the names a quote and a non-ASCII letter make.
TEST(CliReportTest, ACleanRunIsReportedWhole) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "ID,\"SAY \"\"HI\"\"\",GR\xC3\x9C\xC3\x9F""E\r\n1,a,x\r\n2,b,\r\n3,c,z\r\n");
  const CliResult run = Cli(dir, {"--report", "r.json", "in.csv", "db.sqlite", "--dest-table", "t"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Query(dir, "r.json", "sorted(r)"),
            "['batches_committed', 'destination', 'elapsed_seconds', 'exit_status', 'fields', "
            "'finished', 'messages', 'outcome', 'records', 'reject_file', 'source', 'started', "
            "'verification']");
  EXPECT_EQ(Query(dir, "r.json", "r['source']"),
            "{'kind': 'csv', 'file': 'in.csv', 'table': None}");
  EXPECT_EQ(Query(dir, "r.json", "r['destination']"),
            "{'kind': 'sqlite', 'connection': 'db.sqlite', 'table': 't'}");
  EXPECT_EQ(Query(dir, "r.json", "r['records']"), "{'read': 3, 'written': 3, 'rejected': 0}");
  EXPECT_EQ(Query(dir, "r.json", "(r['batches_committed'], r['reject_file'], r['exit_status'])"),
            "(1, None, 0)");
  const std::regex iso("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
  EXPECT_TRUE(std::regex_match(Query(dir, "r.json", "r['started']"), iso));
  EXPECT_TRUE(std::regex_match(Query(dir, "r.json", "r['finished']"), iso));
  EXPECT_EQ(Query(dir, "r.json", "r['started'] <= r['finished'] and r['elapsed_seconds'] >= 0"),
            "True");
  EXPECT_EQ(Query(dir, "r.json", "[(f['source'], f['destination']) for f in r['fields']]"),
            "[('ID', 'ID'), ('SAY \"HI\"', 'SAY \"HI\"'), ('GR\xC3\x9C\xC3\x9F""E', "
            "'GR\xC3\x9C\xC3\x9F""E')]");
  EXPECT_EQ(Query(dir, "r.json", "[f['changed'] for f in r['fields']]"), "[0, 0, 0]");
  EXPECT_EQ(Query(dir, "r.json", "r['messages']"), "[]");
}

// Records set aside, a value cut to its field, a run that fails and one stopped by a
// signal: each leaves a report that says so.
TEST(CliReportTest, RejectsCutValuesAndFailuresAreReported) {
  ScratchFolder dir;
  // A dBase table with a number field and a text field two characters wide.
  WriteFile(dir / "make.py",
            "import sqlite3\n"
            "c = sqlite3.connect('first.sqlite')\n"
            "c.execute('create table s (id integer, name varchar(2))')\n"
            "c.execute(\"insert into s values (1, 'ab')\")\n"
            "c.commit()\n");
  ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && python3 make.py"), 0);
  ASSERT_EQ(Cli(dir, {"first.sqlite", "out.dbf"}).status, 0);
  WriteFile(dir / "more.csv", "ID,NAME\r\n2,cd\r\nx,ef\r\n4,toolong\r\n");
  // Set aside under skip: the number that is no number and the value too long.
  CliResult run = Cli(dir, {"--on-error", "skip", "--report", "skip.json", "more.csv", "out.dbf"});
  EXPECT_EQ(run.status, 4) << run.out << run.err;
  EXPECT_EQ(Query(dir, "skip.json", "r['records']"), "{'read': 3, 'written': 1, 'rejected': 2}");
  EXPECT_EQ(Query(dir, "skip.json", "(r['reject_file'], r['exit_status'])"),
            "('out.dbf.rejects.csv', 4)");
  EXPECT_EQ(Query(dir, "skip.json", "sum('set aside' in m for m in r['messages'])"), "3");
  // Stored cut under stop: counted as changed, and named in the messages.
  WriteFile(dir / "long.csv", "ID,NAME\r\n5,toolong\r\n6,ok\r\n");
  run = Cli(dir, {"--report", "cut.json", "long.csv", "out.dbf"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(Query(dir, "cut.json", "[(f['destination'], f['changed']) for f in r['fields']]"),
            "[('id', 0), ('name', 1)]");
  EXPECT_EQ(Query(dir, "cut.json", "any('cut' in m for m in r['messages'])"), "True");

  // A source table that is not there: nothing moved, exit 1, the cause in the messages.
  run = Cli(dir, {"--report", "failed.json", "--source-table", "nosuch", "first.sqlite", "x.csv"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_EQ(Query(dir, "failed.json", "(r['exit_status'], r['outcome'], r['records']['read'])"),
            "(1, 'not opened', 0)");
  EXPECT_EQ(Query(dir, "failed.json", "r['messages'][-1]"), "Failed: nothing was moved");
  EXPECT_EQ(Query(dir, "failed.json", "len(r['messages']) > 1 and r['fields'] == []"), "True");
}

TEST(CliReportTest, AStoppedRunIsReported) {
  ScratchFolder dir;
  const std::string fifo = dir / "in.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir / "stdout").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string out = dir / "out.csv", report = dir / "stop.json";
  std::vector<const char*> argv = {TRUNDLE_CLI, "--verify", "--report", report.c_str(),
                                   fifo.c_str(), out.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, TRUNDLE_CLI, &actions, nullptr, const_cast<char**>(argv.data()),
                        environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  const int fd = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  kill(pid, SIGINT);
  const std::string text = "a\r\n1\r\n";
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  EXPECT_EQ(Query(dir, "stop.json", "(r['exit_status'], r['outcome'], r['records']['written'])"),
            "(130, 'stopped', 0)");
  EXPECT_EQ(Query(dir, "stop.json", "any(m.startswith('Stopped on request') for m in r['messages'])"),
            "True");
  EXPECT_EQ(Query(dir, "stop.json", "r['verification']['result']"), "not verified");
  // Nothing but the report is left of it: no temporary file beside it.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find("stop.json."), std::string::npos);
}

// A new table and an append into it verify, for each kind that can be read back; the
// report holds the result.
TEST(CliReportTest, NewTablesAndAppendsVerify) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "ID,NAME,PRICE,WHEN\r\n1,Ann,3.50,2024-02-29\r\n2,,0.1,\r\n"
                            "3,B\xC3\xB6rje,-2,1999-12-31\r\n");
  const struct {
    const char* name;
    std::vector<std::string> args;
  } destinations[] = {
      {"csv", {"out.csv"}},
      {"dbase", {"out.dbf"}},
      {"sqlite", {"db.sqlite", "--dest-table", "t"}},
      {"access", {"db.mdb", "--dest-table", "t", "--create-database"}},
  };
  for (const auto& dest : destinations) {
    SCOPED_TRACE(dest.name);
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<std::string> args = {"--verify", "--report", "v.json", "in.csv"};
      args.insert(args.end(), dest.args.begin(), dest.args.end());
      if (pass == 1 && args.back() == "--create-database") args.pop_back();
      const CliResult run = Cli(dir, args);
      EXPECT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_NE(run.out.find("Verified: 3 records, 4 fields match\n"), std::string::npos)
          << run.out;
      EXPECT_EQ(Query(dir, "v.json", "(r['verification']['result'], r['exit_status'])"),
                "('match', 0)");
    }
  }
}

// A value the destination cut no longer matches what was written: named, exit 5.
TEST(CliReportTest, AValueCutIsADifference) {
  ScratchFolder dir;
  WriteFile(dir / "a.csv", "ID,NAME\r\n1,ab\r\n");
  ASSERT_EQ(Cli(dir, {"a.csv", "out.dbf"}).status, 0);
  WriteFile(dir / "b.csv", "ID,NAME\r\n2,abcdef\r\n");
  const CliResult run = Cli(dir, {"--verify", "--report", "r.json", "b.csv", "out.dbf"});
  EXPECT_EQ(run.status, 5) << run.out << run.err;
  EXPECT_NE(run.err.find("Verification failed: field NAME differs from what was written\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("field ID"), std::string::npos) << run.err;
  EXPECT_EQ(Query(dir, "r.json", "(r['verification']['result'], "
                                 "r['verification']['fields_differing'], r['exit_status'])"),
            "('differs', ['NAME'], 5)");
}

TEST(CliReportTest, VerifyNeedsADestinationThatCanBeRead) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "A\r\n1\r\n");
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--verify", "in.csv", "out.html"}, "HTML destinations cannot be read"},
      {{"--verify", "--clipboard", "in.csv"}, "the clipboard cannot be read"},
      {{"--verify", "in.csv", "-"}, "standard output cannot be read"},
  };
  for (const auto& c : cases) {
    const CliResult run = Cli(dir, c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out.html"));
}

}  // namespace
}  // namespace trundle
