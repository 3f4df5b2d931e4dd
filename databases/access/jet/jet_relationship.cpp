#include "databases/access/jet/jet_relationship.h"

#include <algorithm>

#include "databases/access/jet/jet_index_key.h"
#include "databases/access/jet/jet_index_writer.h"
#include "databases/access/jet/jet_new_index.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_rows.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_text.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

// As in the fixtures' relationships (indexTestV2000: Table1's keys into Table2 and
// Table3): each side's logical index holds 2 (referring) or 1 (referred to), the other
// side's definition page and logical index number, the update and delete cascade bytes
// where a plain index holds 04 04, and the foreign-key kind; the referred-to side's is
// named ".rC" and shares the primary key's physical index; the referring side's has a
// physical index of its own, neither unique nor ignoring Nulls (flags 0x80 only).
constexpr uint32_t kIndexMagic = 0x0783;
constexpr uint32_t kLogicalMagic = 0x0659;
constexpr uint8_t kPlainIndexFlags = 0x80;
constexpr int kRealIndexSize = 52, kLogicalIndexSize = 28;
constexpr int64_t kGrbitUpdateCascade = 0x100, kGrbitDeleteCascade = 0x1000;
constexpr size_t kMaxKeyColumns = 10;

void Append(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// A table's definition as one run of bytes (continuation headers left out) and the pages
// that hold it.
struct Definition {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> pages;
};

Definition ReadDefinition(const PageStore& store, uint32_t first, const std::string& where) {
  Definition d;
  std::vector<uint8_t> page;
  for (uint32_t n = first; n != 0;) {
    if (d.pages.size() > 1000 || n >= store.page_count())
      throw TrundleError(where + ": its definition's pages run wild");
    store.pages().Read(n, page);
    if (page[0] != kTdefPage)
      throw TrundleError(where + ": its definition's page is of another kind");
    d.pages.push_back(n);
    d.bytes.insert(d.bytes.end(), page.begin() + (n == first ? 0 : 8), page.end());
    n = Get32(&page[4]);
  }
  const uint32_t length = Get32(&d.bytes[8]);
  if (length < 64 || length > d.bytes.size())
    throw TrundleError(where + ": its definition's length is wrong");
  d.bytes.resize(length);
  return d;
}

// Where the parts of a Jet 4 definition lie.
struct Parts {
  size_t counts_end = 0;      // after the per-index count blocks
  size_t real_end = 0;        // after the physical index definitions
  size_t logical_end = 0;     // after the logical index entries
  std::vector<size_t> names;  // each logical index name's start
  size_t names_end = 0;
};

Parts Locate(const std::vector<uint8_t>& b, const Format& f, const std::string& where) {
  const size_t cols = Get16(&b[size_t(f.tdef_num_cols)]);
  const size_t real = Get32(&b[size_t(f.tdef_num_real_idx)]);
  const size_t logical = Get32(&b[size_t(f.tdef_num_real_idx - 4)]);
  Parts p;
  p.counts_end = size_t(f.tdef_header_end) + real * size_t(f.real_idx_entry);
  size_t pos = p.counts_end + cols * size_t(f.col_block);
  const auto name = [&] {
    if (pos + 2 > b.size()) throw TrundleError(where + ": its definition is cut short");
    pos += 2 + Get16(&b[pos]);
  };
  for (size_t i = 0; i < cols; ++i) name();
  p.real_end = pos + real * kRealIndexSize;
  p.logical_end = p.real_end + logical * kLogicalIndexSize;
  pos = p.logical_end;
  for (size_t i = 0; i < logical; ++i) {
    p.names.push_back(pos);
    name();
  }
  if (pos > b.size()) throw TrundleError(where + ": its definition is cut short");
  p.names_end = pos;
  return p;
}

// One more logical index (and, when given, physical index) in a definition: the logical
// entry among the others in the order of their names, letter case ignored.
std::vector<uint8_t> WithIndex(const std::vector<uint8_t>& old, const Format& f,
                               const TableDef& def, const std::vector<uint8_t>* physical,
                               const std::vector<uint8_t>& entry, const std::string& name,
                               const std::string& where) {
  const Parts parts = Locate(old, f, where);
  size_t place = 0;
  while (place < def.logical_indexes.size() &&
         LowerAscii(def.logical_indexes[place].name) <= LowerAscii(name))
    ++place;
  std::vector<uint8_t> name_bytes;
  std::u16string units;
  Utf8ToUtf16(name, units);
  Append(name_bytes, units.size() * 2, 2);
  for (char16_t u : units) Append(name_bytes, u, 2);

  std::vector<uint8_t> b = old;
  const size_t name_at = place < parts.names.size() ? parts.names[place] : parts.names_end;
  // From the back, so that each place before is still where it was.
  b.insert(b.begin() + long(name_at), name_bytes.begin(), name_bytes.end());
  b.insert(b.begin() + long(parts.real_end + place * kLogicalIndexSize), entry.begin(),
           entry.end());
  if (physical) {
    b.insert(b.begin() + long(parts.real_end), physical->begin(), physical->end());
    b.insert(b.begin() + long(parts.counts_end), size_t(f.real_idx_entry), 0);
    Put32(&b[size_t(f.tdef_num_real_idx)], Get32(&b[size_t(f.tdef_num_real_idx)]) + 1);
  }
  Put32(&b[size_t(f.tdef_num_real_idx - 4)], Get32(&b[size_t(f.tdef_num_real_idx - 4)]) + 1);
  Put32(&b[8], uint32_t(b.size()));
  return b;
}

void WriteDefinition(PageStore& store, Definition& d, const std::vector<uint8_t>& bytes) {
  const Format& f = store.format();
  while (int(d.pages.size()) < TableDefinitionPageCount(f, bytes.size()))
    d.pages.push_back(store.Allocate());
  const auto pages = TableDefinitionPages(f, bytes, d.pages);
  for (size_t i = 0; i < pages.size(); ++i) store.Write(d.pages[i], pages[i]);
}

std::vector<uint8_t> LogicalEntry(int number, int physical, bool referring, int related,
                                  uint32_t related_page, const NewRelationship& rel) {
  std::vector<uint8_t> e;
  Append(e, kLogicalMagic, 4);
  Append(e, uint32_t(number), 4);
  Append(e, uint32_t(physical), 4);
  e.push_back(referring ? 2 : 1);
  Append(e, uint32_t(related), 4);
  Append(e, related_page, 4);
  e.push_back(rel.cascade_update ? 1 : 0);
  e.push_back(rel.cascade_delete ? 1 : 0);
  e.push_back(kIndexForeignKey);
  Append(e, 0, 4);
  return e;
}

int NextNumber(const TableDef& def) {
  int n = 0;
  for (const LogicalIndex& l : def.logical_indexes) n = std::max(n, l.number + 1);
  return n;
}

size_t ColumnAt(const TableDef& def, const std::string& name) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (EqualsIgnoringAsciiCase(def.columns[i].column.name, name)) return i;
  return def.columns.size();
}

// Calls each(row pointer, values) for every live row of the table.
template <typename Each>
void ForEachRow(const PageStore& store, const TableDef& def, const std::string& where, Each each) {
  const Format& f = store.format();
  RowDecoder decoder(store.pages(), f, def, nullptr, where);
  const PageSet used = ReadUsageMap(store.pages(), f, def.used_pages, where);
  std::vector<uint8_t> page, moved;
  std::vector<Variant> values(def.columns.size());
  for (uint32_t n = used.Next(0); n < used.page_count(); n = used.Next(n + 1)) {
    store.pages().Read(n, page);
    if (page[0] != kDataPage || Get32(&page[4]) != def.page) continue;
    const int rows = Get16(&page[size_t(f.data_row_count)]);
    for (int r = 0; r < rows; ++r) {
      RowSpan span;
      if (!LocateRow(page, f, r, span, where) || span.deleted) continue;
      const std::vector<uint8_t>* holder = &page;
      if (span.overflow) {
        const uint32_t to = Get32(&page[size_t(span.begin)]);
        store.pages().Read(to >> 8, moved);
        if (!LocateRow(moved, f, int(to & 0xFF), span, where, true))
          throw TrundleError(where + ": a moved row is not where its pointer says");
        holder = &moved;
      }
      decoder.Decode(holder->data() + span.begin, span.end - span.begin, values);
      each(n << 8 | uint32_t(r), values);
    }
  }
}

std::string Listed(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

void AddRelationship(PageStore& store, const JetDatabase& db, const NewRelationship& rel) {
  const Format& f = store.format();
  const std::string& path = store.path();
  if (f.jet3) throw TrundleError("relationships are added to Jet 4 databases only");
  std::string bad = CheckObjectName(rel.name);
  if (!bad.empty()) throw TrundleError(bad);
  const CatalogEntry* child = nullptr;
  const CatalogEntry* parent = nullptr;
  for (const CatalogEntry& e : db.Catalog()) {
    if (e.system) continue;
    if (EqualsIgnoringAsciiCase(e.name, rel.table)) child = &e;
    if (EqualsIgnoringAsciiCase(e.name, rel.ref_table)) parent = &e;
  }
  if (!child) throw TrundleError("there is no table " + rel.table);
  if (!parent) throw TrundleError("there is no table " + rel.ref_table);
  if (child == parent) throw TrundleError("a table's relationship with itself is not made here");
  if (rel.fields.empty() || rel.fields.size() != rel.ref_fields.size() ||
      rel.fields.size() > kMaxKeyColumns)
    throw TrundleError("its fields do not pair up one to one");
  const std::vector<std::string> all = db.AllTables();
  if (std::find(all.begin(), all.end(), "MSysRelationships") == all.end())
    throw TrundleError(path + " has no MSysRelationships table to keep relationships in");
  {
    auto reader = db.OpenAnyTable("MSysRelationships");
    size_t at = reader->fields().size();
    for (size_t i = 0; i < reader->fields().size(); ++i)
      if (reader->fields()[i].Name == "szRelationship") at = i;
    std::vector<Variant> row;
    while (at < reader->fields().size() && reader->Next(row))
      if (row[at].IsText() && EqualsIgnoringAsciiCase(row[at].text(), rel.name))
        throw TrundleError("the database has a relationship named " + rel.name + " already");
  }

  const std::string child_where = path + " is damaged: table " + child->name;
  const std::string parent_where = path + " is damaged: table " + parent->name;
  const TableDef cdef =
      ReadTableDef(store.pages(), f, child->tdef_page, child->name, path, nullptr);
  const TableDef pdef =
      ReadTableDef(store.pages(), f, parent->tdef_page, parent->name, path, nullptr);
  for (const TableDef* d : {&cdef, &pdef})
    for (const LogicalIndex& l : d->logical_indexes)
      if (EqualsIgnoringAsciiCase(l.name, rel.name))
        throw TrundleError("table " + d->name + " has an index named " + rel.name + " already");

  std::vector<size_t> child_cols, parent_cols;
  for (size_t k = 0; k < rel.fields.size(); ++k) {
    child_cols.push_back(ColumnAt(cdef, rel.fields[k]));
    parent_cols.push_back(ColumnAt(pdef, rel.ref_fields[k]));
    if (child_cols.back() == cdef.columns.size())
      throw TrundleError("table " + cdef.name + " has no field " + rel.fields[k]);
    if (parent_cols.back() == pdef.columns.size())
      throw TrundleError("table " + pdef.name + " has no field " + rel.ref_fields[k]);
    const JetColumn& c = cdef.columns[child_cols.back()].column;
    const JetColumn& p = pdef.columns[parent_cols.back()].column;
    if (c.type == kMemo || c.type == kOle || p.type == kMemo || p.type == kOle)
      throw TrundleError("a Memo or OLE Object field cannot be a key (" + c.name + ")");
    if (c.type != p.type)
      throw TrundleError("fields " + c.name + " and " + p.name + " are of different types");
  }
  // The referred-to fields must be a unique index of the parent, in the same order.
  int parent_physical = -1;
  for (size_t i = 0; i < pdef.indexes.size() && parent_physical < 0; ++i) {
    const PhysicalIndex& x = pdef.indexes[i];
    if (!(x.flags & kIndexUnique) || x.columns.size() != parent_cols.size()) continue;
    bool same = true;
    for (size_t k = 0; k < parent_cols.size(); ++k)
      same = same && x.columns[k].number == pdef.columns[parent_cols[k]].number;
    if (same) parent_physical = int(i);
  }
  if (parent_physical < 0)
    throw TrundleError("fields " + Listed(rel.ref_fields) + " of table " + pdef.name +
                       " are no primary key or unique index");

  // The referred-to side's name: ".rC" as Access gives it, another letter when taken.
  std::string partner_name = ".rC";
  for (char c = 'C'; c <= 'Z'; ++c) {
    partner_name = std::string(".r") + c;
    const bool taken = std::any_of(
        pdef.logical_indexes.begin(), pdef.logical_indexes.end(),
        [&](const LogicalIndex& l) { return EqualsIgnoringAsciiCase(l.name, partner_name); });
    if (!taken) break;
    if (c == 'Z') throw TrundleError("table " + pdef.name + " has too many relationships");
  }

  const int child_number = NextNumber(cdef), parent_number = NextNumber(pdef);
  store.CommitOrRollBack([&] {
    // The referring side's physical index: an empty root that the rows then fill.
    const uint32_t map = WriteEmptyUsageMaps(store, 1).front();
    const uint32_t root = store.Allocate();
    store.Write(root, EmptyIndexRoot(f, child->tdef_page));
    UsageMapWriter(store, map, child_where).Set(root, true);
    std::vector<uint8_t> physical;
    Append(physical, kIndexMagic, 4);
    for (size_t k = 0; k < kMaxKeyColumns; ++k) {
      Append(physical,
             k < child_cols.size() ? uint32_t(cdef.columns[child_cols[k]].number) : 0xFFFF, 2);
      physical.push_back(k < child_cols.size() ? 0x01 : 0x00);
    }
    Append(physical, map, 4);
    Append(physical, root, 4);
    Append(physical, 0, 4);
    physical.push_back(kPlainIndexFlags);
    Append(physical, 0, 5);

    Definition cd = ReadDefinition(store, child->tdef_page, child_where);
    WriteDefinition(store, cd,
                    WithIndex(cd.bytes, f, cdef, &physical,
                              LogicalEntry(child_number, int(cdef.indexes.size()), true,
                                           parent_number, parent->tdef_page, rel),
                              rel.name, child_where));
    Definition pd = ReadDefinition(store, parent->tdef_page, parent_where);
    WriteDefinition(store, pd,
                    WithIndex(pd.bytes, f, pdef, nullptr,
                              LogicalEntry(parent_number, parent_physical, false, child_number,
                                           child->tdef_page, rel),
                              partner_name, parent_where));

    // Every row's key into the new index; each needs its parent.
    const TableDef nc =
        ReadTableDef(store.pages(), f, child->tdef_page, child->name, path, nullptr);
    const PhysicalIndex& index = nc.indexes.back();
    IndexKeyEncoder keys(f, nc, index);
    IndexWriter writer(store, nc, index, child_where);
    const PhysicalIndex& pindex = pdef.indexes[size_t(parent_physical)];
    IndexKeyEncoder parent_keys(f, pdef, pindex);
    IndexWriter parent_writer(store, pdef, pindex, parent_where);
    std::vector<Variant> parent_values(pdef.columns.size(), Variant::Null());
    std::string key, parent_key;
    uint32_t distinct = 0;
    ForEachRow(store, nc, child_where, [&](uint32_t pointer, const std::vector<Variant>& values) {
      if (!keys.Encode(values, key)) throw TrundleError("table " + nc.name + ": " + keys.error());
      bool new_key = false;
      const bool all_null = keys.AllNull(values);
      writer.Insert(key, pointer, &new_key, all_null);
      distinct += new_key ? 1 : 0;
      bool any_null = false;
      for (size_t k = 0; k < child_cols.size(); ++k) {
        any_null = any_null || values[child_cols[k]].IsNull();
        parent_values[parent_cols[k]] = values[child_cols[k]];
      }
      if (any_null) return;  // a key with a Null refers to nothing
      if (!parent_keys.Encode(parent_values, parent_key) || !parent_writer.Contains(parent_key)) {
        std::string shown;
        for (size_t k = 0; k < child_cols.size(); ++k)
          shown += (k ? ", " : "") + values[child_cols[k]].ToText();
        throw TrundleError("a record of " + nc.name + " (" + Listed(rel.fields) + " = " + shown +
                           ") has no record in " + pdef.name + " to refer to");
      }
    });
    writer.Flush();
    // The definition's count of the new index's distinct keys.
    std::vector<uint8_t> first;
    store.pages().Read(child->tdef_page, first);
    Put32(&first[size_t(f.tdef_header_end) + cdef.indexes.size() * size_t(f.real_idx_entry) + 4],
          distinct);
    store.Write(child->tdef_page, first);

    // The catalogue's rows, one per pair of fields.
    TableWriterOptions options;
    options.system_table = true;
    auto catalogue = TableWriter::Open(store, db, "MSysRelationships", options);
    const TableDef& rd = catalogue->def();
    const int64_t grbit = (rel.cascade_update ? kGrbitUpdateCascade : 0) |
                          (rel.cascade_delete ? kGrbitDeleteCascade : 0);
    for (size_t k = 0; k < rel.fields.size(); ++k) {
      std::vector<Variant> row(rd.columns.size(), Variant::Null());
      const auto set = [&](const char* name, const Variant& v) {
        const size_t at = ColumnAt(rd, name);
        if (at < row.size()) row[at] = v;
      };
      set("ccolumn", Variant::Integer(int64_t(rel.fields.size())));
      set("grbit", Variant::Integer(grbit));
      set("icolumn", Variant::Integer(int64_t(k)));
      set("szColumn", Variant::String(cdef.columns[child_cols[k]].column.name));
      set("szObject", Variant::String(cdef.name));
      set("szReferencedColumn", Variant::String(pdef.columns[parent_cols[k]].column.name));
      set("szReferencedObject", Variant::String(pdef.name));
      set("szRelationship", Variant::String(rel.name));
      catalogue->Append(row);
    }
    catalogue->Flush();
  });
}

}  // namespace trundle::jet
