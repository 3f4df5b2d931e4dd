// Index keys: every entry of every index Access wrote in the fixtures (user and system
// tables, Jet 3 and Jet 4) is the key we encode from the row it points to, byte for byte;
// keys of values the fixtures lack order as the values do.

#include "databases/access/jet/jet_index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <unordered_set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_rows.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::IndexKeyEncoder;

struct Entry {
  std::string key;
  uint32_t row = 0;  // page << 8 | row
};

// The leaf entries of an index in page order, each rebuilt whole from the page's shared
// prefix (the first entry's leading bytes, which the others leave out).
std::vector<Entry> LeafEntries(const jet::PageFile& file, const jet::Format& format,
                               const jet::PhysicalIndex& index) {
  const int next_at = format.jet3 ? 0x0C : 0x10, prefix_at = format.jet3 ? 0x14 : 0x18,
            mask_at = format.jet3 ? 0x16 : 0x1B, entries_at = format.jet3 ? 0xF8 : 0x1E0;
  std::vector<Entry> out;
  std::deque<uint32_t> queue{index.first_page};
  std::unordered_set<uint32_t> seen;
  std::vector<uint8_t> buf;
  while (!queue.empty()) {
    const uint32_t page = queue.front();
    queue.pop_front();
    if (!seen.insert(page).second) continue;
    file.Read(page, buf);
    const bool leaf = buf[0] == 0x04;
    EXPECT_TRUE(leaf || buf[0] == 0x03) << "page " << page;
    const size_t prefix =
        format.jet3 ? buf[size_t(prefix_at)] : jet::Get16(&buf[size_t(prefix_at)]);
    if (uint32_t next = jet::Get32(&buf[size_t(next_at)])) queue.push_back(next);
    std::string first;
    int begin = entries_at;
    for (int i = 0; mask_at + i / 8 < entries_at; ++i) {
      if (!(buf[size_t(mask_at + i / 8)] & (1 << (i % 8)))) continue;
      const int end = entries_at + i;
      std::string whole(reinterpret_cast<const char*>(&buf[size_t(begin)]), size_t(end - begin));
      if (first.empty())
        first = whole;
      else
        whole = first.substr(0, prefix) + whole;
      begin = end;
      const size_t tail = leaf ? 4 : 8;
      const uint8_t* t = reinterpret_cast<const uint8_t*>(whole.data() + whole.size() - tail);
      if (leaf) {
        out.push_back({whole.substr(0, whole.size() - 4),
                       (uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2]) << 8 | t[3]});
      } else {
        queue.push_back(jet::Get32(t + 4) >> 24 | (jet::Get32(t + 4) & 0xFF0000) >> 8 |
                        (jet::Get32(t + 4) & 0xFF00) << 8 | jet::Get32(t + 4) << 24);
      }
    }
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (unsigned char c : bytes) {
    if (!s.empty()) s.push_back(' ');
    s.push_back(kHex[c >> 4]);
    s.push_back(kHex[c & 15]);
  }
  return s;
}

// The values of the row a leaf entry points at (a moved row followed to its data).
bool RowValues(const jet::PageFile& file, const jet::Format& format, jet::RowDecoder& decoder,
               uint32_t pointer, std::vector<Variant>& values) {
  std::vector<uint8_t> page;
  file.Read(pointer >> 8, page);
  jet::RowSpan span;
  if (!jet::LocateRow(page, format, int(pointer & 0xFF), span, "test")) return false;
  for (int hops = 0; span.overflow && hops < 4; ++hops) {
    const uint8_t* p = &page[size_t(span.begin)];
    const uint32_t target = jet::Get24(p + 1) << 8 | p[0];
    file.Read(target >> 8, page);
    if (!jet::LocateRow(page, format, int(target & 0xFF), span, "test", true)) return false;
  }
  decoder.Decode(&page[size_t(span.begin)], span.end - span.begin, values);
  return true;
}

// The fixtures, and beside them in keys/ more databases Access wrote with indexes of
// every key type (Jet 3: each character of code page 1252 in ascending and descending
// text indexes; Jet 4: descending, Byte, Binary and date keys).
std::vector<std::string> KeyFixtures() {
  std::vector<std::string> names;
  for (const std::string& name : jet_test::FixtureNames()) names.push_back(jet_test::Fixture(name));
  for (const auto& e : std::filesystem::directory_iterator(jet_test::Fixture("keys")))
    if (e.path().extension() == ".mdb") names.push_back(e.path().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(JetIndexKeyTest, EveryFixtureIndexEntryIsTheKeyOfItsRow) {
  std::map<std::string, int> covered;  // column type (and direction) -> entries checked
  for (const std::string& name : KeyFixtures()) {
    auto db = jet::JetDatabase::Open(name);
    const jet::Format format = db->is_jet3() ? jet::Format::Jet3() : jet::Format::Jet4();
    auto codec = TextCodec::ToUtf8From(db->code_page() > 0 ? "CP" + std::to_string(db->code_page())
                                                           : "CP1252");
    for (const jet::CatalogEntry& e : db->Catalog()) {
      const jet::TableDef def =
          jet::ReadTableDef(db->Pages(), format, e.tdef_page, e.name, name, codec.get());
      jet::RowDecoder decoder(db->Pages(), format, def, codec.get(), name);
      std::vector<Variant> values;
      std::string key;
      for (size_t i = 0; i < def.indexes.size(); ++i) {
        const jet::PhysicalIndex& index = def.indexes[i];
        SCOPED_TRACE(name + ": table " + e.name + ": index " + std::to_string(i));
        IndexKeyEncoder keys(format, def, index);
        std::string kinds;
        for (const jet::IndexColumn& c : index.columns)
          for (const jet::ColumnDef& col : def.columns)
            if (col.number == c.number)
              kinds += std::string(kinds.empty() ? "" : "+") + std::to_string(col.column.type) +
                       (c.ascending ? "" : "desc") + (format.jet3 ? "/3" : "/4");
        int mismatches = 0;
        for (const Entry& entry : LeafEntries(db->Pages(), format, index)) {
          const int64_t bad_text = decoder.bad_text();
          ASSERT_TRUE(RowValues(db->Pages(), format, decoder, entry.row, values));
          // Text our reader could not read whole (bytes code page 1252 leaves undefined)
          // has no key to compare.
          if (decoder.bad_text() != bad_text) continue;
          ASSERT_TRUE(keys.Encode(values, key)) << keys.error();
          if (key != entry.key && ++mismatches <= 3) {
            std::string row;
            for (const Variant& v : values) row += jet_test::CanonicalCell(v) + " | ";
            ADD_FAILURE() << "row " << (entry.row >> 8) << ":" << (entry.row & 0xFF) << " (" << row
                          << ")\n stored  " << Hex(entry.key) << "\n encoded " << Hex(key);
          }
          ++covered[kinds];
          for (const Variant& v : values)
            if (v.IsText() && std::any_of(v.text().begin(), v.text().end(),
                                          [](char ch) { return uint8_t(ch) >= 0x80; }))
              ++covered[format.jet3 ? "non-ASCII text/3" : "non-ASCII text/4"];
        }
        EXPECT_EQ(mismatches, 0);
      }
    }
  }
  // Our verifier holds the same databases sound.
  for (const std::string& name : KeyFixtures()) {
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(name);
    EXPECT_TRUE(report.sound()) << report.Text();
    EXPECT_EQ(report.Text().find("encoded"), std::string::npos) << report.Text();
  }
  std::string summary;
  for (const auto& [kinds, n] : covered) summary += kinds + ": " + std::to_string(n) + "  ";
  RecordProperty("covered", summary);
  std::cout << "index entries checked by key column types: " << summary << "\n";
  // The fixtures hold keys of text (both versions), of integers and of dates at least.
  EXPECT_GT(covered["10/4"], 0);
  EXPECT_GT(covered["10/3"], 0);
  EXPECT_GT(covered["4/4"], 0);
  // Accented, Greek, Cyrillic and CJK text (testUnicodeCompV2003.mdb), and each character
  // of code page 1252 (keys/testIndexCodesV1997.mdb).
  EXPECT_GT(covered["non-ASCII text/4"], 5);
  EXPECT_GT(covered["non-ASCII text/3"], 100);
  EXPECT_GT(covered["10desc/3"], 0);
  EXPECT_GT(covered["4desc/4"], 0);
  EXPECT_GT(covered["8/4"], 0);
}

// Bytes from their hexadecimal text ("7F 00 ...").
std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3)
    out.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Keys Access wrote in General 97 databases: a sharp s takes the accents part's places of
// the two letters it sorts as; a NUL orders as the other control characters. Our writer
// writes them so, and our verifier holds a database of them sound.
TEST(JetIndexKeyTest, KeysAccessWroteForASharpSBeforeAnAccentAndANulInACompoundKey) {
  const std::string supplier = "Plutzer Lebensmittelgro\xC3\x9Fm\xC3\xA4rkte AG";
  const std::string access_supplier = Bytes(
      "7F 73 6D 78 77 7E 66 75 11 6D 66 61 66 70 76 6F 6A 77 77 66 6D 68 75 72 76 76 6F 60 75 "
      "6C 77 66 11 60 68 02 22 22 22 22 22 60");
  const jet::Format jet3 = jet::Format::Jet3();
  jet::TableDef def;
  for (int i = 0; i < 3; ++i) {
    jet::ColumnDef c;
    c.number = i;
    c.column.name = std::string(1, char('A' + i));
    c.column.type = i == 0 ? jet::kText : jet::kLong;
    c.sort_order = 1033;
    def.columns.push_back(c);
  }
  def.indexes.resize(2);
  def.indexes[0].columns = {jet::IndexColumn{0, true}};
  // MSysModules2's index: Name, Type, Version descending.
  def.indexes[1].columns = {jet::IndexColumn{0, true}, jet::IndexColumn{1, true},
                            jet::IndexColumn{2, false}};
  auto key = [&](size_t index, const std::vector<Variant>& values) {
    IndexKeyEncoder keys(jet3, def, def.indexes[index]);
    std::string k;
    EXPECT_TRUE(keys.Encode(values, k)) << keys.error();
    return k;
  };
  const Variant none = Variant::Null();
  EXPECT_EQ(Hex(key(0, {Variant::String(supplier), none, none})), Hex(access_supplier));
  // A sharp s and the ligatures are the letters they are written as, accents after them
  // included.
  for (const auto& [one, other] : std::vector<std::pair<const char*, const char*>>{
           {"gro\xC3\x9Fm\xC3\xA4rkte", "grossm\xC3\xA4rkte"},
           {"\xC3\x86r\xC3\xB6", "AEr\xC3\xB6"},
           {"c\xC5\x93ur \xC3\xA0", "coeur \xC3\xA0"}})
    EXPECT_EQ(Hex(key(0, {Variant::String(one), none, none})),
              Hex(key(0, {Variant::String(other), none, none})))
        << one;
  // A text inside a compound key ends as a whole key's text does, with 00, and the numbers
  // follow: the same index of testV1997.mdb holds "MSysDb", 2, 1 so (every entry of the
  // fixtures is checked above). Access's "Lock" entry has a 10 before that 00: its name
  // ends in a NUL, which orders as the other control characters do (readers that stop at
  // a NUL show "Lock").
  EXPECT_EQ(Hex(key(1, {Variant::String("MSysDb"), Variant::Integer(2), Variant::Integer(1)})),
            "7F 6F 76 7D 76 64 61 00 7F 80 00 00 02 80 7F FF FF FE");
  EXPECT_EQ(Hex(key(1, {Variant::String(std::string("Lock\0", 5)), Variant::Integer(0),
                        Variant::Integer(1)})),
            "7F 6D 72 62 6C 10 00 7F 80 00 00 00 80 7F FF FF FE");
  EXPECT_EQ(Hex(key(1, {Variant::String("Lock"), Variant::Integer(0), Variant::Integer(1)})),
            "7F 6D 72 62 6C 00 7F 80 00 00 00 80 7F FF FF FE");

  // Written by our writer into General 97 databases, a supplier into a text index and
  // "Lock" into an index of a text and a descending Long: the entries are the keys Access
  // wrote (the second of the segments of the "Lock" key, Type's left out), and the
  // verifier finds the databases sound.
  struct Written {
    const char* fixture;
    const char* table;
    std::vector<Variant> row;
    std::string key;
  };
  const Written written[] = {
      {"keys/testIndexCodesV1997.mdb",
       "Table1",
       {Variant::String("supplier"), Variant::String(supplier)},
       access_supplier},
      {"keys/testIndexCodesV1997.mdb",
       "Table12_asc_desc",
       {Variant::String("lock"), Variant::String(std::string("Lock\0", 5)), Variant::Integer(1)},
       Bytes("7F 6D 72 62 6C 10 00 80 7F FF FF FE")}};
  for (const Written& w : written) {
    SCOPED_TRACE(w.table);
    ScratchFolder dir;
    const std::string file = dir / "keys.mdb";
    std::filesystem::copy_file(jet_test::Fixture(w.fixture), file);
    {
      auto store = jet::PageStore::Open(file);
      auto db = jet::JetDatabase::Open(file);
      auto writer = jet::TableWriter::Open(*store, *db, w.table);
      std::vector<Variant> row = w.row;
      writer->Append(row);
      writer->Commit();
    }
    auto db = jet::JetDatabase::Open(file);
    auto codec = TextCodec::ToUtf8From("CP1252");
    const jet::TableDef table = jet::ReadTableDef(
        db->Pages(), jet3, db->UserTableEntry(w.table)->tdef_page, w.table, file, codec.get());
    int found = 0;
    for (const jet::PhysicalIndex& index : table.indexes)
      for (const Entry& e : LeafEntries(db->Pages(), jet3, index)) found += e.key == w.key;
    EXPECT_EQ(found, 1);
    const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(report.sound()) << report.Text();
  }
}

// A table of one column of the given type, indexed on it in the given direction.
struct OneColumn {
  OneColumn(bool jet3, uint8_t type, bool ascending = true)
      : format(jet3 ? jet::Format::Jet3() : jet::Format::Jet4()) {
    jet::ColumnDef c;
    c.column.name = "C";
    c.column.type = type;
    c.column.precision = 18;
    c.column.scale = 3;
    c.sort_order = 1033;
    def.columns.push_back(c);
    def.indexes.push_back(jet::PhysicalIndex{});
    def.indexes[0].columns.push_back(jet::IndexColumn{0, ascending});
  }
  std::string Key(const Variant& v) {
    IndexKeyEncoder keys(format, def, def.indexes[0]);
    std::string key;
    EXPECT_TRUE(keys.Encode({v}, key)) << keys.error();
    return key;
  }
  jet::Format format;
  jet::TableDef def;
};

// Keys of the values, which are in ascending order, must be in ascending order too in an
// ascending index, and in descending order in a descending one; a Null is the least in
// the first and the greatest in the second.
void ExpectOrdered(uint8_t type, const std::vector<Variant>& values, bool descending_too = true) {
  for (bool jet3 : {false, true}) {
    for (bool ascending : {true, false}) {
      if (!ascending && !descending_too) continue;
      OneColumn t(jet3, type, ascending);
      std::string previous = t.Key(Variant::Null());
      for (const Variant& v : values) {
        const std::string key = t.Key(v);
        EXPECT_TRUE(ascending ? previous < key : key < previous)
            << "type " << int(type) << (jet3 ? " Jet 3 " : " Jet 4 ")
            << (ascending ? "ascending: " : "descending: ") << v.ToText() << ": " << Hex(key)
            << " after " << Hex(previous);
        previous = key;
      }
    }
  }
}

TEST(JetIndexKeyTest, NumberKeysOrderAsTheNumbers) {
  std::vector<Variant> ints;
  for (int64_t v : {-32768, -300, -256, -1, 0, 1, 255, 256, 32767})
    ints.push_back(Variant::Integer(v));
  ExpectOrdered(jet::kInteger, ints);
  for (int64_t v : {int64_t(INT32_MIN), int64_t(-70000), int64_t(70000), int64_t(INT32_MAX)})
    ints.push_back(Variant::Integer(v));
  std::sort(ints.begin(), ints.end(),
            [](const Variant& a, const Variant& b) { return a.integer() < b.integer(); });
  ExpectOrdered(jet::kLong, ints);
  ints.insert(ints.begin(), Variant::Integer(INT64_MIN));
  ints.push_back(Variant::Integer(INT64_MAX));
  ExpectOrdered(jet::kBigInt, ints);
  ExpectOrdered(jet::kByte, {Variant::Integer(0), Variant::Integer(1), Variant::Integer(127),
                             Variant::Integer(128), Variant::Integer(255)});
  ExpectOrdered(jet::kCurrency,
                {Variant::Currency(INT64_MIN), Variant::Currency(-10001), Variant::Currency(-1),
                 Variant::Currency(0), Variant::Currency(1), Variant::Currency(INT64_MAX)});
  std::vector<Variant> reals;
  for (double d : {-1e300, -2.5, -1.0, -1e-300, 0.0, 1e-300, 1.0, 2.5, 1e300})
    reals.push_back(Variant::Float(d));
  ExpectOrdered(jet::kDouble, reals);
  std::vector<Variant> singles;
  for (double d : {-3e38, -2.5, -1.0, -1e-30, 0.0, 1e-30, 1.0, 2.5, 3e38})
    singles.push_back(Variant::Float(d));
  ExpectOrdered(jet::kSingle, singles);
}

TEST(JetIndexKeyTest, DateKeysOrderAsTheDaysIncludingThoseBefore1899) {
  // Days since 30 December 1899: year 100, 1 January 1800, 28 December 1899 18:00 (the
  // whole part negative, the fraction positive), 29 December, the epoch, 2000, 9999.
  std::vector<Variant> dates;
  for (double d : {-657434.0, -36522.0, -2.75, -1.0, 0.0, 0.25, 36526.5, 2958465.0})
    dates.push_back(Variant::DateTime(d));
  ExpectOrdered(jet::kDateTime, dates);
}

TEST(JetIndexKeyTest, DecimalKeysOrderAsTheNumbers) {
  std::vector<Variant> values;
  for (const char* t : {"-999999999999999.999", "-12345.678", "-1", "-0.001", "0", "0.001", "1",
                        "12345.678", "999999999999999.999"})
    values.push_back(Variant::String(t));
  ExpectOrdered(jet::kNumeric, values, false);
  // Descending, Jet 3 and 4 keep negative values before positive ones (the order Access
  // of those versions gives them); within a sign the order is reversed.
  OneColumn t(false, jet::kNumeric, false);
  EXPECT_LT(t.Key(Variant::String("-1")), t.Key(Variant::String("-2")));
  EXPECT_LT(t.Key(Variant::String("2")), t.Key(Variant::String("1")));
  EXPECT_LT(t.Key(Variant::String("1")), t.Key(Variant::Null()));
  // ACE (.accdb) orders them as numbers both ways.
  for (bool ascending : {true, false}) {
    OneColumn ace(false, jet::kNumeric, ascending);
    ace.format.ace = true;
    std::string previous = ace.Key(Variant::Null());
    for (const Variant& v : values) {
      const std::string key = ace.Key(v);
      EXPECT_TRUE(ascending ? previous < key : key < previous) << v.ToText();
      previous = key;
    }
  }
  // The same value however it arrives.
  OneColumn a(false, jet::kNumeric);
  EXPECT_EQ(a.Key(Variant::String("2.5")), a.Key(Variant::Float(2.5)));
  EXPECT_EQ(a.Key(Variant::String("7")), a.Key(Variant::Integer(7)));
}

TEST(JetIndexKeyTest, GuidBinaryAndBooleanKeys) {
  ExpectOrdered(jet::kGuid, {Variant::String("{00000000-0000-0000-0000-000000000000}"),
                             Variant::String("{00000001-0000-0000-0000-000000000000}"),
                             Variant::String("{0000FF00-0000-0000-0000-000000000000}"),
                             Variant::String("{10000000-0000-0000-0000-000000000000}"),
                             Variant::String("{10000000-0000-0000-0000-000000000001}"),
                             Variant::String("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}")});
  OneColumn g(false, jet::kGuid);
  // The row's 16 bytes (first three groups little-endian) give the same key as the text.
  const std::string stored("\x04\x03\x02\x01\x06\x05\x08\x07\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10", 16);
  EXPECT_EQ(g.Key(Variant::Blob(stored)),
            g.Key(Variant::String("{01020304-0506-0708-090A-0B0C0D0E0F10}")));
  IndexKeyEncoder bad(g.format, g.def, g.def.indexes[0]);
  std::string key;
  EXPECT_FALSE(bad.Encode({Variant::String("not a guid")}, key));
  EXPECT_NE(bad.error().find("not a GUID"), std::string::npos) << bad.error();

  // An empty value has no bytes after its flag: first in an ascending index (in a
  // descending one too, as the format has it, so it is left out of that order).
  ExpectOrdered(jet::kBinary, {Variant::Blob(""), Variant::Blob("a")}, false);
  ExpectOrdered(jet::kBinary,
                {Variant::Blob(std::string(1, '\0')), Variant::Blob("a"), Variant::Blob("abcdefgh"),
                 Variant::Blob("abcdefgh\x01"), Variant::Blob("abcdefgi"), Variant::Blob("b")});
  // Yes (-1 in Access) before No; a Boolean has no Null.
  for (bool ascending : {true, false}) {
    OneColumn b(true, jet::kBoolean, ascending);
    EXPECT_EQ(b.Key(Variant::Boolean(true)) < b.Key(Variant::Boolean(false)), ascending);
    EXPECT_EQ(b.Key(Variant::Null()), b.Key(Variant::Boolean(false)));
  }
}

TEST(JetIndexKeyTest, TextKeysIgnoreCaseAndTrailingSpacesAndOrderAccentsAfterTheLetter) {
  for (bool jet3 : {false, true}) {
    for (bool ascending : {true, false}) {
      OneColumn t(jet3, jet::kText, ascending);
      EXPECT_EQ(t.Key(Variant::String("Abc")), t.Key(Variant::String("aBC")));
      EXPECT_EQ(t.Key(Variant::String("abc  ")), t.Key(Variant::String("abc")));
      EXPECT_EQ(t.Key(Variant::String("ÀÉ")), t.Key(Variant::String("àé")));
      EXPECT_NE(t.Key(Variant::String("abc")), t.Key(Variant::String("äbc")));
      EXPECT_NE(t.Key(Variant::String("coop")), t.Key(Variant::String("co-op")));
      // Only the first 255 characters take part.
      EXPECT_EQ(t.Key(Variant::String(std::string(255, 'x') + "a")),
                t.Key(Variant::String(std::string(255, 'x') + "b")));
      // A Null before (ascending) or after (descending) every text, the empty one too.
      const std::string null = t.Key(Variant::Null()), empty = t.Key(Variant::String(""));
      EXPECT_TRUE(ascending ? null < empty : empty < null);
    }
  }
  // Digits before letters, each accented letter after its plain one.
  for (bool jet3 : {false, true}) {
    OneColumn t(jet3, jet::kText);
    auto less = [&](const char* a, const char* b) {
      return t.Key(Variant::String(a)) < t.Key(Variant::String(b));
    };
    EXPECT_TRUE(less("9", "a"));
    EXPECT_TRUE(less("a", "à"));
    EXPECT_TRUE(less("à", "ab"));
    EXPECT_TRUE(less("abc", "äbc"));
    EXPECT_TRUE(less("äbc", "b"));
    EXPECT_TRUE(less("e", "é"));
    EXPECT_TRUE(less("é", "f"));
    EXPECT_TRUE(less("cote", "côte"));
    EXPECT_TRUE(less("côte", "cotf"));
  }
}

TEST(JetIndexKeyTest, CharactersWithoutKnownCodesAreRefusedNotGuessed) {
  OneColumn t(false, jet::kText);
  IndexKeyEncoder keys(t.format, t.def, t.def.indexes[0]);
  std::string key = "stale";
  EXPECT_FALSE(keys.Encode({Variant::String("emoji \xF0\x9F\x98\x80")}, key));
  EXPECT_NE(keys.error().find("U+D83D"), std::string::npos) << keys.error();
  EXPECT_NE(keys.error().find("column C"), std::string::npos) << keys.error();
  // Characters of the Basic Multilingual Plane have codes: Greek, Cyrillic, CJK.
  EXPECT_TRUE(keys.Encode({Variant::String("αβγ Жж 漢字")}, key)) << keys.error();
}

TEST(JetIndexKeyTest, IndexesThatCannotBeKeptAreRefusedWhenMade) {
  for (uint8_t type : {jet::kMemo, jet::kOle}) {
    OneColumn t(false, type);
    EXPECT_THROW(IndexKeyEncoder(t.format, t.def, t.def.indexes[0]), TrundleError);
  }
  OneColumn other(false, jet::kText);
  other.def.columns[0].sort_order = 1049;  // a Cyrillic order
  try {
    IndexKeyEncoder keys(other.format, other.def, other.def.indexes[0]);
    ADD_FAILURE() << "a foreign sort order was taken";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("1049"), std::string::npos) << e.what();
  }
  other.def.columns[0].sort_order = 1033;
  other.def.columns[0].sort_version = 1;  // the later "General" of Access 2010
  EXPECT_THROW(IndexKeyEncoder(other.format, other.def, other.def.indexes[0]), TrundleError);
}

TEST(JetIndexKeyTest, AllNullOnlyWhenEveryKeyColumnIsNull) {
  OneColumn t(false, jet::kLong);
  jet::ColumnDef second = t.def.columns[0];
  second.number = 1;
  second.column.name = "D";
  t.def.columns.push_back(second);
  t.def.indexes[0].columns.push_back(jet::IndexColumn{1, true});
  IndexKeyEncoder keys(t.format, t.def, t.def.indexes[0]);
  EXPECT_TRUE(keys.AllNull({Variant::Null(), Variant()}));
  EXPECT_FALSE(keys.AllNull({Variant::Null(), Variant::Integer(0)}));
  // A compound key holds each column in turn: the first column decides.
  std::string a, b;
  ASSERT_TRUE(keys.Encode({Variant::Integer(1), Variant::Integer(99)}, a));
  ASSERT_TRUE(keys.Encode({Variant::Integer(2), Variant::Integer(-5)}, b));
  EXPECT_LT(a, b);
}

}  // namespace
}  // namespace trundle
