#include "databases/access/jet/jet_table_creator.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "databases/access/jet/jet_new_index.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_text.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/variant.h"

namespace trundle::jet {
namespace {

// Facts from tables Access made (the fixtures), checked byte by byte:
// - Jet 4 writes this number in every definition header (offset 12) and column block
//   (offset 1); Jet 3 writes "VC" at offset 2 of every definition page.
// - A user table's type byte is 'N'; a Jet 4 header has 0x01 after the AutoNumber counter.
// - Fixed columns carry flags 0x03, variable ones 0x02; Jet 4 Text and Memo 0x01 in the
//   next byte (compressed Unicode). A fixed column's variable index is the number of
//   variable columns before it; a variable column's fixed offset is 0.
// - Jet 3 column blocks hold 01 00 at offset 7 and the header's sort order and code page
//   at 9; Jet 4 ones the header's sort order at 11 (Numeric: precision, scale).
// - Usage maps go on a data page of their own (owner 0) right after the definition: the
//   owned-pages map, the free-space map, then two maps for each Memo and OLE column (the
//   pages of its long values, listed at the definition's end); each an inline map of
//   start page 0 and a bitmap of 64 bytes (Jet 3: 128). Jet 3's own MSysObjects keeps its
//   long-value maps so too.
constexpr uint32_t kJet4Magic = 0x0659;
constexpr uint8_t kUserTable = 0x4E;
constexpr uint8_t kFixedFlags = 0x03, kVariableFlags = 0x02, kCompressedUnicode = 0x01;
// A Long column numbered by the table's counter (an AutoNumber).
constexpr uint8_t kAutoNumberFlag = 0x04;
constexpr int kMaxColumns = 255, kMaxNameLength = 64, kMaxTextSize = 255;
constexpr int kMaxNumericPrecision = 28;

constexpr char kInvalidName[] =
    "' is not a valid name. Make sure that it does not include invalid characters or "
    "punctuation and that it is not too long.";

bool IsLong(uint8_t type) { return type == kMemo || type == kOle; }

// The types the table writer stores, but for Large Number, which neither format defines,
// and Decimal in Jet 3, which came with Jet 4.
bool Creatable(uint8_t type, bool jet3) {
  return WritableType(type) && type != kBigInt && !(jet3 && type == kNumeric);
}

// Code points of UTF-8 text; false when it is not valid UTF-8.
bool CodePoints(std::string_view text, std::u32string& out) {
  std::u16string units;
  const bool ok = Utf8ToUtf16(text, units);
  out.clear();
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size())  // a surrogate pair
      c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(units[++i]) - 0xDC00);
    out.push_back(c);
  }
  return ok;
}

// A name with letter case ignored as the engine compares names: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic capitals taken to small letters.
std::u32string Folded(const std::string& name) {
  std::u32string cps;
  CodePoints(name, cps);
  for (char32_t& c : cps) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB) || (c >= 0x410 && c <= 0x42F))
      c += 32;
    else if (c >= 0x400 && c <= 0x40F)
      c += 80;
    else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
             c != 0x17F)
      c = ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) ? (c % 2 ? c + 1 : c)
                                                                       : (c | 1);
  }
  return cps;
}

// The stored bytes of a name: UTF-16LE (Jet 4) or the code page's (Jet 3).
std::string NameBytes(const std::string& name, bool jet3, TextCodec* jet3_names) {
  std::string out;
  if (jet3) {
    jet3_names->Convert(name, out);
    return out;
  }
  std::u16string units;
  Utf8ToUtf16(name, units);
  for (char16_t u : units) {
    out.push_back(char(u & 0xFF));
    out.push_back(char(u >> 8));
  }
  return out;
}

int StoredLength(const NewColumn& c, bool jet3) {
  if (c.type == kText) return jet3 ? c.size : 2 * c.size;
  if (c.type == kBinary) return c.size;
  if (c.type == kBoolean) return 1;
  return FixedWidth(c.type);  // Memo and OLE: 0
}

bool IsFixed(uint8_t type) { return type == kBoolean || FixedWidth(type) > 0; }

void Append16(std::string& out, uint32_t v) {
  out.push_back(char(v & 0xFF));
  out.push_back(char((v >> 8) & 0xFF));
}

void Append32(std::string& out, uint32_t v) {
  Append16(out, v & 0xFFFF);
  Append16(out, v >> 16);
}

// What the catalogue tells a new table: its parent, the names taken beside it, its
// owner and the permissions it inherits.
struct CatalogueFacts {
  int64_t tables_container = -1;              // MSysObjects' Id of the "Tables" container
  std::unordered_set<std::u32string> taken;   // folded names of the objects in it
  std::string owner;                          // MSysDb's owner: the database's owner
  bool has_owner = false;
  std::vector<std::pair<std::string, int64_t>> aces;  // SID and rights for the new table
};

constexpr int64_t kTopContainer = 0x0F000000;  // the parent of the containers
constexpr int64_t kLocalTableType = 1, kDatabaseType = 2, kContainerType = 3;
// The rights of a container's inheritable entry that stands for the creator of an object.
// Tables Access made have the container's other inheritable entries, not this one; their
// owner holds these rights already through its own entry.
constexpr int64_t kCreatorRights = 0xF00FE;

int FieldIndex(const TFieldDefs& fields, const char* name) {
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].Name == name) return int(i);
  return -1;
}

bool AsInteger(const Variant& v, int64_t& out) {
  if (v.type() == VarType::kInteger) {
    out = v.integer();
    return true;
  }
  if (v.type() == VarType::kBoolean) {
    out = v.boolean() ? 1 : 0;
    return true;
  }
  return false;
}

CatalogueFacts ReadCatalogue(const JetDatabase& db) {
  const std::string damaged = db.path() + " is damaged: its catalogue ";
  CatalogueFacts facts;
  struct Object {
    int64_t id = 0, parent = 0, type = 0;
    std::string name, owner;
    bool has_owner = false;
  };
  std::vector<Object> objects;
  {
    auto reader = db.OpenAnyTable("MSysObjects");
    const TFieldDefs& f = reader->fields();
    const int id = FieldIndex(f, "Id"), parent = FieldIndex(f, "ParentId"),
              name = FieldIndex(f, "Name"), type = FieldIndex(f, "Type"),
              owner = FieldIndex(f, "Owner");
    if (id < 0 || parent < 0 || name < 0 || type < 0)
      throw TrundleError(damaged + "(MSysObjects) lacks its columns");
    std::vector<Variant> row;
    while (reader->Next(row)) {
      Object o;
      if (!AsInteger(row[size_t(id)], o.id) || !AsInteger(row[size_t(parent)], o.parent) ||
          !AsInteger(row[size_t(type)], o.type))
        continue;
      if (row[size_t(name)].IsText()) o.name = row[size_t(name)].text();
      if (owner >= 0 && !row[size_t(owner)].IsEmpty()) {
        o.owner = row[size_t(owner)].text();
        o.has_owner = true;
      }
      objects.push_back(std::move(o));
    }
  }
  for (const Object& o : objects) {
    if (o.parent == kTopContainer && o.type == kContainerType && o.name == "Tables")
      facts.tables_container = o.id;
    if (o.type == kDatabaseType && o.name == "MSysDb") {
      facts.owner = o.owner;
      facts.has_owner = o.has_owner;
    }
  }
  if (facts.tables_container < 0) throw TrundleError(damaged + "has no Tables container");
  for (const Object& o : objects)
    if (o.parent == facts.tables_container) facts.taken.insert(Folded(o.name));

  const std::vector<std::string> all = db.AllTables();
  if (std::find(all.begin(), all.end(), "MSysACEs") == all.end()) return facts;
  auto reader = db.OpenAnyTable("MSysACEs");
  const TFieldDefs& f = reader->fields();
  const int object = FieldIndex(f, "ObjectId"), sid = FieldIndex(f, "SID"),
            acm = FieldIndex(f, "ACM"), inheritable = FieldIndex(f, "FInheritable");
  if (object < 0 || sid < 0 || acm < 0 || inheritable < 0)
    throw TrundleError(damaged + "(MSysACEs) lacks its columns");
  std::vector<Variant> row;
  while (reader->Next(row)) {
    int64_t id = 0, rights = 0, inherit = 0;
    if (!AsInteger(row[size_t(object)], id) || id != facts.tables_container ||
        !AsInteger(row[size_t(acm)], rights) || !AsInteger(row[size_t(inheritable)], inherit) ||
        inherit == 0 || rights == kCreatorRights || row[size_t(sid)].IsEmpty())
      continue;
    facts.aces.emplace_back(row[size_t(sid)].text(), rights);
  }
  return facts;
}

// The header's collation bytes that column blocks repeat.
void ReadCollation(PageStore& store, NewTableLayout& layout) {
  uint8_t header[0x80] = {};
  if (store.pages().ReadAt(0, header, sizeof header) != sizeof header)
    throw TrundleError(store.path() + " is damaged: its header page is cut short");
  Rc4(kHeaderMask, 4, header + 0x18, sizeof header - 0x18);
  std::memcpy(layout.collation, header + (store.format().jet3 ? 0x3A : 0x6E), 4);
}

// One usage map as Access makes it for a new table: inline, start page 0, nothing marked.
std::vector<uint8_t> EmptyUsageMap(const Format& format) {
  return std::vector<uint8_t>(format.jet3 ? 133 : 69, 0);
}

// The table's usage maps on data pages of their own (owner 0), as many as they need.
// Returns the row pointers in order.
std::vector<uint32_t> WriteUsageMaps(PageStore& store, size_t count) {
  const Format& format = store.format();
  const std::vector<uint8_t> map = EmptyUsageMap(format);
  std::vector<uint32_t> pointers;
  std::vector<uint8_t> page;
  uint32_t number = 0;
  for (size_t i = 0; i < count; ++i) {
    int row = page.empty() ? -1 : AddRowToPage(format, page, map.data(), map.size());
    if (row < 0) {
      if (!page.empty()) store.Write(number, page);
      number = store.Allocate();
      InitDataPage(format, 0, page);
      row = AddRowToPage(format, page, map.data(), map.size());
    }
    pointers.push_back(number << 8 | uint32_t(row));
  }
  if (!page.empty()) store.Write(number, page);
  return pointers;
}

}  // namespace

std::vector<uint32_t> WriteEmptyUsageMaps(PageStore& store, size_t count) {
  return WriteUsageMaps(store, count);
}

namespace {

// A row of a catalogue table: values by column name, Null elsewhere.
std::vector<Variant> CatalogueRow(const TableDef& def,
                                  const std::vector<std::pair<const char*, Variant>>& values) {
  std::vector<Variant> row(def.columns.size());
  for (Variant& v : row) v.SetNull();
  for (const auto& [name, value] : values)
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].column.name == name && !value.IsUnassigned()) row[i] = value;
  return row;
}

// The table's row in MSysObjects and its permission rows in MSysACEs, in the store's
// open batch.
Variant Integer(int64_t value) {
  Variant v;
  v.SetInteger(value);
  return v;
}

Variant Bytes(const std::string& bytes) {
  Variant v;
  v.SetBlob(bytes);
  return v;
}

void AddCatalogueRows(PageStore& store, const JetDatabase& db, const CatalogueFacts& facts,
                      const std::string& name, uint32_t tdef_page, const std::string& properties) {
  Variant text, now, no, owner;
  text.SetString(name);
  now.SetDateTime(NowLocal());
  no.SetBoolean(false);
  if (facts.has_owner) owner = Bytes(facts.owner);
  std::vector<Variant> object = CatalogueRow(db.Definition("MSysObjects"),
                                             {{"Id", Integer(tdef_page)},
                                              {"ParentId", Integer(facts.tables_container)},
                                              {"Name", text},
                                              {"Type", Integer(kLocalTableType)},
                                              {"DateCreate", now},
                                              {"DateUpdate", now},
                                              {"Owner", owner},
                                              {"Flags", Integer(0)},
                                              {"LvProp", Bytes(properties)}});
  std::vector<std::vector<Variant>> aces;
  if (!facts.aces.empty()) {
    const TableDef def = db.Definition("MSysACEs");
    for (const auto& [sid, rights] : facts.aces)
      aces.push_back(CatalogueRow(def, {{"ObjectId", Integer(tdef_page)},
                                        {"SID", Bytes(sid)},
                                        {"ACM", Integer(rights)},
                                        {"FInheritable", no}}));
  }
  TableWriterOptions options;
  options.system_table = true;
  auto object_writer = TableWriter::Open(store, db, "MSysObjects", options);
  object_writer->Append(object);
  object_writer->Flush();
  if (aces.empty()) return;
  auto ace_writer = TableWriter::Open(store, db, "MSysACEs", options);
  for (std::vector<Variant>& row : aces) ace_writer->Append(row);
  ace_writer->Flush();
}

}  // namespace

std::string CheckObjectName(const std::string& name) {
  std::u32string cps;
  bool good = !name.empty() && CodePoints(name, cps) && cps.size() <= size_t(kMaxNameLength) &&
              cps[0] != U' ';
  for (char32_t c : cps)
    if (c < 0x20 || c == 0x7F || c == U'.' || c == U'!' || c == U'`' || c == U'[' || c == U']')
      good = false;
  return good ? std::string() : "'" + name + kInvalidName;
}

void CreateTable(PageStore& store, const JetDatabase& db, const std::string& name,
                 const std::vector<NewColumn>& columns, const std::vector<NewIndex>& indexes) {
  const Format& format = store.format();
  std::unique_ptr<TextCodec> jet3_names;
  if (format.jet3) {
    try {
      jet3_names = TextCodec::FromUtf8To(db.code_page() > 0
                                             ? "CP" + std::to_string(db.code_page())
                                             : "CP1252");
    } catch (const TrundleError&) {
      jet3_names = TextCodec::FromUtf8To("CP1252");
    }
  }
  std::string refusal = CheckNewTable(name, columns, format.jet3, jet3_names.get());
  if (refusal.empty()) refusal = CheckNewIndexes(columns, indexes);
  if (!refusal.empty()) throw TrundleError(refusal);
  const CatalogueFacts facts = ReadCatalogue(db);
  if (facts.taken.count(Folded(name))) throw TrundleError("Table '" + name + "' already exists.");

  NewTableLayout layout;
  ReadCollation(store, layout);
  store.CommitOrRollBack([&] {
    const uint32_t first = store.Allocate();
    const auto long_columns = size_t(std::count_if(
        columns.begin(), columns.end(), [](const NewColumn& c) { return IsLong(c.type); }));
    const std::vector<uint32_t> maps = WriteUsageMaps(store, 2 + 2 * long_columns + indexes.size());
    layout.used_map = maps[0];
    layout.free_map = maps[1];
    for (size_t i = 0; i < long_columns; ++i)
      layout.long_value_maps.emplace_back(maps[2 + 2 * i], maps[3 + 2 * i]);
    // Each index starts as one empty leaf, its root, which its usage map holds.
    for (size_t i = 0; i < indexes.size(); ++i) {
      const uint32_t map = maps[2 + 2 * long_columns + i];
      const uint32_t root = store.Allocate();
      store.Write(root, EmptyIndexRoot(format, first));
      UsageMapWriter(store, map, store.path() + " is damaged: table " + name).Set(root, true);
      layout.index_pages.emplace_back(map, root);
    }
    const std::vector<uint8_t> bytes =
        TableDefinitionBytes(format, columns, layout, jet3_names.get(), indexes);
    std::vector<uint32_t> numbers = {first};
    for (int i = 1; i < TableDefinitionPageCount(format, bytes.size()); ++i)
      numbers.push_back(store.Allocate());
    const auto pages = TableDefinitionPages(format, bytes, numbers);
    for (size_t i = 0; i < pages.size(); ++i) store.Write(numbers[i], pages[i]);
    AddCatalogueRows(store, db, facts, name, first,
                     ColumnPropertiesValue(columns, format.jet3, jet3_names.get()));
  });
}

std::string CheckNewTable(const std::string& name, const std::vector<NewColumn>& columns,
                          bool jet3, TextCodec* jet3_names) {
  auto storable = [&](const std::string& text) {
    std::string bytes;
    return !jet3 || !jet3_names || jet3_names->Convert(text, bytes);
  };
  std::string bad = CheckObjectName(name);
  if (!bad.empty()) return bad;
  if (!storable(name)) return "'" + name + kInvalidName;
  if (columns.empty()) return "No field defined--cannot append TableDef or Index.";
  if (columns.size() > size_t(kMaxColumns)) return "Too many fields defined.";
  std::unordered_set<std::u32string> seen;
  int fixed_bytes = 0;
  for (const NewColumn& c : columns) {
    bad = CheckObjectName(c.name);
    if (!bad.empty()) return bad;
    if (!storable(c.name)) return "'" + c.name + kInvalidName;
    if (!seen.insert(Folded(c.name)).second) return "Can't define field more than once.";
    if (!Creatable(c.type, jet3)) return "Invalid field data type.";
    if (c.autonumber && c.type != kLong) return "Invalid field data type.";
    if (c.type == kText && (c.size < 1 || c.size > kMaxTextSize))
      return c.size < 1 ? "Invalid field size for field '" + c.name + "'."
                        : "Size of field '" + c.name + "' is too long.";
    if (c.type == kBinary && (c.size < 1 || c.size > (jet3 ? 255 : 510)))
      return c.size < 1 ? "Invalid field size for field '" + c.name + "'."
                        : "Size of field '" + c.name + "' is too long.";
    if (c.type == kNumeric) {
      if (c.precision < 1 || c.precision > kMaxNumericPrecision)
        return "Invalid precision for decimal data type.";
      if (c.scale < 0 || c.scale > c.precision) return "Invalid scale for decimal data type.";
    }
    if (c.type != kBoolean) fixed_bytes += FixedWidth(c.type);
  }
  // A row holds its fixed data whole, beside the column count and the null mask.
  const Format format = jet3 ? Format::Jet3() : Format::Jet4();
  if (fixed_bytes + 4 + int(columns.size() + 7) / 8 > format.max_row_size)
    return "Record is too large.";
  return {};
}

std::vector<uint8_t> TableDefinitionBytes(const Format& format,
                                          const std::vector<NewColumn>& columns,
                                          const NewTableLayout& layout, TextCodec* jet3_names,
                                          const std::vector<NewIndex>& indexes) {
  const bool jet3 = format.jet3;
  std::vector<uint8_t> out(size_t(format.tdef_header_end), 0);
  AppendIndexCounts(format, indexes.size(), out);
  out[0] = kTdefPage;
  out[1] = 0x01;
  if (jet3) {
    out[2] = 'V';
    out[3] = 'C';
  } else {
    Put32(&out[12], kJet4Magic);
    out[24] = 0x01;
  }
  const size_t count = columns.size();
  const int col_index_at = jet3 ? 5 : 9;
  int var_count = 0, fixed_offset = 0;
  for (size_t i = 0; i < count; ++i) {
    const NewColumn& c = columns[i];
    std::vector<uint8_t> b(size_t(format.col_block), 0);
    const bool fixed = IsFixed(c.type);
    b[size_t(format.col_type)] = c.type;
    if (!jet3) Put32(&b[1], kJet4Magic);
    Put16(&b[size_t(format.col_num)], uint32_t(i));
    Put16(&b[size_t(format.col_var_index)], uint32_t(var_count));
    Put16(&b[size_t(col_index_at)], uint32_t(i));
    if (jet3) b[7] = 0x01;
    if (c.type == kNumeric) {
      b[size_t(format.col_misc)] = uint8_t(c.precision);
      b[size_t(format.col_misc) + 1] = uint8_t(c.scale);
    } else {
      std::memcpy(&b[size_t(format.col_misc)], layout.collation, 4);
    }
    b[size_t(format.col_flags)] = fixed ? kFixedFlags : kVariableFlags;
    if (c.autonumber) b[size_t(format.col_flags)] |= kAutoNumberFlag;
    if (!jet3 && (c.type == kText || c.type == kMemo))
      b[size_t(format.col_flags) + 1] = kCompressedUnicode;
    if (fixed && c.type != kBoolean) {
      Put16(&b[size_t(format.col_fixed_offset)], uint32_t(fixed_offset));
      fixed_offset += FixedWidth(c.type);
    }
    Put16(&b[size_t(format.col_length)], uint32_t(StoredLength(c, jet3)));
    if (!fixed) ++var_count;
    out.insert(out.end(), b.begin(), b.end());
  }
  for (const NewColumn& c : columns) {
    const std::string bytes = NameBytes(c.name, jet3, jet3_names);
    if (jet3)
      out.push_back(uint8_t(bytes.size()));
    else
      out.insert(out.end(), {uint8_t(bytes.size()), uint8_t(bytes.size() >> 8)});
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  if (!indexes.empty())
    AppendIndexDefinitions(format, indexes, layout.index_pages, jet3_names, out);
  size_t next = 0;
  for (size_t i = 0; i < count; ++i) {
    if (!IsLong(columns[i].type) || next >= layout.long_value_maps.size()) continue;
    const auto& [used, free] = layout.long_value_maps[next++];
    uint8_t entry[10];
    Put16(entry, uint32_t(i));
    Put32(entry + 2, used);
    Put32(entry + 6, free);
    out.insert(out.end(), entry, entry + 10);
  }
  out.insert(out.end(), {0xFF, 0xFF});

  Put32(&out[8], uint32_t(out.size()));
  Put16(&out[size_t(format.tdef_max_cols)], uint32_t(count));
  Put16(&out[size_t(format.tdef_num_var_cols)], uint32_t(var_count));
  Put16(&out[size_t(format.tdef_num_cols)], uint32_t(count));
  out[size_t(format.tdef_max_cols - 1)] = kUserTable;
  Put32(&out[size_t(format.tdef_num_real_idx - 4)], uint32_t(indexes.size()));
  Put32(&out[size_t(format.tdef_num_real_idx)], uint32_t(indexes.size()));
  Put32(&out[size_t(format.tdef_used_pages)], layout.used_map);
  Put32(&out[size_t(format.tdef_used_pages + 4)], layout.free_map);
  return out;
}

int TableDefinitionPageCount(const Format& format, size_t bytes) {
  const size_t page = size_t(format.page_size);
  if (bytes <= page) return 1;
  return 1 + int((bytes - page + page - 9) / (page - 8));
}

std::vector<std::vector<uint8_t>> TableDefinitionPages(const Format& format,
                                                       const std::vector<uint8_t>& bytes,
                                                       const std::vector<uint32_t>& numbers) {
  const size_t page_size = size_t(format.page_size);
  std::vector<std::vector<uint8_t>> pages(numbers.size());
  size_t pos = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    std::vector<uint8_t>& page = pages[i];
    page.assign(page_size, 0);
    const size_t at = i == 0 ? 0 : 8;
    const size_t take = std::min(page_size - at, bytes.size() - std::min(pos, bytes.size()));
    std::copy(bytes.begin() + long(pos), bytes.begin() + long(pos + take),
              page.begin() + long(at));
    pos += take;
    page[0] = kTdefPage;
    page[1] = 0x01;
    if (format.jet3) {
      page[2] = 'V';
      page[3] = 'C';
    } else {
      const long free = long(page_size) - long(at + take) - 8;
      Put16(&page[2], uint32_t(std::max(0L, free)));
    }
    Put32(&page[4], i + 1 < numbers.size() ? numbers[i + 1] : 0);
  }
  return pages;
}

std::string ColumnPropertiesValue(const std::vector<NewColumn>& columns, bool jet3,
                                  TextCodec* jet3_names) {
  constexpr uint16_t kNamesChunk = 0x80, kColumnChunk = 0x01;
  constexpr uint8_t kDdl = 0x01;  // as Access marks the engine's own properties
  const bool any_text = std::any_of(columns.begin(), columns.end(), [](const NewColumn& c) {
    return c.type == kText || c.type == kMemo;
  });
  std::vector<std::string> names = {"Required"};
  if (any_text) names.push_back("AllowZeroLength");

  std::string out(jet3 ? "KKD" : "MR2", 3);
  out.push_back('\0');
  auto chunk = [&](uint16_t type, const std::string& body) {
    Append32(out, uint32_t(6 + body.size()));
    Append16(out, type);
    out += body;
  };
  std::string body;
  for (const std::string& n : names) {
    const std::string bytes = NameBytes(n, jet3, jet3_names);
    Append16(body, uint32_t(bytes.size()));
    body += bytes;
  }
  chunk(kNamesChunk, body);
  for (const NewColumn& c : columns) {
    const std::string name = NameBytes(c.name, jet3, jet3_names);
    body.clear();
    Append32(body, uint32_t(6 + name.size()));
    Append16(body, uint32_t(name.size()));
    body += name;
    auto entry = [&](uint16_t name_index, bool value) {
      Append16(body, 9);
      body.push_back(char(kDdl));
      body.push_back(char(kBoolean));
      Append16(body, name_index);
      Append16(body, 1);
      body.push_back(value ? '\1' : '\0');
    };
    entry(0, c.required);
    if (c.type == kText || c.type == kMemo) entry(1, c.allow_zero_length);
    chunk(kColumnChunk, body);
  }
  return out;
}

}  // namespace trundle::jet
