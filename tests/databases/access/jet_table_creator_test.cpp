// New tables: the engine's refusals, the definition laid out as Access lays out the
// fixtures' tables, the property value read back by our parser, and the definition and
// usage maps read back by our reader.

#include "databases/access/jet/jet_table_creator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_props.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_verify.h"
#include "engine/errors.h"
#include "tests/databases/access/jet_test_util.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using jet::Format;
using jet::NewColumn;
using jet_test::Fixture;

std::unique_ptr<TextCodec> Cp1252Names() { return TextCodec::FromUtf8To("CP1252"); }

// A column of every type we create, with a spread of sizes and properties.
std::vector<NewColumn> EveryType(bool jet3) {
  std::vector<NewColumn> cols = {
      {"Name", jet::kText, 50, true, false},      {"Short", jet::kText, 1, false, true},
      {"Widest", jet::kText, 255, false, false},   {"Notes", jet::kMemo, 0, false, true},
      {"Done", jet::kBoolean},                     {"Small", jet::kByte},
      {"Count", jet::kInteger, 0, true},           {"Big", jet::kLong},
      {"Price", jet::kCurrency},                   {"Ratio", jet::kSingle},
      {"Measure", jet::kDouble, 0, true},          {"Born", jet::kDateTime},
      {"Id", jet::kGuid},                          {"Picture", jet::kOle},
      {"Raw", jet::kBinary, 16},                   {"Zürich Straße", jet::kText, 20},
  };
  if (!jet3) {
    cols.push_back({"Amount", jet::kNumeric, 0, false, false, 12, 4});
    cols.push_back({"More notes", jet::kMemo, 0, true, false});
  }
  return cols;
}

TEST(JetTableCreator, NamesTheEngineRefuses) {
  EXPECT_EQ(jet::CheckObjectName("Orders 2024"), "");
  EXPECT_EQ(jet::CheckObjectName("Übersicht-Ä_1 (alt)#$%"), "");
  EXPECT_EQ(jet::CheckObjectName(std::string(64, 'x')), "");
  std::string wide = std::string(32, 'x');
  for (int i = 0; i < 32; ++i) wide += "Ä";
  EXPECT_EQ(jet::CheckObjectName(wide), "") << "64 characters, though more bytes";
  EXPECT_NE(jet::CheckObjectName(wide + "Ä"), "");
  for (const std::string& bad :
       {std::string("A.B"), std::string("Wow!"), std::string("a`b"), std::string("[x"),
        std::string("x]"), std::string(" lead"), std::string(65, 'y'), std::string(),
        std::string("tab\there"), std::string("bad\xFFutf8")})
    EXPECT_EQ(jet::CheckObjectName(bad),
              "'" + bad +
                  "' is not a valid name. Make sure that it does not include invalid characters "
                  "or punctuation and that it is not too long.")
        << bad;
}

TEST(JetTableCreator, TablesTheEngineRefusesBeforeAnythingIsWritten) {
  auto cp = Cp1252Names();
  const std::vector<NewColumn> good = {{"A", jet::kText, 10}, {"B", jet::kLong}};
  EXPECT_EQ(jet::CheckNewTable("T", good, false, nullptr), "");
  EXPECT_EQ(jet::CheckNewTable("T", good, true, cp.get()), "");
  EXPECT_EQ(jet::CheckNewTable("T", EveryType(false), false, nullptr), "");
  EXPECT_EQ(jet::CheckNewTable("T", EveryType(true), true, cp.get()), "");

  EXPECT_EQ(jet::CheckNewTable("T", {}, false, nullptr),
            "No field defined--cannot append TableDef or Index.");
  EXPECT_NE(jet::CheckNewTable("T.1", good, false, nullptr).find("is not a valid name"),
            std::string::npos);
  for (const auto& pair : {std::pair<std::string, std::string>{"Name", "NAME"},
                           {"Größe", "GRÖSSE"}, {"Ärger", "ärger"}, {"Мир", "мир"}}) {
    const std::vector<NewColumn> twice = {{pair.first, jet::kLong}, {pair.second, jet::kText, 5}};
    const std::string got = jet::CheckNewTable("T", twice, false, nullptr);
    if (pair.first == "Größe")  // ß is not a capital's small letter: two names
      EXPECT_EQ(got, "");
    else
      EXPECT_EQ(got, "Can't define field more than once.") << pair.first;
  }
  EXPECT_EQ(jet::CheckNewTable("T", {{"A", jet::kText, 0}}, false, nullptr),
            "Invalid field size for field 'A'.");
  EXPECT_EQ(jet::CheckNewTable("T", {{"A", jet::kText, 256}}, false, nullptr),
            "Size of field 'A' is too long.");
  EXPECT_EQ(jet::CheckNewTable("T", {{"A", jet::kComplex}}, false, nullptr),
            "Invalid field data type.");
  EXPECT_EQ(jet::CheckNewTable("T", {{"A", jet::kNumeric}}, true, cp.get()),
            "Invalid field data type.")
      << "Jet 3 has no Decimal";
  // Only a Long is numbered by the table's counter.
  NewColumn counted{"Id", jet::kLong};
  counted.autonumber = true;
  EXPECT_EQ(jet::CheckNewTable("T", {counted}, false, nullptr), "");
  counted.type = jet::kText;
  counted.size = 10;
  EXPECT_EQ(jet::CheckNewTable("T", {counted}, false, nullptr), "Invalid field data type.");
  EXPECT_NE(jet::CheckNewTable("T", {{"A", jet::kNumeric, 0, false, false, 29, 0}}, false,
                               nullptr),
            "");
  EXPECT_NE(jet::CheckNewTable("T", {{"A", jet::kNumeric, 0, false, false, 5, 6}}, false,
                               nullptr),
            "");
  // A Jet 3 name must be held by the database's code page.
  EXPECT_NE(jet::CheckNewTable("Мир", good, true, cp.get()), "");
  EXPECT_NE(jet::CheckNewTable("T", {{"Мир", jet::kLong}}, true, cp.get()), "");
  EXPECT_EQ(jet::CheckNewTable("Мир", good, false, nullptr), "");

  std::vector<NewColumn> many;
  for (int i = 0; i < 256; ++i) many.push_back({FieldName(i), jet::kLong});
  EXPECT_EQ(jet::CheckNewTable("T", many, false, nullptr), "Too many fields defined.");
  many.pop_back();
  EXPECT_EQ(jet::CheckNewTable("T", many, false, nullptr), "");
  for (NewColumn& c : many) c.type = jet::kNumeric;  // 255 x 17 bytes of fixed data
  EXPECT_EQ(jet::CheckNewTable("T", many, false, nullptr), "Record is too large.");
}

// The definition's bytes of a fixture's table, continuation headers left out.
std::vector<uint8_t> FixtureDefinition(const jet::PageFile& file, uint32_t page) {
  std::vector<uint8_t> out, more;
  file.Read(page, out);
  for (uint32_t next = jet::Get32(&out[4]); next; next = jet::Get32(&more[4])) {
    file.Read(next, more);
    out.insert(out.end(), more.begin() + 8, more.end());
  }
  return out;
}

// Tables Access made with fields only: the definition we build for their columns, given
// the same usage maps, equals Access's byte for byte, apart from what the table's life
// changed (its row count) and what Access leaves unset (the fixed offset of a variable
// column, the bytes after the header's 0x01).
TEST(JetTableCreator, DefinitionIsLaidOutAsAccessLaysOutTheFixturesTables) {
  struct Case {
    const char* file;
    const char* table;
  };
  for (const Case& c : {Case{"delTestV1997.mdb", "Table"}, Case{"delTestV2000.mdb", "Table"},
                        Case{"fixedNumericTestV2000.mdb", "test"}}) {
    SCOPED_TRACE(std::string(c.file) + " " + c.table);
    auto db = jet::JetDatabase::Open(Fixture(c.file));
    const Format f = db->is_jet3() ? Format::Jet3() : Format::Jet4();
    const jet::TableDef def = db->Definition(c.table);
    std::vector<uint8_t> access = FixtureDefinition(db->Pages(), def.page);
    const size_t length = jet::Get32(&access[8]);
    ASSERT_LE(length, access.size());
    access.resize(length);

    auto cp = Cp1252Names();
    std::vector<NewColumn> cols;
    for (const jet::ColumnDef& cd : def.columns) {
      NewColumn n{cd.column.name, cd.column.type, cd.column.size};
      if (n.type == jet::kText && !f.jet3) n.size /= 2;
      n.precision = cd.column.precision;
      n.scale = cd.column.scale;
      cols.push_back(n);
    }
    jet::NewTableLayout layout;
    layout.used_map = def.used_pages;
    layout.free_map = def.free_pages;
    const size_t longs = size_t(std::count_if(cols.begin(), cols.end(), [](const NewColumn& n) {
      return n.type == jet::kMemo || n.type == jet::kOle;
    }));
    for (size_t i = 0; i < longs; ++i) {
      const size_t at = length - 2 - 10 * (longs - i);
      layout.long_value_maps.emplace_back(jet::Get32(&access[at + 2]), jet::Get32(&access[at + 6]));
    }
    const size_t col_at = size_t(f.tdef_header_end);
    std::copy_n(&access[col_at + size_t(f.col_misc)], 4, layout.collation);
    std::vector<uint8_t> ours = jet::TableDefinitionBytes(f, cols, layout, cp.get());
    ASSERT_EQ(jet::TableDefinitionPageCount(f, ours.size()), 1);
    const std::vector<uint8_t> page = jet::TableDefinitionPages(f, ours, {def.page})[0];
    std::copy_n(page.begin(), ours.size(), ours.begin());  // with the page's free space

    // What the table's life and Access's leftovers make differ.
    jet::Put32(&access[size_t(f.tdef_row_count)], 0);
    if (!f.jet3) std::fill(&access[25], &access[40], 0);
    for (size_t i = 0; i < cols.size(); ++i) {
      uint8_t* block = &access[col_at + i * size_t(f.col_block)];
      if (!(block[f.col_flags] & 0x01)) jet::Put16(block + f.col_fixed_offset, 0);
      // The fixture's Memo is stored uncompressed; Access's own default compresses it.
      if (!f.jet3 && block[0] == jet::kMemo) block[f.col_flags + 1] = 0x01;
    }
    ASSERT_EQ(ours.size(), access.size());
    for (size_t i = 0; i < ours.size(); ++i)
      ASSERT_EQ(int(ours[i]), int(access[i])) << "byte " << i;
  }
}

// Definitions written into a copy of a fixture (as pages of the store, with their usage
// maps) read back through our reader with the columns given.
TEST(JetTableCreator, DefinitionsReadBackOnOneOrMorePages) {
  for (const char* fixture : {"testV1997.mdb", "empty2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    std::filesystem::copy_file(Fixture(fixture), file);
    auto store = jet::PageStore::Open(file);
    const Format& f = store->format();
    auto cp = Cp1252Names();

    std::vector<std::vector<NewColumn>> tables = {EveryType(f.jet3)};
    std::vector<NewColumn> wide;  // long names over several pages
    for (int i = 0; i < 255; ++i)
      wide.push_back({std::string(60, char('a' + i % 26)) + std::to_string(i),
                      i % 3 ? jet::kText : jet::kMemo, 1 + i});
    tables.push_back(wide);
    for (const std::vector<NewColumn>& cols : tables) {
      jet::NewTableLayout layout;
      layout.used_map = 0x1234500;
      layout.free_map = 0x1234501;
      for (const NewColumn& c : cols)
        if (c.type == jet::kMemo || c.type == jet::kOle)
          layout.long_value_maps.emplace_back(0x777700 + layout.long_value_maps.size(), 7);
      const std::vector<uint8_t> bytes = jet::TableDefinitionBytes(f, cols, layout, cp.get());
      const int pages = jet::TableDefinitionPageCount(f, bytes.size());
      EXPECT_EQ(pages > 1, &cols == &tables[1]);
      std::vector<uint32_t> numbers;
      for (int i = 0; i < pages; ++i) numbers.push_back(store->Allocate());
      const auto laid = jet::TableDefinitionPages(f, bytes, numbers);
      for (size_t i = 0; i < laid.size(); ++i) store->Write(numbers[i], laid[i]);

      const jet::TableDef def =
          jet::ReadTableDef(store->pages(), f, numbers[0], "T", file,
                            TextCodec::ToUtf8From("CP1252").get());
      ASSERT_EQ(def.columns.size(), cols.size());
      EXPECT_EQ(def.used_pages, layout.used_map);
      EXPECT_EQ(def.free_pages, layout.free_map);
      EXPECT_EQ(def.row_count, 0u);
      EXPECT_TRUE(def.indexes.empty());
      int fixed_end = 0;
      for (size_t i = 0; i < cols.size(); ++i) {
        const jet::ColumnDef& got = def.columns[i];
        SCOPED_TRACE(cols[i].name);
        EXPECT_EQ(got.column.name, cols[i].name);
        EXPECT_EQ(got.column.type, cols[i].type);
        const bool fixed = jet::FixedWidth(cols[i].type) > 0 || cols[i].type == jet::kBoolean;
        EXPECT_EQ(got.column.fixed, fixed);
        if (cols[i].type == jet::kText) {
          EXPECT_EQ(got.column.size, f.jet3 ? cols[i].size : 2 * cols[i].size);
        }
        if (cols[i].type == jet::kNumeric) {
          EXPECT_EQ(got.column.precision, cols[i].precision);
          EXPECT_EQ(got.column.scale, cols[i].scale);
        }
        EXPECT_EQ(got.compressed,
                  !f.jet3 && (cols[i].type == jet::kText || cols[i].type == jet::kMemo));
        // Fixed data packed in column order, without overlap.
        if (fixed && cols[i].type != jet::kBoolean) {
          EXPECT_EQ(got.fixed_offset, fixed_end);
          fixed_end += jet::FixedWidth(cols[i].type);
        }
      }
      // The page chain and each page's own bookkeeping.
      std::vector<uint8_t> page;
      for (size_t i = 0; i < numbers.size(); ++i) {
        store->pages().Read(numbers[i], page);
        EXPECT_EQ(jet::Get32(&page[4]), i + 1 < numbers.size() ? numbers[i + 1] : 0u);
        if (f.jet3) {
          EXPECT_EQ(page[2], 'V');
        } else {
          size_t used = f.page_size;
          while (used > 8 && page[used - 1] == 0) --used;
          EXPECT_EQ(jet::Get16(&page[2]), std::max(0, f.page_size - int(used) - 8));
        }
      }
    }
    store->Rollback();
  }
}

TEST(JetTableCreator, PropertiesReadBackThroughTheCataloguesParser) {
  for (bool jet3 : {true, false}) {
    auto cp = Cp1252Names();
    auto back = TextCodec::ToUtf8From("CP1252");
    const std::vector<NewColumn> cols = EveryType(jet3);
    const std::string blob = jet::ColumnPropertiesValue(cols, jet3, cp.get());
    EXPECT_EQ(blob.substr(0, 4), std::string(jet3 ? "KKD" : "MR2", 3) + '\0');
    std::vector<jet::ColumnProperties> props;
    ASSERT_TRUE(jet::ParseColumnProperties(blob, jet3, back.get(), props));
    ASSERT_EQ(props.size(), cols.size());
    for (size_t i = 0; i < cols.size(); ++i) {
      SCOPED_TRACE(cols[i].name);
      EXPECT_EQ(props[i].column, cols[i].name);
      EXPECT_TRUE(props[i].has_required);
      EXPECT_EQ(props[i].required, cols[i].required);
      const bool text = cols[i].type == jet::kText || cols[i].type == jet::kMemo;
      EXPECT_EQ(props[i].has_allow_zero_length, text);
      if (text) {
        EXPECT_EQ(props[i].allow_zero_length, cols[i].allow_zero_length);
      }
    }
  }
}

// A creation refused, or failing once it has begun writing, leaves the file as it was.
TEST(JetTableCreator, RefusalsLeaveTheFileByteIdentical) {
  for (const char* fixture : {"testV1997.mdb", "test2V2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    std::filesystem::copy_file(Fixture(fixture), file);
    const std::string before = ReadFile(file);
    const std::string existing = jet::JetDatabase::Open(file)->UserTables().at(0);
    struct Refusal {
      std::string table;
      std::vector<NewColumn> cols;
      std::string message;
    };
    std::string upper = existing;  // the same name in other letter case
    for (char& ch : upper) ch = ch >= 'a' && ch <= 'z' ? char(ch - 32) : char(std::tolower(ch));
    const std::vector<Refusal> refusals = {
        {upper, {{"A", jet::kLong}}, "Table '" + upper + "' already exists."},
        {"MSysObjects", {{"A", jet::kLong}}, "Table 'MSysObjects' already exists."},
        {"New", {}, "No field defined--cannot append TableDef or Index."},
        {"New", {{"A", jet::kLong}, {"a", jet::kLong}}, "Can't define field more than once."},
        {"New", {{"A!", jet::kLong}}, ""},
        {"New", {{"A", jet::kText, 300}}, "Size of field 'A' is too long."},
    };
    for (const Refusal& r : refusals) {
      auto store = jet::PageStore::Open(file);
      auto db = jet::JetDatabase::Open(file);
      try {
        jet::CreateTable(*store, *db, r.table, r.cols);
        ADD_FAILURE() << r.table << " was made";
      } catch (const TrundleError& e) {
        if (!r.message.empty()) {
          EXPECT_EQ(std::string(e.what()), r.message);
        }
      }
      store.reset();
      EXPECT_TRUE(ReadFile(file) == before) << r.table << ": the file changed";
    }
  }
}

// The CREATE TABLE statement mdb-schema gives for a table, under the name X.
std::string Schema(const std::string& file, const std::string& table) {
  const std::string out = jet_test::Run("timeout 60 mdb-schema -T " + jet_test::Quote(table) +
                                        " " + jet_test::Quote(file) + " 2>&1");
  const size_t begin = out.find("CREATE TABLE [" + table + "]");
  const size_t end = out.find(");", begin);
  if (begin == std::string::npos || end == std::string::npos) return "no table in: " + out;
  std::string statement = out.substr(begin, end - begin);
  statement.replace(14, table.size(), "X");
  return statement;
}

// Required and AllowZeroLength of each column as mdb-prop gives them ("col/Required" ->
// "yes").
std::map<std::string, std::string> RequiredAndZeroLength(const std::string& file,
                                                         const std::string& table) {
  std::istringstream out(jet_test::Run("timeout 60 mdb-prop " + jet_test::Quote(file) + " " +
                                       jet_test::Quote(table) + " 2>&1"));
  std::map<std::string, std::string> props;
  std::string line, column;
  while (std::getline(out, line)) {
    if (line.rfind("name: ", 0) == 0) column = line.substr(6);
    for (const char* name : {"Required", "AllowZeroLength"}) {
      const std::string key = std::string("\t") + name + ": ";
      if (line.rfind(key, 0) == 0) props[column + "/" + name] = line.substr(key.size());
    }
  }
  return props;
}

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::istringstream in(row);
  for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
  return cells;
}

// A table's row in MSysObjects, cell by cell, without what differs between any two
// tables (Id, Name, the dates and the properties).
std::vector<std::string> CatalogueRow(const jet::JetDatabase& db, const std::string& table) {
  for (const std::string& row : jet_test::OurRows(db, "MSysObjects", true)) {
    std::vector<std::string> cells = Cells(row);
    if (cells.size() < 15 || cells[2] != "s:" + table) continue;
    for (size_t drop : {14, 5, 4, 2, 0}) cells.erase(cells.begin() + long(drop));
    return cells;
  }
  return {};
}

// A table's permission rows in MSysACEs (SID, rights, inheritable), sorted.
std::vector<std::string> Permissions(const jet::JetDatabase& db, const std::string& table) {
  const std::string id = "n:" + std::to_string(db.UserTableEntry(table)->tdef_page);
  std::vector<std::string> rows;
  for (const std::string& row : jet_test::OurRows(db, "MSysACEs", true))
    if (row.rfind(id + "\t", 0) == 0) rows.push_back(row.substr(id.size() + 1));
  std::sort(rows.begin(), rows.end());
  return rows;
}

// The fields of a table as CreateTable takes them.
std::vector<NewColumn> FieldsOf(const jet::JetDatabase& db, const std::string& table) {
  std::vector<NewColumn> cols;
  for (const jet::ColumnDef& cd : db.Definition(table).columns) {
    const jet::JetColumn& c = cd.column;
    NewColumn n{c.name, c.type, c.size, c.required, c.allow_zero_length, c.precision, c.scale};
    if (n.type == jet::kText && !db.is_jet3()) n.size /= 2;
    cols.push_back(n);
  }
  return cols;
}

std::map<std::string, std::vector<std::string>> Snapshot(const std::string& file) {
  auto db = jet::JetDatabase::Open(file);
  std::map<std::string, std::vector<std::string>> tables;
  for (const std::string& table : db->AllTables())
    tables[table] = jet_test::OurRows(*db, table, true);
  return tables;
}

void Create(const std::string& file, const std::string& name,
            const std::vector<NewColumn>& cols) {
  auto store = jet::PageStore::Open(file);
  auto db = jet::JetDatabase::Open(file);
  jet::CreateTable(*store, *db, name, cols);
}

// A value for column c in row i: edges of each type, Nulls, text with letters outside
// ASCII (Jet 4), long values past a page.
Variant ValueFor(const NewColumn& c, int i, bool jet3) {
  Variant v;
  if (i % 7 == 3 && c.type != jet::kBoolean && !c.required) {
    v.SetNull();
    return v;
  }
  const int64_t k = i;
  const std::string word = jet3 || i % 2 ? "Zürich " : "Мир 漢字 ";
  switch (c.type) {
    case jet::kBoolean: v.SetBoolean(i % 3 == 0); break;
    case jet::kByte: v.SetInteger(k * 37 % 256); break;
    case jet::kInteger: v.SetInteger(i % 5 == 0 ? -32768 : k * 7919 % 65536 - 32768); break;
    case jet::kLong: v.SetInteger(i % 5 == 0 ? INT32_MIN : k * 2654435761 % 4294967296 - 2147483648); break;
    case jet::kCurrency: v.SetCurrency(k * 123456789 % 2000000000000 - 1000000000000); break;
    case jet::kSingle: v.SetFloat(double(float(k) * 0.25f - 1000.0f)); break;
    case jet::kDouble: v.SetFloat(double(k) / 7.0 - 1000.0); break;
    case jet::kDateTime: v.SetDateTime(36526.0 + double(k * 13 % 40000) + double(k % 96) / 96.0); break;
    case jet::kNumeric: v.SetString(std::to_string(k * 7 - 300) + ".0125"); break;
    case jet::kText: {
      std::string text = word + std::to_string(i);
      while (text.size() < size_t(i % 300)) text += " x";
      std::u32string cps;
      size_t at = 0, chars = 0;
      while (at < text.size() && chars < size_t(c.size)) {
        ++chars;
        ++at;
        while (at < text.size() && (uint8_t(text[at]) & 0xC0) == 0x80) ++at;
      }
      v.SetString(i % 11 == 0 && c.allow_zero_length ? "" : text.substr(0, at));
      break;
    }
    case jet::kMemo: v.SetString(word + std::string(size_t(i % 4 == 0 ? 9000 : i * 3), 'm')); break;
    case jet::kOle:
    case jet::kBinary: {
      std::string blob(size_t(c.type == jet::kOle ? (i % 4 == 0 ? 7000 : i) : c.size), '\0');
      for (size_t b = 0; b < blob.size(); ++b) blob[b] = char(1 + (b * 31 + size_t(i)) % 255);
      v.SetBlob(blob);
      break;
    }
    case jet::kGuid: {
      char text[40];
      std::snprintf(text, sizeof text, "{%08X-1234-5678-9ABC-%012X}", unsigned(k * 2654435761u),
                    unsigned(i));
      v.SetString(text);
      break;
    }
  }
  return v;
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
  std::sort(rows.begin(), rows.end());
  return rows;
}

// New tables of every column type in Jet 3 and Jet 4 databases: listed by every reader,
// their fields and properties as the readers give them, rows appended through the table
// writer read back value by value, the database's other tables unchanged and the
// verifier content.
TEST(JetTableCreator, NewTablesOfEveryTypeReadBackInEveryReader) {
  for (const char* fixture : {"testV1997.mdb", "empty2000.mdb", "test2V2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    std::filesystem::copy_file(Fixture(fixture), file);
    const auto before = Snapshot(file);
    const bool jet3 = jet::JetDatabase::Open(file)->is_jet3();
    const std::vector<NewColumn> cols = EveryType(jet3);
    const std::string name = jet3 ? "New Table" : "Neue Größe";
    Create(file, name, cols);

    const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(report.sound()) << report.Text();
    auto after = Snapshot(file);
    EXPECT_EQ(after[name], std::vector<std::string>());
    for (const auto& [table, rows] : before) {
      if (table == "MSysObjects" || table == "MSysACEs") {
        EXPECT_GT(after[table].size(), rows.size()) << table;
        for (const std::string& row : rows)
          EXPECT_TRUE(std::count(after[table].begin(), after[table].end(), row)) << table;
      } else {
        EXPECT_EQ(after[table], rows) << table;
      }
    }
    const std::string listed =
        jet_test::Run("timeout 60 mdb-tables -1 " + jet_test::Quote(file) + " 2>&1");
    EXPECT_NE(listed.find(name + "\n"), std::string::npos) << listed;
    const auto reader_tables = jet_test::ReaderTables(file);
    EXPECT_TRUE(std::count(reader_tables.begin(), reader_tables.end(), name));

    // Fields and properties as given.
    auto db = jet::JetDatabase::Open(file);
    const std::vector<jet::JetColumn> got = db->Columns(name);
    ASSERT_EQ(got.size(), cols.size());
    const auto props = RequiredAndZeroLength(file, name);
    const std::string schema = Schema(file, name);
    for (size_t i = 0; i < cols.size(); ++i) {
      SCOPED_TRACE(cols[i].name);
      EXPECT_EQ(got[i].name, cols[i].name);
      EXPECT_EQ(got[i].type, cols[i].type);
      EXPECT_EQ(got[i].required, cols[i].required);
      EXPECT_EQ(props.at(cols[i].name + "/Required"), cols[i].required ? "yes" : "no");
      if (cols[i].type == jet::kText || cols[i].type == jet::kMemo) {
        EXPECT_EQ(got[i].allow_zero_length, cols[i].allow_zero_length);
        EXPECT_EQ(props.at(cols[i].name + "/AllowZeroLength"),
                  cols[i].allow_zero_length ? "yes" : "no");
      }
      EXPECT_NE(schema.find("[" + cols[i].name + "]"), std::string::npos) << schema;
    }

    // Rows appended afterwards, read back by every reader.
    std::vector<std::string> expected;
    {
      auto store = jet::PageStore::Open(file);
      auto writer = jet::TableWriter::Open(*store, *db, name);
      for (int i = 0; i < 300; ++i) {
        std::vector<Variant> row;
        for (const NewColumn& c : cols) row.push_back(ValueFor(c, i, jet3));
        writer->Append(row);
      }
      // The properties the table was made with hold for the rows appended: Name requires
      // a value and allows no zero-length text.
      for (const auto& [name_value, why] :
           {std::pair<Variant, std::string>{Variant::Null(), "a value is required"},
            {Variant::String(""),
             "empty text is not allowed (the column allows no zero-length text)"}}) {
        std::vector<Variant> row;
        for (const NewColumn& c : cols) row.push_back(ValueFor(c, 1, jet3));
        row[0] = name_value;
        try {
          writer->Append(row);
          ADD_FAILURE() << "taken: " << why;
        } catch (const TrundleError& e) {
          EXPECT_EQ(std::string(e.what()), "column Name: " + why);
        }
      }
      writer->Commit();
    }
    db = jet::JetDatabase::Open(file);
    const auto fields = db->OpenTable(name)->fields();
    const std::vector<std::string> ours = Sorted(jet_test::OurRows(*db, name));
    ASSERT_EQ(ours.size(), 300u);
    EXPECT_EQ(Sorted(jet_test::ReaderRows(file, name, fields)), ours);
    std::vector<std::string> ours_for_export;
    for (const std::string& row : ours) ours_for_export.push_back(jet_test::EmptyAsNull(row));
    EXPECT_EQ(Sorted(jet_test::ExportRows(file, name, fields)), Sorted(ours_for_export));
    EXPECT_EQ(jet_test::Run("timeout 60 mdb-export " + jet_test::Quote(file) + " " +
                            jet_test::Quote(name) + " 2>&1 >/dev/null"),
              "");
    const jet::JetVerifyReport later = jet::VerifyJetDatabase(file);
    EXPECT_TRUE(later.sound()) << later.Text();
  }
}

// Each table Access made in the fixtures, made again by us with its fields in the same
// file: mdb-schema gives the same statement, mdb-prop the same Required and
// AllowZeroLength where Access stored them; the catalogue row and the permission rows are
// those of Access's table. (test2V2000's table was made by another program, which gave it
// other permissions.)
TEST(JetTableCreator, TablesMadeWithTheFieldsOfAccesssTablesLookAlike) {
  for (const char* fixture : {"testV1997.mdb", "test2V2000.mdb", "fixedNumericTestV2000.mdb",
                              "indexTestV2000.mdb", "delTestV1997.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    std::filesystem::copy_file(Fixture(fixture), file);
    const std::vector<std::string> tables = jet::JetDatabase::Open(file)->UserTables();
    for (const std::string& table : tables) {
      SCOPED_TRACE(table);
      const std::string copy = "Copy of " + table;
      Create(file, copy, FieldsOf(*jet::JetDatabase::Open(file), table));
      EXPECT_EQ(Schema(file, copy), Schema(file, table));
      const auto theirs = RequiredAndZeroLength(file, table);
      const auto ours = RequiredAndZeroLength(file, copy);
      for (const auto& [key, value] : theirs)
        EXPECT_EQ(ours.count(key) ? ours.at(key) : "-", value) << key;
      auto db = jet::JetDatabase::Open(file);
      const std::vector<std::string> row = CatalogueRow(*db, table);
      EXPECT_FALSE(row.empty());
      EXPECT_EQ(CatalogueRow(*db, copy), row);
      if (std::string(fixture) != "test2V2000.mdb") {
        EXPECT_FALSE(Permissions(*db, table).empty());
        EXPECT_EQ(Permissions(*db, copy), Permissions(*db, table));
      }
    }
  }
}

// A crash at any page write of a creation leaves, once the journal is put back, the
// database as it was; the creation that runs through leaves the table.
TEST(JetTableCreator, ACrashAtAnyWriteLeavesTheDatabaseBeforeOrAfter) {
  for (const char* fixture : {"testV1997.mdb", "empty2000.mdb"}) {
    SCOPED_TRACE(fixture);
    ScratchFolder dir;
    const std::string file = dir / "t.mdb";
    const std::string before = ReadFile(Fixture(fixture));
    const bool jet3 = before[0x14] == 0;
    int crashes = 0;
    for (int n = 0;; ++n) {
      SCOPED_TRACE("crash after " + std::to_string(n) + " writes");
      WriteFile(file, before);
      std::filesystem::remove(file + "-journal");
      bool crashed = false;
      try {
        auto store = jet::PageStore::Open(file);
        auto db = jet::JetDatabase::Open(file);
        store->FailAfterWrites(n);
        jet::CreateTable(*store, *db, "T", EveryType(jet3));
      } catch (const TrundleError&) {
        crashed = true;
      }
      jet::PageStore::Open(file).reset();  // puts back what the journal holds
      if (crashed) {
        EXPECT_TRUE(ReadFile(file) == before);
      } else {
        EXPECT_TRUE(jet::JetDatabase::Open(file)->FindTable("T").has_value());
      }
      const jet::JetVerifyReport report = jet::VerifyJetDatabase(file);
      EXPECT_TRUE(report.sound()) << report.Text();
      if (!crashed) break;
      ++crashes;
    }
    EXPECT_GT(crashes, 4);  // definition, usage maps, catalogue and permission rows
  }
}

}  // namespace
}  // namespace trundle
