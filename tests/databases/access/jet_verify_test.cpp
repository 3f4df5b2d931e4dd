// The verifier: every fixture Access wrote is sound; each kind of damage, made by hand in
// a copy, is found and named; random damage gives findings, never a crash or a hang (run
// these under AddressSanitizer too).

#include "databases/access/jet/jet_verify.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::Get16;
using jet::Get32;
using jet::JetVerifyReport;
using jet::VerifyJetDatabase;

std::string Findings(const JetVerifyReport& report) { return report.Text(); }

bool Finds(const JetVerifyReport& report, const std::string& fragment, bool fault = true) {
  for (const jet::JetFinding& f : report.findings)
    if (f.fault == fault && f.text.find(fragment) != std::string::npos) return true;
  return false;
}

// A fixture's bytes, changed page by page and written to a scratch file. The fixtures are
// not encoded, so a page's bytes are the file's.
class Image {
 public:
  explicit Image(const std::string& fixture)
      : bytes_(ReadFile(jet_test::Fixture(fixture))),
        format_(bytes_[0x14] == 0 ? jet::Format::Jet3() : jet::Format::Jet4()),
        db_(jet::JetDatabase::Open(jet_test::Fixture(fixture))) {}

  uint8_t* Page(uint32_t page) {
    return reinterpret_cast<uint8_t*>(&bytes_[size_t(page) * size_t(format_.page_size)]);
  }
  uint32_t page_count() const { return uint32_t(bytes_.size() / size_t(format_.page_size)); }
  const jet::Format& format() const { return format_; }
  std::string& bytes() { return bytes_; }

  uint32_t TdefPage(const std::string& table) const {
    for (const jet::CatalogEntry& e : db_->Catalog())
      if (e.name == table) return e.tdef_page;
    ADD_FAILURE() << "no table " << table;
    return 0;
  }
  jet::TableDef Def(const std::string& table) const {
    auto codec = TextCodec::ToUtf8From("CP1252");
    return jet::ReadTableDef(db_->Pages(), format_, TdefPage(table), table, "x", codec.get());
  }
  // The bytes of row `row` of a data page.
  uint8_t* Row(uint32_t page, int row, int* size = nullptr) {
    std::vector<uint8_t> buf(Page(page), Page(page) + format_.page_size);
    jet::RowSpan span;
    EXPECT_TRUE(jet::LocateRow(buf, format_, row, span, "x"));
    if (size) *size = span.end - span.begin;
    return Page(page) + span.begin;
  }
  // Sets or clears page's bit in the inline usage map at pointer.
  void SetInMap(uint32_t pointer, uint32_t page, bool on) {
    int size;
    uint8_t* map = Row(pointer >> 8, int(pointer & 0xFF), &size);
    ASSERT_EQ(map[0], 0) << "an inline map";
    const uint32_t bit = page - Get32(map + 1);
    ASSERT_LT(bit / 8 + 5, uint32_t(size));
    if (on)
      map[5 + bit / 8] |= uint8_t(1 << (bit % 8));
    else
      map[5 + bit / 8] &= uint8_t(~(1 << (bit % 8)));
  }
  // The data pages of a table that hold rows, in page order.
  std::vector<uint32_t> DataPages(const std::string& table) {
    const uint32_t tdef = TdefPage(table);
    std::vector<uint32_t> pages;
    const jet::PageSet owned = jet::ReadUsageMap(db_->Pages(), format_, Def(table).used_pages, "x");
    for (uint32_t p = owned.Next(0); p < owned.page_count(); p = owned.Next(p + 1))
      if (Page(p)[0] == 0x01 && Get32(Page(p) + 4) == tdef &&
          Get16(Page(p) + format_.data_row_count) > 0)
        pages.push_back(p);
    return pages;
  }
  bool IsFree(uint32_t page) const {
    std::vector<uint8_t> buf(bytes_.begin() + format_.page_size,
                             bytes_.begin() + 2 * format_.page_size);
    jet::RowSpan span;
    jet::LocateRow(buf, format_, 0, span, "x");
    const uint32_t bit = page - Get32(&buf[size_t(span.begin) + 1]);
    return (buf[size_t(span.begin) + 5 + bit / 8] >> (bit % 8)) & 1;
  }
  // The pages of an index of table (leaves and nodes) that are not free.
  std::vector<uint32_t> IndexPages(const std::string& table) {
    const uint32_t tdef = TdefPage(table);
    std::vector<uint32_t> pages;
    for (uint32_t p = 3; p < page_count(); ++p)
      if (!IsFree(p) && (Page(p)[0] == 0x03 || Page(p)[0] == 0x04) && Get32(Page(p) + 4) == tdef)
        pages.push_back(p);
    return pages;
  }

  // A new page at the end of the file, marked used in the global map.
  uint32_t AddPage() {
    const uint32_t page = page_count();
    bytes_.append(size_t(format_.page_size), '\0');
    SetInMap(1u << 8, page, false);
    return page;
  }
  // The row pointers of the inline usage maps (on pages of maps) that mark page.
  std::vector<uint32_t> MapsMarking(uint32_t page) {
    std::vector<uint32_t> maps;
    for (uint32_t p = 3; p < page_count(); ++p) {
      if (IsFree(p) || Page(p)[0] != 0x01 || Get32(Page(p) + 4) != 0) continue;
      const int rows = Get16(Page(p) + format_.data_row_count);
      for (int r = 0; r < rows; ++r) {
        int size;
        const uint8_t* map = Row(p, r, &size);
        if (size < 5 || map[0] != 0 || page < Get32(map + 1)) continue;
        const uint32_t bit = page - Get32(map + 1);
        if (bit / 8 + 5 < uint32_t(size) && map[5 + bit / 8] >> (bit % 8) & 1)
          maps.push_back(p << 8 | uint32_t(r));
      }
    }
    return maps;
  }
  JetVerifyReport Verify(const ScratchFolder& dir) const {
    const std::string path = dir / "damaged.mdb";
    WriteFile(path, bytes_);
    return VerifyJetDatabase(path);
  }

 private:
  std::string bytes_;
  jet::Format format_;
  std::unique_ptr<jet::JetDatabase> db_;
};

TEST(JetVerifyTest, EveryFixtureAccessWroteIsSound) {
  for (const std::string& name : jet_test::FixtureNames()) {
    const JetVerifyReport report = VerifyJetDatabase(jet_test::Fixture(name));
    EXPECT_TRUE(report.sound()) << Findings(report);
    auto db = jet::JetDatabase::Open(jet_test::Fixture(name));
    EXPECT_EQ(report.tables, int(db->AllTables().size())) << name;
    int64_t rows = 0;  // the reader's count of every table's rows
    for (const std::string& table : db->AllTables()) {
      auto reader = db->OpenAnyTable(table);
      std::vector<Variant> row;
      while (reader->Next(row)) ++rows;
    }
    EXPECT_EQ(report.rows, rows) << name;
    EXPECT_NE(report.Text().find(": sound"), std::string::npos) << report.Text();
  }
}

// The stored row count: exact for user tables; a system table's drift is a note only.
TEST(JetVerifyTest, RowCountsOfUserTablesAreExactAndSystemDriftIsANote) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    Image image(fixture);
    const int at = image.format().tdef_row_count;
    uint8_t* table1 = image.Page(image.TdefPage("Table1")) + at;
    const uint32_t rows = Get32(table1);
    table1[0] = uint8_t(rows + 1);
    uint8_t* objects = image.Page(2) + at;
    objects[0] = uint8_t(objects[0] + 3);
    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(Finds(report, "table Table1: its definition counts " + std::to_string(rows + 1) +
                                  " rows, it holds " + std::to_string(rows)))
        << Findings(report);
    EXPECT_TRUE(Finds(report, "table MSysObjects: its definition counts", false))
        << Findings(report);
    EXPECT_EQ(report.faults, 1) << Findings(report);
  }
}

// The counter keeps the last AutoNumber given; one below a row's number would give it again.
TEST(JetVerifyTest, TheAutoNumberCounterHasReachedEveryNumberGiven) {
  ScratchFolder dir;
  Image image("testUnicodeCompV2003.mdb");
  uint8_t* counter = image.Page(image.TdefPage("Table")) + image.format().tdef_row_count + 4;
  const uint32_t last = Get32(counter);
  ASSERT_GT(last, 0u);
  counter[0] = uint8_t(last - 1);
  const JetVerifyReport report = image.Verify(dir);
  EXPECT_TRUE(Finds(report, "table Table: its AutoNumber counter is at " +
                                std::to_string(last - 1) + ", below the " + std::to_string(last) +
                                " a row holds"))
      << Findings(report);
}

// Allocation: a page in use marked free, an allocated page nobody uses, a page two tables
// claim, a map that marks another kind of page.
TEST(JetVerifyTest, PagesAreFreeOrUsedExactlyOnce) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const uint32_t data = Image(fixture).DataPages("Table1").front();
    {
      Image image(fixture);
      image.SetInMap(1u << 8, data, true);
      EXPECT_TRUE(Finds(image.Verify(dir), "page " + std::to_string(data) +
                                               " is marked free in the global usage map but "
                                               "holds rows of table Table1"));
    }
    {
      Image image(fixture);
      // A data page of Table1 that its owned-pages map has lost: its rows with it.
      const int live = Get16(image.Page(data) + image.format().data_row_count);
      image.SetInMap(image.Def("Table1").used_pages, data, false);
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "table Table1: page " + std::to_string(data) + " holds " +
                                    std::to_string(live) +
                                    " of its rows, but its owned-pages map does not list the "
                                    "page, so they are lost"))
          << Findings(report);
    }
    {
      Image image(fixture);
      image.SetInMap(image.Def("MSysObjects").used_pages, data, true);
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "page " + std::to_string(data) + " is used twice"))
          << Findings(report);
    }
    {
      Image image(fixture);
      const uint32_t index = image.IndexPages("Table1").front();
      image.SetInMap(image.Def("Table1").used_pages, index, true);
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "table Table1: its owned-pages map marks page " +
                                    std::to_string(index) + ", which is not one of its data pages"))
          << Findings(report);
    }
  }
}

// Pages allocated in the global map that nothing uses are what Access leaves behind until
// the database is compacted (testV2000.mdb holds 693: long values of deleted rows, blank
// pages, a dropped table's definition): one note of their kinds, not a fault. A page of
// live rows that its table's map has lost is not among them.
TEST(JetVerifyTest, PagesNothingUsesAreANoteUnlessTheyHoldLiveRows) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const jet::Format& f = image.format();
    const uint32_t blank = image.AddPage();
    const uint32_t definition = image.AddPage();
    image.Page(definition)[0] = 0x02;
    image.Page(definition)[1] = 0x01;
    // A long-value page holding one row that no value refers to.
    const uint32_t lval = image.AddPage();
    uint8_t* page = image.Page(lval);
    page[0] = 0x01;
    page[1] = 0x01;
    std::memcpy(page + 4, "LVAL", 4);
    page[f.data_row_count] = 1;
    const int row_at = f.page_size - 16;
    page[f.data_row_offsets] = uint8_t(row_at);
    page[f.data_row_offsets + 1] = uint8_t(row_at >> 8);
    const int free_space = row_at - (f.data_row_offsets + 2);
    page[2] = uint8_t(free_space);
    page[3] = uint8_t(free_space >> 8);
    // A page of Table1 whose rows were all deleted, dropped from its map.
    const uint32_t data = image.AddPage();
    const uint32_t old = image.DataPages("Table1").front();
    std::memcpy(image.Page(data), image.Page(old), size_t(f.page_size));
    const int rows = Get16(image.Page(data) + f.data_row_count);
    for (int r = 0; r < rows; ++r) image.Page(data)[f.data_row_offsets + 2 * r + 1] |= 0x80;

    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(report.sound()) << Findings(report);
    EXPECT_TRUE(Finds(report,
                      "4 pages are marked used in the global usage map but nothing uses them "
                      "(1 long-value page, 1 blank page, 1 data page of a dropped table or of "
                      "no live row, 1 other page; page " +
                          std::to_string(lval) + ", " + std::to_string(blank) + ", " +
                          std::to_string(data) + ", " + std::to_string(definition) + ")",
                      false))
        << Findings(report);

    // One live row back on the lost page: a fault naming the table.
    image.Page(data)[f.data_row_offsets + 1] &= 0x7F;
    const JetVerifyReport lost = image.Verify(dir);
    EXPECT_TRUE(Finds(lost, "table Table1: page " + std::to_string(data) +
                                " holds 1 of its rows, but its owned-pages map does not list "
                                "the page, so they are lost"))
        << Findings(lost);
    EXPECT_TRUE(Finds(lost, "3 pages are marked used", false)) << Findings(lost);
  }
}

// A data page's row table: offsets inside the page, rows in order, the free space it states.
TEST(JetVerifyTest, RowsLieInsideTheirPagesAndFreeSpaceIsWhatTheyLeave) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const jet::Format format = Image(fixture).format();
    const uint32_t data = Image(fixture).DataPages("Table1").front();
    const std::string at = "table Table1: page " + std::to_string(data);
    {
      Image image(fixture);
      uint8_t* page = image.Page(data);
      page[2] = uint8_t(page[2] + 1);
      EXPECT_TRUE(Finds(image.Verify(dir), at + " says it has")) << at;
    }
    {
      Image image(fixture);
      uint8_t* offset = image.Page(data) + format.data_row_offsets;
      offset[0] = 4;  // inside the page header
      offset[1] = 0;
      EXPECT_TRUE(Finds(image.Verify(dir), at + ": row 0 does not lie inside its page"));
    }
    {
      Image image(fixture);
      uint8_t* count = image.Page(data) + format.data_row_count;
      count[0] = 0xFF;
      count[1] = 0x0F;
      EXPECT_TRUE(Finds(image.Verify(dir), at + " claims 4095 rows"));
    }
  }
}

// Index entries against rows: a deleted row still indexed, rows whose entries are gone.
TEST(JetVerifyTest, EveryIndexEntryPointsAtALiveRowAndEveryRowHasOne) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const jet::Format format = Image(fixture).format();
    const uint32_t data = Image(fixture).DataPages("Table1").front();
    const std::string row0 = "page " + std::to_string(data) + " row 0";
    {
      Image image(fixture);
      image.Page(data)[format.data_row_offsets + 1] |= 0x80;  // row 0 deleted
      const uint32_t rows = Get32(image.Page(image.TdefPage("Table1")) + format.tdef_row_count);
      image.Page(image.TdefPage("Table1"))[format.tdef_row_count] = uint8_t(rows - 1);
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "an entry points at " + row0 + ", which is not a live row"))
          << Findings(report);
      EXPECT_FALSE(Finds(report, "its definition counts")) << Findings(report);
    }
    {
      Image image(fixture);
      const int mask_at = format.jet3 ? 0x16 : 0x1B, entries_at = format.jet3 ? 0xF8 : 0x1E0;
      for (uint32_t leaf : image.IndexPages("Table1"))
        std::fill(image.Page(leaf) + mask_at, image.Page(leaf) + entries_at, 0);
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, row0 + " has no entry")) << Findings(report);
    }
    {
      // The second entry of a leaf made a Null key (flag 0x00), which sorts first.
      Image image(fixture);
      const int mask_at = format.jet3 ? 0x16 : 0x1B, entries_at = format.jet3 ? 0xF8 : 0x1E0;
      const uint32_t leaf = image.IndexPages("Table1").front();
      uint8_t* page = image.Page(leaf);
      int second = 0;
      for (int i = 0; !second && mask_at + i / 8 < entries_at; ++i)
        if (page[mask_at + i / 8] >> (i % 8) & 1) second = entries_at + i;
      ASSERT_EQ(page[entries_at], 0x7F);
      ASSERT_EQ(page[second], 0x7F);
      page[second] = 0;
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "page " + std::to_string(leaf) + " holds entries out of key order"))
          << Findings(report);
    }
  }
}

// Each leaf entry holds the key of the row it points at: one changed byte of a key is
// found and named; an index whose keys this program cannot make is left unchecked with a
// note, not a fault.
TEST(JetVerifyTest, EveryLeafEntryHoldsTheKeyOfItsRow) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const jet::Format& format = image.format();
    const int mask_at = format.jet3 ? 0x16 : 0x1B, entries_at = format.jet3 ? 0xF8 : 0x1E0;
    uint32_t leaf = 0;
    for (uint32_t p : image.IndexPages("Table1"))
      if (!leaf && image.Page(p)[0] == 0x04) leaf = p;
    ASSERT_NE(leaf, 0u);
    uint8_t* page = image.Page(leaf);
    int last = 0;  // where the page's last entry ends
    for (int i = 0; mask_at + i / 8 < entries_at; ++i)
      if (page[mask_at + i / 8] >> (i % 8) & 1) last = entries_at + i;
    ASSERT_GT(last, entries_at + 5);
    // The last key byte before the row pointer: a greater key keeps the page in order.
    uint8_t& byte = page[last - 5];
    byte = byte == 0xFF ? 0xFE : uint8_t(byte + 1);
    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(Finds(report, "not the key of the row's values")) << Findings(report);
    EXPECT_TRUE(Finds(report, "table Table1: index ")) << Findings(report);
    EXPECT_FALSE(Finds(report, "out of key order")) << Findings(report);
  }

  // A text column of an index given a sort order this program does not know.
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const jet::Format& format = image.format();
    auto db = jet::JetDatabase::Open(jet_test::Fixture(fixture));
    bool changed = false;
    for (const std::string& table : db->AllTables()) {
      const jet::TableDef def = image.Def(table);
      for (const jet::PhysicalIndex& index : def.indexes)
        for (const jet::IndexColumn& c : index.columns)
          for (const jet::ColumnDef& col : def.columns) {
            if (changed || col.number != c.number || col.column.type != jet::kText) continue;
            uint8_t* tdef = image.Page(image.TdefPage(table));
            const int blocks = format.tdef_header_end +
                               int(Get32(tdef + format.tdef_num_real_idx)) * format.real_idx_entry;
            for (int k = 0; k < Get16(tdef + format.tdef_num_cols); ++k) {
              uint8_t* block = tdef + blocks + k * format.col_block;
              if (Get16(block + format.col_num) != col.number) continue;
              block[format.col_misc] = 0x19;  // 1049, a Cyrillic order
              block[format.col_misc + 1] = 0x04;
              changed = true;
            }
          }
    }
    ASSERT_TRUE(changed);
    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(report.sound()) << Findings(report);
    EXPECT_TRUE(Finds(report, "its keys are not checked: the index on column ", false))
        << Findings(report);
    EXPECT_TRUE(Finds(report, "1049", false)) << Findings(report);
  }
}

// A unique index holds each key once: a row given the key of another is found.
TEST(JetVerifyTest, AUniqueIndexHoldsEachKeyOnce) {
  ScratchFolder dir;
  for (const auto& [fixture, table] :
       {std::pair{"testV1997.mdb", "MSysObjects"}, std::pair{"indexTestV2000.mdb", "Table1"}}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const jet::TableDef def = image.Def(table);
    const jet::ColumnDef* key = nullptr;
    for (const jet::PhysicalIndex& index : def.indexes)
      if ((index.flags & jet::kIndexUnique) && index.columns.size() == 1)
        for (const jet::ColumnDef& c : def.columns)
          if (c.number == index.columns[0].number && c.column.type == jet::kLong) key = &c;
    ASSERT_NE(key, nullptr);
    const uint32_t data = image.DataPages(table).front();
    ASSERT_GE(Get16(image.Page(data) + image.format().data_row_count), 2);
    const int head = image.format().jet3 ? 1 : 2;  // the row's column count
    const uint8_t* first = image.Row(data, 0) + head + key->fixed_offset;
    uint8_t* second = image.Row(data, 1) + head + key->fixed_offset;
    std::copy(first, first + 4, second);
    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(Finds(report, "is unique, yet page " + std::to_string(data) + " row 0 and page " +
                                  std::to_string(data) + " row 1 hold the same key"))
        << Findings(report);
  }
}

// A table's inline map turned into a reference map (a pointer to a bitmap page), as the
// writer makes when a table outgrows the inline map's reach.
TEST(JetVerifyTest, ReferenceMapsAreFollowedToTheirBitmapPages) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const uint32_t pointer = image.Def("Table1").used_pages;
    int size;
    uint8_t* map = image.Row(pointer >> 8, int(pointer & 0xFF), &size);
    std::vector<uint32_t> owned;
    for (int i = 5; i < size; ++i)
      for (int bit = 0; bit < 8; ++bit)
        if (map[i] >> bit & 1)
          owned.push_back(Get32(map + 1) + uint32_t(i - 5) * 8 + uint32_t(bit));
    ASSERT_FALSE(owned.empty());
    const uint32_t bitmap = image.AddPage();
    map = image.Row(pointer >> 8, int(pointer & 0xFF), &size);  // the bytes moved
    std::fill(map, map + size, 0);
    map[0] = 1;
    map[1] = uint8_t(bitmap);
    map[2] = uint8_t(bitmap >> 8);
    uint8_t* page = image.Page(bitmap);
    page[0] = 0x05;
    page[1] = 0x01;
    for (uint32_t p : owned) page[4 + p / 8] |= uint8_t(1 << (p % 8));
    const JetVerifyReport sound = image.Verify(dir);
    EXPECT_TRUE(sound.sound()) << Findings(sound);

    page[0] = 0x01;
    const JetVerifyReport damaged = image.Verify(dir);
    EXPECT_TRUE(Finds(damaged, "table Table1's owned-pages map: its map refers to page " +
                                   std::to_string(bitmap) + ", which is not a usage-map page"))
        << Findings(damaged);
  }
}

// A reference map's pointers past the pages a Jet file can reach (2 GB) are never read:
// testRefGlobalV2000.mdb's global map holds 0xFFFFFF80 in its last, and is sound. The same
// value in the first pointer, for pages the file has, is damage; the tables are checked
// all the same.
TEST(JetVerifyTest, AReferenceMapIsReadOnlyForPagesAFileCanHave) {
  ScratchFolder dir;
  Image image("testRefGlobalV2000.mdb");
  int size;
  uint8_t* map = image.Row(1, 0, &size);
  ASSERT_EQ(map[0], 1);
  ASSERT_EQ(size, 1 + 25 * 4);
  ASSERT_EQ(Get32(map + 1 + 24 * 4), 0xFFFFFF80u);
  const JetVerifyReport sound = image.Verify(dir);
  EXPECT_TRUE(sound.sound()) << Findings(sound);

  // Pointer 16 covers pages 523,776 on, some within 2 GB: read, and damaged.
  std::memcpy(map + 1 + 16 * 4, map + 1 + 24 * 4, 4);
  const JetVerifyReport far = image.Verify(dir);
  EXPECT_TRUE(Finds(far, "the global usage map: its map refers to page 4294967168, outside the "
                         "file"))
      << Findings(far);

  std::memset(map + 1 + 16 * 4, 0, 4);
  std::memcpy(map + 1, map + 1 + 24 * 4, 4);
  const JetVerifyReport near = image.Verify(dir);
  EXPECT_TRUE(Finds(near, "the global usage map: its map refers to page 4294967168, outside the "
                          "file"))
      << Findings(near);
  EXPECT_EQ(near.faults, 1) << Findings(near);
  EXPECT_EQ(near.tables, sound.tables);
  EXPECT_EQ(near.rows, sound.rows);
}

// An index whose root is a node above its leaf (as every index of more than one page
// has): the walk goes down to the leaf through the node's entry.
TEST(JetVerifyTest, IndexNodesLeadToTheirLeaves) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    const int mask_at = image.format().jet3 ? 0x16 : 0x1B;
    const int entries_at = image.format().jet3 ? 0xF8 : 0x1E0;
    const int pref_len_at = image.format().jet3 ? 0x14 : 0x18;
    const uint32_t root = image.IndexPages("Table1").front();
    const std::vector<uint32_t> index_maps = image.MapsMarking(root);
    ASSERT_EQ(index_maps.size(), 1u);  // an index has a map of its pages and no other
    const uint32_t index_map = index_maps.front();
    // The root leaf moves to a new page; the root becomes a node with one entry: the leaf's
    // last entry, whole, and the leaf's page.
    const uint32_t leaf = image.AddPage();
    std::memcpy(image.Page(leaf), image.Page(root), size_t(image.format().page_size));
    image.SetInMap(index_map, leaf, true);
    const uint8_t* l = image.Page(leaf);
    std::vector<uint8_t> first, last;
    const size_t pref_len = Get16(l + pref_len_at);
    for (int i = 0, begin = entries_at; mask_at + i / 8 < entries_at; ++i) {
      if (!(l[mask_at + i / 8] >> (i % 8) & 1)) continue;
      if (first.empty()) {
        first.assign(l + begin, l + entries_at + i);
        last = first;
      } else {
        last.assign(first.begin(), first.begin() + std::ptrdiff_t(pref_len));
        last.insert(last.end(), l + begin, l + entries_at + i);
      }
      begin = entries_at + i;
    }
    ASSERT_FALSE(last.empty());
    for (int shift = 24; shift >= 0; shift -= 8) last.push_back(uint8_t(leaf >> shift));
    uint8_t* node = image.Page(root);
    node[0] = 0x03;
    std::fill(node + mask_at, node + image.format().page_size, 0);
    node[pref_len_at] = node[pref_len_at + 1] = 0;
    std::memcpy(node + entries_at, last.data(), last.size());
    node[mask_at + last.size() / 8] = uint8_t(1 << (last.size() % 8));
    const JetVerifyReport sound = image.Verify(dir);
    EXPECT_TRUE(sound.sound()) << Findings(sound);

    node[entries_at + last.size() - 1] = 2;  // the child: the catalogue's definition
    node[entries_at + last.size() - 2] = 0;
    const JetVerifyReport damaged = image.Verify(dir);
    EXPECT_TRUE(Finds(damaged, ": page 2 is not a page of the index")) << Findings(damaged);
    EXPECT_TRUE(Finds(damaged, "has no entry")) << Findings(damaged);
    EXPECT_TRUE(Finds(
        damaged, "page " + std::to_string(leaf) + " is listed in its map but not reached", false))
        << Findings(damaged);
  }
}

// Moved rows lead to a row of the same table.
TEST(JetVerifyTest, AMovedRowLeadsToARowOfItsTable) {
  ScratchFolder dir;
  Image image("overflowTestV2000.mdb");
  const jet::Format& format = image.format();
  bool found = false;
  for (uint32_t page : image.DataPages("Table1")) {
    const int count = Get16(image.Page(page) + format.data_row_count);
    for (int r = 0; r < count && !found; ++r) {
      uint8_t* offset = image.Page(page) + format.data_row_offsets + 2 * r;
      if (!(offset[1] & 0x40) || (offset[1] & 0x80)) continue;
      uint8_t* pointer = image.Row(page, r);
      pointer[0] = 0;  // row 0 of page 2, the catalogue's definition
      pointer[1] = 2;
      pointer[2] = pointer[3] = 0;
      found = true;
      const JetVerifyReport report = image.Verify(dir);
      EXPECT_TRUE(Finds(report, "table Table1: moved row page " + std::to_string(page) + " row " +
                                    std::to_string(r) +
                                    " points to page 2 row 0, not a page of "
                                    "its table"))
          << Findings(report);
    }
  }
  EXPECT_TRUE(found) << "the fixture has a moved row";
}

// Long values of the catalogue (its property blobs) on pages its maps list.
TEST(JetVerifyTest, LongValuesLieOnTheirTablesLongValuePages) {
  ScratchFolder dir;
  for (const char* fixture : {"testV1997.mdb", "indexTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    Image image(fixture);
    uint32_t lval = 0;
    for (uint32_t p = 3; p < image.page_count() && !lval; ++p)
      if (!image.IsFree(p) && std::memcmp(image.Page(p) + 4, "LVAL", 4) == 0 &&
          image.Page(p)[0] == 0x01 && Get16(image.Page(p) + image.format().data_row_count) > 0)
        lval = p;
    ASSERT_NE(lval, 0u);
    image.Page(lval)[4] = 'X';  // no longer a long-value page
    const JetVerifyReport report = image.Verify(dir);
    EXPECT_TRUE(
        Finds(report, "marks page " + std::to_string(lval) + ", which is not a long-value page"))
        << Findings(report);
    EXPECT_TRUE(Finds(report, "lies on a page its long-value maps do not list"))
        << Findings(report);
  }
}

// Each Memo and OLE column keeps its long values on the pages of its own maps.
TEST(JetVerifyTest, LongValuesLieOnTheirOwnColumnsPages) {
  ScratchFolder dir;
  // The catalogue's LvProp column keeps pages 16 and 67, another column pages 29 and 40.
  Image image("indexTestV2000.mdb");
  const std::vector<uint32_t> from = image.MapsMarking(29), to = image.MapsMarking(16);
  ASSERT_EQ(from.size(), 2u);  // a column's map of pages and its map of free space
  ASSERT_EQ(to.size(), 2u);
  for (uint32_t map : from) image.SetInMap(map, 29, false);
  for (uint32_t map : to) image.SetInMap(map, 29, true);
  const JetVerifyReport report = image.Verify(dir);
  EXPECT_TRUE(Finds(report, "table MSysObjects: page 29 row 0 holds a long value of column "))
      << Findings(report);
  EXPECT_TRUE(Finds(report, " on a page another column's map lists")) << Findings(report);
  EXPECT_EQ(report.faults, 1) << Findings(report);
}

// An encoded database (pages RC4-masked with the header's key) is read as it is stored.
TEST(JetVerifyTest, AnEncodedDatabaseIsCheckedThroughItsKey) {
  ScratchFolder dir;
  Image image("indexTestV2000.mdb");
  const uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
  uint8_t* header = image.Page(0);
  jet::Rc4(mask, 4, header + 0x18, 128);
  const uint32_t key = 0x5A3C9E17;
  for (int i = 0; i < 4; ++i) header[0x3E + i] = uint8_t(key >> (8 * i));
  jet::Rc4(mask, 4, header + 0x18, 128);
  for (uint32_t p = 1; p < image.page_count(); ++p) {
    const uint32_t k = key ^ p;
    const uint8_t page_key[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
    jet::Rc4(page_key, 4, image.Page(p), size_t(image.format().page_size));
  }
  const JetVerifyReport sound = image.Verify(dir);
  EXPECT_TRUE(sound.sound()) << Findings(sound);
  EXPECT_GT(sound.rows, 0);
}

// Whatever the damage, a report comes back: files cut short, not Access at all, and bytes
// changed at random in every fixture.
TEST(JetVerifyTest, DamageOfAnyKindGivesFindingsNotACrash) {
  ScratchFolder dir;
  const std::string path = dir / "damaged.mdb";
  WriteFile(path, "Standard text, not a database at all");
  JetVerifyReport report = VerifyJetDatabase(path);
  EXPECT_TRUE(Finds(report, "cannot be read: " + path + " is not an Access database"))
      << Findings(report);
  report = VerifyJetDatabase(dir / "missing.mdb");
  EXPECT_FALSE(report.sound());

  for (const std::string& name : jet_test::FixtureNames()) {
    const std::string original = ReadFile(jet_test::Fixture(name));
    const size_t page_size = original[0x14] == 0 ? 2048 : 4096;
    // Cut after the catalogue: tables then point past the end.
    WriteFile(path, original.substr(0, original.size() / page_size / 2 * page_size));
    report = VerifyJetDatabase(path);
    EXPECT_FALSE(report.sound()) << name;

    std::mt19937 random(20261206);
    for (int trial = 0; trial < 60; ++trial) {
      std::string bytes = original;
      // A burst of changes on one page other than the header.
      const size_t page = 1 + random() % (bytes.size() / page_size - 1);
      for (int k = 0; k < 8; ++k) bytes[page * page_size + random() % page_size] = char(random());
      WriteFile(path, bytes);
      report = VerifyJetDatabase(path);
      EXPECT_NE(report.Text().find(path + ": "), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace trundle
