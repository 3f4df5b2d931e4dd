// Rows appended to tables of copies of the fixtures, read back by our reader, npm's
// mdb-reader and mdbtools; refusals that leave the file as it was; data pages filled and
// usage maps grown as the format lays them out.

#include "databases/access/jet/jet_table_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_index_key.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::Format;
using jet::JetDatabase;
using jet::PageStore;
using jet::TableWriter;
using jet_test::Fixture;

// Every table of a database (system tables too) as our reader reads it.
std::map<std::string, std::vector<std::string>> Snapshot(const std::string& file) {
  auto db = JetDatabase::Open(file);
  std::map<std::string, std::vector<std::string>> tables;
  for (const std::string& table : db->AllTables())
    tables[table] = jet_test::OurRows(*db, table, true);
  return tables;
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string Row(const std::vector<Variant>& values) {
  std::string line;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) line.push_back('\t');
    line += jet_test::CanonicalCell(values[i]);
  }
  return line;
}

// Appends rows in batches of 1000 (each one commit), as a run does.
void Append(const std::string& file, const std::string& table,
            std::vector<std::vector<Variant>>& rows) {
  auto store = PageStore::Open(file);
  auto db = JetDatabase::Open(file);
  auto writer = TableWriter::Open(*store, *db, table);
  for (size_t i = 0; i < rows.size(); ++i) {
    writer->Append(rows[i]);
    if ((i + 1) % 1000 == 0) writer->Commit();
  }
  writer->Commit();
}

// Equal sorted rows; a difference is reported by its first differing cell.
void ExpectSameRows(const std::vector<std::string>& ours, const std::vector<std::string>& theirs,
                    const char* oracle) {
  ASSERT_EQ(ours.size(), theirs.size()) << oracle << " reads another number of rows";
  for (size_t r = 0; r < ours.size(); ++r) {
    if (ours[r] == theirs[r]) continue;
    std::istringstream a(ours[r]), b(theirs[r]);
    std::string x, y;
    for (int c = 0; std::getline(a, x, '\t') && std::getline(b, y, '\t'); ++c)
      ASSERT_EQ(x.substr(0, 300), y.substr(0, 300)) << oracle << ": row " << r << ", column " << c;
    FAIL() << oracle << ": row " << r << " differs";
  }
}

// The table reads the same in our reader, mdb-reader and mdb-export (which says nothing
// on standard error), mdb-count counts its rows, and our verifier finds no fault.
void ExpectOraclesAgree(const std::string& file, const std::string& table, bool verify = true) {
  SCOPED_TRACE(file + " " + table);
  auto db = JetDatabase::Open(file);
  const auto fields = db->OpenTable(table)->fields();
  const std::vector<std::string> ours = Sorted(jet_test::OurRows(*db, table));
  ExpectSameRows(ours, Sorted(jet_test::ReaderRows(file, table, fields)), "mdb-reader");
  std::vector<std::string> ours_for_export;
  for (const std::string& row : ours) ours_for_export.push_back(jet_test::EmptyAsNull(row));
  ExpectSameRows(Sorted(ours_for_export), Sorted(jet_test::ExportRows(file, table, fields)),
                 "mdb-export");
  const std::string warnings = jet_test::Run("timeout 60 mdb-export " + jet_test::Quote(file) +
                                             " " + jet_test::Quote(table) + " 2>&1 >/dev/null");
  EXPECT_EQ(warnings, "");
  const std::string count = jet_test::Run("timeout 60 mdb-count " + jet_test::Quote(file) + " " +
                                          jet_test::Quote(table) + " 2>&1");
  EXPECT_EQ(count, std::to_string(ours.size()) + "\n");
  if (!verify) return;
  const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
  EXPECT_TRUE(report.sound()) << report.Text();
}

// Text of every length up to max characters, with letters outside ASCII where the
// column holds them.
std::string SomeText(size_t i, size_t max, bool unicode) {
  static const char* const kWords[] = {"Oslo", "Zürich", "Ærø", "naïve café", "Straße"};
  static const char* const kWide[] = {"Мир", "漢字", "ϰαὶ", "ça"};
  std::string text = std::to_string(i) + " " + kWords[i % 5];
  if (unicode && i % 3 == 0) text += std::string(" ") + kWide[i % 4];
  const size_t want = i % max;
  while (text.size() < want) text += " x" + std::to_string(i);
  // Cut at a character boundary within max characters.
  size_t chars = 0, at = 0;
  while (at < text.size() && chars < max) {
    ++chars;
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return text.substr(0, at);
}

// Rows for the two-text-column tables of delTestV1997 and delTestV2000.
std::vector<std::vector<Variant>> TextRows(size_t n, size_t first, bool unicode) {
  std::vector<std::vector<Variant>> rows;
  for (size_t i = first; i < first + n; ++i) {
    std::vector<Variant> row(2);
    if (i % 17 == 5)
      row[0].SetNull();
    else
      row[0].SetString(SomeText(i, 50, unicode));
    row[1].SetString(i % 23 == 0 ? "" : SomeText(i * 7 + 3, 50, unicode));
    rows.push_back(row);
  }
  return rows;
}

// Rewrites a table's definition without its indexes (their entries, definitions and
// names), so that the fixtures' indexed tables, which hold most column types, can take
// rows. The index pages stay allocated, owned by nothing: such files are read by the
// oracles but not given to the verifier.
void DropIndexes(const std::string& file, const std::string& table) {
  std::string bytes = ReadFile(file);
  const bool jet3 = bytes[0x14] == 0;
  const Format f = jet3 ? Format::Jet3() : Format::Jet4();
  const size_t page_size = size_t(f.page_size);
  const uint32_t first = JetDatabase::Open(file)->UserTableEntry(table)->tdef_page;
  auto at = [&](uint32_t page) { return reinterpret_cast<uint8_t*>(&bytes[page * page_size]); };
  std::vector<uint8_t> def(at(first), at(first) + page_size);
  for (uint32_t next = jet::Get32(at(first) + 4); next; next = jet::Get32(at(next) + 4))
    def.insert(def.end(), at(next) + 8, at(next) + page_size);
  const size_t cols = jet::Get16(&def[size_t(f.tdef_num_cols)]);
  const size_t logical = jet::Get32(&def[size_t(f.tdef_num_real_idx - 4)]);
  const size_t real = jet::Get32(&def[size_t(f.tdef_num_real_idx)]);
  auto skip_names = [&](size_t pos, size_t n) {
    for (size_t i = 0; i < n; ++i) pos += jet3 ? 1 + def[pos] : 2 + jet::Get16(&def[pos]);
    return pos;
  };
  const size_t cols_at = size_t(f.tdef_header_end) + real * size_t(f.real_idx_entry);
  const size_t names_at = cols_at + cols * size_t(f.col_block);
  const size_t names_end = skip_names(names_at, cols);
  // Each index's columns, usage map and first page (Jet 4 adds 4 + 9 bytes), then each
  // logical index's 20 bytes (Jet 4: 28) and its name.
  const size_t tail_at =
      skip_names(names_end + real * (jet3 ? 39 : 52) + logical * (jet3 ? 20 : 28), logical);
  size_t tail_end = tail_at;
  while (jet::Get16(&def[tail_end]) != 0xFFFF) tail_end += 10;
  tail_end += 2;
  std::vector<uint8_t> out(def.begin(), def.begin() + f.tdef_header_end);
  out.insert(out.end(), def.begin() + long(cols_at), def.begin() + long(names_end));
  out.insert(out.end(), def.begin() + long(tail_at), def.begin() + long(tail_end));
  std::memset(&out[size_t(f.tdef_num_real_idx - 4)], 0, 8);
  const auto length = uint32_t(out.size());
  std::memcpy(&out[8], &length, 4);
  if (!jet3 && out.size() <= page_size) {
    const auto free = uint16_t(page_size - 8 - out.size());
    std::memcpy(&out[2], &free, 2);
  }
  // Back into the definition's pages, each continuation page's 8-byte header kept, the
  // chain cut after the last page still needed.
  uint8_t* page = at(first);
  for (size_t done = 0, head = 0;; head = 8) {
    const size_t n = std::min(out.size() - done, page_size - head);
    std::memset(page + head, 0, page_size - head);
    std::memcpy(page + head, out.data() + done, n);
    done += n;
    if (done == out.size()) {
      std::memset(page + 4, 0, 4);
      break;
    }
    const uint32_t next = jet::Get32(page + 4);
    ASSERT_NE(next, 0u);
    page = at(next);
  }
  WriteFile(file, bytes);
}

// A value of the column's type for row i: every type's range and edges in turn, Nulls
// where the column takes them.
Variant ValueFor(const jet::JetColumn& c, size_t i, bool jet3) {
  Variant v;
  // AutoNumber: mostly numbered by the table, now and then a number of the source's.
  if (c.autonumber)
    return c.type == jet::kLong && i % 250 == 100 ? Variant::Integer(int64_t(5000 + i))
                                                  : Variant::Null();
  if (i % 11 == 3 && c.nullable && c.type != jet::kBoolean) return Variant::Null();
  const auto k = int64_t(i);
  switch (c.type) {
    case jet::kBoolean:
      v.SetBoolean(i % 3 != 0);
      break;
    case jet::kByte:
      v.SetInteger(k * 37 % 256);
      break;
    case jet::kInteger:
      v.SetInteger(i % 7 == 0 ? (i % 2 ? -32768 : 32767) : k * 7919 % 65536 - 32768);
      break;
    case jet::kLong:
      v.SetInteger(i % 7 == 0 ? (i % 2 ? INT32_MIN : INT32_MAX)
                              : k * 2654435761 % 4294967296 - 2147483648);
      break;
    case jet::kCurrency:
      v.SetCurrency((k * 123456789 % 2000000000000) - 1000000000000);
      break;
    case jet::kSingle:
      v.SetFloat(double(float(k) * 0.25f - 1000.0f));
      break;
    case jet::kDouble:
      v.SetFloat(double(k) / 7.0 - 1000.0 + (i % 5 == 0 ? 1e300 : 0));
      break;
    case jet::kDateTime:
      v.SetDateTime(36526.0 + double(k * 13 % 40000) + double(k % 86400) / 86400.0);
      break;
    case jet::kText:
      v.SetString(SomeText(i, size_t(jet3 ? c.size : c.size / 2), !jet3));
      break;
    case jet::kMemo:
      v.SetString(SomeText(i, i % 40 == 0 ? 9000 : 300, !jet3) +
                  std::string(i % 40 == 0 ? 8000 : 0, 'm'));
      break;
    case jet::kOle: {
      std::string blob(i % 30 == 0 ? 7000 : i % 200, '\0');
      for (size_t b = 0; b < blob.size(); ++b) blob[b] = char(1 + (b * 31 + i) % 255);
      v.SetBlob(blob);
      break;
    }
    case jet::kGuid: {
      char text[40];
      std::snprintf(text, sizeof text, "{%08X-1234-5678-9ABC-%012zX}", unsigned(i * 2654435761u),
                    i);
      v.SetString(text);
      break;
    }
    default:
      v.SetInteger(k * 1000003 % 1000000007);
      break;
  }
  return v;
}

// Rows of varying sizes; a second page takes the same rows with its lowest row's start
// kept between calls (worked out on the first, after rows added without it) and ends
// byte for byte the same.
TEST(JetDataPage, RowsAddedReadBackThroughTheReaderUntilThePageIsFull) {
  for (const Format& format : {Format::Jet3(), Format::Jet4()}) {
    SCOPED_TRACE(format.page_size);
    std::vector<uint8_t> page, kept;
    jet::InitDataPage(format, 77, page);
    jet::InitDataPage(format, 77, kept);
    int lowest = 0;
    std::vector<std::string> rows;
    for (int i = 0;; ++i) {
      std::string row(size_t(1 + (i * 37) % 300), char('a' + i % 26));
      const int free = jet::DataPageFreeSpace(format, page);
      const auto* bytes = reinterpret_cast<const uint8_t*>(row.data());
      const int n = jet::AddRowToPage(format, page, bytes, row.size());
      EXPECT_EQ(jet::AddRowToPage(format, kept, bytes, row.size(), i < 3 ? nullptr : &lowest), n);
      if (n < 0) {
        EXPECT_LT(free, int(row.size()) + 2) << "refused a row that fits";
        break;
      }
      EXPECT_EQ(n, i);
      EXPECT_EQ(jet::DataPageFreeSpace(format, page), free - int(row.size()) - 2);
      rows.push_back(row);
    }
    ASSERT_GT(rows.size(), 5u);
    jet::RowSpan span;
    for (size_t i = 0; i < rows.size(); ++i) {
      ASSERT_TRUE(jet::LocateRow(page, format, int(i), span, "test"));
      EXPECT_FALSE(span.deleted || span.overflow);
      EXPECT_EQ(std::string(page.begin() + span.begin, page.begin() + span.end), rows[i]);
    }
    EXPECT_EQ(jet::Get32(&page[4]), 77u);
    EXPECT_TRUE(kept == page);
  }
}

TEST(JetDataPage, AtMost255RowsAndALongValueRowFillsAWholePage) {
  const Format format = Format::Jet4();
  std::vector<uint8_t> page;
  jet::InitDataPage(format, 5, page);
  const uint8_t byte = 1;
  for (int i = 0; i < 255; ++i) ASSERT_EQ(jet::AddRowToPage(format, page, &byte, 1), i);
  EXPECT_EQ(jet::AddRowToPage(format, page, &byte, 1), -1);
  for (const Format& f : {Format::Jet3(), Format::Jet4()}) {
    jet::InitDataPage(f, jet::kLvalOwner, page);
    const std::vector<uint8_t> too_big(size_t(jet::MaxLongValueRow(f) + 1), 9);
    EXPECT_EQ(jet::AddRowToPage(f, page, too_big.data(), too_big.size()), -1);
    EXPECT_EQ(jet::AddRowToPage(f, page, too_big.data(), too_big.size() - 1), 0);
    EXPECT_EQ(jet::DataPageFreeSpace(f, page), 0);
    EXPECT_EQ(std::memcmp(&page[4], "LVAL", 4), 0);
  }
}

class JetAppendTest : public ::testing::Test {
 protected:
  std::string Copy(const std::string& fixture) {
    const std::string path = dir_ / fixture;
    WriteFile(path, ReadFile(Fixture(fixture)));
    return path;
  }
  ScratchFolder dir_;
};

// 1, 999, 1000 and 1001 rows: a batch's edges, one more page, and the old rows kept.
TEST_F(JetAppendTest, TextRowsReadBackInEveryReaderAndOtherTablesStayAsTheyWere) {
  for (const char* fixture : {"delTestV1997.mdb", "delTestV2000.mdb"}) {
    for (size_t n : {1, 999, 1000, 1001}) {
      SCOPED_TRACE(std::string(fixture) + " " + std::to_string(n));
      const std::string file = Copy(fixture);
      const auto before = Snapshot(file);
      auto rows = TextRows(n, n, std::string(fixture).find("2000") != std::string::npos);
      Append(file, "Table", rows);
      auto after = Snapshot(file);
      std::vector<std::string> expected = before.at("Table");
      for (const auto& row : rows) expected.push_back(Row(row));
      EXPECT_EQ(Sorted(after.at("Table")), Sorted(expected));
      after.erase("Table");
      auto others = before;
      others.erase("Table");
      EXPECT_EQ(after, others);
      ExpectOraclesAgree(file, "Table");
      EXPECT_FALSE(std::filesystem::exists(file + "-journal"));
    }
  }
}

// Memo values in the row, on one LVAL row and on chains of them; Decimal columns.
TEST_F(JetAppendTest, MemoAndDecimalValuesOfEverySize) {
  const std::string file = Copy("fixedNumericTestV2000.mdb");
  std::vector<std::vector<Variant>> rows;
  for (size_t length : {0, 1, 300, 2000, 4075, 4076, 4081, 9000, 70000}) {
    std::vector<Variant> row(7);
    std::string memo;
    for (size_t i = 0; memo.size() < length; ++i) memo += SomeText(i, 40, true) + "\n";
    size_t cut = std::min(length, memo.size());
    while (cut > 0 && cut < memo.size() && (static_cast<unsigned char>(memo[cut]) & 0xC0) == 0x80)
      --cut;
    row[0].SetString(memo.substr(0, cut));
    for (size_t c = 1; c < 7; ++c) {
      if ((length + c) % 5 == 0)
        row[c].SetNull();
      else
        row[c].SetInteger(int64_t((length + 1) * 1000003 * c) * (c % 2 ? -1 : 1));
    }
    row[6].SetString("999999999999999999");
    rows.push_back(row);
  }
  const auto before = Snapshot(file);
  Append(file, "test", rows);
  std::vector<std::string> expected = before.at("test");
  for (const auto& row : rows) expected.push_back(Row(row));
  auto db = JetDatabase::Open(file);
  std::vector<std::string> ours = jet_test::OurRows(*db, "test");
  for (std::string& row : expected) {
    // The widest Decimal arrives as a number (the canonical form compares values).
    const size_t at = row.rfind("s:999999999999999999");
    if (at != std::string::npos) row.replace(at, std::string::npos, "n:1e+18");
  }
  EXPECT_EQ(Sorted(ours), Sorted(expected));
  ExpectOraclesAgree(file, "test");
}

// The fixtures' tables of every column type, their indexes dropped: 1001 rows of edge
// values read back alike in our reader, mdb-reader and mdbtools; AutoNumber columns keep
// the numbers given and number the others on from the table's counter.
TEST_F(JetAppendTest, EveryColumnTypeReadsBackInEveryReader) {
  struct Case {
    const char* fixture;
    const char* table;
  };
  for (const Case& c :
       {Case{"testV1997.mdb", "Table1"}, Case{"testV1997.mdb", "Table4"},
        Case{"test2V2000.mdb", "MSP_PROJECTS"}, Case{"testUnicodeCompV2003.mdb", "Table"}}) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.table);
    const std::string file = Copy(c.fixture);
    const std::vector<std::string> old_rows = [&] {
      auto db = JetDatabase::Open(file);
      return jet_test::OurRows(*db, c.table);
    }();
    DropIndexes(file, c.table);
    std::vector<std::vector<Variant>> rows;
    std::vector<std::string> expected;
    {
      auto db = JetDatabase::Open(file);
      ASSERT_EQ(jet_test::OurRows(*db, c.table), old_rows);
      const std::vector<jet::JetColumn> columns = db->Columns(c.table);
      for (size_t i = 0; i < 1001; ++i) {
        std::vector<Variant> row;
        for (const jet::JetColumn& col : columns) row.push_back(ValueFor(col, i, db->is_jet3()));
        rows.push_back(row);
      }
    }
    Append(file, c.table, rows);
    // AutoNumber: a number given is kept; the others are numbered on from the table's
    // counter (the fixture's IDs end at 8), past the highest number kept.
    if (std::string(c.table) == "Table") {
      int64_t last = 8;
      for (size_t i = 0; i < rows.size(); ++i) {
        const int64_t want = i % 250 == 100 ? int64_t(5000 + i) : last + 1;
        EXPECT_EQ(rows[i][0].integer(), want) << "row " << i;
        last = std::max(last, want);
      }
    }
    expected = old_rows;
    for (const auto& row : rows) expected.push_back(Row(row));
    auto db = JetDatabase::Open(file);
    EXPECT_EQ(Sorted(jet_test::OurRows(*db, c.table)), Sorted(expected));
    ExpectOraclesAgree(file, c.table, false);
  }
}

// The database with its pages encoded under key (0: plain), as Access's "encode database"
// leaves them: RC4 with the key XOR the page number, the key in the masked header.
std::string Rekeyed(std::string db, uint32_t from, uint32_t to) {
  const bool jet3 = db[0x14] == 0;
  const size_t page_size = jet3 ? 2048 : 4096;
  auto* bytes = reinterpret_cast<uint8_t*>(db.data());
  const uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
  jet::Rc4(mask, 4, bytes + 0x18, jet3 ? 126 : 128);
  std::memcpy(bytes + 0x3E, &to, 4);
  jet::Rc4(mask, 4, bytes + 0x18, jet3 ? 126 : 128);
  for (size_t p = 1; (p + 1) * page_size <= db.size(); ++p)
    for (uint32_t key : {from, to}) {
      if (key == 0) continue;
      const uint32_t k = key ^ uint32_t(p);
      const uint8_t kb[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
      jet::Rc4(kb, 4, bytes + p * page_size, page_size);
    }
  return db;
}

// An encoded database takes rows encoded: decoded, it is the plain copy that took the
// same rows, byte for byte.
TEST_F(JetAppendTest, AnEncodedDatabaseIsWrittenEncoded) {
  for (const char* fixture : {"delTestV1997.mdb", "delTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const std::string plain = Copy(fixture);
    const std::string encoded = dir_ / "encoded.mdb";
    WriteFile(encoded, Rekeyed(ReadFile(plain), 0, 0x5A17C3E9));
    for (const std::string& file : {plain, encoded}) {
      auto rows = TextRows(1200, 0, true);
      Append(file, "Table", rows);
    }
    EXPECT_TRUE(JetDatabase::Open(encoded)->is_encoded());
    EXPECT_TRUE(Rekeyed(ReadFile(encoded), 0x5A17C3E9, 0) == ReadFile(plain));
    ExpectOraclesAgree(encoded, "Table");
  }
}

// 50,000 rows outgrow the reach of the table's inline usage maps.
TEST_F(JetAppendTest, ManyRowsPromoteTheUsageMaps) {
  const std::string file = Copy("delTestV2000.mdb");
  auto rows = TextRows(50000, 0, true);
  Append(file, "Table", rows);
  auto db = JetDatabase::Open(file);
  EXPECT_EQ(db->OpenTable("Table")->record_count(), 50002);
  ExpectOraclesAgree(file, "Table");
  // Reading a second time and appending more keeps working with the promoted maps.
  auto more = TextRows(10, 60000, true);
  Append(file, "Table", more);
  EXPECT_EQ(JetDatabase::Open(file)->OpenTable("Table")->record_count(), 50012);
}

// Points the first key column of a table's physical index at another column (its
// definition in the first page of a Jet 4 table definition).
void SetIndexColumn(const std::string& file, const std::string& table, size_t index,
                    uint16_t column) {
  std::string bytes = ReadFile(file);
  const Format f = Format::Jet4();
  // The definition's bytes, and where each of them lies in the file.
  std::vector<uint8_t> def;
  std::vector<size_t> at;
  for (uint32_t page = JetDatabase::Open(file)->UserTableEntry(table)->tdef_page; page;) {
    const auto* p = reinterpret_cast<const uint8_t*>(&bytes[page * 4096u]);
    for (size_t i = def.empty() ? 0 : 8; i < 4096; ++i) {
      def.push_back(p[i]);
      at.push_back(page * 4096u + i);
    }
    page = jet::Get32(p + 4);
  }
  const size_t cols = jet::Get16(&def[size_t(f.tdef_num_cols)]);
  const size_t real = jet::Get32(&def[size_t(f.tdef_num_real_idx)]);
  size_t pos = size_t(f.tdef_header_end) + real * size_t(f.real_idx_entry) +
               cols * size_t(f.col_block);
  for (size_t i = 0; i < cols; ++i) pos += 2 + jet::Get16(&def[pos]);
  pos += index * 52 + 4;
  bytes[at[pos]] = char(column & 0xFF);
  bytes[at[pos + 1]] = char(column >> 8);
  WriteFile(file, bytes);
}

TEST_F(JetAppendTest, RefusalsNameTheReasonAndLeaveTheFileAsItWas) {
  struct Case {
    const char* fixture;
    const char* table;
    const char* reason;
    int memo_index = -1;  // this index made to key the Memo column 2
  };
  const Case cases[] = {
      {"test2V2000.mdb", "MSP_PROJECTS",
       "index I_PROJ_NAME: its column PROJ_PROP_AUTHOR is a Memo column", 1},
      {"delTestV2000.mdb", "Missing", "has no table Missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string file = Copy(c.fixture);
    if (c.memo_index >= 0) SetIndexColumn(file, c.table, size_t(c.memo_index), 2);
    const std::string bytes = ReadFile(file);
    try {
      auto store = PageStore::Open(file);
      auto db = JetDatabase::Open(file);
      TableWriter::Open(*store, *db, c.table);
      ADD_FAILURE() << "not refused";
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind(file, 0), 0u) << e.what();
    }
    EXPECT_EQ(ReadFile(file), bytes);
  }
}

// Flush hands the batch's pages, row count and counter to the store and leaves the batch
// open, for a caller that changes other tables in the same batch: the store's rollback
// then undoes them, and its commit keeps them whole.
TEST_F(JetAppendTest, AFlushedBatchStaysOpenUntilTheStoreCommits) {
  const std::string file = Copy("delTestV2000.mdb");
  const std::string before = ReadFile(file);
  auto rows = TextRows(300, 0, true);
  {
    auto store = PageStore::Open(file);
    auto db = JetDatabase::Open(file);
    auto writer = TableWriter::Open(*store, *db, "Table");
    for (auto row : rows) writer->Append(row);
    writer->Flush();
    // A second writer over the store sees the flushed rows and their count.
    EXPECT_EQ(TableWriter::Open(*store, *db, "Table")->row_count(), writer->row_count());
    store->Rollback();
  }
  EXPECT_EQ(ReadFile(file), before);
  {
    auto store = PageStore::Open(file);
    auto db = JetDatabase::Open(file);
    auto writer = TableWriter::Open(*store, *db, "Table");
    for (auto row : rows) writer->Append(row);
    writer->Flush();
    store->Commit();
  }
  EXPECT_FALSE(std::filesystem::exists(file + "-journal"));
  EXPECT_EQ(JetDatabase::Open(file)->OpenTable("Table")->record_count(), 302);
  ExpectOraclesAgree(file, "Table");
}

// System tables are opened by their exact name, and only when asked for.
TEST_F(JetAppendTest, SystemTablesOpenOnlyWhenAskedFor) {
  const std::string file = Copy("delTestV2000.mdb");
  auto store = PageStore::Open(file);
  auto db = JetDatabase::Open(file);
  EXPECT_THROW(TableWriter::Open(*store, *db, "MSysACEs"), TrundleError);
  jet::TableWriterOptions system;
  system.system_table = true;
  EXPECT_THROW(TableWriter::Open(*store, *db, "Table", system), TrundleError);
  EXPECT_THROW(TableWriter::Open(*store, *db, "msysaces", system), TrundleError);
  try {
    EXPECT_EQ(TableWriter::Open(*store, *db, "MSysACEs", system)->def().name, "MSysACEs");
  } catch (const TrundleError& e) {
    // Found, and refused only for what it holds.
    EXPECT_EQ(std::string(e.what()).find("has no table"), std::string::npos) << e.what();
  }
}

// A sort order other than General, and a damaged usage map, are refused before writing.
TEST_F(JetAppendTest, ForeignSortOrdersAndDamagedMapsAreRefused) {
  const std::string file = Copy("delTestV2000.mdb");
  std::string bytes = ReadFile(file);
  // The sort order lies in the header's RC4-masked area: flip the masked bytes' bits
  // so that the plain value changes from 1033 to 1053 (Swedish).
  bytes[0x6E] = char(bytes[0x6E] ^ (1033 ^ 1053));
  WriteFile(file, bytes);
  auto refused = [&](const std::string& what) {
    try {
      auto store = PageStore::Open(file);
      auto db = JetDatabase::Open(file);
      TableWriter::Open(*store, *db, "Table");
      ADD_FAILURE() << "not refused";
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(file), bytes);
  };
  refused("sort order (1053)");

  bytes = ReadFile(Fixture("delTestV2000.mdb"));
  // The table's owned-pages map (page 0x18, row 0) made of an unknown type.
  auto db = JetDatabase::Open(Fixture("delTestV2000.mdb"));
  std::vector<uint8_t> page(4096);
  std::memcpy(page.data(), bytes.data() + 0x18 * 4096, 4096);
  jet::RowSpan span;
  ASSERT_TRUE(jet::LocateRow(page, Format::Jet4(), 0, span, "test"));
  bytes[0x18 * 4096 + size_t(span.begin)] = 7;
  WriteFile(file, bytes);
  refused("usage map");
}

// A value the column cannot take stops the batch; rolled back, the file is as it was.
TEST_F(JetAppendTest, ARefusedValueRollsTheBatchBack) {
  const std::string file = Copy("delTestV1997.mdb");
  auto first = TextRows(1000, 0, false);
  Append(file, "Table", first);
  const std::string committed = ReadFile(file);
  {
    auto store = PageStore::Open(file);
    auto db = JetDatabase::Open(file);
    auto writer = TableWriter::Open(*store, *db, "Table");
    auto rows = TextRows(700, 5000, false);
    for (auto& row : rows) writer->Append(row);
    std::vector<Variant> too_long(2);
    too_long[0].SetString(std::string(51, 'x'));
    try {
      writer->Append(too_long);
      ADD_FAILURE() << "51 characters went into a Text(50)";
    } catch (const TrundleError& e) {
      EXPECT_NE(std::string(e.what()).find("column a"), std::string::npos) << e.what();
    }
    writer->Rollback();
    EXPECT_EQ(writer->row_count(), 1002u);
    // The writer goes on from the committed state.
    auto again = TextRows(3, 9000, false);
    for (auto& row : again) writer->Append(row);
    writer->Rollback();
  }
  EXPECT_EQ(ReadFile(file), committed);
  ExpectOraclesAgree(file, "Table");
}

// A crash at any page write of a batch's commit (the store's test hook) leaves, once the
// database is opened again, the file as the last commit left it or as this one would
// have, byte for byte, and sound.
TEST_F(JetAppendTest, ACrashAtAnyWriteOfACommitLeavesTheBatchWholeOrAbsent) {
  auto batch = [](const std::string& file, int fail_after) {
    auto store = PageStore::Open(file);
    auto db = JetDatabase::Open(file);
    auto writer = TableWriter::Open(*store, *db, "test");
    for (int i = 0; i < 40; ++i) {
      std::vector<Variant> row(7);
      row[0].SetString(std::string(size_t(i * 331 % 9000), char('a' + i % 26)));
      row[1].SetInteger(i);
      writer->Append(row);
    }
    store->FailAfterWrites(fail_after);
    writer->Commit();
  };
  const std::string before = ReadFile(Copy("fixedNumericTestV2000.mdb"));
  const std::string file = dir_ / "fixedNumericTestV2000.mdb";
  batch(file, -1);
  const std::string after = ReadFile(file);
  ASSERT_NE(after, before);
  int crashes = 0;
  for (int n = 0;; ++n) {
    SCOPED_TRACE("crash after " + std::to_string(n) + " writes");
    WriteFile(file, before);
    std::filesystem::remove(file + "-journal");
    bool crashed = false;
    try {
      batch(file, n);
    } catch (const TrundleError&) {
      crashed = true;
    }
    PageStore::Open(file).reset();  // puts back what the journal holds
    const std::string now = ReadFile(file);
    EXPECT_TRUE(now == (crashed ? before : after));
    EXPECT_TRUE(jet::VerifyJetDatabase(file).sound());
    if (!crashed) break;
    ++crashes;
  }
  EXPECT_GT(crashes, 10);  // the data pages, LVAL pages, usage maps and definition
}


// ---- Indexed tables ----

// The catalogue name of the table whose definition starts at page.
std::string TableAt(const JetDatabase& db, uint32_t page) {
  for (const jet::CatalogEntry& e : db.Catalog())
    if (e.tdef_page == page) return e.name;
  return "";
}

// A distinct number for each i below a million (7919 and the prime 1000003 are coprime),
// in no particular order, so that keys land all over an index and split its pages
// anywhere, not only at its end.
int64_t Scattered(size_t i) { return int64_t(i * 7919 % 1000003) + 100; }

// Rows for an indexed table: a unique key column takes distinct values in scattered
// order (text of every length the column takes, letters of both cases and accents); the
// columns of other indexes repeat a few hundred values, Nulls among them; a foreign key
// takes its parent's keys (parent_keys, by column position) or Null.
std::vector<std::vector<Variant>> IndexedRows(
    const jet::TableDef& def, bool jet3, size_t n, size_t first,
    const std::map<size_t, std::vector<Variant>>& parent_keys = {}) {
  std::vector<int> unique, keyed;
  for (const jet::PhysicalIndex& x : def.indexes)
    for (const jet::IndexColumn& k : x.columns)
      ((x.flags & jet::kIndexUnique) ? unique : keyed).push_back(k.number);
  auto has = [](const std::vector<int>& v, int number) {
    return std::find(v.begin(), v.end(), number) != v.end();
  };
  std::vector<std::vector<Variant>> rows;
  for (size_t i = first; i < first + n; ++i) {
    std::vector<Variant> row;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      const jet::JetColumn& col = def.columns[c].column;
      const int number = def.columns[c].number;
      Variant v;
      auto parent = parent_keys.find(c);
      if (col.autonumber) {
        v.SetNull();  // the table numbers the rows
      } else if (parent != parent_keys.end()) {
        if (i % 9 != 4) v = parent->second[i * 31 % parent->second.size()];
        else v.SetNull();
      } else if (has(unique, number) && col.type == jet::kText) {
        static const char* const kWords[] = {"oslo", "Zürich", "ÆRØ", "Naïve", "straße", "a-b"};
        const size_t chars = size_t(jet3 ? col.size : col.size / 2);
        std::string text = kWords[i % 6] + std::string(" ") + std::to_string(Scattered(i));
        text += std::string(i % std::max<size_t>(1, chars - text.size() + 1), 'k');
        v.SetString(text.substr(0, chars));
      } else if (has(unique, number) && (col.type == jet::kLong || col.type == jet::kInteger)) {
        v.SetInteger(col.type == jet::kLong ? Scattered(i) : int64_t(i % 65536) - 32768);
      } else if (has(keyed, number)) {
        v = ValueFor(col, i % 389, jet3);
      } else if (col.type == jet::kMemo) {
        // Long values are the other tests' subject; here they would only slow the readers.
        v.SetString(SomeText(i, 60, !jet3));
      } else if (col.type == jet::kText) {
        // Short enough for a Jet 3 row of 89 text columns.
        v.SetString(SomeText(i, std::min<size_t>(size_t(jet3 ? col.size : col.size / 2), 20),
                             !jet3));
      } else {
        // The values the other tests read back; mdb-export prints some doubles of larger
        // i rounded otherwise.
        v = ValueFor(col, i % 1001, jet3);
      }
      row.push_back(v);
    }
    rows.push_back(row);
  }
  return rows;
}

// For a table with foreign keys: the parents' key values, by the child's column position.
std::map<size_t, std::vector<Variant>> ParentKeys(const std::string& file,
                                                  const std::string& table) {
  auto db = JetDatabase::Open(file);
  const jet::TableDef def = db->Definition(table);
  std::map<size_t, std::vector<Variant>> keys;
  for (const jet::LogicalIndex& l : def.logical_indexes) {
    if (l.kind != jet::kIndexForeignKey || !l.referencing) continue;
    const std::string parent = TableAt(*db, l.related_table);
    const jet::TableDef pd = db->Definition(parent);
    const jet::PhysicalIndex& px =
        pd.indexes[size_t(pd.logical_indexes[size_t(l.related_index)].physical)];
    const jet::PhysicalIndex& cx = def.indexes[size_t(l.physical)];
    if (cx.columns.size() != 1) continue;
    size_t child = 0, from = 0;
    for (size_t c = 0; c < def.columns.size(); ++c)
      if (def.columns[c].number == cx.columns[0].number) child = c;
    for (size_t c = 0; c < pd.columns.size(); ++c)
      if (pd.columns[c].number == px.columns[0].number) from = c;
    auto reader = db->OpenTable(parent);
    std::vector<Variant> row;
    while (reader->Next(row)) keys[child].push_back(row[from]);
  }
  return keys;
}

// Every row of a table as our reader gives it.
std::vector<std::vector<Variant>> AllRows(const JetDatabase& db, const std::string& table) {
  std::vector<std::vector<Variant>> rows;
  auto reader = db.OpenAnyTable(table);
  std::vector<Variant> row;
  while (reader->Next(row)) rows.push_back(row);
  return rows;
}

// The distinct keys of an index over rows (those left out of it not counted).
size_t DistinctKeys(const jet::TableDef& def, size_t index, bool jet3,
                    const std::vector<std::vector<Variant>>& rows) {
  jet::IndexKeyEncoder keys(jet3 ? Format::Jet3() : Format::Jet4(), def, def.indexes[index]);
  std::set<std::string> distinct;
  std::string key;
  for (const auto& row : rows) {
    if ((def.indexes[index].flags & jet::kIndexIgnoreNulls) && keys.AllNull(row)) continue;
    EXPECT_TRUE(keys.Encode(row, key)) << keys.error();
    distinct.insert(key);
  }
  return distinct.size();
}

// Rows appended to each indexed table: enough to split the leaves of every index many
// times over. Under AddressSanitizer fewer rows take the same paths at a quarter of the
// cost.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kIndexedRows = 15000;
#else
constexpr size_t kIndexedRows = 50000;
#endif

// kIndexedRows rows into each table (parents before their children): every index stays whole
// (our verifier checks each entry against its row), the rows read back in every reader,
// the other tables stay as they were, and each index's count grows by its new distinct
// keys.
void AppendToIndexedTables(const std::string& file, const std::vector<std::string>& tables) {
  for (const std::string& table : tables) {
      SCOPED_TRACE(file + " " + table);
      auto before = Snapshot(file);
      std::vector<std::vector<Variant>> rows, old_rows;
      jet::TableDef def;
      bool jet3;
      {
        auto db = JetDatabase::Open(file);
        jet3 = db->is_jet3();
        def = db->Definition(table);
        old_rows = AllRows(*db, table);
        rows = IndexedRows(def, jet3, kIndexedRows, 0, ParentKeys(file, table));
      }
      Append(file, table, rows);
      auto after = Snapshot(file);
      std::vector<std::string> expected = before.at(table);
      for (const auto& row : rows) expected.push_back(Row(row));
      EXPECT_EQ(Sorted(after.at(table)), Sorted(expected));
      after.erase(table);
      before.erase(table);
      EXPECT_EQ(after, before);
      ExpectOraclesAgree(file, table);
      auto db = JetDatabase::Open(file);
      const jet::TableDef now = db->Definition(table);
      const auto all_rows = AllRows(*db, table);
      for (size_t i = 0; i < def.indexes.size(); ++i) {
        SCOPED_TRACE("index " + std::to_string(i));
        EXPECT_EQ(now.indexes[i].entry_count - def.indexes[i].entry_count,
                  DistinctKeys(def, i, jet3, all_rows) - DistinctKeys(def, i, jet3, old_rows));
      }
  }
}

// Jet 4: primary keys and plain indexes of Long keys, foreign keys into two parents.
TEST_F(JetAppendTest, ThousandsOfRowsIntoIndexedTablesWithRelationships) {
  AppendToIndexedTables(Copy("indexTestV2000.mdb"), {"Table2", "Table3", "Table1"});
}

// Jet 3: text primary keys and plain text indexes, a GUID key.
TEST_F(JetAppendTest, ThousandsOfRowsIntoIndexedJet3Tables) {
  AppendToIndexedTables(Copy("testV1997.mdb"), {"Table1", "Table3", "Table4"});
}

// Jet 3: five indexes of a table of 89 text columns.
TEST_F(JetAppendTest, ThousandsOfRowsIntoAJet3TableOfFiveIndexes) {
  AppendToIndexedTables(Copy("testV1997.mdb"), {"Table2"});
}

// Jet 4: unique indexes of a Long and of Text(255) keys, beside Memo columns.
TEST_F(JetAppendTest, ThousandsOfRowsIntoATableWithTwoUniqueIndexes) {
  AppendToIndexedTables(Copy("test2V2000.mdb"), {"MSP_PROJECTS"});
}

// The message of a refused row, and the file left as its last commit after the rollback.
std::string RefusedRow(const std::string& file, const std::string& table,
                       std::vector<std::vector<Variant>> rows, std::vector<Variant> refused) {
  auto store = PageStore::Open(file);
  auto db = JetDatabase::Open(file);
  auto writer = TableWriter::Open(*store, *db, table);
  const std::string committed = ReadFile(file);
  for (auto& row : rows) writer->Append(row);
  std::string message;
  try {
    writer->Append(refused);
    ADD_FAILURE() << "not refused";
  } catch (const TrundleError& e) {
    message = e.what();
  }
  writer->Rollback();
  EXPECT_EQ(ReadFile(file), committed);
  return message;
}

// A key a unique index holds (in the file or earlier in the batch, letter case ignored
// in text), a Null in a primary key, and a foreign key without its parent stop the row,
// each message naming the index and the key; rolled back, the file is its last commit.
// Rows whose foreign keys are Null, and a parent's new rows, are taken.
TEST_F(JetAppendTest, DuplicateKeysNullKeysAndMissingParentsAreRefused) {
  const std::string file = Copy("indexTestV2000.mdb");
  auto row = [](std::vector<Variant> values) { return values; };
  auto integer = [](int64_t n) {
    Variant v;
    v.SetInteger(n);
    return v;
  };
  auto text = [](const std::string& t) {
    Variant v;
    v.SetString(t);
    return v;
  };
  const Variant null = Variant::Null();
  // Parents: the fixture's Table2 holds ids 1 to 3.
  std::vector<std::vector<Variant>> parents;
  for (int i = 10; i < 3000; ++i) parents.push_back(row({integer(i), text("p")}));
  Append(file, "Table2", parents);

  std::vector<std::vector<Variant>> batch;
  for (int i = 3000; i < 4500; ++i) batch.push_back(row({integer(i), text("q")}));
  std::string message = RefusedRow(file, "Table2", batch, row({integer(2), text("x")}));
  EXPECT_NE(message.find("index PrimaryKey"), std::string::npos) << message;
  EXPECT_NE(message.find("id = 2"), std::string::npos) << message;
  message = RefusedRow(file, "Table2", batch, row({integer(4321), text("x")}));
  EXPECT_NE(message.find("id = 4321"), std::string::npos) << message;
  message = RefusedRow(file, "Table2", batch, row({null, text("x")}));
  EXPECT_NE(message.find("index PrimaryKey takes no Null"), std::string::npos) << message;

  // Table1: id, otherfk1 (to Table2), otherfk2 (to Table3), data, otherfk3.
  std::vector<std::vector<Variant>> children;
  for (int i = 100; i < 1600; ++i)
    children.push_back(row({integer(i), i % 3 ? integer(10 + i) : null, null, text("c"), null}));
  message = RefusedRow(file, "Table1", children,
                       row({integer(5000), integer(99999), null, text("x"), null}));
  EXPECT_NE(message.find("relationship Table2Table1"), std::string::npos) << message;
  EXPECT_NE(message.find("otherfk1 = 99999"), std::string::npos) << message;
  message = RefusedRow(file, "Table1", children,
                       row({integer(5000), null, integer(7), text("x"), null}));
  EXPECT_NE(message.find("relationship Table3Table1"), std::string::npos) << message;
  Append(file, "Table1", children);
  ExpectOraclesAgree(file, "Table1");

  // A unique index that does not require values takes any number of rows whose key is
  // Null, and refuses a repeated value.
  const std::string projects = Copy("test2V2000.mdb");
  {
    auto db = JetDatabase::Open(projects);
    std::vector<std::vector<Variant>> named =
        IndexedRows(db->Definition("MSP_PROJECTS"), false, 40, 0);
    for (size_t i = 0; i < named.size(); i += 3) named[i][1].SetNull();
    std::vector<Variant> again = IndexedRows(db->Definition("MSP_PROJECTS"), false, 1, 1000)[0];
    again[1] = named[7][1];
    message = RefusedRow(projects, "MSP_PROJECTS", named, again);
    EXPECT_NE(message.find("index I_PROJ_NAME already holds the key PROJ_NAME = '" +
                           named[7][1].text() + "'"),
              std::string::npos)
        << message;
    Append(projects, "MSP_PROJECTS", named);
  }
  ExpectOraclesAgree(projects, "MSP_PROJECTS");

  // Jet 3: a text primary key compares without regard to letter case.
  const std::string jet3 = Copy("testV1997.mdb");
  std::vector<std::vector<Variant>> first;
  {
    auto db = JetDatabase::Open(jet3);
    const jet::TableDef def = db->Definition("Table1");
    first = IndexedRows(def, true, 1200, 0);
    std::vector<Variant> twin = first[700];
    twin[0].SetString(UpperAscii(twin[0].text()));
    message = RefusedRow(jet3, "Table1", first, twin);
  }
  EXPECT_NE(message.find("index PrimaryKey already holds the key A = '" +
                         UpperAscii(first[700][0].text())),
            std::string::npos)
      << message;
}

// Rows go into system tables for a writer that asks for them (table creation adds its
// permission rows so): MSysACEs' index keeps them.
TEST_F(JetAppendTest, PermissionRowsGoIntoMSysACEs) {
  for (const char* fixture : {"delTestV1997.mdb", "delTestV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const std::string file = Copy(fixture);
    {
      auto store = PageStore::Open(file);
      auto db = JetDatabase::Open(file);
      jet::TableWriterOptions system;
      system.system_table = true;
      auto writer = TableWriter::Open(*store, *db, "MSysACEs", system);
      const uint32_t table = db->UserTableEntry("Table")->tdef_page;
      std::vector<std::vector<Variant>> acl = AllRows(*db, "MSysACEs");
      for (auto& row : acl) {
        if (row[0].integer() != int64_t(table)) continue;
        row[0].SetInteger(int64_t(table) + 100000);
        writer->Append(row);
      }
      writer->Flush();
      store->Commit();
    }
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(report.sound()) << report.Text();
    auto db = JetDatabase::Open(file);
    size_t copies = 0;
    for (const auto& row : AllRows(*db, "MSysACEs")) copies += row[0].integer() > 100000;
    EXPECT_GT(copies, 0u);
  }
}

// A crash at any page write of a commit whose rows split index pages (leaf and
// intermediate) leaves the file as the last commit left it or as this one would have,
// byte for byte, and sound.
TEST_F(JetAppendTest, ACrashAtAnyWriteOfACommitThatSplitsIndexPages) {
  const std::string file = Copy("test2V2000.mdb");
  std::vector<std::vector<Variant>> rows;
  {
    auto db = JetDatabase::Open(file);
    rows = IndexedRows(db->Definition("MSP_PROJECTS"), false, 420, 0);
  }
  std::vector<std::vector<Variant>> first(rows.begin(), rows.begin() + 300);
  Append(file, "MSP_PROJECTS", first);
  const std::string before = ReadFile(file);
  auto batch = [&](int fail_after) {
    auto store = PageStore::Open(file);
    auto db = JetDatabase::Open(file);
    auto writer = TableWriter::Open(*store, *db, "MSP_PROJECTS");
    for (size_t i = 300; i < rows.size(); ++i) {
      std::vector<Variant> row = rows[i];
      writer->Append(row);
    }
    store->FailAfterWrites(fail_after);
    writer->Commit();
  };
  batch(-1);
  const std::string after = ReadFile(file);
  // The batch split pages: the file holds more index pages (leaf 0x04, intermediate 0x03).
  auto index_pages = [](const std::string& bytes) {
    size_t n = 0;
    for (size_t p = 4096; p < bytes.size(); p += 4096) n += bytes[p] == 3 || bytes[p] == 4;
    return n;
  };
  EXPECT_GT(index_pages(after), index_pages(before));
  int crashes = 0;
  for (int n = 0;; ++n) {
    SCOPED_TRACE("crash after " + std::to_string(n) + " writes");
    WriteFile(file, before);
    std::filesystem::remove(file + "-journal");
    bool crashed = false;
    try {
      batch(n);
    } catch (const TrundleError&) {
      crashed = true;
    }
    PageStore::Open(file).reset();  // puts back what the journal holds
    EXPECT_TRUE(ReadFile(file) == (crashed ? before : after));
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(report.sound()) << report.Text();
    if (!crashed) break;
    ++crashes;
  }
  EXPECT_GT(crashes, 30);  // data pages, both indexes' pages, their maps, the definition
}

// Databases Access left pages in (long values of deleted rows, blank pages: allocated in
// the global usage map, used by nothing), one of them with a reference global map of no
// bitmap pages, so that no page reads as free: an indexed table grows past the global
// map's reach, an empty one of many indexes fills, and a new table takes long values of
// several pages. Every reader reads
// them, the verifier finds no fault, the other tables and the pages Access left stay as
// they were, and the reference map is not touched.
TEST_F(JetAppendTest, DatabasesWithLeftoverPagesAndAReferenceGlobalMap) {
  for (const char* fixture : {"testV2000.mdb", "testV2003.mdb", "testRefGlobalV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const std::string file = Copy(fixture);
    const std::string old_bytes = ReadFile(file);
    auto before = Snapshot(file);
    std::vector<std::vector<Variant>> rows, wide_rows;
    {
      auto db = JetDatabase::Open(file);
      rows = IndexedRows(db->Definition("Table1"), false, 3000, 0);
      // Table2, of 89 columns and five indexes, is empty; in testRefGlobalV2000.mdb its
      // owned-pages map is a reference map without bitmap pages.
      wide_rows = IndexedRows(db->Definition("Table2"), false, 500, 0);
    }
    Append(file, "Table1", rows);
    Append(file, "Table2", wide_rows);
    {
      auto store = PageStore::Open(file);
      auto db = JetDatabase::Open(file);
      jet::NewColumn number{"N", jet::kLong}, memo{"M", jet::kMemo};
      jet::CreateTable(*store, *db, "Notes", {number, memo});
    }
    std::vector<std::vector<Variant>> notes;
    for (size_t i = 0; i < 200; ++i) {
      notes.emplace_back(2);
      notes.back()[0].SetInteger(int64_t(i));
      std::string text;
      while (text.size() < 3000 + 40 * i) text += SomeText(i, 60, true) + " ";
      notes.back()[1].SetString(text);
    }
    Append(file, "Notes", notes);

    ExpectOraclesAgree(file, "Table1");
    ExpectOraclesAgree(file, "Table2");
    ExpectOraclesAgree(file, "Notes");
    const std::string bytes = ReadFile(file);
    // The inline global maps reach to page 767 (testV2003.mdb: 799).
    ASSERT_GT(bytes.size() / 4096, 1000u);
    auto after = Snapshot(file);
    std::vector<std::string> expected = before.at("Table1");
    for (const auto& row : rows) expected.push_back(Row(row));
    EXPECT_EQ(Sorted(after.at("Table1")), Sorted(expected));
    EXPECT_EQ(after.at("Notes").size(), notes.size());
    EXPECT_EQ(after.at("Table2").size(), wide_rows.size());
    for (const char* changed : {"Table1", "Table2", "Notes", "MSysObjects", "MSysACEs"}) {
      after.erase(changed);
      before.erase(changed);
    }
    EXPECT_EQ(after, before);

    int left = 0;
    for (size_t at = 0; at < old_bytes.size(); at += 4096) {
      const std::string page = old_bytes.substr(at, 4096);
      const bool long_values = page[0] == 1 && page.compare(4, 4, "LVAL") == 0;
      const bool blank = page.find_first_not_of('\0') == std::string::npos;
      if (!long_values && !blank) continue;
      ++left;
      EXPECT_TRUE(bytes.compare(at, 4096, page) == 0) << "page " << at / 4096;
    }
    EXPECT_GT(left, 600);
    if (std::string(fixture) == "testRefGlobalV2000.mdb") {
      EXPECT_TRUE(bytes.compare(4096, 4096, old_bytes, 4096, 4096) == 0) << "the global map";
    }
  }
}

}  // namespace
}  // namespace trundle
