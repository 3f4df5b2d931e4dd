// Rows appended to a table that is empty when the writer opens it: its indexes wait for
// the end of the run and are then built at once from the sorted keys. The verifier holds
// every index entry against the live rows (and every row against each index), mdb-export
// reads the rows back, and a killed run leaves a sound file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_key_run.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::JetDatabase;
using jet::PageStore;
using jet::TableDef;
using jet::TableWriter;

// A copy of a fixture with an empty table "Keyed": "id", a Long primary key, a second
// unique index on it, and "data", a Text(50).
std::string NewKeyedTable(const ScratchFolder& dir, const char* fixture = "indexTestV2000.mdb") {
  const std::string path = dir / "keyed.mdb";
  WriteFile(path, ReadFile(jet_test::Fixture(fixture)));
  auto store = PageStore::Open(path);
  auto db = JetDatabase::Open(path);
  jet::CreateTable(*store, *db, "Keyed", {{"id", jet::kLong}, {"data", jet::kText, 50}},
                   {{"PrimaryKey", {0}, true, true}, {"id", {0}, false, true}});
  return path;
}

// The n-th of distinct scattered keys.
int64_t Scattered(int n) { return int64_t(n) * 7919 % 1000003 + 100; }

void AppendRow(TableWriter& writer, int64_t id) {
  std::vector<Variant> row(2);
  row[0].SetInteger(id);
  row[1].SetString("row " + std::to_string(id));
  writer.Append(row);
}

size_t IndexCount(const std::string& path) {
  return JetDatabase::Open(path)->Definition("Keyed").indexes.size();
}

void ExpectSound(const std::string& path) {
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(path);
  EXPECT_TRUE(report.sound()) << report.Text();
}

TEST(JetKeysAtEnd, ScatteredKeysGetIndexesBuiltAtTheEndThatHoldEveryRow) {
  for (const char* fixture : {"indexTestV2000.mdb", "testV1997.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string path = NewKeyedTable(dir, fixture);
    constexpr int kRows = 25000;
    {
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      auto writer = TableWriter::Open(*store, *db, "Keyed");
      ASSERT_TRUE(writer->indexes_waiting());
      for (int n = 0; n < kRows; ++n) {
        AppendRow(*writer, Scattered(n));
        if (n % 1000 == 999) writer->Commit();
      }
      writer->Commit();
      // Between commits the table is one without indexes, and sound.
      EXPECT_EQ(IndexCount(path), 0u);
      EXPECT_EQ(JetDatabase::Open(path)->Definition("Keyed").row_count, uint32_t(kRows));
      ExpectSound(path);
      writer->Finish();
      EXPECT_FALSE(writer->indexes_waiting());
      // The writer goes on as for a keyed table: the index refuses a key it holds.
      AppendRow(*writer, 1);
      writer->Commit();
      std::vector<Variant> again(2);
      again[0].SetInteger(Scattered(77));
      EXPECT_THROW(writer->Append(again), jet::RowRefusedError);
      writer->Rollback();
    }
    const TableDef def = JetDatabase::Open(path)->Definition("Keyed");
    ASSERT_EQ(def.indexes.size(), 2u);
    for (const jet::PhysicalIndex& x : def.indexes) EXPECT_EQ(x.entry_count, uint32_t(kRows + 1));
    ExpectSound(path);
    auto db = JetDatabase::Open(path);
    const std::vector<std::string> rows =
        jet_test::ExportRows(path, "Keyed", db->OpenTable("Keyed")->fields());
    EXPECT_EQ(rows.size(), size_t(kRows + 1));
    std::set<std::string> ours;
    for (const std::string& r : jet_test::OurRows(*db, "Keyed")) ours.insert(r);
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), ours);
  }
}

TEST(JetKeysAtEnd, ARepeatedKeyIsRefusedAtItsRowAndARolledBackBatchTakesItsKeysAlong) {
  ScratchFolder dir;
  const std::string path = NewKeyedTable(dir);
  {
    auto store = PageStore::Open(path);
    auto db = JetDatabase::Open(path);
    auto writer = TableWriter::Open(*store, *db, "Keyed");
    for (int n = 0; n < 1500; ++n) AppendRow(*writer, Scattered(n));
    writer->Commit();
    for (int n = 1500; n < 1600; ++n) AppendRow(*writer, Scattered(n));
    // A key of a committed batch and one of the open batch.
    for (int n : {10, 1550}) {
      std::vector<Variant> row(2);
      row[0].SetInteger(Scattered(n));
      try {
        writer->Append(row);
        ADD_FAILURE() << "key " << Scattered(n) << " taken twice";
      } catch (const jet::RowRefusedError& e) {
        EXPECT_EQ(std::string(e.what()), "index PrimaryKey already holds the key id = " +
                                             std::to_string(Scattered(n)) +
                                             ", and it takes each key once");
      }
    }
    // The open batch's keys go with it: they may come again.
    writer->Rollback();
    for (int n = 1500; n < 1600; ++n) AppendRow(*writer, Scattered(n));
    writer->Commit();
    for (int n = 1600; n < 1700; ++n) AppendRow(*writer, Scattered(n));
    // The writer's end drops the open batch and builds the indexes.
  }
  EXPECT_EQ(JetDatabase::Open(path)->Definition("Keyed").row_count, 1600u);
  EXPECT_EQ(IndexCount(path), 2u);
  ExpectSound(path);
}

TEST(JetKeysAtEnd, UniqueKeysSetFindsWhatWasAddedAndForgetsWhatWasCut) {
  jet::KeyRun run;
  jet::UniqueKeys seen(run);
  auto name = [](int i) {
    std::string key(1, 'k');
    return key.append(std::to_string(i));
  };
  // Enough keys to grow the table several times; keys of different lengths, one a
  // prefix of another.
  for (int i = 0; i < 5000; ++i) {
    const std::string key = name(i);
    ASSERT_FALSE(seen.Contains(key)) << key;
    run.Add(key, uint32_t(i));
    seen.Insert(run.size() - 1);
  }
  for (int i = 0; i < 5000; ++i) EXPECT_TRUE(seen.Contains(name(i))) << i;
  EXPECT_FALSE(seen.Contains("k"));
  EXPECT_FALSE(seen.Contains("k5000"));
  run.Truncate(3000);
  seen.Truncate(3000);
  EXPECT_TRUE(seen.Contains("k2999"));
  EXPECT_FALSE(seen.Contains("k3000"));
  EXPECT_FALSE(seen.Contains("k4999"));
  run.Add("k4999", 1);
  seen.Insert(run.size() - 1);
  EXPECT_TRUE(seen.Contains("k4999"));
  // Keys in increasing order, then one out of order among them.
  jet::KeyRun up;
  jet::UniqueKeys rising(up);
  for (int i = 0; i < 3000; ++i) {
    up.Add(jet_test::Quote(std::to_string(100000 + 2 * i)), 0);
    rising.Insert(up.size() - 1);
  }
  EXPECT_TRUE(rising.Contains(jet_test::Quote("100000")));
  EXPECT_TRUE(rising.Contains(jet_test::Quote("105998")));
  EXPECT_FALSE(rising.Contains(jet_test::Quote("100001")));
  up.Truncate(2000);
  rising.Truncate(2000);
  EXPECT_FALSE(rising.Contains(jet_test::Quote("104000")));
  EXPECT_TRUE(rising.Contains(jet_test::Quote("103998")));
  up.Add(jet_test::Quote("100001"), 0);
  rising.Insert(up.size() - 1);
  for (const char* key : {"100000", "100001", "103998"})
    EXPECT_TRUE(rising.Contains(jet_test::Quote(key))) << key;
  EXPECT_FALSE(rising.Contains(jet_test::Quote("104000")));
  EXPECT_FALSE(rising.Contains(jet_test::Quote("100003")));
  // The sort: by unsigned bytes, a prefix first, equal keys by pointer.
  jet::KeyRun order;
  order.Add(std::string("\x80", 1), 1);
  order.Add("ab", 9);
  order.Add("a", 5);
  order.Add("ab", 2);
  order.Add(std::string("\x7f", 1), 3);
  std::vector<uint32_t> got;
  for (uint32_t i : order.SortedOrder()) got.push_back(order.pointer(i));
  EXPECT_EQ(got, (std::vector<uint32_t>{5, 2, 9, 3, 1}));
  // Long keys compare eight bytes at a time: a difference in the first word (a high
  // byte), after it, in the bytes past the last whole word, and a longer key whose
  // first nine bytes are another's.
  jet::KeyRun long_keys;
  long_keys.Add("abcdefgh\x90z", 6);
  long_keys.Add("abcdefgh\x10", 4);
  long_keys.Add("abcdefgh\x10\x01", 5);
  long_keys.Add(
      "\x81"
      "bcdefghij",
      7);
  long_keys.Add("abcdefghabcdefgX", 3);
  long_keys.Add("abcdefgaZZZZZZZZZ", 1);
  long_keys.Add("abcdefghabcdefgh", 2);
  got.clear();
  for (uint32_t i : long_keys.SortedOrder()) got.push_back(long_keys.pointer(i));
  EXPECT_EQ(got, (std::vector<uint32_t>{1, 4, 5, 3, 2, 6, 7}));
}

// A child appends batches of 1000 and tells each commit through a pipe; it is killed
// after the third. The file holds three whole batches, is sound, lacks the indexes; a
// later writer appends to it as to a table without indexes.
TEST(JetKeysAtEnd, AKillBetweenBatchesLeavesWholeBatchesWithoutIndexes) {
  ScratchFolder dir;
  const std::string path = NewKeyedTable(dir);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(pipe_fds[0]);
    try {
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      auto writer = TableWriter::Open(*store, *db, "Keyed");
      for (int n = 0;; ++n) {
        AppendRow(*writer, Scattered(n));
        if (n % 1000 == 999) {
          writer->Commit();
          const char c = 'c';
          if (write(pipe_fds[1], &c, 1) != 1) _exit(3);
          if (n == 2999) pause();  // killed here
        }
      }
    } catch (...) {
      _exit(2);
    }
  }
  close(pipe_fds[1]);
  char c;
  for (int k = 0; k < 3; ++k) ASSERT_EQ(read(pipe_fds[0], &c, 1), 1);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  close(pipe_fds[0]);
  ASSERT_TRUE(WIFSIGNALED(status));
  {
    auto store = PageStore::Open(path);  // settles the journal
  }
  EXPECT_EQ(JetDatabase::Open(path)->Definition("Keyed").row_count, 3000u);
  EXPECT_EQ(IndexCount(path), 0u);
  ExpectSound(path);
  {
    auto store = PageStore::Open(path);
    auto db = JetDatabase::Open(path);
    auto writer = TableWriter::Open(*store, *db, "Keyed");
    EXPECT_FALSE(writer->indexes_waiting());
    AppendRow(*writer, Scattered(5));  // no index to refuse it
    writer->Commit();
  }
  EXPECT_EQ(JetDatabase::Open(path)->Definition("Keyed").row_count, 3001u);
  ExpectSound(path);
}

}  // namespace
}  // namespace trundle
