// Two trundle-cli runs on one destination file at once, and runs killed while they write
// one: real processes, as users and scripts start them. A run is caught at the moment it
// holds its destination by stopping it (SIGSTOP) and looking at the file's lock, so that
// the other run, the reader or the kill meets it there every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "tests/test_files.h"

namespace trundle {
namespace {

struct Outcome {
  int status = -1;  // the exit status, or 128 + the signal that ended the run
  std::string out;
  std::string err;
};

// Starts trundle-cli with args; its log goes to log.out and log.err.
pid_t Start(const std::string& log, const std::vector<std::string>& args) {
  std::vector<std::string> all = {TRUNDLE_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (log + ".out").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (log + ".err").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, TRUNDLE_CLI, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

Outcome Finish(pid_t pid, const std::string& log) {
  Outcome o;
  int raw = 0;
  if (waitpid(pid, &raw, 0) == pid) o.status = StatusOf(raw);
  o.out = ReadFile(log + ".out");
  o.err = ReadFile(log + ".err");
  return o;
}

Outcome RunCli(const std::string& log, const std::vector<std::string>& args) {
  return Finish(Start(log, args), log);
}

// True when an open of path holds a write lock on it, as a writing run does.
bool Locked(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  close(fd);
  return held;
}

// Stops the run at a moment it holds the lock on file, letting it go on while it does
// not yet. Returns -1 once it is stopped there, or the exit status when it ended first.
int StopWhileHolding(pid_t pid, const std::string& file) {
  for (;;) {
    kill(pid, SIGSTOP);
    int raw = 0;
    if (waitpid(pid, &raw, WUNTRACED) != pid) return -2;
    if (!WIFSTOPPED(raw)) return StatusOf(raw);
    if (Locked(file)) return -1;
    kill(pid, SIGCONT);
    usleep(2000);
  }
}

bool IsText(const std::string& dest) {
  return dest.size() >= 4 && dest.compare(dest.size() - 4, 4, ".csv") == 0;
}

// The temporary file a run replacing the text file dest writes.
std::string TemporaryOf(const std::string& dest) {
  const size_t slash = dest.rfind('/');
  return dest.substr(0, slash + 1) + "." + dest.substr(slash + 1) + ".trundle-tmp";
}

// The file a run holds while it writes dest: a text file's temporary file, else the table.
std::string HeldFile(const std::string& dest) { return IsText(dest) ? TemporaryOf(dest) : dest; }

std::set<std::string> Listing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

// Source records as trundle-cli writes them to a CSV file: one per line, after the names.
std::string Lines(const std::string& tag, int from, int count) {
  std::string text;
  char line[64];
  for (int i = from; i < from + count; ++i) {
    std::snprintf(line, sizeof line, "\"%06d\",\"%s %06d\"\r\n", i, tag.c_str(), i);
    text += line;
  }
  return text;
}

std::string SourceOf(const std::string& tag, int from, int count) {
  std::string text = "N,T\r\n";
  char line[64];
  for (int i = from; i < from + count; ++i) {
    std::snprintf(line, sizeof line, "%06d,%s %06d\r\n", i, tag.c_str(), i);
    text += line;
  }
  return text;
}

constexpr char kHeaderLine[] = "\"N\",\"T\"\r\n";
constexpr int kBig = 60000;  // long enough a run to be caught holding its file

class WritersTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "seed.csv", SourceOf("seeds", 900000, 2));
    WriteFile(dir_ / "big.csv", SourceOf("large", 0, kBig));
    WriteFile(dir_ / "small.csv", SourceOf("small", 700000, 3));
    dest_ = dir_ / (std::string("out.") + GetParam());
    ASSERT_EQ(RunCli(log("seeds"), {dir_ / "seed.csv", dest_}).status, 0);
  }
  std::string log(const std::string& name) const { return logs_ / name; }
  // The destination as a reader sees it now, written out as CSV.
  std::string Seen(const std::string& name) {
    const std::string copy = logs_ / (name + ".csv");
    const Outcome o = RunCli(log(name), {dest_, copy});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    return ReadFile(copy);
  }
  // Starts a run of big.csv into the destination and stops it while it holds the file.
  pid_t StartBigAndCatchIt() {
    const pid_t pid = Start(log("large"), {dir_ / "big.csv", dest_});
    EXPECT_EQ(StopWhileHolding(pid, HeldFile(dest_)), -1) << "the run was never caught writing";
    return pid;
  }
  std::string Refusal() const {
    return dest_ + " is being written by another program; try again when it has finished\n";
  }

  ScratchFolder dir_;
  ScratchFolder logs_;
  std::string dest_;
};

// One run holds the destination; a second is refused at once, exits 1 and writes nothing;
// a reader meanwhile reads what the table held before or whole batches of the first run.
TEST_P(WritersTest, ASecondWriterIsRefusedAndAReaderIsNot) {
  const pid_t first = StartBigAndCatchIt();
  const std::string before = ReadFile(dest_);
  const Outcome second = RunCli(log("second"), {dir_ / "small.csv", dest_});
  EXPECT_EQ(second.status, 1) << second.out << second.err;
  EXPECT_NE(second.out.find(Refusal()), std::string::npos) << second.out;
  EXPECT_EQ(second.out.find("records moved"), std::string::npos) << second.out;
  EXPECT_EQ(ReadFile(dest_), before);
  EXPECT_TRUE(Locked(HeldFile(dest_))) << "the refused run took the first one's file";

  const std::string all = kHeaderLine + Lines("seeds", 900000, 2) + Lines("large", 0, kBig);
  const std::string seen = Seen("reader");
  EXPECT_EQ(all.compare(0, seen.size(), seen), 0) << "a reader saw more than whole records";
  EXPECT_GE(seen.size(), std::string(kHeaderLine + Lines("seeds", 900000, 2)).size());

  kill(first, SIGCONT);
  const Outcome done = Finish(first, log("large"));
  EXPECT_EQ(done.status, 0) << done.out << done.err;
  EXPECT_EQ(Seen("after"), all);
  EXPECT_FALSE(std::filesystem::exists(TemporaryOf(dest_)));
}

// A run killed while it writes leaves the destination as a reader then sees it; the next
// run adds its records right after those, and nothing else of the killed run stays.
TEST_P(WritersTest, ARunKilledWhileWritingIsFollowedByTheNextRun) {
  const std::set<std::string> files = Listing(dir_.path());
  const pid_t killed = StartBigAndCatchIt();
  kill(killed, SIGKILL);
  EXPECT_EQ(Finish(killed, log("large")).status, 128 + SIGKILL);
  // The temporary file of a text destination is what a killed run leaves behind.
  EXPECT_EQ(std::filesystem::exists(TemporaryOf(dest_)), IsText(dest_));
  const std::string seen = Seen("seen");
  const Outcome next = RunCli(log("next"), {dir_ / "small.csv", dest_});
  EXPECT_EQ(next.status, 0) << next.out << next.err;
  EXPECT_EQ(Seen("after"), seen + Lines("small", 700000, 3));
  EXPECT_EQ(Listing(dir_.path()), files);
}

// Killed while it waits for its source (a pipe with a writer that sends nothing more), a
// run has not touched the destination.
TEST_P(WritersTest, ARunKilledBeforeItWritesLeavesTheDestinationAlone) {
  const std::set<std::string> files = Listing(dir_.path());
  const std::string before = ReadFile(dest_);
  const std::string fifo = logs_ / "pipe.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t pid = Start(log("pipe"), {"--source-kind", "csv", fifo, dest_});
  const int fd = open(fifo.c_str(), O_WRONLY);  // returns once the run reads it
  ASSERT_GE(fd, 0);
  const std::string start = "N,T\r\n000001,pipe 000001\r\n";
  EXPECT_EQ(write(fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
  kill(pid, SIGKILL);
  EXPECT_EQ(Finish(pid, log("pipe")).status, 128 + SIGKILL);
  close(fd);
  EXPECT_EQ(ReadFile(dest_), before);
  EXPECT_EQ(Listing(dir_.path()), files);
}

INSTANTIATE_TEST_SUITE_P(Destinations, WritersTest, ::testing::Values("csv", "dbf", "db"));

// The state a run killed between its records and its header's new count leaves: the
// records are in the file, the header is the one before them. A reader goes by the
// header; the next run says how many records it found past the count, drops them and
// writes its own after the counted ones.
TEST(CliKilledTableTest, RecordsPastTheHeadersCountAreDroppedAndSaid) {
  for (const char* kind : {"dbf", "db"}) {
    SCOPED_TRACE(kind);
    ScratchFolder dir;
    const std::string dest = dir / (std::string("out.") + kind);
    WriteFile(dir / "seed.csv", SourceOf("seeds", 900000, 2));
    WriteFile(dir / "more.csv", SourceOf("extra", 0, 1500));
    WriteFile(dir / "small.csv", SourceOf("small", 700000, 3));
    ASSERT_EQ(RunCli(dir / "log", {dir / "seed.csv", dest}).status, 0);
    const std::string table = ReadFile(dest);
    const size_t header_size =
        std::string(kind) == "dbf"
            ? static_cast<unsigned char>(table[8]) | static_cast<unsigned char>(table[9]) << 8
            : static_cast<unsigned char>(table[2]) | static_cast<unsigned char>(table[3]) << 8;
    ASSERT_EQ(RunCli(dir / "log", {dir / "more.csv", dest}).status, 0);
    std::string grown = ReadFile(dest);
    grown.replace(0, header_size, table, 0, header_size);
    WriteFile(dest, grown);

    const Outcome next = RunCli(dir / "log", {dir / "small.csv", dest});
    EXPECT_EQ(next.status, 0) << next.out << next.err;
    const std::string left =
        std::string(kind) == "dbf" ? "1500 records" : "1500 records in its blocks";
    EXPECT_NE(next.out.find(dest + " holds " + left +
                            " after the 2 records its header counts, left by a run that did not "
                            "finish; they are dropped, and the new records follow those 2\n"),
              std::string::npos)
        << next.out;
    ASSERT_EQ(RunCli(dir / "log", {dest, dir / "check.csv"}).status, 0);
    EXPECT_EQ(ReadFile(dir / "check.csv"),
              kHeaderLine + Lines("seeds", 900000, 2) + Lines("small", 700000, 3));
    // No blocks or records of the dropped ones stay in the file.
    const size_t record_size =
        static_cast<unsigned char>(table[10]) | static_cast<unsigned char>(table[11]) << 8;
    EXPECT_EQ(ReadFile(dest).size(),
              table.size() + (std::string(kind) == "dbf" ? 3 * record_size : 0));
  }
}

}  // namespace
}  // namespace trundle
