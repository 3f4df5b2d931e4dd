#include "databases/access/jet/jet_table_writer.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <unordered_set>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_index_key.h"
#include "databases/access/jet/jet_index_writer.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_props.h"
#include "databases/access/jet/jet_rows.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

// Jet's "General" sort order is the code 1033 (US English). Jet 4 adds a version byte:
// 0 is "General Legacy", the order of Access 2000-2007; 1 the newer "General".
constexpr uint16_t kGeneralSortOrder = 1033;
// MSysRelationships' grbit: the relationship is not enforced.
constexpr int64_t kRelationDontEnforce = 0x2;
constexpr uint32_t kNoPage = 0;

// Where a data page's row offsets end and its lowest row begins.
int LowestRowStart(const Format& format, const std::vector<uint8_t>& page, int count) {
  int low = format.page_size;
  for (int i = 0; i < count; ++i)
    low = std::min(low, int(Get16(&page[size_t(format.data_row_offsets + 2 * i)]) & 0x1FFF));
  return low;
}

std::unique_ptr<TextCodec> Jet3Names(int code_page) {
  try {
    return TextCodec::ToUtf8From(code_page > 0 ? "CP" + std::to_string(code_page) : "CP1252");
  } catch (const TrundleError&) {
    return TextCodec::ToUtf8From("CP1252");
  }
}

std::unique_ptr<TextCodec> Jet3Text(int code_page) {
  try {
    return TextCodec::FromUtf8To(code_page > 0 ? "CP" + std::to_string(code_page) : "CP1252");
  } catch (const TrundleError&) {
    return TextCodec::FromUtf8To("CP1252");
  }
}

// The table definition's bytes, its continuation pages' headers left out.
std::vector<uint8_t> ReadTdefBytes(const PageFile& file, uint32_t page, const std::string& where) {
  std::vector<uint8_t> buf, more;
  file.Read(page, buf);
  std::unordered_set<uint32_t> seen{page};
  for (uint32_t next = Get32(&buf[4]); next != 0; next = Get32(&more[4])) {
    if (!seen.insert(next).second || next >= file.page_count())
      throw TrundleError(where + ": its definition pages cannot be followed");
    file.Read(next, more);
    if (more[0] != kTdefPage)
      throw TrundleError(where + ": its definition continues on a page of another kind");
    buf.insert(buf.end(), more.begin() + 8, more.end());
  }
  return buf;
}

std::string RandomGuid() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const uint64_t a = random(), b = random();
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", unsigned(a >> 32),
                unsigned((a >> 16) & 0xFFFF), unsigned(0x4000 | (a & 0x0FFF)),
                unsigned(0x8000 | ((b >> 48) & 0x3FFF)),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return text;
}


}  // namespace

bool WritableType(uint8_t type) {
  switch (type) {
    case kBoolean:
    case kByte:
    case kInteger:
    case kLong:
    case kCurrency:
    case kSingle:
    case kDouble:
    case kDateTime:
    case kBinary:
    case kText:
    case kOle:
    case kMemo:
    case kGuid:
    case kNumeric:
    case kBigInt:
      return true;
    default:
      return false;
  }
}

void InitDataPage(const Format& format, uint32_t owner, std::vector<uint8_t>& page) {
  page.assign(size_t(format.page_size), 0);
  page[0] = kDataPage;
  page[1] = 0x01;
  Put16(&page[2], uint32_t(format.page_size - format.data_row_offsets));
  Put32(&page[4], owner);
}

int DataPageFreeSpace(const Format& format, const std::vector<uint8_t>& page) {
  (void)format;
  return Get16(&page[2]);
}

int AddRowToPage(const Format& format, std::vector<uint8_t>& page, const uint8_t* row,
                 size_t size, int* lowest) {
  const int count = Get16(&page[size_t(format.data_row_count)]);
  if (count >= kMaxRowsPerPage || size > size_t(format.page_size)) return -1;
  const int table_end = format.data_row_offsets + 2 * (count + 1);
  if (lowest && *lowest == 0) *lowest = LowestRowStart(format, page, count);
  const int start = (lowest ? *lowest : LowestRowStart(format, page, count)) - int(size);
  // The header's count of free bytes is kept as well as the offsets' own bound, so that
  // a page whose count says it is full is not filled further.
  const int free = DataPageFreeSpace(format, page) - int(size) - 2;
  if (start < table_end || free < 0) return -1;
  std::copy(row, row + size, page.begin() + start);
  Put16(&page[size_t(format.data_row_offsets + 2 * count)], uint32_t(start));
  Put16(&page[size_t(format.data_row_count)], uint32_t(count + 1));
  Put16(&page[2], uint32_t(free));
  if (lowest) *lowest = start;
  return count;
}

int MaxLongValueRow(const Format& format) { return format.page_size - format.data_row_offsets - 2; }

UsageMapWriter::UsageMapWriter(PageStore& store, uint32_t pointer, std::string where)
    : store_(store), pointer_(pointer), where_(std::move(where)) {}

void UsageMapWriter::Set(uint32_t page, bool on) {
  const uint32_t map_page = pointer_ >> 8;
  const Format& format = store_.format();
  const uint64_t per_ref = uint64_t(format.page_size - 4) * 8;
  std::vector<uint8_t> buf;
  auto load = [&](RowSpan& span) {
    if (map_page >= store_.page_count()) throw TrundleError(where_ + ": its usage map is missing");
    store_.pages().Read(map_page, buf);
    if (buf[0] != kDataPage || !LocateRow(buf, format, int(pointer_ & 0xFF), span, where_) ||
        span.deleted || span.end - span.begin < 5)
      throw TrundleError(where_ + ": its usage map is missing");
  };
  RowSpan span;
  load(span);
  uint8_t* map = &buf[size_t(span.begin)];
  const int size = span.end - span.begin;
  if (map[0] == 0) {
    const uint32_t start = Get32(map + 1);
    const uint64_t reach = uint64_t(size - 5) * 8;
    if (page >= start && page - start < reach) {
      const uint32_t bit = page - start;
      if (on)
        map[5 + bit / 8] |= uint8_t(1 << (bit % 8));
      else
        map[5 + bit / 8] &= uint8_t(~(1 << (bit % 8)));
      store_.Write(map_page, buf);
      return;
    }
    if (on) Promote(buf, span.begin, size, page);
    return;
  }
  if (map[0] != 1) throw TrundleError(where_ + ": its usage map is of an unknown type");
  const uint64_t slot = page / per_ref;
  if (1 + 4 * (slot + 1) > uint64_t(size))
    throw TrundleError(where_ + ": its usage map cannot reach page " + std::to_string(page));
  uint32_t ref = Get32(map + 1 + 4 * slot);
  std::vector<uint8_t> bitmap;
  if (ref == 0) {
    if (!on) return;
    ref = store_.Allocate();
    bitmap.assign(size_t(format.page_size), 0);
    bitmap[0] = kUsageMapPage;
    bitmap[1] = 0x01;
    load(span);  // the allocation may have changed the map's page
    Put32(&buf[size_t(span.begin) + 1 + 4 * slot], ref);
    store_.Write(map_page, buf);
  } else {
    if (ref >= store_.page_count()) throw TrundleError(where_ + ": its usage map is damaged");
    store_.pages().Read(ref, bitmap);
    if (bitmap[0] != kUsageMapPage) throw TrundleError(where_ + ": its usage map is damaged");
  }
  const uint64_t bit = page % per_ref;
  if (on)
    bitmap[size_t(4 + bit / 8)] |= uint8_t(1 << (bit % 8));
  else
    bitmap[size_t(4 + bit / 8)] &= uint8_t(~(1 << (bit % 8)));
  store_.Write(ref, bitmap);
}

// An inline map holds a start page and one bit a page after it; a reference map the
// numbers of usage-map pages (type 0x05), each a bitmap of the next page_size - 4 bytes'
// worth of pages. The row keeps its length.
void UsageMapWriter::Promote(std::vector<uint8_t>& buf, int begin, int size, uint32_t page) {
  const Format& format = store_.format();
  const uint64_t per_ref = uint64_t(format.page_size - 4) * 8;
  const uint8_t* map = &buf[size_t(begin)];
  std::vector<uint32_t> marked;
  const uint32_t start = Get32(map + 1);
  for (int i = 5; i < size; ++i)
    for (int bit = 0; bit < 8; ++bit)
      if (map[i] & (1 << bit)) marked.push_back(start + uint32_t((i - 5) * 8 + bit));
  marked.push_back(page);
  const size_t slots = size_t(size - 1) / 4;
  std::map<uint64_t, std::vector<uint8_t>> bitmaps;
  for (uint32_t p : marked) {
    const uint64_t slot = p / per_ref;
    if (slot >= slots)
      throw TrundleError(where_ + ": its usage map cannot reach page " + std::to_string(p));
    std::vector<uint8_t>& bitmap = bitmaps[slot];
    if (bitmap.empty()) {
      bitmap.assign(size_t(format.page_size), 0);
      bitmap[0] = kUsageMapPage;
      bitmap[1] = 0x01;
    }
    const uint64_t bit = p % per_ref;
    bitmap[size_t(4 + bit / 8)] |= uint8_t(1 << (bit % 8));
  }
  std::vector<uint8_t> row(size_t(size), 0);
  row[0] = 1;
  for (auto& [slot, bitmap] : bitmaps) {
    const uint32_t ref = store_.Allocate();
    store_.Write(ref, bitmap);
    Put32(&row[1 + 4 * slot], ref);
  }
  // The allocations may have changed the map's page: read it again.
  RowSpan span;
  store_.pages().Read(pointer_ >> 8, buf);
  if (!LocateRow(buf, format, int(pointer_ & 0xFF), span, where_) || span.end - span.begin != size)
    throw TrundleError(where_ + ": its usage map moved while it was written");
  std::copy(row.begin(), row.end(), buf.begin() + span.begin);
  store_.Write(pointer_ >> 8, buf);
}

struct TableWriter::OpenPage {
  uint32_t page = kNoPage;
  std::vector<uint8_t> buf;
  bool dirty = false;
  int lowest = 0;  // where its lowest row begins (0: not worked out yet)
};

struct TableWriter::LongColumn {
  OpenPage open;
  std::unique_ptr<UsageMapWriter> used, free;  // Jet's own maps of the column; may be absent
};

struct TableWriter::Index {
  const PhysicalIndex* def = nullptr;
  std::vector<size_t> columns;  // the key's columns (of def_), in key order
  // An earlier index whose key has the same columns in the same directions and that
  // leaves out the same rows: its key is this one's too.
  const Index* same_key = nullptr;
  std::string name;  // the name its key goes by: the primary key's, else a logical one
  bool required = false;  // a primary key, or an index that takes no Null
  std::unique_ptr<IndexKeyEncoder> keys;
  std::unique_ptr<IndexWriter> writer;
  uint32_t entry_count = 0;  // the definition's count of distinct keys
  std::string key;           // the key of the row being appended
  bool left_out = false;     // the row has no entry (all Null where Nulls are ignored)
  bool all_null = false;     // the row's key columns are all Null
  // While the indexes wait (an index with same_key uses that one's run):
  KeyRun run;                        // every entry so far
  size_t committed = 0;              // the entries of committed batches
  std::unique_ptr<UniqueKeys> seen;  // a unique index's keys, all-Null keys left out
};

struct TableWriter::ForeignKey {
  std::string name;      // the relationship's
  const Index* child = nullptr;  // this table's index of the key
  std::string parent_name;
  std::unique_ptr<TableDef> parent_def;  // absent when the table refers to itself
  const TableDef* parent = nullptr;
  const PhysicalIndex* parent_index = nullptr;
  // Key column k of the child index takes its value from def_.columns[child_columns[k]]
  // and gives it to parent->columns[parent_columns[k]].
  std::vector<size_t> child_columns, parent_columns;
  std::unique_ptr<IndexKeyEncoder> parent_keys;
  std::unique_ptr<IndexWriter> owned_writer;  // the parent's index, read only
  IndexWriter* parent_writer = nullptr;       // that, or this table's own
  std::vector<Variant> parent_values;
  std::string key;
};

TableWriter::TableWriter(PageStore& store, const JetDatabase& db, const CatalogEntry& entry)
    : store_(store), format_(store.format()), path_(store.path()) {
  jet3_names_ = Jet3Names(db.code_page());
  def_ = ReadTableDef(store_.pages(), format_, entry.tdef_page, entry.name, path_,
                      jet3_names_.get());
  // Required and AllowZeroLength live in the catalogue beside the definition; the engine
  // holds every row to them.
  std::vector<ColumnProperties> props;
  ParseColumnProperties(entry.properties, format_.jet3, jet3_names_.get(), props);
  ApplyColumnProperties(props, def_);
  jet3_text_ = Jet3Text(db.code_page());
  data_page_ = std::make_unique<OpenPage>();
}

TableWriter::~TableWriter() {
  try {
    Finish();
  } catch (const std::exception&) {
    // The table stays without its indexes, as a killed run leaves it: sound.
  }
}

std::string TableWriter::Where() const { return path_ + " is damaged: table " + def_.name; }

std::unique_ptr<TableWriter> TableWriter::Open(PageStore& store, const JetDatabase& db,
                                               const std::string& table,
                                               const TableWriterOptions& options) {
  const CatalogEntry* entry = nullptr;
  if (options.system_table) {
    for (const CatalogEntry& e : db.Catalog())
      if (e.system && e.name == table) entry = &e;
  } else {
    entry = db.UserTableEntry(table);
  }
  if (!entry) throw TrundleError(store.path() + " has no table " + table);
  std::unique_ptr<TableWriter> writer(new TableWriter(store, db, *entry));
  writer->CheckRefusals();
  writer->OpenIndexes(db);
  writer->ReadLongColumnMaps();
  writer->Load();
  if (options.indexes_at_end && !options.system_table) writer->LeaveOutIndexes();
  return writer;
}

void TableWriter::CheckRefusals() {
  const std::string refused = path_ + ": rows cannot be added to table " + def_.name + ": ";
  // Sort order: Access files its text indexes in it, so a database of another order
  // would get index entries it does not expect once indexes are written.
  uint8_t header[0x80] = {};
  if (store_.pages().ReadAt(0, header, sizeof header) != sizeof header)
    throw TrundleError(path_ + " is damaged: its header page is cut short");
  Rc4(kHeaderMask, 4, header + 0x18, sizeof header - 0x18);
  const uint16_t sort = format_.jet3 ? Get16(header + 0x3A) : Get16(header + 0x6E);
  const uint8_t sort_version = format_.jet3 ? 0 : header[0x71];
  if ((sort != 0 && sort != kGeneralSortOrder) || sort_version != 0)
    throw TrundleError(refused + "the database's sort order (" + std::to_string(sort) +
                       (sort_version ? " version " + std::to_string(sort_version) : "") +
                       ") is not " + (format_.jet3 ? "General 97" : "General Legacy") +
                       ", the only one written");

  for (const ColumnDef& c : def_.columns)
    if (!WritableType(c.column.type))
      throw TrundleError(refused + "column " + c.column.name + " is of a kind (" +
                         std::to_string(c.column.type) + ") that cannot be written");

}

// Each physical index gets a key encoder and a B-tree writer. Refused before anything is
// written: a key on a Memo or OLE column (Jet keeps none), a key the encoder cannot make
// (an unknown sort order or column type), an index whose count lies beyond the
// definition's first page, damaged index pages.
void TableWriter::OpenIndexes(const JetDatabase& db) {
  const std::string refused = path_ + ": rows cannot be added to table " + def_.name + ": ";
  auto column_of = [&](int number) -> const ColumnDef& {
    for (const ColumnDef& c : def_.columns)
      if (c.number == number) return c;
    throw TrundleError(Where() + ": an index refers to column " + std::to_string(number) +
                       ", which it lacks");
  };
  std::vector<bool> keyed(def_.columns.size(), false);
  for (size_t i = 0; i < def_.indexes.size(); ++i) {
    const PhysicalIndex& x = def_.indexes[i];
    auto index = std::make_unique<Index>();
    index->def = &x;
    // The primary key's name first, then a plain index's, then any.
    int rank = 4;
    for (const LogicalIndex& l : def_.logical_indexes) {
      if (l.physical != int(i)) continue;
      const int r = l.kind == kIndexPrimaryKey ? 0 : l.kind == 0 ? 1 : 2;
      if (r < rank) {
        rank = r;
        index->name = l.name;
      }
      if (l.kind == kIndexPrimaryKey) index->required = true;
    }
    if (index->name.empty()) index->name = "number " + std::to_string(i);
    if (x.flags & kIndexRequired) index->required = true;
    const std::string about = refused + "index " + index->name + ": ";
    for (const IndexColumn& k : x.columns) {
      const ColumnDef& c = column_of(k.number);
      if (c.column.type == kMemo || c.column.type == kOle)
        throw TrundleError(about + "its column " + c.column.name + " is a " +
                           (c.column.type == kMemo ? "Memo" : "OLE Object") +
                           " column, whose values have no index key");
      keyed[size_t(&c - def_.columns.data())] = true;
      index->columns.push_back(size_t(&c - def_.columns.data()));
    }
    for (const auto& earlier : indexes_) {
      const std::vector<IndexColumn>& a = earlier->def->columns;
      if (a.size() == x.columns.size() &&
          (earlier->def->flags & kIndexIgnoreNulls) == (x.flags & kIndexIgnoreNulls) &&
          std::equal(a.begin(), a.end(), x.columns.begin(), [](const auto& p, const auto& q) {
            return p.number == q.number && p.ascending == q.ascending;
          })) {
        index->same_key = earlier.get();
        break;
      }
    }
    if (x.entry_count_offset == 0)
      throw TrundleError(about + "its count lies beyond the definition's first page");
    try {
      index->keys = std::make_unique<IndexKeyEncoder>(format_, def_, x);
    } catch (const TrundleError& e) {
      throw TrundleError(about + e.what());
    }
    index->writer = std::make_unique<IndexWriter>(store_, def_, x, Where());
    indexes_.push_back(std::move(index));
  }
  // Keys are made from the values as the row stores them: the key columns' stored bytes
  // are decoded again (Jet 3 text in the code page, numbers as their column holds them).
  key_columns_.clear();
  for (size_t c = 0; c < def_.columns.size(); ++c)
    if (keyed[c]) key_columns_.push_back(c);
  key_decoder_ = std::make_unique<RowDecoder>(store_.pages(), format_, def_, jet3_names_.get(),
                                              Where());
  stored_.assign(def_.columns.size(), Variant::Null());
  OpenForeignKeys(db);
}

// A foreign key whose relationship is enforced (MSysRelationships' grbit without its
// "not enforced" bit) needs each row's key in the related table's index. The referred-to
// side has such an index too, which asks nothing of appended rows. An enforced
// relationship whose referring table lacks its index cannot be checked, and is refused.
void TableWriter::OpenForeignKeys(const JetDatabase& db) {
  const std::string refused = path_ + ": rows cannot be added to table " + def_.name + ": ";
  // The relationships this table refers through: name -> enforced.
  std::map<std::string, bool> relationships;
  const std::vector<std::string> all = db.AllTables();
  if (std::find(all.begin(), all.end(), "MSysRelationships") != all.end()) {
    auto reader = db.OpenAnyTable("MSysRelationships");
    int grbit = -1, object = -1, name = -1;
    for (size_t i = 0; i < reader->fields().size(); ++i) {
      const std::string& field = reader->fields()[i].Name;
      if (field == "grbit") grbit = int(i);
      if (field == "szObject") object = int(i);
      if (field == "szRelationship") name = int(i);
    }
    std::vector<Variant> row;
    while (grbit >= 0 && object >= 0 && name >= 0 && reader->Next(row)) {
      const Variant& table = row[size_t(object)];
      if (!table.IsText() || !EqualsIgnoringAsciiCase(table.text(), def_.name)) continue;
      const Variant& flags = row[size_t(grbit)];
      const bool enforced =
          !(flags.type() == VarType::kInteger && (flags.integer() & kRelationDontEnforce));
      const std::string key = LowerAscii(row[size_t(name)].ToText());
      relationships[key] = relationships[key] || enforced;
    }
  }
  for (const LogicalIndex& l : def_.logical_indexes) {
    if (l.kind != kIndexForeignKey || !l.referencing) continue;
    auto found = relationships.find(LowerAscii(l.name));
    // An index of a relationship the catalogue does not list is kept as enforced: Access
    // makes these indexes for enforced relationships.
    if (found != relationships.end()) {
      const bool enforced = found->second;
      relationships.erase(found);
      if (!enforced) continue;
    }
    auto fk = std::make_unique<ForeignKey>();
    fk->name = l.name;
    fk->child = indexes_[size_t(l.physical)].get();
    const std::string about = refused + "relationship " + l.name + ": ";
    if (l.related_table == def_.page) {
      fk->parent = &def_;
      fk->parent_name = def_.name;
    } else {
      const CatalogEntry* parent = nullptr;
      for (const CatalogEntry& e : db.Catalog())
        if (e.tdef_page == l.related_table) parent = &e;
      if (!parent)
        throw TrundleError(about + "its table (definition page " +
                           std::to_string(l.related_table) + ") is not in the catalogue");
      fk->parent_def = std::make_unique<TableDef>(ReadTableDef(
          store_.pages(), format_, parent->tdef_page, parent->name, path_, jet3_names_.get()));
      fk->parent = fk->parent_def.get();
      fk->parent_name = parent->name;
    }
    const TableDef& pd = *fk->parent;
    // The related index is named by its number, not by its place in the list (which
    // goes by name).
    const auto partner =
        std::find_if(pd.logical_indexes.begin(), pd.logical_indexes.end(),
                     [&l](const LogicalIndex& other) { return other.number == l.related_index; });
    if (partner == pd.logical_indexes.end())
      throw TrundleError(about + "table " + fk->parent_name + " lacks the index it names");
    const int physical = partner->physical;
    fk->parent_index = &pd.indexes[size_t(physical)];
    const PhysicalIndex& ci = *fk->child->def;
    if (ci.columns.size() != fk->parent_index->columns.size())
      throw TrundleError(about + "its key and table " + fk->parent_name +
                         "'s have different numbers of columns");
    auto position = [](const TableDef& d, int number) {
      for (size_t c = 0; c < d.columns.size(); ++c)
        if (d.columns[c].number == number) return c;
      return d.columns.size();
    };
    for (size_t k = 0; k < ci.columns.size(); ++k) {
      fk->child_columns.push_back(position(def_, ci.columns[k].number));
      fk->parent_columns.push_back(position(pd, fk->parent_index->columns[k].number));
      if (fk->parent_columns.back() == pd.columns.size())
        throw TrundleError(about + "table " + fk->parent_name +
                           "'s key refers to a column it lacks");
    }
    try {
      fk->parent_keys = std::make_unique<IndexKeyEncoder>(format_, pd, *fk->parent_index);
    } catch (const TrundleError& e) {
      throw TrundleError(about + "table " + fk->parent_name + "'s key: " + e.what());
    }
    if (fk->parent == &def_) {
      fk->parent_writer = indexes_[size_t(physical)]->writer.get();
    } else {
      fk->owned_writer = std::make_unique<IndexWriter>(
          store_, pd, *fk->parent_index,
          path_ + " is damaged: table " + fk->parent_name);
      fk->parent_writer = fk->owned_writer.get();
    }
    fk->parent_values.assign(pd.columns.size(), Variant::Null());
    foreign_keys_.push_back(std::move(fk));
  }
  for (const auto& [name, enforced] : relationships)
    if (enforced)
      throw TrundleError(refused + "its enforced relationship " + name +
                         " has no index in the table's definition to check it by");
}

// "id = 5" or "a = 1, b = 'x'": the key's columns and values, for messages.
std::string TableWriter::KeyText(const PhysicalIndex& index, const TableDef& def,
                                 const std::vector<Variant>& values) const {
  std::string text;
  for (const IndexColumn& k : index.columns) {
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (def.columns[c].number != k.number) continue;
      if (!text.empty()) text += ", ";
      text += def.columns[c].column.name + " = ";
      const Variant& v = values[c];
      if (v.IsEmpty())
        text += "Null";
      else if (v.IsText())
        text += "'" + v.text() + "'";
      else
        text += v.ToText();
    }
  }
  return text;
}

void TableWriter::PrepareKeys() {
  for (size_t c : key_columns_) {
    std::string_view bytes;
    const bool present = encoder_->Stored(c, bytes);
    key_decoder_->DecodeColumn(def_.columns[c], present,
                               reinterpret_cast<const uint8_t*>(bytes.data()), int(bytes.size()),
                               stored_[c]);
  }
  for (auto& index : indexes_) {
    const PhysicalIndex& x = *index->def;
    const Index* same = index->same_key;
    const bool all_null = index->all_null =
        same ? same->all_null : index->keys->AllNull(stored_);
    index->left_out = all_null && (x.flags & kIndexIgnoreNulls);
    if (index->left_out) continue;
    if (index->required) {
      for (size_t c : index->columns)
        if (stored_[c].IsEmpty())
          throw TrundleError("index " + index->name + " takes no Null, and column " +
                             def_.columns[c].column.name + " is Null");
    }
    if (same)
      index->key = same->key;
    else if (!index->keys->Encode(stored_, index->key))
      throw TrundleError("index " + index->name + ": " + index->keys->error());
    // A unique index takes any number of rows whose key columns are all Null.
    if (deferred_) index->writer->CheckKeySize(index->key);
    if ((x.flags & kIndexUnique) && !all_null &&
        (deferred_ ? (index->seen ? *index->seen : *same->seen).Contains(index->key)
                   : index->writer->Contains(index->key)))
      throw TrundleError("index " + index->name + " already holds the key " +
                         KeyText(x, def_, stored_) + ", and it takes each key once");
  }
  for (auto& fk : foreign_keys_) {
    bool any_null = false;
    for (size_t k = 0; k < fk->child_columns.size(); ++k) {
      const Variant& v = stored_[fk->child_columns[k]];
      any_null = any_null || v.IsEmpty();
      fk->parent_values[fk->parent_columns[k]] = v;
    }
    // A key with a Null refers to no row (Jet checks only whole keys).
    if (any_null) continue;
    if (!fk->parent_keys->Encode(fk->parent_values, fk->key))
      throw TrundleError("relationship " + fk->name + ": " + fk->parent_keys->error());
    if (!fk->parent_writer->Contains(fk->key))
      throw TrundleError("relationship " + fk->name + " is enforced, and table " +
                         fk->parent_name + " has no row with " +
                         KeyText(*fk->parent_index, *fk->parent, fk->parent_values) +
                         " for this row's " + KeyText(*fk->child->def, def_, stored_));
  }
}

// After the column names come, for each index, its entries and names, then for each Memo and OLE column its number and the row pointers
// of the usage maps of its LVAL pages, ended by FF FF.
void TableWriter::ReadLongColumnMaps() {
  const std::string where = Where();
  const std::vector<uint8_t> buf = ReadTdefBytes(store_.pages(), def_.page, where);
  const int num_cols = Get16(&buf[size_t(format_.tdef_num_cols)]);
  auto skip_names = [&](size_t pos, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (pos + 2 > buf.size()) throw TrundleError(where + ": its names are cut short");
      pos += format_.jet3 ? 1 + size_t(buf[pos]) : 2 + size_t(Get16(&buf[pos]));
    }
    return pos;
  };
  // The index counts before the columns; after the names, the index definitions (Jet 4:
  // 52 bytes, Jet 3: 39), the logical indexes (28, 20) and their names.
  const size_t real = def_.indexes.size(), logical = def_.logical_indexes.size();
  size_t pos = size_t(format_.tdef_header_end) + real * size_t(format_.real_idx_entry) +
               size_t(num_cols) * size_t(format_.col_block);
  pos = skip_names(pos, size_t(num_cols));
  pos += real * (format_.jet3 ? 39 : 52) + logical * (format_.jet3 ? 20 : 28);
  pos = skip_names(pos, logical);
  while (pos + 2 <= buf.size() && Get16(&buf[pos]) != 0xFFFF) {
    if (pos + 10 > buf.size()) throw TrundleError(where + ": its long-value maps are cut short");
    const int number = Get16(&buf[pos]);
    const uint32_t used = Get32(&buf[pos + 2]), free = Get32(&buf[pos + 6]);
    pos += 10;
    for (const ColumnDef& c : def_.columns) {
      if (c.number != number || (c.column.type != kMemo && c.column.type != kOle)) continue;
      ReadUsageMap(store_.pages(), format_, used, where);  // refuses a damaged map
      ReadUsageMap(store_.pages(), format_, free, where);
      auto column = std::make_unique<LongColumn>();
      column->used = std::make_unique<UsageMapWriter>(store_, used, where);
      column->free = std::make_unique<UsageMapWriter>(store_, free, where);
      long_columns_[number] = std::move(column);
    }
  }
}

void TableWriter::Load() {
  const std::string where = Where();
  std::vector<uint8_t> tdef;
  store_.pages().Read(def_.page, tdef);
  row_count_ = Get32(&tdef[size_t(format_.tdef_row_count)]);
  last_auto_number_ = Get32(&tdef[size_t(format_.tdef_row_count + 4)]);
  const uint32_t free_pointer = Get32(&tdef[size_t(format_.tdef_used_pages + 4)]);
  ReadUsageMap(store_.pages(), format_, free_pointer, where);  // refuses a damaged map
  used_map_ = std::make_unique<UsageMapWriter>(store_, def_.used_pages, where);
  free_map_ = std::make_unique<UsageMapWriter>(store_, free_pointer, where);
  for (auto& [number, column] : long_columns_) column->open = OpenPage();
  for (auto& index : indexes_) {
    index->writer->Forget();
    if (!deferred_) {
      index->entry_count = Get32(&tdef[size_t(index->def->entry_count_offset)]);
      continue;
    }
    // The rolled-back batch's keys go.
    index->run.Truncate(index->committed);
    if (index->seen)
      index->seen->Truncate(index->same_key ? index->same_key->committed : index->committed);
  }
  for (auto& fk : foreign_keys_)
    if (fk->owned_writer) fk->owned_writer->Forget();
  must_roll_back_ = false;
  ChooseDataPage();
  encoder_ = std::make_unique<RowEncoder>(format_, def_, jet3_text_.get(),
                                          static_cast<LongValueStore&>(*this));
}

// Rows go after the last row of the table's last data page, checked whole first, so that
// a damaged page is refused rather than written into.
void TableWriter::ChooseDataPage() {
  const std::string where = Where();
  const PageSet owned = ReadUsageMap(store_.pages(), format_, def_.used_pages, where);
  *data_page_ = OpenPage();
  std::vector<uint8_t> buf;
  uint32_t last = kNoPage;
  for (uint32_t p = owned.Next(0); p < owned.page_count(); p = owned.Next(p + 1)) {
    store_.pages().Read(p, buf);
    if (buf[0] == kDataPage && Get32(&buf[4]) == def_.page) last = p;
  }
  if (last == kNoPage) return;
  store_.pages().Read(last, buf);
  const int count = Get16(&buf[size_t(format_.data_row_count)]);
  if (count > kMaxRowsPerPage || format_.data_row_offsets + 2 * count > format_.page_size)
    throw TrundleError(where + ": data page " + std::to_string(last) + " claims " +
                       std::to_string(count) + " rows");
  RowSpan span;
  for (int r = 0; r < count; ++r) LocateRow(buf, format_, r, span, where);
  data_page_->page = last;
  data_page_->buf = std::move(buf);
}

uint32_t TableWriter::Place(OpenPage& open, uint32_t owner, UsageMapWriter* used,
                            UsageMapWriter* free, const uint8_t* data, size_t size) {
  if (open.page != kNoPage) {
    const int row = AddRowToPage(format_, open.buf, data, size, &open.lowest);
    if (row >= 0) {
      open.dirty = true;
      return open.page << 8 | uint32_t(row);
    }
    if (open.dirty) store_.Write(open.page, open.buf);
    // A page left because the next row did not fit no longer counts as having room.
    if (free) free->Set(open.page, false);
    open = OpenPage();
  }
  const uint32_t page = store_.Allocate();
  InitDataPage(format_, owner, open.buf);
  const int row = AddRowToPage(format_, open.buf, data, size, &open.lowest);
  if (row < 0)
    throw TrundleError(Where() + ": a row of " + std::to_string(size) +
                       " bytes does not fit a page");
  open.page = page;
  open.dirty = true;
  if (used) used->Set(page, true);
  if (free) free->Set(page, true);
  return page << 8 | uint32_t(row);
}

LongValueRef TableWriter::Store(const ColumnDef& column, const std::string& data) {
  std::unique_ptr<LongColumn>& slot = long_columns_[column.number];
  if (!slot) slot = std::make_unique<LongColumn>();  // a Jet 3 column: no maps of its own
  LongColumn& lc = *slot;
  const size_t max = size_t(MaxLongValueRow(format_));
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  if (data.size() <= max)
    return {0x40, Place(lc.open, kLvalOwner, lc.used.get(), lc.free.get(), bytes, data.size())};
  // A chain: each row starts with the pointer to the next (0 ends it). Written from the
  // last piece back, so that each piece knows where its successor went.
  const size_t chunk = max - 4;
  const size_t pieces = (data.size() + chunk - 1) / chunk;
  std::vector<uint8_t> piece;
  uint32_t next = 0;
  for (size_t k = pieces; k-- > 0;) {
    const size_t begin = k * chunk, end = std::min(data.size(), begin + chunk);
    piece.assign(4, 0);
    Put32(piece.data(), next);
    piece.insert(piece.end(), bytes + begin, bytes + end);
    next = Place(lc.open, kLvalOwner, lc.used.get(), lc.free.get(), piece.data(), piece.size());
  }
  return {0x00, next};
}

void TableWriter::Append(std::vector<Variant>& values) {
  values.resize(def_.columns.size());
  const uint32_t auto_before = last_auto_number_;
  // An AutoNumber column keeps a number the row gives (as Access's own append does, so
  // that the rows of other tables that refer to it still find it); a row without one
  // takes the counter's next.
  kept_numbers_.clear();
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const JetColumn& c = def_.columns[i].column;
    if (!c.autonumber) continue;
    if (!values[i].IsEmpty() && !IsBlankText(values[i])) {
      if (c.type != kGuid) kept_numbers_.push_back(i);
      continue;
    }
    if (c.type == kGuid)
      values[i].SetString(RandomGuid());
    else
      values[i].SetInteger(++last_auto_number_);
  }
  try {
    encoder_->Encode(values, row_);
    // The counter moves past the highest number kept, lest it give that number again.
    for (size_t i : kept_numbers_) {
      std::string_view bytes;
      encoder_->Stored(i, bytes);
      const int32_t number = int32_t(Get32(reinterpret_cast<const uint8_t*>(bytes.data())));
      values[i].SetInteger(number);
      if (number > 0 && uint32_t(number) > last_auto_number_) last_auto_number_ = uint32_t(number);
    }
    if (!indexes_.empty()) PrepareKeys();
  } catch (const TrundleError& e) {
    // Encoding and key checks only read the file: what fails here is the row's own.
    last_auto_number_ = auto_before;
    throw RowRefusedError(e.what());
  } catch (...) {
    last_auto_number_ = auto_before;
    throw;
  }
  const uint32_t pointer =
      Place(*data_page_, def_.page, used_map_.get(), free_map_.get(), row_.data(), row_.size());
  ++row_count_;
  if (deferred_) {
    for (auto& index : indexes_) {
      if (index->left_out) continue;
      if (!index->same_key) index->run.Add(index->key, pointer);
      const KeyRun& run = index->same_key ? index->same_key->run : index->run;
      if (index->seen && !index->all_null) index->seen->Insert(run.size() - 1);
    }
    return;
  }
  try {
    for (auto& index : indexes_) {
      if (index->left_out) continue;
      bool new_key = false;
      if (!index->writer->Insert(index->key, pointer, &new_key, index->all_null))
        throw RowRefusedError("index " + index->name + " already holds the key " +
                              KeyText(*index->def, def_, stored_) + ", and it takes each key once");
      if (new_key) ++index->entry_count;
    }
  } catch (...) {
    // The row is in place without all its entries: only a rollback mends the batch.
    must_roll_back_ = true;
    throw;
  }
}

void TableWriter::Flush() {
  if (must_roll_back_)
    throw TrundleError(path_ + ": table " + def_.name +
                       ": a row failed half way into its indexes; the batch must be rolled back");
  auto write = [&](OpenPage& open) {
    if (open.page == kNoPage || !open.dirty) return;
    store_.Write(open.page, open.buf);
    open.dirty = false;
  };
  write(*data_page_);
  for (auto& [number, column] : long_columns_) write(column->open);
  if (!deferred_)
    for (auto& index : indexes_) index->writer->Flush();
  std::vector<uint8_t> tdef;
  store_.pages().Read(def_.page, tdef);
  const std::vector<uint8_t> was = tdef;
  Put32(&tdef[size_t(format_.tdef_row_count)], row_count_);
  Put32(&tdef[size_t(format_.tdef_row_count + 4)], last_auto_number_);
  // The counts' blocks are not in a definition without its indexes.
  if (!deferred_)
    for (auto& index : indexes_)
      Put32(&tdef[size_t(index->def->entry_count_offset)], index->entry_count);
  if (tdef != was) store_.Write(def_.page, tdef);
}

void TableWriter::Commit() {
  Flush();
  store_.Commit();
  for (auto& index : indexes_) index->committed = index->run.size();
}

// The definition's pieces about indexes: the count blocks after the header, and after
// the column names the physical and logical index definitions and the logical names.
// Left out, the definition is that of the table without indexes; the index pages stay
// the table's (empty roots, recorded in the usage maps) for Finish to fill. Only a
// definition on one page is handled so (one that goes on keeps its indexes throughout),
// nor a table whose relationship refers to itself (its rows are checked against its
// own index as they come).
void TableWriter::LeaveOutIndexes() {
  if (row_count_ != 0 || indexes_.empty()) return;
  for (const auto& fk : foreign_keys_)
    if (fk->parent == &def_) return;
  std::vector<uint8_t> tdef;
  store_.pages().Read(def_.page, tdef);
  if (Get32(&tdef[4]) != 0) return;
  const size_t real = def_.indexes.size(), logical = def_.logical_indexes.size();
  const size_t counts_at = size_t(format_.tdef_header_end);
  const size_t columns_at = counts_at + real * size_t(format_.real_idx_entry);
  auto skip_names = [&](size_t pos, size_t n) {
    for (size_t i = 0; i < n && pos + 2 <= tdef.size(); ++i)
      pos += format_.jet3 ? 1 + size_t(tdef[pos]) : 2 + size_t(Get16(&tdef[pos]));
    return pos;
  };
  const size_t defs_at =
      skip_names(columns_at + size_t(Get16(&tdef[size_t(format_.tdef_num_cols)])) *
                                  size_t(format_.col_block),
                 size_t(Get16(&tdef[size_t(format_.tdef_num_cols)])));
  const size_t defs_end = skip_names(
      defs_at + real * (format_.jet3 ? 39 : 52) + logical * (format_.jet3 ? 20 : 28), logical);
  if (defs_end > tdef.size()) return;  // ReadTableDef would have refused it
  const size_t removed = (columns_at - counts_at) + (defs_end - defs_at);
  std::vector<uint8_t> bare(tdef.begin(), tdef.begin() + long(counts_at));
  bare.insert(bare.end(), tdef.begin() + long(columns_at), tdef.begin() + long(defs_at));
  bare.insert(bare.end(), tdef.begin() + long(defs_end), tdef.end());
  bare.resize(tdef.size(), 0);
  Put32(&bare[size_t(format_.tdef_num_real_idx - 4)], 0);
  Put32(&bare[size_t(format_.tdef_num_real_idx)], 0);
  Put32(&bare[8], Get32(&bare[8]) - uint32_t(removed));
  if (!format_.jet3) Put16(&bare[2], Get16(&bare[2]) + uint32_t(removed));
  store_.Write(def_.page, bare);
  store_.Commit();
  keyed_tdef_ = std::move(tdef);
  deferred_ = true;
  for (auto& index : indexes_) {
    index->run = KeyRun();
    index->committed = 0;
    // A unique index with the same key as an earlier unique one finds its keys in that
    // one's set.
    const Index* same = index->same_key;
    if ((index->def->flags & kIndexUnique) && !(same && same->seen))
      index->seen = std::make_unique<UniqueKeys>(same ? same->run : index->run);
  }
}

void TableWriter::Finish() {
  if (!deferred_) return;
  store_.Rollback();
  Load();
  try {
    // Indexes over the same key (a primary key and a plain index on its column) share
    // one run, sorted once.
    const KeyRun* sorted_run = nullptr;
    std::vector<uint32_t> order;
    for (auto& index : indexes_) {
      const KeyRun& run = index->same_key ? index->same_key->run : index->run;
      if (&run != sorted_run) {
        order = run.SortedOrder();
        sorted_run = &run;
      }
      index->entry_count =
          run.size() ? IndexWriter::Build(store_, def_, *index->def, Where(), run, order) : 0;
    }
    std::vector<uint8_t> tdef;
    store_.pages().Read(def_.page, tdef);
    std::vector<uint8_t> keyed = keyed_tdef_;
    std::copy_n(tdef.begin() + format_.tdef_row_count, 8, keyed.begin() + format_.tdef_row_count);
    for (auto& index : indexes_)
      Put32(&keyed[size_t(index->def->entry_count_offset)], index->entry_count);
    store_.Write(def_.page, keyed);
    store_.Commit();
  } catch (...) {
    store_.Rollback();
    throw;
  }
  deferred_ = false;
  keyed_tdef_.clear();
  for (auto& index : indexes_) {
    index->seen.reset();
    index->run = KeyRun();
    index->committed = 0;
  }
  Load();
}

size_t TableWriter::waiting_key_memory() const {
  size_t bytes = 0;
  for (const auto& index : indexes_)
    bytes += index->run.memory() + (index->seen ? index->seen->memory() : 0);
  return bytes;
}

void TableWriter::Rollback() {
  store_.Rollback();
  Load();
}

std::vector<std::string> TableWriter::TakeNotes() { return encoder_->TakeNotes(); }

}  // namespace trundle::jet
