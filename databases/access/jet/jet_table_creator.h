// New tables in a Jet database (Jet 3 and Jet 4), made as Access makes a table that has
// fields only (no index, key, default or rule):
//
//   std::vector<NewColumn> columns = {{"Name", kText, 50}, {"Born", kDateTime}};
//   CreateTable(*store, *db, "People", columns);   // one committed batch
//
// In the file: the table definition page(s), the table's owned-pages and free-space usage
// maps, its row in MSysObjects (with that table's index entries) holding the columns'
// properties (Required, AllowZeroLength) in LvProp, and the permission rows in MSysACEs
// that Access gives a new table. The whole creation is one journalled batch: a failure
// leaves the database as it was.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_pages.h"
#include "engine/codepage.h"

namespace trundle::jet {

class PageStore;

struct NewColumn {
  std::string name;
  uint8_t type = kText;  // JetType
  int size = 0;          // Text: characters (1 to 255); Binary: bytes; others: ignored
  bool required = false;
  bool allow_zero_length = false;  // Text and Memo
  int precision = 18, scale = 0;   // Numeric
  bool autonumber = false;         // Long only: numbered by the table's counter
};

// An index of a new table: a primary key (named PrimaryKey, as Access names it), a
// unique index or one that only speeds up searches (duplicates allowed). Each gets a
// B-tree of its own, empty, which the table writer fills.
struct NewIndex {
  std::string name;
  std::vector<int> columns;  // positions in the table's columns, in key order, ascending
  bool primary = false;      // unique, and every key column required
  bool unique = true;        // a primary key is unique whatever this says
};

// The engine's rule for a field or table name: at most 64 characters, no leading space,
// none of . ! ` [ ] and no control character. Returns the engine's message for a name
// that breaks it ("'A.B' is not a valid name. ..."), empty for a good one.
std::string CheckObjectName(const std::string& name);

// Creates the table and commits the store's batch. db: the database as read before
// (its catalogue tells the table's place and what exists). Throws TrundleError with the
// engine's message, and writes nothing, for: a table of that name (letter case ignored),
// no columns, a column name repeated (letter case ignored) or breaking CheckObjectName, a
// type we do not create, a Text size outside 1 to 255. Throws TrundleError naming the
// file for a damaged catalogue or a failed write (the batch rolled back).
// indexes: made with the table; refused (nothing written) when one names no column, more
// than 10, a column twice or a Memo or OLE column, when two share a name, when more than
// one is primary, or when a name breaks CheckObjectName.
void CreateTable(PageStore& store, const JetDatabase& db, const std::string& name,
                 const std::vector<NewColumn>& columns, const std::vector<NewIndex>& indexes = {});

// The pieces CreateTable writes, built on their own.

// The refusals that need no database: the engine's message, empty when the table may be
// made. jet3_names (UTF-8 to the database's code page) checks that Jet 3 names can be
// stored; nullptr for Jet 4.
std::string CheckNewTable(const std::string& name, const std::vector<NewColumn>& columns,
                          bool jet3, TextCodec* jet3_names);

// Where a new table's definition points: the row pointers (page << 8 | row) of its
// owned-pages and free-space usage maps and of the two maps of each Memo and OLE column
// in column order; and the header's collation bytes that every column block
// repeats (Jet 4: the sort order at 0x6E-0x71; Jet 3: sort order and code page at
// 0x3A-0x3D).
struct NewTableLayout {
  uint32_t used_map = 0, free_map = 0;
  std::vector<std::pair<uint32_t, uint32_t>> long_value_maps;
  // For each index: the row pointer of its usage map and its root (first) page.
  std::vector<std::pair<uint32_t, uint32_t>> index_pages;
  uint8_t collation[4] = {0x09, 0x04, 0, 0};
};

// The table definition's bytes as one run (the first page's header included; the
// continuation pages' 8-byte headers not): header, column blocks, names, long-value maps,
// FF FF. jet3_names as for CheckNewTable.
std::vector<uint8_t> TableDefinitionBytes(const Format& format,
                                          const std::vector<NewColumn>& columns,
                                          const NewTableLayout& layout, TextCodec* jet3_names,
                                          const std::vector<NewIndex>& indexes = {});

// Those bytes laid on pages: pages[0] is the first page, each later one a continuation
// linked from the one before (page numbers from numbers, one per page; see
// TableDefinitionPageCount).
int TableDefinitionPageCount(const Format& format, size_t bytes);
std::vector<std::vector<uint8_t>> TableDefinitionPages(const Format& format,
                                                       const std::vector<uint8_t>& bytes,
                                                       const std::vector<uint32_t>& numbers);

// Usage maps as Access makes them for a new table (inline, nothing marked) on data pages
// of their own, in the store's open batch; their row pointers in order.
std::vector<uint32_t> WriteEmptyUsageMaps(PageStore& store, size_t count);
// The catalogue's property value (LvProp) of the new table: each column's Required and,
// for Text and Memo, AllowZeroLength ("MR2\0" Jet 4, "KKD\0" Jet 3; see jet_props.h).
std::string ColumnPropertiesValue(const std::vector<NewColumn>& columns, bool jet3,
                                  TextCodec* jet3_names);

}  // namespace trundle::jet
