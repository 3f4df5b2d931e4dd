// Table definitions (TDEF pages) and the usage maps that list a table's pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_pages.h"
#include "engine/codepage.h"

namespace trundle::jet {

struct ColumnDef {
  JetColumn column;
  int number = 0;        // the table's order; position in a row's null mask (deleted
                         // columns keep theirs)
  int var_index = 0;     // entry in a row's variable-offset table
  int fixed_offset = 0;  // from the start of a row's fixed data
  bool compressed = false;
  // Text and Memo: the sort order their indexes use (1033 "General"; 0 in files that
  // never set it) and, Jet 4, its version (0 "General Legacy"; Jet 3 has none).
  uint16_t sort_order = 0;
  uint8_t sort_version = 0;
};

// One key column of an index: its column number (ColumnDef::number) and direction.
struct IndexColumn {
  int number = 0;
  bool ascending = true;
};

// A physical ("real") index: the B-tree. Several logical indexes may share one.
struct PhysicalIndex {
  std::vector<IndexColumn> columns;  // in key order, at most 10
  uint32_t map = 0;         // row pointer of the index's usage map
  uint32_t first_page = 0;  // its root page
  uint8_t flags = 0;        // kIndexUnique | kIndexIgnoreNulls | kIndexRequired
  // The count the definition's header block keeps for the index (Access's files show it
  // neither the row count nor always current), and where it lies in the definition's
  // first page for a writer that updates it (0 when not in the first page).
  uint32_t entry_count = 0;
  int entry_count_offset = 0;
};
inline constexpr uint8_t kIndexUnique = 0x01;
inline constexpr uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexRequired = 0x08;

// A logical index: a name the table's indexes, primary key and relationships go by.
struct LogicalIndex {
  std::string name;
  int number = 0;             // the table's number for it, which related_index names
  int physical = 0;           // into TableDef::indexes
  uint8_t kind = 0;           // kIndexPrimaryKey, kIndexForeignKey or 0 (plain)
  uint32_t related_table = 0; // foreign keys: the TDEF page of the other table
  int related_index = 0;      //   and the number of its logical index there
  // Foreign keys: true on the table whose rows refer to the other's key (the
  // relationship's "many" side, whose rows need a parent), false on the side whose key
  // is referred to. Each side of an enforced relationship has such an index.
  bool referencing = false;
};
inline constexpr uint8_t kIndexPrimaryKey = 0x01;
inline constexpr uint8_t kIndexForeignKey = 0x02;

struct TableDef {
  std::string name;
  uint32_t page = 0;
  uint32_t row_count = 0;
  int max_cols = 0;
  int num_var_cols = 0;
  std::vector<ColumnDef> columns;  // live columns in column order
  uint32_t used_pages = 0;         // row pointer to the owned-pages usage map
  uint32_t free_pages = 0;         // row pointer to the free-space usage map
  std::vector<PhysicalIndex> indexes;
  std::vector<LogicalIndex> logical_indexes;
};

// The width of a fixed column of each type, which is also what a fixed value of the type
// needs; 0 for types stored as variable data.
int FixedWidth(uint8_t type);

// "PATH is damaged: table NAME: CAUSE"
std::string TableDamage(const std::string& path, const std::string& table,
                        const std::string& cause);

// Reads the table definition that starts at page, following its continuation pages: its
// columns, indexes and usage maps. Jet 3 column and index names are decoded with
// jet3_text (the database's code page).
TableDef ReadTableDef(const PageFile& file, const Format& format, uint32_t page,
                      const std::string& name, const std::string& path, TextCodec* jet3_text);

// The bytes of row `row` of the data page in `page` (already read): [begin, end) within
// the page and the row's flags (0x8000 deleted, 0x4000 overflow pointer). Returns false
// when the page has no such row. Throws TrundleError when the row lies outside its page.
struct RowSpan {
  int begin = 0, end = 0;
  bool deleted = false, overflow = false;
};
// A moved row's new place is flagged deleted, so that a scan of its page skips it; a
// reader following the pointer asks with moved_target set and gets it checked as live.
bool LocateRow(const std::vector<uint8_t>& page, const Format& format, int row, RowSpan& span,
               const std::string& where, bool moved_target = false);

// A set of page numbers, one bit a page of the file (32 KB for a 1 GB database).
class PageSet {
 public:
  explicit PageSet(uint32_t page_count) : bits_((page_count + 63) / 64), count_(page_count) {}
  void Add(uint32_t page) { bits_[page / 64] |= uint64_t(1) << (page % 64); }
  // The first page at or after from in the set; page_count() when none.
  uint32_t Next(uint32_t from) const;
  uint32_t page_count() const { return count_; }

 private:
  std::vector<uint64_t> bits_;
  uint32_t count_;
};

// The pages a usage map (a row of a data page, given by a row pointer) marks. Throws
// TrundleError on a map that marks a page outside the file or is malformed.
PageSet ReadUsageMap(const PageFile& file, const Format& format, uint32_t pointer,
                     const std::string& where);

}  // namespace trundle::jet
