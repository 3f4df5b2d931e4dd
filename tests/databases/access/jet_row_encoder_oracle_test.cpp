// Rows packed by RowEncoder, put in place of a fixture table's rows in a copy of the
// file, read by mdb-export and npm's mdb-reader as by us: the Jet 3 jump table, Jet 4
// compressed text and the null mask as other readers understand them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_row_encoder.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using namespace jet;

// Long values stay in their rows in these tests.
class NoLongValues : public LongValueStore {
 public:
  LongValueRef Store(const ColumnDef&, const std::string&) override {
    throw TrundleError("this test stores no long value outside its row");
  }
};

// A fixture's bytes with pages decoded and encoded as the database's key says.
class DbBytes {
 public:
  explicit DbBytes(const std::string& path) : bytes_(ReadFile(path)) {
    uint8_t h[128];
    std::memcpy(h, bytes_.data() + 0x18, sizeof h);
    static const uint8_t kMask[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet3_ = bytes_[0x14] == 0;
    Rc4(kMask, 4, h, jet3_ ? 126 : 128);
    key_ = Get32(h + 0x3E - 0x18);
    page_size_ = jet3_ ? 2048 : 4096;
  }
  std::vector<uint8_t> Page(uint32_t n) const {
    std::vector<uint8_t> p(bytes_.begin() + std::ptrdiff_t(n) * page_size_,
                           bytes_.begin() + std::ptrdiff_t(n + 1) * page_size_);
    Code(n, p);
    return p;
  }
  void Put(uint32_t n, std::vector<uint8_t> p) {
    Code(n, p);
    std::memcpy(&bytes_[size_t(n) * size_t(page_size_)], p.data(), p.size());
  }
  const std::string& bytes() const { return bytes_; }

 private:
  void Code(uint32_t n, std::vector<uint8_t>& p) const {
    if (key_ == 0 || n == 0) return;
    const uint32_t k = key_ ^ n;
    const uint8_t key[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
    Rc4(key, 4, p.data(), p.size());
  }
  std::string bytes_;
  bool jet3_ = false;
  uint32_t key_ = 0;
  int page_size_ = 4096;
};

// A copy of the fixture whose table holds exactly the given rows: packed onto the table's
// data pages in order, its other data pages emptied, its row count set.
std::string WithRows(const ScratchFolder& dir, const std::string& fixture,
                     const std::string& table, const std::vector<std::vector<Variant>>& rows) {
  const std::string path = dir / fixture;
  WriteFile(path, ReadFile(jet_test::Fixture(fixture)));
  auto db = JetDatabase::Open(path);
  const TableDef def = db->Definition(table);
  const Format format = db->is_jet3() ? Format::Jet3() : Format::Jet4();
  auto codec = TextCodec::FromUtf8To(db->code_page() > 0 ? "CP" + std::to_string(db->code_page())
                                                          : std::string("CP1252"));
  NoLongValues lval;
  RowEncoder encoder(format, def, codec.get(), lval);

  DbBytes bytes(path);
  PageFile file(path);
  file.SetLayout(format.page_size, 0);
  const PageSet owned = ReadUsageMap(file, format, def.used_pages, "test");
  std::vector<uint32_t> data_pages;
  for (uint32_t p = owned.Next(0); p < owned.page_count(); p = owned.Next(p + 1)) {
    const auto page = bytes.Page(p);
    if (page[0] == 0x01 && Get32(&page[4]) == def.page) data_pages.push_back(p);
  }
  if (data_pages.empty()) {
    // An empty table: it takes over another table's data page, marked in its own map.
    for (const std::string& other : db->UserTables()) {
      const TableDef o = db->Definition(other);
      const PageSet theirs = ReadUsageMap(file, format, o.used_pages, "test");
      for (uint32_t p = theirs.Next(0); p < theirs.page_count() && data_pages.empty();
           p = theirs.Next(p + 1)) {
        const auto page = bytes.Page(p);
        if (page[0] == 0x01 && Get32(&page[4]) == o.page) data_pages.push_back(p);
      }
      if (!data_pages.empty()) break;
    }
    EXPECT_FALSE(data_pages.empty());
    if (data_pages.empty()) return path;
    const uint32_t p = data_pages[0];
    auto page = bytes.Page(p);
    for (int i = 0; i < 4; ++i) page[size_t(4 + i)] = uint8_t(def.page >> (8 * i));
    bytes.Put(p, page);
    auto map_page = bytes.Page(def.used_pages >> 8);
    RowSpan span;
    EXPECT_TRUE(LocateRow(map_page, format, int(def.used_pages & 0xFF), span, "test"));
    const uint32_t start = Get32(&map_page[size_t(span.begin) + 1]);
    const size_t at = size_t(span.begin) + 5 + (p - start) / 8;
    EXPECT_EQ(map_page[size_t(span.begin)], 0) << "an inline map";
    EXPECT_TRUE(p >= start && at < size_t(span.end)) << "a map that reaches the page";
    map_page[at] |= uint8_t(1 << ((p - start) % 8));
    bytes.Put(def.used_pages >> 8, map_page);
  }
  size_t next = 0;
  std::vector<uint8_t> row;
  for (uint32_t p : data_pages) {
    auto page = bytes.Page(p);
    std::fill(page.begin() + 8, page.end(), 0);
    int end = format.page_size, count = 0;
    while (next < rows.size()) {
      encoder.Encode(rows[next], row);
      const int table_end = format.data_row_offsets + 2 * (count + 1);
      if (end - int(row.size()) < table_end) break;
      end -= int(row.size());
      std::memcpy(&page[size_t(end)], row.data(), row.size());
      page[size_t(format.data_row_offsets + 2 * count)] = uint8_t(end);
      page[size_t(format.data_row_offsets + 2 * count + 1)] = uint8_t(end >> 8);
      ++count, ++next;
    }
    page[size_t(format.data_row_count)] = uint8_t(count);
    const int free_space = end - (format.data_row_offsets + 2 * count);
    page[2] = uint8_t(free_space);
    page[3] = uint8_t(free_space >> 8);
    bytes.Put(p, page);
  }
  EXPECT_EQ(next, rows.size()) << "the table's pages hold fewer rows than the test gives";
  auto tdef = bytes.Page(def.page);
  for (int i = 0; i < 4; ++i)
    tdef[size_t(format.tdef_row_count + i)] = uint8_t(rows.size() >> (8 * i));
  bytes.Put(def.page, tdef);
  WriteFile(path, bytes.bytes());
  return path;
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// mdb-export cannot tell Null from empty text.
std::vector<std::string> EmptyTextAsNull(std::vector<std::string> rows) {
  for (std::string& row : rows) {
    std::string out(1, '\t');
    out.append(row).push_back('\t');
    for (size_t at; (at = out.find("\ts:\t")) != std::string::npos;) out.replace(at, 4, "\tN\t");
    row = out.substr(1, out.size() - 2);
  }
  return rows;
}

// What the oracles and we read from the copy, each against the rows given.
void ExpectRowsRead(const std::string& path, const std::string& table,
                    const std::vector<std::vector<Variant>>& rows) {
  auto db = JetDatabase::Open(path);
  std::vector<std::string> expected;
  for (const auto& r : rows) {
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) {
      if (i) line.push_back('\t');
      line += jet_test::CanonicalCell(r[i]);
    }
    expected.push_back(line);
  }
  const auto fields = db->OpenTable(table)->fields();
  EXPECT_EQ(Sorted(jet_test::OurRows(*db, table)), Sorted(expected));
  EXPECT_EQ(Sorted(jet_test::ReaderRows(path, table, fields)), Sorted(expected));
  EXPECT_EQ(Sorted(jet_test::ExportRows(path, table, fields)),
            Sorted(EmptyTextAsNull(expected)));
  int status = 0;
  const std::string warnings = jet_test::Run(
      "timeout 60 mdb-export " + jet_test::Quote(path) + " " + jet_test::Quote(table) +
          " 2>&1 >/dev/null",
      &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(warnings, "");
}

TEST(RowEncoderOracles, Jet3RowsOfEveryFixedTypeAndCodePageText) {
  ScratchFolder dir;
  // Table1: A Text(50), B Text(100), C Byte, D Integer, E Long, F Double, G Date/Time,
  // H Currency, I Yes/No.
  double when;
  ASSERT_TRUE(ParseIsoText("1999-12-31 23:59:59", when));
  const std::vector<std::vector<Variant>> rows = {
      {Variant::String("caf\xC3\xA9 \xE2\x82\xAC"), Variant::String(std::string(100, 'b')),
       Variant::Integer(255), Variant::Integer(-32768), Variant::Integer(2147483647),
       Variant::Float(-1.0 / 3), Variant::DateTime(when), Variant::Currency(-12345678),
       Variant::Boolean(true)},
      {Variant::Null(), Variant::Null(), Variant::Integer(0), Variant::Integer(32767),
       Variant::Integer(-2147483648LL), Variant::Float(1e300), Variant::DateTime(45000.25),
       Variant::Currency(0), Variant::Boolean(false)},
      {Variant::String("x"), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
       Variant::Null(), Variant::Null(), Variant::Null(), Variant::Boolean(true)},
  };
  ExpectRowsRead(WithRows(dir, "testV1997.mdb", "Table1", rows), "Table1", rows);
}

TEST(RowEncoderOracles, Jet3RowsPastEach256ByteBoundaryOfTheJumpTable) {
  auto db = JetDatabase::Open(jet_test::Fixture("testV1997.mdb"));
  const size_t cols = db->Columns("Table2").size();  // many Text(50) columns
  ASSERT_GT(cols, 40u);
  // Rows ending just short of, on and just past the boundaries; Nulls between. Each
  // group fills one 2 KB page.
  for (const std::vector<int>& group :
       std::vector<std::vector<int>>{{250, 255, 256, 257, 300}, {511, 512}, {700, 1000}, {1500}}) {
    std::vector<std::vector<Variant>> rows;
    for (int target : group) {
      std::vector<Variant> row(cols, Variant::Null());
      int left = target;
      for (size_t c = 0; c < cols && left > 0; c += 2) {
        const int n = std::min(left, 50);
        row[c] = Variant::String(std::string(size_t(n), char('a' + c % 26)));
        left -= n;
      }
      rows.push_back(row);
    }
    ScratchFolder copy;
    ExpectRowsRead(WithRows(copy, "testV1997.mdb", "Table2", rows), "Table2", rows);
  }
}

TEST(RowEncoderOracles, Jet4RowsOfCompressedAndWideText) {
  ScratchFolder dir;
  std::vector<std::vector<Variant>> rows;
  const char* texts[] = {
      "plain",
      "caf\xC3\xA9 na\xC3\xAFve",
      "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 world mixed",
      "\xE4\xB8\x80\xE4\xB8\x81 (zero low byte)",
      // (mdbtools reads UCS-2 only: characters past U+FFFF are left to the round trip)
      "",
  };
  int id = 1;
  for (const char* t : texts) rows.push_back({Variant::Integer(id++), Variant::String(t)});
  rows.push_back({Variant::Integer(-1), Variant::String(std::string(255, 'z'))});
  rows.push_back({Variant::Integer(99), Variant::Null()});  // ID is an AutoNumber
  ExpectRowsRead(WithRows(dir, "testUnicodeCompV2003.mdb", "Table", rows), "Table", rows);
}

TEST(RowEncoderOracles, Jet4RowsOfAWideTableWithShortLongValues) {
  ScratchFolder dir;
  auto db = JetDatabase::Open(jet_test::Fixture("test2V2000.mdb"));
  const auto cols = db->Columns("MSP_PROJECTS");
  std::vector<std::vector<Variant>> rows;
  for (int r = 0; r < 4; ++r) {
    std::vector<Variant> row;
    for (size_t c = 0; c < cols.size(); ++c) {
      const int k = int(c) * 7 + r * 13;
      if ((k + r) % 9 == 0 && cols[c].type != kBoolean) {
        row.push_back(Variant::Null());
        continue;
      }
      switch (cols[c].type) {
        case kBoolean:
          row.push_back(Variant::Boolean(k % 2 == 0));
          break;
        case kInteger:
          row.push_back(Variant::Integer(k % 2 ? -k : k * 10));
          break;
        case kLong:
          row.push_back(Variant::Integer(k * 100003 - 7));
          break;
        case kDouble:
          row.push_back(Variant::Float(k / 8.0 - 3));
          break;
        case kDateTime:
          row.push_back(Variant::DateTime(36000 + k + 0.5));
          break;
        case kText: {
          const size_t n = std::min<size_t>(size_t(cols[c].size / 2), size_t(k % 11 + 1));
          row.push_back(Variant::String(std::string(n, char('A' + k % 26))));
          break;
        }
        case kMemo:
          row.push_back(Variant::String("memo \xC3\xA9 " + std::to_string(k)));
          break;
        case kOle:
          row.push_back(Variant::Blob("ole" + std::to_string(k)));
          break;
        default:
          row.push_back(Variant::Null());
          break;
      }
    }
    rows.push_back(row);
  }
  ExpectRowsRead(WithRows(dir, "test2V2000.mdb", "MSP_PROJECTS", rows), "MSP_PROJECTS", rows);
}

}  // namespace
}  // namespace trundle
