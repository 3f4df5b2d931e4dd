// A writer process killed (SIGKILL) at a random moment of a long run of appends, batches
// of 1000 rows each committed, into a plain table and a table with a primary key: once the database is opened again it is, byte for byte,
// the file some whole number of commits left, at least as many as the writer had
// reported, and it checks sound.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_verify.h"
#include "databases/core/file_io.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::JetDatabase;
using jet::PageStore;
using jet::TableWriter;

constexpr int kBatches = 12;
constexpr int kBatchRows = 1000;

// Appends kBatches batches to the table "Table" (two Text(50) columns) or, in
// indexTestV2000, to "Table2" (a Long primary key, taking scattered numbers so that its
// index splits pages all over, and a Text(50)), calling committed(k) after the k-th
// commit.
template <typename Committed>
void AppendBatches(const std::string& file, const Committed& committed) {
  auto store = PageStore::Open(file);
  auto db = JetDatabase::Open(file);
  const bool keyed = db->FindTable("Table2").has_value();
  auto writer = TableWriter::Open(*store, *db, keyed ? "Table2" : "Table");
  std::vector<Variant> row(2);
  for (int b = 0; b < kBatches; ++b) {
    for (int i = 0; i < kBatchRows; ++i) {
      const int n = b * kBatchRows + i;
      if (keyed)
        row[0].SetInteger(int64_t(n) * 7919 % 1000003 + 100);
      else
        row[0].SetString("row " + std::to_string(n));
      row[1].SetString(std::string(size_t(n % 50), char('a' + n % 26)));
      writer->Append(row);
    }
    writer->Commit();
    committed(b + 1);
  }
}

TEST(JetAppendCrash, ASigkillAnywhereInARunLeavesWholeBatchesOnly) {
  for (const char* fixture : {"delTestV1997.mdb", "delTestV2000.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / fixture;
    // The file after each number of commits, from a run nobody stops.
    std::vector<std::string> states = {ReadFile(jet_test::Fixture(fixture))};
    WriteFile(file, states[0]);
    AppendBatches(file, [&](int) { states.push_back(ReadFile(file)); });

    std::mt19937 random(20261206);
    for (int round = 0; round < 8; ++round) {
      WriteFile(file, states[0]);
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(fds[0]);
        try {
          AppendBatches(file, [&](int) { (void)!write(fds[1], "c", 1); });
        } catch (...) {
          _exit(2);
        }
        _exit(0);
      }
      close(fds[1]);
      // Wait for some commits, then kill at a random moment of the batch after them.
      const int wait_for = int(random() % kBatches);
      int reported = 0;
      char c;
      while (reported < wait_for && read(fds[0], &c, 1) == 1) ++reported;
      usleep(useconds_t(random() % 60000));
      kill(child, SIGKILL);
      int status = 0;
      waitpid(child, &status, 0);
      close(fds[0]);
      SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(reported) +
                   " commits reported");

      PageStore::Open(file).reset();  // puts back what the journal holds
      EXPECT_FALSE(PathExists(file + "-journal"));
      const std::string now = ReadFile(file);
      int whole = -1;
      for (size_t k = 0; k < states.size(); ++k)
        if (now == states[k]) whole = int(k);
      EXPECT_GE(whole, reported) << "the file is not what any number of commits left";
      const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
      EXPECT_TRUE(report.sound()) << report.Text();
    }
  }
}

}  // namespace
}  // namespace trundle
