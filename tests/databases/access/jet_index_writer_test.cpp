// Keys inserted into indexes of copies of the fixtures (Jet 4 and Jet 3), then the index
// read back from the file by a walk of its own: from the first page down through every
// child, and along the leaf chain. Row pointers are synthetic (no rows behind them), so
// the verifier, which holds entries against live rows, is not the judge here.

#include "databases/access/jet/jet_index_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_key_run.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::Format;
using jet::IndexWriter;
using jet::JetDatabase;
using jet::PageStore;
using jet::TableDef;

struct Entry {
  std::string key;
  uint32_t pointer = 0;
  bool operator<(const Entry& o) const {
    // std::string compares as unsigned bytes, a prefix first: the index's key order.
    return key != o.key ? key < o.key : pointer < o.pointer;
  }
  bool operator==(const Entry& o) const { return key == o.key && pointer == o.pointer; }
};

// A Long Integer's key: the ascending flag, then the value big-endian with its sign flipped.
std::string IntKey(int32_t v) {
  const uint32_t u = uint32_t(v) ^ 0x80000000u;
  return std::string{char(0x7F), char(u >> 24), char(u >> 16), char(u >> 8), char(u)};
}

uint32_t GetBE(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | uint8_t(s[at + i]);
  return v;
}

// What the walk found.
struct Tree {
  std::vector<Entry> entries;  // in the order of the descent
  std::set<uint32_t> pages;
  int depth = 0;
};

// Reads an index back from the file and checks its shape: page types and owner, each page
// in the index's usage map and reached once, entries in order, every intermediate entry
// equal to the last entry under its child, the leaf chain (prev and next) holding the same
// entries as the descent, intermediate pages linked only under one parent.
class Walker {
 public:
  Walker(const std::string& file, const std::string& table, size_t index) {
    db_ = JetDatabase::Open(file);
    def_ = db_->Definition(table);
    format_ = db_->is_jet3() ? Format::Jet3() : Format::Jet4();
    if (format_.jet3)
      prev_ = 0x08, next_ = 0x0C, tail_ = 0x10, pref_ = 0x14, mask_ = 0x16, first_ = 0xF8;
    index_ = def_.indexes.at(index);
    map_ = std::make_unique<jet::PageSet>(
        jet::ReadUsageMap(db_->Pages(), format_, index_.map, "the index's map"));
  }

  Tree Walk() {
    Tree tree;
    std::string last;
    uint32_t leftmost = 0;
    Descend(index_.first_page, 1, tree, last, leftmost);
    for (size_t i = 1; i < tree.entries.size(); ++i)
      EXPECT_TRUE(tree.entries[i - 1] < tree.entries[i]) << "entry " << i << " out of order";
    // The leaf chain.
    std::vector<Entry> chain;
    uint32_t before = 0;
    size_t leaves = 0;
    for (uint32_t p = leftmost; p != 0 && leaves <= tree.pages.size(); ++leaves) {
      Decoded d = Read(p);
      EXPECT_TRUE(d.leaf) << "page " << p << " on the leaf chain";
      EXPECT_EQ(d.prev, before) << "page " << p << "'s previous page";
      for (const std::string& e : d.entries)
        chain.push_back(Entry{e.substr(0, e.size() - 4), GetBE(e, e.size() - 4)});
      before = p;
      p = d.next;
    }
    EXPECT_TRUE(chain == tree.entries) << "the leaf chain and the descent differ";
    return tree;
  }

  const TableDef& def() const { return def_; }

 private:
  struct Decoded {
    bool leaf = true;
    uint32_t prev = 0, next = 0, tail = 0;
    std::vector<std::string> entries;  // full bytes
  };

  Decoded Read(uint32_t page) {
    Decoded d;
    db_->Pages().Read(page, buf_);
    EXPECT_TRUE(buf_[0] == 0x03 || buf_[0] == 0x04) << "page " << page;
    EXPECT_EQ(buf_[1], 0x01);
    EXPECT_EQ(jet::Get32(&buf_[4]), def_.page) << "page " << page << "'s owner";
    d.leaf = buf_[0] == 0x04;
    d.prev = jet::Get32(&buf_[prev_]);
    d.next = jet::Get32(&buf_[next_]);
    d.tail = jet::Get32(&buf_[tail_]);
    // Jet 3 keeps the prefix length in one byte; the byte before the mask marks
    // intermediate pages.
    const size_t prefix = format_.jet3 ? buf_[pref_] : jet::Get16(&buf_[pref_]);
    EXPECT_EQ(buf_[mask_ - 1], d.leaf ? 0 : 1) << "page " << page << "'s kind byte";
    size_t start = first_;
    for (size_t bit = 0; mask_ + bit / 8 < first_; ++bit) {
      if (!(buf_[mask_ + bit / 8] & (1 << (bit % 8)))) continue;
      const size_t end = first_ + bit;
      std::string raw(reinterpret_cast<const char*>(&buf_[start]), end - start);
      d.entries.push_back(d.entries.empty() ? raw : d.entries[0].substr(0, prefix) + raw);
      start = end;
    }
    EXPECT_EQ(jet::Get16(&buf_[2]), buf_.size() - start) << "page " << page << "'s free space";
    return d;
  }

  // Walks the subtree of page; last gets the key and pointer of its last entry.
  void Descend(uint32_t page, int depth, Tree& tree, std::string& last, uint32_t& leftmost) {
    ASSERT_LT(depth, 12) << "the index is too deep";
    ASSERT_TRUE(page > 0 && page < db_->Pages().page_count()) << "page " << page;
    ASSERT_TRUE(tree.pages.insert(page).second) << "page " << page << " is reached twice";
    EXPECT_EQ(map_->Next(page), page) << "page " << page << " is not in the index's map";
    tree.depth = std::max(tree.depth, depth);
    const Decoded d = Read(page);
    if (page == index_.first_page) {
      EXPECT_TRUE(d.prev == 0 && d.next == 0);
    }
    if (d.leaf) {
      if (leftmost == 0) leftmost = page;
      EXPECT_EQ(d.tail, 0u);
      for (const std::string& e : d.entries) {
        tree.entries.push_back(Entry{e.substr(0, e.size() - 4), GetBE(e, e.size() - 4)});
        last = e;
      }
      return;
    }
    EXPECT_TRUE(d.entries.size() >= 1 && d.tail != 0) << "intermediate page " << page;
    std::vector<uint32_t> children;
    for (const std::string& e : d.entries) {
      const uint32_t child = GetBE(e, e.size() - 4);
      children.push_back(child);
      std::string child_last;
      Descend(child, depth + 1, tree, child_last, leftmost);
      EXPECT_EQ(e.substr(0, e.size() - 4), child_last)
          << "page " << page << "'s entry for " << child;
    }
    if (d.tail) {
      children.push_back(d.tail);
      Descend(d.tail, depth + 1, tree, last, leftmost);
    }
    // Intermediate children are linked to each other, and to no page under another parent.
    for (size_t i = 0; i < children.size(); ++i) {
      const Decoded c = Read(children[i]);
      if (c.leaf) break;
      EXPECT_EQ(c.prev, i ? children[i - 1] : 0);
      EXPECT_EQ(c.next, i + 1 < children.size() ? children[i + 1] : 0);
    }
  }

  std::unique_ptr<JetDatabase> db_;
  TableDef def_;
  Format format_;
  jet::PhysicalIndex index_;
  std::unique_ptr<jet::PageSet> map_;
  std::vector<uint8_t> buf_;
  size_t prev_ = 0x0C, next_ = 0x10, tail_ = 0x14, pref_ = 0x18, mask_ = 0x1B, first_ = 0x1E0;
};

struct Subject {
  const char* fixture;
  const char* table;
  size_t index;
};
const Subject kJet4 = {"indexTestV2000.mdb", "Table1", 0};        // not unique, 4 entries
const Subject kJet4Unique = {"indexTestV2000.mdb", "Table1", 1};  // unique
const Subject kJet3 = {"testV1997.mdb", "Table2", 0};             // not unique, empty
const Subject kJet3Unique = {"testV1997.mdb", "Table1", 1};       // unique, 2 entries
// Two-level indexes Access wrote: a root over two leaves, its last child in the tail field.
const Subject kJet4Deep = {"keys/compIndexTestV2000.mdb", "Table1", 0};   // not unique
const Subject kJet3Deep = {"keys/testIndexCodesV1997.mdb", "Table1", 1};  // unique

bool IsJet3(const Subject& s) { return std::string(s.fixture).find("1997") != std::string::npos; }

std::string Copy(const ScratchFolder& dir, const Subject& s) {
  const std::string path = dir / std::filesystem::path(s.fixture).filename().string();
  WriteFile(path, ReadFile(jet_test::Fixture(s.fixture)));
  return path;
}

// Inserts the entries in batches of batch, flushing and committing each; returns the
// number of keys the writer called new.
size_t Insert(const std::string& path, const Subject& s, const std::vector<Entry>& entries,
              size_t batch = 1000) {
  auto store = PageStore::Open(path);
  auto db = JetDatabase::Open(path);
  const TableDef def = db->Definition(s.table);
  IndexWriter writer(*store, def, def.indexes[s.index], path + " is damaged: table " + s.table);
  size_t fresh = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    bool new_key = false;
    EXPECT_TRUE(writer.Insert(entries[i].key, entries[i].pointer, &new_key)) << i;
    fresh += new_key;
    if ((i + 1) % batch == 0 || i + 1 == entries.size()) {
      writer.Flush();
      store->Commit();
    }
  }
  return fresh;
}

size_t DistinctKeys(const std::vector<Entry>& entries) {
  std::set<std::string> keys;
  for (const Entry& e : entries) keys.insert(e.key);
  return keys.size();
}

// Inserts, reopens and walks: the index holds what it held and every new entry, in order.
Tree InsertAndCheck(const Subject& s, const std::vector<Entry>& entries, size_t batch = 1000) {
  ScratchFolder dir;
  const std::string path = Copy(dir, s);
  const std::vector<Entry> before = Walker(path, s.table, s.index).Walk().entries;
  const size_t fresh = Insert(path, s, entries, batch);
  std::vector<Entry> expected = before;
  expected.insert(expected.end(), entries.begin(), entries.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(fresh, DistinctKeys(expected) - DistinctKeys(before));
  Tree tree = Walker(path, s.table, s.index).Walk();
  EXPECT_EQ(tree.entries.size(), expected.size());
  EXPECT_TRUE(tree.entries == expected) << "the index does not hold the inserted entries";
  return tree;
}

std::vector<Entry> Numbered(int count, int32_t first, int32_t step) {
  std::vector<Entry> out;
  for (int i = 0; i < count; ++i)
    out.push_back(
        Entry{IntKey(first + step * i), uint32_t(5000 + i / 200) << 8 | uint32_t(i % 200)});
  return out;
}

TEST(JetIndexWriter, IncreasingDecreasingAndRandomKeysSplitPagesJet4AndJet3) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    // Increasing keys fill each leaf before starting the next.
    Tree up = InsertAndCheck(s, Numbered(20000, 1000, 3));
    EXPECT_GE(up.depth, 2);
    Tree down = InsertAndCheck(s, Numbered(3000, 100000, -7));
    EXPECT_GE(down.depth, 2);
    std::vector<Entry> random = Numbered(5000, -2500, 1);
    std::shuffle(random.begin(), random.end(), std::mt19937(7));
    InsertAndCheck(s, random, 333);
    // Appends fill their pages; halved splits leave them about half full.
    EXPECT_LT(up.pages.size() * 3000 * 10, down.pages.size() * 20000 * 7);
  }
}

// Keys in order, the index flushed every few of them: the last leaf takes more flushes
// than a page stays cached unreached (keys past the end reach it without a descent), and
// the first leaves are left alone for as long. Keys that then fall among those and
// before them all reach them again.
TEST(JetIndexWriter, KeysReturningToLeavesLongLeftAloneLandInPlace) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    std::vector<Entry> expected = Walker(path, s.table, s.index).Walk().entries;
    std::vector<Entry> entries = Numbered(6000, 0, 2);
    for (const Entry& e : Numbered(400, -199, 2))
      entries.push_back(Entry{e.key, e.pointer + (100u << 8)});
    {
      auto store = PageStore::Open(path);
      const TableDef def = JetDatabase::Open(path)->Definition(s.table);
      IndexWriter writer(*store, def, def.indexes[s.index], path);
      for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(writer.Insert(entries[i].key, entries[i].pointer)) << i;
        if (i % 4 == 3) writer.Flush();
      }
      writer.Flush();
      store->Commit();
    }
    expected.insert(expected.end(), entries.begin(), entries.end());
    std::sort(expected.begin(), expected.end());
    const Tree tree = Walker(path, s.table, s.index).Walk();
    EXPECT_GE(tree.depth, 2);
    EXPECT_TRUE(tree.entries == expected) << "the index does not hold the inserted entries";
  }
}

TEST(JetIndexWriter, IndexesAccessBuiltOnTwoLevelsReadAsWrittenAndTakeInserts) {
  for (const Subject& s : {kJet4Deep, kJet3Deep}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    const Tree access = Walker(path, s.table, s.index).Walk();
    ASSERT_EQ(access.depth, 2);
    EXPECT_TRUE(jet::VerifyJetDatabase(path).sound()) << jet::VerifyJetDatabase(path).Text();
    std::vector<Entry> entries = Numbered(4000, -2000, 1);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(2));
    EXPECT_GE(InsertAndCheck(s, entries, 700).pages.size(), access.pages.size() + 5);
  }
}

// An index Access wrote, emptied to a bare first page and filled again from its own
// entries in another order: the verifier (entries against live rows, keys against the
// keys encoded from the rows) finds it sound, and it holds the same entries.
TEST(JetIndexWriter, AnIndexRebuiltFromItsEntriesPassesTheVerifier) {
  const Subject descending = {"keys/testIndexCodesV1997.mdb", "Table1_desc", 0};
  for (const Subject& s : {kJet4Deep, kJet3Deep, descending, kJet4}) {
    SCOPED_TRACE(std::string(s.fixture) + " " + s.table);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    std::vector<Entry> entries = Walker(path, s.table, s.index).Walk().entries;
    ASSERT_FALSE(entries.empty());
    {
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      const TableDef def = db->Definition(s.table);
      const uint32_t root = def.indexes[s.index].first_page;
      std::vector<uint8_t> page;
      store->pages().Read(root, page);
      const size_t first = IsJet3(s) ? 0xF8 : 0x1E0;
      std::fill(page.begin() + 8, page.end(), 0);
      page[0] = 0x04;
      jet::Put16(&page[2], uint32_t(page.size() - first));
      store->Write(root, page);
      IndexWriter writer(*store, def, def.indexes[s.index], "x");
      std::shuffle(entries.begin(), entries.end(), std::mt19937(8));
      for (const Entry& e : entries) EXPECT_TRUE(writer.Insert(e.key, e.pointer));
      writer.Flush();
      store->Commit();
    }
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(path);
    EXPECT_TRUE(report.sound()) << report.Text();
    std::sort(entries.begin(), entries.end());
    const Tree tree = Walker(path, s.table, s.index).Walk();
    EXPECT_TRUE(tree.entries == entries);
    if (s.fixture != kJet4.fixture) {
      EXPECT_EQ(tree.depth, 2);  // more than a page of entries
    }
  }
}

TEST(JetIndexWriter, DuplicateKeysKeepRowOrderAndCountDistinctKeys) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    std::vector<Entry> entries;
    std::mt19937 random(11);
    for (int i = 0; i < 6000; ++i)
      entries.push_back(Entry{IntKey(int32_t(random() % 40)),
                              uint32_t(random() % 0xFFFFFF) << 8 | (uint32_t(i) & 0xFF)});
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    // In order, every entry lands at the end of the last leaf, equal keys included.
    InsertAndCheck(s, entries, 500);
    std::shuffle(entries.begin(), entries.end(), random);
    InsertAndCheck(s, entries, 500);
  }
}

TEST(JetIndexWriter, LongKeysNearThePageLimitMakeDeepTrees) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    const size_t longest = IsJet3(s) ? 442 : 896;  // a quarter page, less a node's pointers
    std::vector<Entry> entries;
    std::mt19937 random(5);
    for (int i = 0; i < 1500; ++i) {
      std::string key(1, char(0x7F));
      const size_t size = longest / 2 + random() % (longest / 2);
      // Text-like: long runs shared with neighbours, so prefixes matter.
      for (size_t c = 1; c < size; ++c) key.push_back(char(0x40 + (c < 20 ? random() % 4 : c % 7)));
      key.back() = char(random() % 256);
      entries.push_back(Entry{key, uint32_t(7000 + i) << 8});
    }
    entries.push_back(Entry{std::string(longest, 'x'), 1 << 8});
    Tree tree = InsertAndCheck(s, entries, 400);
    EXPECT_GE(tree.depth, 4);

    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    auto store = PageStore::Open(path);
    auto db = JetDatabase::Open(path);
    const TableDef def = db->Definition(s.table);
    IndexWriter writer(*store, def, def.indexes[s.index], path + " is damaged: table T");
    try {
      writer.Insert(std::string(longest + 1, 'x'), 1 << 8);
      ADD_FAILURE() << "a key too long for a page was taken";
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(s.table), std::string::npos) << e.what();
    }
  }
}

TEST(JetIndexWriter, UniqueIndexRefusesAnExistingKeyAndContainsFindsKeys) {
  for (const Subject& s : {kJet4Unique, kJet3Unique}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    const std::vector<Entry> old = Walker(path, s.table, s.index).Walk().entries;
    ASSERT_FALSE(old.empty());
    std::vector<Entry> entries = Numbered(8000, 1 << 20, 2);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(3));
    Insert(path, s, entries);
    const std::string image = ReadFile(path);
    {
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      const TableDef def = db->Definition(s.table);
      IndexWriter writer(*store, def, def.indexes[s.index], "x");
      for (size_t i = 0; i < entries.size(); i += 97) {
        EXPECT_TRUE(writer.Contains(entries[i].key));
        const int32_t value = int32_t(GetBE(entries[i].key, 1) ^ 0x80000000u);
        EXPECT_FALSE(writer.Contains(IntKey(value + 1)));
        EXPECT_FALSE(writer.Insert(entries[i].key, 0x123456));
        EXPECT_TRUE(writer.Contains(entries[i].key));
        EXPECT_FALSE(writer.Insert(entries[i].key, 0x123457));
      }
      EXPECT_TRUE(writer.Contains(old.front().key));
      EXPECT_FALSE(writer.Insert(old.back().key, 0x654321));
      // At the end of the last leaf: the largest key is there, and nothing past it.
      const Entry& top = *std::max_element(entries.begin(), entries.end());
      const int32_t top_value = int32_t(GetBE(top.key, 1) ^ 0x80000000u);
      EXPECT_TRUE(writer.Contains(top.key));
      EXPECT_FALSE(writer.Contains(IntKey(top_value + 1)));
      EXPECT_FALSE(writer.Insert(top.key, 0x7FFFFF));
      EXPECT_FALSE(writer.Insert(top.key, 0x000001));
      EXPECT_FALSE(writer.Contains(IntKey(-5)));
      writer.Flush();
      store->Commit();
    }
    EXPECT_TRUE(ReadFile(path) == image) << "a refused key changed the file";
    // As the table writer asks: Contains, then Insert of the same key, new keys scattered
    // among the others (and a key asked for but not inserted in between).
    std::vector<Entry> more = Numbered(3000, (1 << 20) + 1, 2);
    std::shuffle(more.begin(), more.end(), std::mt19937(4));
    {
      auto store = PageStore::Open(path);
      const TableDef def = JetDatabase::Open(path)->Definition(s.table);
      IndexWriter writer(*store, def, def.indexes[s.index], "x");
      for (size_t i = 0; i < more.size(); ++i) {
        EXPECT_FALSE(writer.Contains(more[i].key)) << i;
        if (i % 7 == 0) {
          EXPECT_FALSE(writer.Contains(IntKey(-1 - int32_t(i))));
        }
        EXPECT_TRUE(writer.Insert(more[i].key, more[i].pointer)) << i;
        if (i % 11 == 0) {
          EXPECT_FALSE(writer.Insert(more[i].key, more[i].pointer + 2)) << i;
        }
        EXPECT_TRUE(writer.Contains(more[i].key)) << i;
        EXPECT_FALSE(writer.Insert(more[i].key, more[i].pointer + 1)) << i;
        if (i % 500 == 499) writer.Flush();
      }
      writer.Flush();
      store->Commit();
    }
    std::vector<Entry> expected = old;
    expected.insert(expected.end(), entries.begin(), entries.end());
    expected.insert(expected.end(), more.begin(), more.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(Walker(path, s.table, s.index).Walk().entries == expected);
  }
}

// Pages other than the index's own, its usage map's and the global map's stay as they were.
TEST(JetIndexWriter, LeavesTheRestOfTheFileAndRollsBackToTheSameBytes) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    const std::string original = ReadFile(path);
    std::vector<Entry> entries = Numbered(4000, 0, 1);
    std::shuffle(entries.begin(), entries.end(), std::mt19937(9));
    {
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      const TableDef def = db->Definition(s.table);
      IndexWriter writer(*store, def, def.indexes[s.index], "x");
      for (const Entry& e : entries) writer.Insert(e.key, e.pointer);
      writer.Flush();
      store->Rollback();
      writer.Forget();
      store->Commit();
      EXPECT_TRUE(ReadFile(path) == original) << "rollback left changes";
      // After Forget the writer reads the index again and works on.
      for (const Entry& e : entries) writer.Insert(e.key, e.pointer);
      writer.Flush();
      store->Commit();
    }
    const Tree tree = Walker(path, s.table, s.index).Walk();
    const std::string after = ReadFile(path);
    const size_t page_size = IsJet3(s) ? 2048 : 4096;
    const TableDef def = Walker(path, s.table, s.index).def();
    const uint32_t map_page = def.indexes[s.index].map >> 8;
    size_t changed = 0;
    for (uint32_t p = 0; p < original.size() / page_size; ++p) {
      if (tree.pages.count(p) || p == map_page || p == 1) continue;
      const bool same =
          std::memcmp(&original[p * page_size], &after[p * page_size], page_size) == 0;
      EXPECT_TRUE(same) << "page " << p << " changed";
      changed += !same;
    }
    EXPECT_EQ(changed, 0u);
  }
}

// A batch that splits pages, its commit stopped at each of its writes in turn: the file
// recovered is the one before the batch or the one after it, and its index walks soundly.
TEST(JetIndexWriter, ACrashAtAnyWriteOfASplittingBatchLeavesTheFileBeforeOrAfter) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    Insert(path, s, Numbered(1500, 0, 2));
    const std::string before = ReadFile(path);
    std::vector<Entry> batch = Numbered(1500, 1, 2);
    std::shuffle(batch.begin(), batch.end(), std::mt19937(4));
    Insert(path, s, batch, batch.size());
    const std::string after = ReadFile(path);
    int befores = 0;
    for (int n = 0; n < 500; ++n) {
      WriteFile(path, before);
      bool threw = false;
      {
        auto store = PageStore::Open(path);
        auto db = JetDatabase::Open(path);
        const TableDef def = db->Definition(s.table);
        IndexWriter writer(*store, def, def.indexes[s.index], "x");
        for (const Entry& e : batch) writer.Insert(e.key, e.pointer);
        writer.Flush();
        store->FailAfterWrites(n);
        try {
          store->Commit();
        } catch (const TrundleError&) {
          threw = true;
        }
      }
      PageStore::Open(path).reset();  // recovery
      const std::string now = ReadFile(path);
      ASSERT_TRUE(now == before || now == after) << "a crash at write " << n;
      EXPECT_EQ(now == after, !threw);
      Walker(path, s.table, s.index).Walk();
      if (!threw) break;
      ++befores;
    }
    EXPECT_GT(befores, 3);  // the batch wrote several pages
  }
}

// Damaged index pages end an insert with a message naming the file, the table and the
// index, whatever the damage.
TEST(JetIndexWriter, DamagedPagesAreReportedNotFollowed) {
  for (const Subject& s : {kJet4, kJet3}) {
    SCOPED_TRACE(s.fixture);
    ScratchFolder dir;
    const std::string path = Copy(dir, s);
    Insert(path, s, Numbered(3000, 0, 1));
    const std::string good = ReadFile(path);
    const size_t page_size = IsJet3(s) ? 2048 : 4096;
    const size_t mask = IsJet3(s) ? 0x16 : 0x1B, first = IsJet3(s) ? 0xF8 : 0x1E0;
    const size_t prefix_at = IsJet3(s) ? 0x14 : 0x18;
    const TableDef def = Walker(path, s.table, s.index).def();
    std::string name;
    for (const auto& logical : def.logical_indexes)
      if (size_t(logical.physical) == s.index) name = logical.name;
    const uint32_t root = def.indexes[s.index].first_page;
    ASSERT_EQ(uint8_t(good[root * page_size]), 0x03) << "the root should have children";
    // The root's first entry: its child is the leftmost leaf.
    size_t end = first;
    while (
        !(uint8_t(good[root * page_size + mask + (end - first) / 8]) & (1 << ((end - first) % 8))))
      ++end;
    const size_t child_at = root * page_size + end - 4;
    const uint32_t leaf = GetBE(good, child_at);
    auto put_be = [](std::string& file, size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) file[at + size_t(i)] = char(v >> (24 - 8 * i));
    };
    struct Damage {
      const char* what;
      std::function<void(std::string&)> apply;
    };
    const std::vector<Damage> damages = {
        {"a mask marking an empty entry", [&](std::string& f) { f[leaf * page_size + mask] |= 1; }},
        {"a mask marking past the page",
         [&](std::string& f) { f[leaf * page_size + first - 1] |= char(0x80); }},
        {"a prefix longer than the first entry",
         [&](std::string& f) { f[leaf * page_size + prefix_at] = char(0x7F); }},
        {"a child outside the file", [&](std::string& f) { put_be(f, child_at, 0x00FFFFFF); }},
        {"a child that is the root", [&](std::string& f) { put_be(f, child_at, root); }},
        {"a leaf of another table", [&](std::string& f) { f[leaf * page_size + 4] ^= 0x55; }},
        {"a leaf that is a data page", [&](std::string& f) { f[leaf * page_size] = 0x01; }},
        {"a leaf holding entries out of order",
         [&](std::string& f) {
           // The first entry's first byte after the shared prefix.
           const size_t shared = uint8_t(f[leaf * page_size + prefix_at]);
           f[leaf * page_size + first + shared] = char(0xFF);
         }},
    };
    for (const Damage& d : damages) {
      SCOPED_TRACE(d.what);
      std::string damaged = good;
      d.apply(damaged);
      WriteFile(path, damaged);
      auto store = PageStore::Open(path);
      auto db = JetDatabase::Open(path);
      try {
        IndexWriter writer(*store, def, def.indexes[s.index],
                           path + " is damaged: table " + s.table);
        writer.Insert(IntKey(-100), 0x100);
        ADD_FAILURE() << "the damage went unnoticed";
      } catch (const TrundleError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(path + " is damaged: table " + s.table + ": index " + name),
                  std::string::npos)
            << message;
      }
    }
    // Bytes of index pages changed at random: inserts, lookups and the flush go through or
    // stop with a TrundleError, and never read or write outside a page (the sanitizer
    // build holds them to that).
    WriteFile(path, good);
    const Tree tree = Walker(path, s.table, s.index).Walk();
    const std::vector<uint32_t> pages(tree.pages.begin(), tree.pages.end());
    std::mt19937 random(17);
    for (int round = 0; round < 150; ++round) {
      std::string damaged = good;
      for (int i = 0; i < 1 + round % 6; ++i) {
        const size_t page = pages[random() % pages.size()];
        const size_t at = random() % (round % 2 ? first : page_size);
        damaged[page * page_size + at] = char(random());
      }
      WriteFile(path, damaged);
      auto store = PageStore::Open(path);
      try {
        IndexWriter writer(*store, def, def.indexes[s.index], "x");
        for (int i = 0; i < 600; ++i) {
          writer.Insert(IntKey(int32_t(random() % 6000) - 1000), 0x200000 + uint32_t(i));
          writer.Contains(IntKey(i));
        }
        writer.Flush();
      } catch (const TrundleError&) {
      }
      store->Rollback();
    }
  }
}

}  // namespace
}  // namespace trundle

namespace trundle {
namespace {

// An index built at once from its sorted entries (an empty index's root given), in a
// copy of the fixture: the walk finds every entry in order, leaves filled as full as
// keys in order fill them, and the built tree then takes inserts.
TEST(JetIndexWriter, AnIndexBuiltFromSortedEntriesHoldsThemAllAndTakesInserts) {
  for (const bool jet3 : {false, true}) {
    SCOPED_TRACE(jet3 ? "Jet 3" : "Jet 4");
    for (const int count : {7, 60000}) {
      SCOPED_TRACE(count);
      ScratchFolder dir;
      const Subject s = jet3 ? kJet3 : Subject{"indexTestV2000.mdb", "Built", 0};
      // A copy of the fixture whose index is empty (Jet 4: a new table's).
      auto fresh = [&](const std::string& name) {
        const std::string to = dir / name;
        WriteFile(to, ReadFile(jet_test::Fixture(s.fixture)));
        if (!jet3) {
          auto store = PageStore::Open(to);
          auto db = JetDatabase::Open(to);
          jet::CreateTable(*store, *db, "Built", {{"n", jet::kLong}}, {{"n", {0}, false, false}});
        }
        return to;
      };
      const std::string path = fresh("built.mdb");
      // Scattered keys, each twice (duplicates keep their pointers' order).
      std::vector<Entry> entries = Numbered(count, -count / 2, 1);
      for (int i = 0; i < count; ++i)
        entries.push_back(Entry{entries[size_t(i)].key, entries[size_t(i)].pointer + (300u << 8)});
      std::shuffle(entries.begin(), entries.end(), std::mt19937(11));
      jet::KeyRun run;
      for (const Entry& e : entries) run.Add(e.key, e.pointer);
      uint32_t distinct = 0;
      {
        auto store = PageStore::Open(path);
        const TableDef def = JetDatabase::Open(path)->Definition(s.table);
        distinct = IndexWriter::Build(*store, def, def.indexes[s.index], path, run,
                                      run.SortedOrder());
        store->Commit();
      }
      EXPECT_EQ(distinct, uint32_t(count));
      std::sort(entries.begin(), entries.end());
      Tree built = Walker(path, s.table, s.index).Walk();
      EXPECT_TRUE(built.entries == entries) << "the built index does not hold its entries";
      EXPECT_EQ(built.depth == 1, count < 100);
      // Keys in order, inserted one by one, fill as many pages, give or take a few.
      if (count > 100) {
        const std::string other = fresh("inserted.mdb");
        Insert(other, s, entries);
        const Tree inserted = Walker(other, s.table, s.index).Walk();
        EXPECT_TRUE(inserted.entries == entries);
        EXPECT_LE(built.pages.size(), inserted.pages.size() + 2);
        EXPECT_GE(built.pages.size() * 100, inserted.pages.size() * 95);
        EXPECT_EQ(built.depth, inserted.depth);
      }
      // New entries among the built ones.
      std::vector<Entry> more = Numbered(3000, -count, 2);
      for (Entry& e : more) e.pointer += 700u << 8;
      std::shuffle(more.begin(), more.end(), std::mt19937(3));
      Insert(path, s, more, 500);
      entries.insert(entries.end(), more.begin(), more.end());
      std::sort(entries.begin(), entries.end());
      EXPECT_TRUE(Walker(path, s.table, s.index).Walk().entries == entries)
          << "inserts into the built index went astray";
    }
  }
}

}  // namespace
}  // namespace trundle
