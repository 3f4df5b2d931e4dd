// The journalled page store: writes and allocations reach the file at Commit and nowhere
// else, Rollback and an abandoned batch put back every byte, a crash at any page write (the
// test hook) or a SIGKILL at any moment leaves the database as it was before the batch or
// after it, byte for byte, and a database someone else holds is refused.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_verify.h"
#include "databases/core/file_io.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::kHeldPages;
using jet::PageStore;

constexpr uint8_t kMask[4] = {0xC7, 0xDA, 0x39, 0x6B};

size_t PageSize(const std::string& db) { return db[0x14] == 0 ? 2048 : 4096; }

// A copy whose pages after the first are encoded with key, as Access's "encode database".
std::string Encoded(std::string db, uint32_t key) {
  const size_t ps = PageSize(db);
  const size_t header = db[0x14] == 0 ? 126 : 128;
  uint8_t* h = reinterpret_cast<uint8_t*>(&db[0x18]);
  jet::Rc4(kMask, 4, h, header);
  std::memcpy(&db[0x3E], &key, 4);
  jet::Rc4(kMask, 4, h, header);
  for (size_t p = 1; (p + 1) * ps <= db.size(); ++p) {
    const uint32_t k = key ^ uint32_t(p);
    const uint8_t kb[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
    jet::Rc4(kb, 4, reinterpret_cast<uint8_t*>(&db[p * ps]), ps);
  }
  return db;
}

// The databases every test runs over: Jet 3, Jet 4, and a Jet 4 copy with encoded pages.
struct Subject {
  std::string name;
  std::string bytes;
};
std::vector<Subject> Subjects() {
  const std::string jet4 = ReadFile(jet_test::Fixture("test2V2000.mdb"));
  return {{"testV1997.mdb", ReadFile(jet_test::Fixture("testV1997.mdb"))},
          {"test2V2000.mdb", jet4},
          {"encoded test2V2000.mdb", Encoded(jet4, 0x6B39DAC7)}};
}

// The pages the global usage map (page 1, row 0, an inline map in every fixture) marks
// free inside the file, read from plain page bytes.
std::set<uint32_t> FreePages(const std::vector<uint8_t>& page1, bool jet3, uint32_t page_count) {
  const size_t offsets = jet3 ? 10 : 14;
  const size_t begin = (page1[offsets] | (page1[offsets + 1] << 8)) & 0x1FFF;
  const size_t end = page1.size();
  std::set<uint32_t> free;
  uint32_t start;
  std::memcpy(&start, &page1[begin + 1], 4);
  for (size_t i = 0; i < (end - begin - 5) * 8; ++i)
    if (start + i < page_count && (page1[begin + 5 + i / 8] >> (i % 8)) & 1)
      free.insert(uint32_t(start + i));
  return free;
}

// A batch: the last byte of three existing pages changed, then `added` pages allocated
// and filled with a pattern of their number. Returns the allocated pages.
std::vector<uint32_t> RunBatch(PageStore& store, int added, uint8_t seed,
                               const std::function<void()>& progress = [] {}) {
  std::vector<uint8_t> page;
  for (uint32_t p : {3u, 4u, 6u}) {
    store.pages().Read(p, page);
    page.back() ^= seed;
    store.Write(p, page);
    progress();
  }
  std::vector<uint32_t> allocated;
  for (int i = 0; i < added; ++i) {
    const uint32_t p = store.Allocate();
    page.assign(size_t(store.format().page_size), uint8_t(p * 7 + seed));
    store.Write(p, page);
    allocated.push_back(p);
    progress();
  }
  return allocated;
}

// The file after the same batch ran to its commit without interruption.
std::string After(const ScratchFolder& dir, const Subject& s, int added, uint8_t seed) {
  const std::string path = dir / "after.mdb";
  WriteFile(path, s.bytes);
  auto store = PageStore::Open(path);
  RunBatch(*store, added, seed);
  store->Commit();
  store.reset();
  return ReadFile(path);
}

// True when a journal beside path would put pages back: a committed batch leaves the file
// sealed, and a rolled-back one spoilt, while its store stays open.
bool JournalPending(const std::string& path) {
  jet::PageFile::Overlay pages;
  uint64_t length = 0;
  return jet::ReadJournal(path, 0, pages, length);
}

// Reopening recovers; then the file must be one of the two states and hold no journal.
void ExpectBeforeOrAfter(const std::string& path, const std::string& before,
                         const std::string& after, bool* was_after = nullptr) {
  PageStore::Open(path).reset();
  EXPECT_FALSE(PathExists(path + "-journal"));
  const std::string now = ReadFile(path);
  EXPECT_TRUE(now == before || now == after)
      << "neither before nor after; length " << now.size() << " (before " << before.size()
      << ", after " << after.size() << ")";
  if (was_after) *was_after = now == after;
}

// Every row of every table, system tables included, as our reader gives them.
std::vector<std::vector<std::string>> AllRows(const std::string& path) {
  auto db = jet::JetDatabase::Open(path);
  std::vector<std::vector<std::string>> rows;
  for (const std::string& t : db->AllTables()) rows.push_back(jet_test::OurRows(*db, t, true));
  return rows;
}

TEST(JetPageStore, WritesAndAllocationsReachTheFileAtCommit) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string path = dir / "t.mdb";
    WriteFile(path, s.bytes);
    const bool jet3 = s.bytes[0x14] == 0;
    const uint32_t old_count = uint32_t(s.bytes.size() / PageSize(s.bytes));
    const auto rows_before = AllRows(path);

    auto store = PageStore::Open(path);
    std::vector<uint8_t> page1;
    store->pages().Read(1, page1);
    const std::set<uint32_t> free_before = FreePages(page1, jet3, old_count);
    ASSERT_FALSE(free_before.empty());
    // More than the inline map's window of 512 (Jet 3: 1024) pages, so that the window
    // moves, and more than a batch holds in memory, so that pages go out before Commit.
    const int added = 1100;
    const std::vector<uint32_t> allocated = RunBatch(*store, added, 0x5A);
    std::vector<uint8_t> page;
    store->pages().Read(allocated.back(), page);
    EXPECT_EQ(page[0], uint8_t(allocated.back() * 7 + 0x5A)) << "reads see the open batch";
    store->Commit();
    EXPECT_FALSE(JournalPending(path));

    // Free pages inside the file are taken first, then the file grows page by page.
    std::vector<uint32_t> expected(free_before.begin(), free_before.end());
    for (uint32_t p = old_count; expected.size() < allocated.size(); ++p) expected.push_back(p);
    EXPECT_EQ(allocated, expected);
    EXPECT_EQ(store->page_count(), old_count + uint32_t(added - free_before.size()));
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), size_t(store->page_count()) * PageSize(s.bytes));
    store.reset();

    // A new store sees the committed pages, and its global map hands out none of them.
    store = PageStore::Open(path);
    for (uint32_t p : {allocated.front(), allocated[600], allocated.back()}) {
      store->pages().Read(p, page);
      EXPECT_EQ(page, std::vector<uint8_t>(page.size(), uint8_t(p * 7 + 0x5A))) << p;
      const bool raw_plain = bytes.compare(p * page.size(), page.size(),
                                           reinterpret_cast<const char*>(page.data()),
                                           page.size()) == 0;
      EXPECT_EQ(raw_plain, s.name.find("encoded") == std::string::npos) << p;
    }
    // The map's window moved with the file's end: the last page lies inside it, marked in
    // use, so that no reader of the map takes a page past the window for free.
    store->pages().Read(1, page1);
    const size_t row = (page1[jet3 ? 10 : 14] | (page1[jet3 ? 11 : 15] << 8)) & 0x1FFF;
    uint32_t start;
    std::memcpy(&start, &page1[row + 1], 4);
    const uint32_t last = store->page_count() - 1;
    ASSERT_GT(start, 0u);
    ASSERT_LE(start, last);
    ASSERT_LT(last - start, (page1.size() - row - 5) * 8);
    EXPECT_EQ((page1[row + 5 + (last - start) / 8] >> ((last - start) % 8)) & 1, 0);
    const std::set<uint32_t> taken(allocated.begin(), allocated.end());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(taken.count(store->Allocate()), 0u);
    store->Rollback();
    store.reset();

    // Nothing the tables own moved: every table reads as before.
    EXPECT_EQ(AllRows(path), rows_before);
  }
}

TEST(JetPageStore, RollbackAndAnAbandonedBatchPutBackEveryByte) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string path = dir / "t.mdb";
    WriteFile(path, s.bytes);
    {
      auto store = PageStore::Open(path);
      RunBatch(*store, int(kHeldPages) + 100, 0x33);  // some went out under the journal
      EXPECT_TRUE(PathExists(path + "-journal"));
      store->Rollback();
      EXPECT_EQ(store->page_count(), s.bytes.size() / PageSize(s.bytes));
      EXPECT_FALSE(JournalPending(path));
      EXPECT_TRUE(ReadFile(path) == s.bytes);
      // The store goes on: a small batch after the rollback commits as usual.
      RunBatch(*store, 2, 0x11);
      store->Commit();
    }
    const std::string committed = ReadFile(path);
    EXPECT_TRUE(committed == After(dir, s, 2, 0x11));
    {
      auto store = PageStore::Open(path);
      RunBatch(*store, int(kHeldPages) + 100, 0x44);
    }  // closed with the batch open
    EXPECT_TRUE(ReadFile(path) == committed);
    EXPECT_FALSE(PathExists(path + "-journal"));
  }
}

TEST(JetPageStore, ACrashAtEveryPageWriteLeavesTheBatchWholeOrAbsent) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string after = After(dir, s, 4, 0x77);
    ASSERT_NE(after, s.bytes);
    const std::string path = dir / "t.mdb";
    int befores = 0, afters = 0;
    for (int n = 0; n < 100 && afters == 0; ++n) {
      SCOPED_TRACE("crash before page write " + std::to_string(n));
      WriteFile(path, s.bytes);
      bool threw = false;
      {
        auto store = PageStore::Open(path);
        RunBatch(*store, 4, 0x77);
        store->FailAfterWrites(n);
        try {
          store->Commit();
        } catch (const TrundleError& e) {
          threw = true;
          EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
        }
      }
      if (threw) {
        EXPECT_TRUE(PathExists(path + "-journal"));
      }
      bool was_after = false;
      ExpectBeforeOrAfter(path, s.bytes, after, &was_after);
      EXPECT_EQ(was_after, !threw);
      (was_after ? afters : befores)++;
    }
    EXPECT_GT(befores, 4);  // three changed pages, the global map, the added pages
    EXPECT_EQ(afters, 1);
  }
}

// One journal file serves every batch of a store: a committed batch leaves it sealed, a
// later batch writes its own header and records over it, and a crash anywhere in that
// later batch leaves the database as the earlier commit made it or as the later one
// would, never before the earlier one.
TEST(JetPageStore, ACrashInALaterBatchKeepsTheBatchesCommittedBeforeIt) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string path = dir / "t.mdb";
    // The first batch journals more records than the second, so that records of the
    // first lie beyond the second's end in the journal file.
    auto both_batches = [&](int fail_after) {
      WriteFile(path, s.bytes);
      auto store = PageStore::Open(path);
      RunBatch(*store, 40, 0x21);
      std::vector<uint8_t> page;
      for (uint32_t p = 7; p < 12; ++p) {
        store->pages().Read(p, page);
        page.back() ^= 0x5C;
        store->Write(p, page);
      }
      store->Commit();
      EXPECT_TRUE(PathExists(path + "-journal")) << "kept for the next batch";
      EXPECT_FALSE(JournalPending(path));
      const std::string first = ReadFile(path);
      // Copied now, the pair is what a crash right after the commit leaves.
      WriteFile(dir / "copy.mdb", first);
      WriteFile(dir / "copy.mdb-journal", ReadFile(path + "-journal"));
      RunBatch(*store, 2, 0x65);
      store->FailAfterWrites(fail_after);
      bool threw = false;
      try {
        store->Commit();
      } catch (const TrundleError&) {
        threw = true;
      }
      store.reset();
      EXPECT_EQ(PathExists(path + "-journal"), threw) << "a store that closes deletes it";
      return std::make_pair(first, threw);
    };
    const auto [first, threw] = both_batches(-1);
    ASSERT_FALSE(threw);
    const std::string second = ReadFile(path);
    ASSERT_NE(first, second);
    ExpectBeforeOrAfter(dir / "copy.mdb", first, first);

    int befores = 0, afters = 0;
    for (int n = 0; n < 100 && afters == 0; ++n) {
      SCOPED_TRACE("crash before page write " + std::to_string(n) + " of the second batch");
      const auto [earlier, crashed] = both_batches(n);
      bool was_after = false;
      ExpectBeforeOrAfter(path, earlier, second, &was_after);
      EXPECT_EQ(was_after, !crashed);
      (was_after ? afters : befores)++;
    }
    EXPECT_GT(befores, 3);
    EXPECT_EQ(afters, 1);
  }
}

// A committed batch's journal stays until the next batch; found beside the database
// after a crash, it keeps the database only when every page the batch wrote, and the
// length, are as its seal says. Anything else is a commit that did not reach the disk
// whole, and the batch goes.
TEST(JetPageStore, ASealedJournalKeepsOnlyTheDatabaseItDescribes) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string path = dir / "t.mdb";
    WriteFile(path, s.bytes);
    std::string after, journal;
    std::vector<uint32_t> added;
    {
      auto store = PageStore::Open(path);
      added = RunBatch(*store, 40, 0x6B);  // past the free pages: the file grows
      store->Commit();
      after = ReadFile(path);
      journal = ReadFile(path + "-journal");
    }
    const size_t page_size = PageSize(s.bytes);
    ASSERT_GT(after.size(), s.bytes.size());
    auto with_byte_changed = [&](uint32_t page) {
      std::string bytes = after;
      bytes[page * page_size + page_size / 2] ^= 0x01;
      return bytes;
    };
    const struct {
      const char* name;
      std::string bytes;
      bool committed;
    } cases[] = {
        {"as committed", after, true},
        {"a changed page not written whole", with_byte_changed(4), false},
        {"an added page not written whole", with_byte_changed(added.back()), false},
        {"the global map not written", with_byte_changed(1), false},
        {"the last page missing", after.substr(0, after.size() - page_size), false},
        {"a page too many", after + std::string(page_size, '\0'), false},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      WriteFile(path, c.bytes);
      WriteFile(path + "-journal", journal);
      EXPECT_EQ(JournalPending(path), !c.committed) << "a reader sees what the next open leaves";
      bool was_after = false;
      ExpectBeforeOrAfter(path, s.bytes, after, &was_after);
      EXPECT_EQ(was_after, c.committed);
    }
  }
}

TEST(JetPageStore, AJournalCutShortIsIgnoredAndAForeignOneRefused) {
  const Subject s = Subjects()[1];
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  WriteFile(path, s.bytes);
  {
    auto store = PageStore::Open(path);
    RunBatch(*store, 3, 0x21);
    store->FailAfterWrites(0);  // the whole journal reaches the disk, no page after it
    EXPECT_THROW(store->Commit(), TrundleError);
  }
  const std::string journal = ReadFile(path + "-journal");
  const size_t record = 4 + PageSize(s.bytes) + 8;
  const size_t header = 36;
  // The header, the records of the three changed pages and the global map, the seal.
  ASSERT_GT(journal.size(), header + 4 * record);
  const size_t seal = header + 4 * record;
  for (size_t cut : {size_t(0), size_t(5), header - 1, header, header + 1, header + record - 1,
                     header + record, header + 2 * record + 100, seal, seal + 10,
                     journal.size() - 1, journal.size()}) {
    SCOPED_TRACE("journal cut at " + std::to_string(cut));
    WriteFile(path, s.bytes);
    WriteFile(path + "-journal", journal.substr(0, cut));
    ExpectBeforeOrAfter(path, s.bytes, s.bytes);
  }
  // A database cut shorter than the journal says it was is not patched up with it.
  WriteFile(path, s.bytes.substr(0, s.bytes.size() - PageSize(s.bytes)));
  WriteFile(path + "-journal", journal);
  try {
    PageStore::Open(path);
    ADD_FAILURE() << "a journal was applied to a database cut short";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("shorter than it was"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(path).size(), s.bytes.size() - PageSize(s.bytes));

  // A journal beside another database (one restored from elsewhere, say) is not applied
  // to it.
  const std::string other = ReadFile(jet_test::Fixture("testUnicodeCompV2003.mdb"));
  WriteFile(path, other);
  WriteFile(path + "-journal", journal);
  try {
    PageStore::Open(path);
    ADD_FAILURE() << "another database's journal was applied";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("written for another database"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(ReadFile(path) == other);
  EXPECT_TRUE(ReadFile(path + "-journal") == journal);

  // A file at the journal's name that this program did not write is left alone, and so
  // is the database.
  WriteFile(path, s.bytes);
  WriteFile(path + "-journal", "not a journal at all");
  try {
    PageStore::Open(path);
    ADD_FAILURE() << "a foreign journal was accepted";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find(path + "-journal"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("cannot be applied"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(path + "-journal"), "not a journal at all");
  EXPECT_TRUE(ReadFile(path) == s.bytes);
}

// A reader opening a database whose writer stopped in the middle of a batch puts the
// batch's pages back and deletes the journal. While the writer still holds the database,
// it reads through the journal and leaves it.
TEST(JetPageStore, AReaderPutsBackWhatAStoppedWriterLeftOrReadsThroughIt) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    const std::string path = dir / "t.mdb";
    WriteFile(path, s.bytes);
    const auto rows = AllRows(path);
    for (const bool held : {true, false}) {
      SCOPED_TRACE(held ? "the writer holds it" : "no one holds it");
      // A batch that wipes every page past the catalogue's, stopped after a few of them
      // reached the file.
      auto store = PageStore::Open(path);
      const std::vector<uint8_t> zeros(size_t(store->format().page_size), 0);
      for (uint32_t p = 3; p < store->page_count(); ++p) store->Write(p, zeros);
      store->FailAfterWrites(6);
      EXPECT_THROW(store->Commit(), TrundleError);
      ASSERT_FALSE(ReadFile(path) == s.bytes);
      const std::string wiped = ReadFile(path);
      if (!held) store.reset();
      EXPECT_EQ(AllRows(path), rows);
      EXPECT_EQ(PathExists(path + "-journal"), held);
      EXPECT_TRUE(ReadFile(path) == (held ? wiped : s.bytes));
      store.reset();
      PageStore::Open(path).reset();
      EXPECT_TRUE(ReadFile(path) == s.bytes);
      EXPECT_FALSE(PathExists(path + "-journal"));
    }
  }
}

// A child process runs a large batch (several trips of pages to the file, the global map's
// window moving) and is killed at a random point of it: between writes, or within Commit.
TEST(JetPageStore, ASigkillAnywhereInALargeBatchLeavesItWholeOrAbsent) {
  for (const Subject& s : Subjects()) {
    SCOPED_TRACE(s.name);
    ScratchFolder dir;
    constexpr int kAdded = 2500;
    const std::string after = After(dir, s, kAdded, 0x5C);
    const std::string path = dir / "t.mdb";
    std::mt19937 random(12345);
    constexpr int kEvents = 3 + kAdded;  // the writes of RunBatch
    for (int round = 0; round < 6; ++round) {
      // Even rounds: the child is killed at a random one of its writes; odd rounds: at a
      // random moment after it began to commit.
      const bool in_commit = round % 2 == 1;
      const int kill_at = int(random() % kEvents);
      WriteFile(path, s.bytes);
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      const pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(fds[0]);
        try {
          auto store = PageStore::Open(path);
          int event = 0;
          RunBatch(*store, kAdded, 0x5C, [&] {
            if (!in_commit && event++ == kill_at) raise(SIGKILL);
          });
          (void)!write(fds[1], "c", 1);
          store->Commit();
        } catch (...) {
          _exit(2);
        }
        _exit(0);
      }
      close(fds[1]);
      if (in_commit) {
        char c;
        ASSERT_EQ(read(fds[0], &c, 1), 1);
        usleep(useconds_t(random() % 30000));
        kill(child, SIGKILL);
      }
      int status = 0;
      waitpid(child, &status, 0);
      close(fds[0]);
      SCOPED_TRACE("round " + std::to_string(round));
      EXPECT_TRUE(WIFSIGNALED(status) || (in_commit && WIFEXITED(status) &&
                                          WEXITSTATUS(status) == 0));
      bool was_after = false;
      ExpectBeforeOrAfter(path, s.bytes, after, &was_after);
      if (!in_commit) {
        EXPECT_FALSE(was_after);
      }
    }
  }
}

// A journal that cannot be written (the disk full; here a file size limit) stops the batch
// before any page of the database is touched, and Rollback still ends it cleanly.
TEST(JetPageStore, AJournalThatCannotBeWrittenLeavesTheDatabaseUntouched) {
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  const std::string bytes = ReadFile(jet_test::Fixture("delTestV1997.mdb"));
  WriteFile(path, bytes);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {40000, 40000};  // the database is 64 KB, its journal would be 60
    setrlimit(RLIMIT_FSIZE, &limit);
    int code = 0;
    try {
      auto store = PageStore::Open(path);
      std::vector<uint8_t> page;
      for (uint32_t p = 3; p < store->page_count(); ++p) {
        store->pages().Read(p, page);
        page.back() ^= 1;
        store->Write(p, page);
      }
      try {
        store->Commit();
        code = 4;
      } catch (const TrundleError&) {
        store->Rollback();
      }
    } catch (...) {
      code = 5;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "4: the commit went through; 5: Rollback failed";
  EXPECT_TRUE(ReadFile(path) == bytes);
  EXPECT_FALSE(PathExists(path + "-journal"));
}

// testRefGlobalV2000.mdb's global map is a reference map without bitmap pages (its last
// pointer, 0xFFFFFF80, lies past the pages a file can have): no page reads as free, so
// pages come from the file's end and the map is left as it is. With a bitmap page, the
// pages it marks free are handed out first and their bits cleared, and nothing else
// changes; a pointer within reach to a page that is no bitmap is refused untouched.
TEST(JetPageStore, AReferenceGlobalMapHandsOutOnlyWhatItsBitmapsMarkFree) {
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  const std::string original = ReadFile(jet_test::Fixture("testRefGlobalV2000.mdb"));
  const size_t ps = 4096;
  const uint32_t old_count = uint32_t(original.size() / ps);
  auto allocate = [&](int n) {
    auto store = PageStore::Open(path);
    std::vector<uint32_t> pages;
    for (int i = 0; i < n; ++i) {
      pages.push_back(store->Allocate());
      store->Write(pages.back(), std::vector<uint8_t>(ps, 0));
    }
    store->Commit();
    return pages;
  };
  // Where page 1's row 0, the global map, lies in the file.
  std::vector<uint8_t> page1(original.begin() + ps, original.begin() + 2 * ps);
  jet::RowSpan span;
  ASSERT_TRUE(jet::LocateRow(page1, jet::Format::Jet4(), 0, span, "test"));
  const size_t map = ps + size_t(span.begin);
  ASSERT_EQ(original[map], 1);

  WriteFile(path, original);
  std::vector<uint32_t> expected;
  for (uint32_t p = old_count; p < old_count + 40; ++p) expected.push_back(p);
  EXPECT_EQ(allocate(40), expected);
  std::string now = ReadFile(path);
  EXPECT_EQ(now.size(), (old_count + 40) * ps);
  EXPECT_TRUE(now.compare(0, original.size(), original) == 0) << "an old page changed";

  // A bitmap page after the file's pages, marking the blank pages 709-735 free and, as
  // Access marks them, the pages past the end.
  std::string with_bitmap = original;
  const uint32_t bitmap = old_count;
  std::string page(ps, '\0');
  page[0] = 0x05;
  page[1] = 0x01;
  auto set_free = [&](std::string& bytes, uint32_t p) { bytes[4 + p / 8] |= char(1 << (p % 8)); };
  for (uint32_t p = 709; p <= 735; ++p) set_free(page, p);
  for (uint32_t p = bitmap + 1; p < (ps - 4) * 8; ++p) set_free(page, p);
  with_bitmap += page;
  jet::Put32(reinterpret_cast<uint8_t*>(&with_bitmap[map + 1]), bitmap);
  WriteFile(path, with_bitmap);
  expected.clear();
  for (uint32_t p = 709; p <= 735; ++p) expected.push_back(p);
  for (uint32_t p = bitmap + 1; p <= bitmap + 3; ++p) expected.push_back(p);
  ASSERT_EQ(allocate(30), expected);
  now = ReadFile(path);
  ASSERT_EQ(now.size(), (bitmap + 4) * ps);
  std::string cleared = page;
  for (uint32_t p : expected) cleared[4 + p / 8] &= char(~(1 << (p % 8)));
  EXPECT_TRUE(now.compare(bitmap * ps, ps, cleared) == 0) << "the bitmap's bits";
  for (uint32_t p = 0; p < bitmap; ++p) {
    if (p >= 709 && p <= 735) continue;
    EXPECT_TRUE(now.compare(p * ps, ps, with_bitmap, p * ps, ps) == 0) << "page " << p;
  }
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(path);
  EXPECT_TRUE(report.sound()) << report.Text();

  for (uint32_t wrong : {0xFFFFFF80u, 2u}) {
    std::string damaged = with_bitmap;
    jet::Put32(reinterpret_cast<uint8_t*>(&damaged[map + 1]), wrong);
    WriteFile(path, damaged);
    try {
      allocate(1);
      ADD_FAILURE() << "allocated from a map pointing at page " << wrong;
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(path + " is damaged: its global usage map refers to "
                                           "page " + std::to_string(wrong)),
                std::string::npos)
          << e.what();
    }
    EXPECT_TRUE(ReadFile(path) == damaged);
    EXPECT_FALSE(PathExists(path + "-journal"));
  }
}

// Access opens no database past 2 GB: the last page a file may have is given, and then a
// clear refusal that leaves the file as it was.
// A growing file has disk space set aside past its end while the store writes; the
// file's length never shows it, and the store gives it back when it closes, after a
// commit and after a rollback alike.
TEST(JetPageStore, SpaceSetAsideForGrowthIsGivenBackAtClose) {
  const Subject s = Subjects()[1];
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  auto disk_bytes = [&] {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return uint64_t(st.st_blocks) * 512;
  };
  for (bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "committed" : "rolled back");
    WriteFile(path, s.bytes);
    {
      auto store = PageStore::Open(path);
      RunBatch(*store, 60, 0x3D);
      store->Commit();
      const uint64_t length = uint64_t(store->page_count()) * PageSize(s.bytes);
      EXPECT_EQ(ReadFile(path).size(), length);
      if (disk_bytes() < length + (4u << 20))
        GTEST_SKIP() << "the file system sets no space aside (no fallocate)";
      RunBatch(*store, 30, 0x3E);
      if (commit)
        store->Commit();
      else
        store->Rollback();
    }
    const std::string bytes = ReadFile(path);
    EXPECT_LT(disk_bytes(), bytes.size() + (1u << 20));
    ExpectBeforeOrAfter(path, bytes, bytes);
  }
}

TEST(JetPageStore, TheFileGrowsToTwoGigabytesAndNoFurther) {
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  WriteFile(path, ReadFile(jet_test::Fixture("testRefGlobalV2000.mdb")));
  const uint64_t largest = uint64_t(1) << 31;
  std::filesystem::resize_file(path, largest - 4096);  // sparse: zero pages
  {
    auto store = PageStore::Open(path);
    EXPECT_EQ(store->Allocate(), uint32_t(largest / 4096 - 1));
    store->Commit();
  }
  EXPECT_EQ(std::filesystem::file_size(path), largest);
  try {
    PageStore::Open(path)->Allocate();
    ADD_FAILURE() << "a page past 2 GB";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find(path + " has reached the largest size Access allows "
                                                "(2 GB)"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(std::filesystem::file_size(path), largest);
  EXPECT_FALSE(PathExists(path + "-journal"));
}

TEST(JetPageStore, ADatabaseSomeoneHoldsIsRefusedUntouched) {
  ScratchFolder dir;
  const std::string path = dir / "t.mdb";
  const std::string bytes = ReadFile(jet_test::Fixture("testV1997.mdb"));
  WriteFile(path, bytes);
  auto expect_refused = [&](const std::string& cause) {
    const std::string held = ReadFile(path);
    try {
      PageStore::Open(path);
      ADD_FAILURE() << "opened although " << cause;
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ReadFile(path) == held);
  };
  {
    auto store = PageStore::Open(path);
    expect_refused("is being written by another program");
    // The lock is the descriptor's, not the process's: another process is refused too.
    const pid_t child = fork();
    if (child == 0) {
      try {
        PageStore::Open(path);
      } catch (const TrundleError&) {
        _exit(3);
      }
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
  }
  PageStore::Open(path).reset();  // released with the store

  // Access's lock files, in the letter case a Windows share gives them.
  for (const char* lock : {"t.ldb", "t.LDB", "t.laccdb"}) {
    WriteFile(dir / lock, "");
    expect_refused(std::string("its lock file ") + (dir / lock));
    std::remove((dir / lock).c_str());
  }
  PageStore::Open(path).reset();

  // Files this store cannot work on.
  WriteFile(path, bytes.substr(0, bytes.size() - 100));
  expect_refused("not a whole number of pages");
  WriteFile(path, "plain text, not a database at all, but long enough to hold a header......");
  expect_refused("is not an Access database");
}

}  // namespace
}  // namespace trundle
