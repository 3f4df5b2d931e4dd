// Rows appended to an existing table of a Jet database, through a PageStore's journalled
// batches:
//
//   auto store = PageStore::Open("shop.mdb");
//   auto db = JetDatabase::Open("shop.mdb");   // the catalogue, read after the store's recovery
//   auto writer = TableWriter::Open(*store, *db, "Orders");
//   writer->Append(values);                    // one row, values in the table's column order
//   writer->Commit();                          // the batch reaches the disk
//
// Rows go onto the table's last data page while it has room, then onto new pages, which
// are recorded in the table's owned-pages and free-space usage maps (an inline map is
// promoted to a reference map when a page lies beyond its reach). Memo and OLE values
// too long for their row go onto LVAL pages, in one row or a chain of rows. The table
// definition's row count and AutoNumber counter follow every commit.
//
// Every index of the table takes each row's entry in the row's batch, its key made from
// the values as the row stores them. Before a row is placed, it is refused when a unique
// index or primary key holds its key already, when an index that requires values meets
// a Null, or when a foreign key of an enforced relationship finds no parent row; an
// index that ignores Nulls leaves out rows whose key columns are all Null. The table
// definition's count of distinct keys of each index follows the entries.
//
// A table that is empty when the writer opens it (one just created among them) takes
// its indexes at the end instead: the writer first commits the table's definition
// without them, appends rows in batches keeping each row's keys in memory (a unique
// index's keys in a set, so that a repeated key is still refused at its row), and
// Finish (or the destructor) builds every index at once from the sorted keys and puts
// the definition back with them, in one batch. Each commit in between leaves a sound
// table without indexes; a run killed before Finish leaves it so, and a later writer
// appends to it as to a table without indexes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "databases/access/jet/jet_key_run.h"
#include "databases/access/jet/jet_row_encoder.h"
#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"
#include "engine/errors.h"
#include "engine/variant.h"

namespace trundle::jet {

class JetDatabase;
class PageStore;
class RowDecoder;

// What a data page holds in place of its owner's TDEF page when it holds long values.
inline constexpr uint32_t kLvalOwner = 0x4C41564Cu;  // the bytes "LVAL"
inline constexpr int kMaxRowsPerPage = 255;

// True for the column types whose values the writer stores.
bool WritableType(uint8_t type);

// An empty data page (type 0x01) of the given owner.
void InitDataPage(const Format& format, uint32_t owner, std::vector<uint8_t>& page);
// The bytes a data page has for rows and their offsets, as its header says.
int DataPageFreeSpace(const Format& format, const std::vector<uint8_t>& page);
// Puts a row below the page's other rows and adds its offset. Returns the row's number,
// or -1 when the page lacks room for it and its offset or already holds 255 rows.
// lowest (when given) keeps where the page's lowest row begins between calls for the
// same page, so that no call reads every offset: 0 before the first.
int AddRowToPage(const Format& format, std::vector<uint8_t>& page, const uint8_t* row, size_t size,
                 int* lowest = nullptr);
// The largest row one LVAL page holds (a page with only that row).
int MaxLongValueRow(const Format& format);

// One usage map (a row of a data page, given by a row pointer) of a database being
// written. The store must outlive it.
// What TableWriter::Append throws when the row itself is refused (a value its column
// cannot take, a key an index holds already, a relationship without its parent), as
// against a file that cannot be read or written.
class RowRefusedError : public TrundleError {
 public:
  using TrundleError::TrundleError;
};

class UsageMapWriter {
 public:
  // where: the message prefix ("PATH is damaged: table T").
  UsageMapWriter(PageStore& store, uint32_t pointer, std::string where);
  // Marks the page (on) or clears its mark. An inline map that cannot reach the page
  // becomes a reference map. Throws TrundleError when the map is damaged or cannot
  // hold the page.
  void Set(uint32_t page, bool on);

 private:
  void Promote(std::vector<uint8_t>& buf, int begin, int size, uint32_t page);

  PageStore& store_;
  uint32_t pointer_;
  std::string where_;
};

struct TableWriterOptions {
  // Opens a system table of the catalogue (MSysObjects, MSysACEs: its exact name) rather
  // than a user table, for a writer that adds catalogue rows, such as table creation.
  bool system_table = false;
  // An empty table's indexes are built by Finish (see above) rather than row by row.
  bool indexes_at_end = true;
};

class TableWriter : private LongValueStore {
 public:
  // Opens a user table of db (read from the file store writes, after its recovery) for
  // appending. Throws TrundleError naming the file, the table and the reason when it
  // refuses: no such table, a sort order other than General, columns of a kind that
  // cannot be written, an index on a Memo or OLE column or of a key we cannot make, an
  // enforced relationship without its index, a damaged definition, usage map, index or
  // data page. Nothing is written by a refusal. store and db must outlive the writer. The table's definition is read
  // from the store, so a batch may create pages and then open a writer that sees them.
  static std::unique_ptr<TableWriter> Open(PageStore& store, const JetDatabase& db,
                                           const std::string& table,
                                           const TableWriterOptions& options = {});
  ~TableWriter() override;

  const TableDef& def() const { return def_; }
  // Rows in the table, those appended in the open batch included.
  uint32_t row_count() const { return row_count_; }

  // Appends one row: values[i] for def().columns[i] (fewer values: Null). An AutoNumber
  // column keeps the number the row gives, the table's counter moving past it when it is
  // higher; a Null (or blank text) takes the counter's next number (a GUID AutoNumber: a
  // new random GUID). values is left holding what was stored for them. Throws
  // TrundleError "column NAME: CAUSE" when a value cannot be stored (the catalogue's
  // Required and AllowZeroLength of each column hold), "index NAME ..." when an index
  // refuses the row's key (the message shows the key's columns and values),
  // "relationship NAME ..." for a foreign key without its parent; the open batch then
  // keeps what it had (Rollback undoes it). Those refusals are RowRefusedError. A failure after the
  // row was placed (a damaged index page) leaves the batch to be rolled back: Flush and Commit
  // refuse it until Rollback.
  void Append(std::vector<Variant>& values);
  // Writes the open batch's pages, row count and counter to the store, leaving the
  // store's batch open: a caller that changes other tables in the same batch (table
  // creation: definition pages, catalogue rows, permission rows) flushes each writer and
  // then commits the store once. A writer whose batch the store rolled back must not be
  // used again except through Rollback.
  void Flush();
  // Flush, then the store's commit.
  void Commit();
  // Undoes the open batch in the store and in this writer.
  void Rollback();
  // For a table whose indexes wait for the end: drops the open batch, builds the indexes
  // from the committed rows' keys and puts them in the table's definition, in one
  // committed batch; the writer then goes on as for a table with indexes. Nothing for
  // other tables. Throws TrundleError naming the file when the pages cannot be written
  // (the batch rolled back: the table stays without its indexes, sound).
  void Finish();
  // True while the table's indexes wait for Finish.
  bool indexes_waiting() const { return deferred_; }
  // Bytes held for the waiting indexes' keys.
  size_t waiting_key_memory() const;
  // Log lines about values stored changed, gathered since the last call.
  std::vector<std::string> TakeNotes();

 private:
  TableWriter(PageStore& store, const JetDatabase& db, const CatalogEntry& entry);
  struct OpenPage;    // a data or LVAL page being filled
  struct LongColumn;  // where one Memo or OLE column's long values go
  struct Index;       // one physical index kept with the rows
  struct ForeignKey;  // an enforced relationship's key, whose parent each row needs

  void Load();
  // Commits the definition without its indexes when the table qualifies (see above).
  void LeaveOutIndexes();
  void CheckRefusals();
  void OpenIndexes(const JetDatabase& db);
  void OpenForeignKeys(const JetDatabase& db);
  // The row's keys from the values as row_ stores them, checked against every index and
  // parent; throws when the row is refused.
  void PrepareKeys();
  std::string KeyText(const PhysicalIndex& index, const TableDef& def,
                      const std::vector<Variant>& values) const;
  void ReadLongColumnMaps();
  void ChooseDataPage();
  // Places bytes on the open page or, when they do not fit, on a new one; returns the
  // row pointer (page << 8 | row).
  uint32_t Place(OpenPage& open, uint32_t owner, UsageMapWriter* used, UsageMapWriter* free,
                 const uint8_t* data, size_t size);
  LongValueRef Store(const ColumnDef& column, const std::string& data) override;
  std::string Where() const;

  PageStore& store_;
  Format format_;
  std::string path_;
  TableDef def_;
  std::unique_ptr<TextCodec> jet3_text_;  // UTF-8 to the database's code page (Jet 3)
  std::unique_ptr<RowEncoder> encoder_;
  std::unique_ptr<UsageMapWriter> used_map_, free_map_;
  std::map<int, std::unique_ptr<LongColumn>> long_columns_;  // by column number
  std::unique_ptr<OpenPage> data_page_;
  uint32_t row_count_ = 0;
  uint32_t last_auto_number_ = 0;       // the TDEF's counter: the last number given
  std::vector<size_t> kept_numbers_;    // the row's AutoNumber columns that kept its number
  std::vector<uint8_t> row_;

  std::unique_ptr<TextCodec> jet3_names_;  // the database's code page to UTF-8 (Jet 3)
  std::vector<std::unique_ptr<Index>> indexes_;
  std::vector<std::unique_ptr<ForeignKey>> foreign_keys_;
  std::vector<size_t> key_columns_;  // the columns (of def_) that keys use
  std::unique_ptr<RowDecoder> key_decoder_;
  std::vector<Variant> stored_;  // the row's key columns as it stores them, by column
  bool must_roll_back_ = false;
  bool deferred_ = false;            // the indexes wait for Finish
  std::vector<uint8_t> keyed_tdef_;  // the definition page as it was, indexes and all
};

}  // namespace trundle::jet
