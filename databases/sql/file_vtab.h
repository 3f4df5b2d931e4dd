// A SQLite virtual table over one table, read through a TableFileReader: a table file
// of any engine, or a table inside a database. One module serves them all.
//
//   CREATE VIRTUAL TABLE temp."/data/cust.dbf" USING trundle_file(1);
//
// The only argument is the key of an entry in the connection's FileTableCatalog, which
// holds how to open the table's readers: paths and table names may hold commas, quotes
// and parentheses that module arguments cannot carry intact. Read-only; every scan is a
// full scan in the table's order. Columns are declared with the types of sql_types.h.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "databases/core/table_file.h"
#include "engine/tick.h"

namespace trundle {

inline constexpr char kFileTableModule[] = "trundle_file";

// Opens a new reader at the table's first record. Throws TrundleError naming the table.
using TableReaderOpener = std::function<std::unique_ptr<TableFileReader>()>;

struct FileTableSource {
  std::string name;        // for messages: a file's absolute path, "Orders in /data/shop.mdb"
  TableReaderOpener open;  // called for the first cursor and for each one running at once
};

struct FileVtab;

// The sources of one connection's virtual tables, and the notes of their readers.
class FileTableCatalog {
 public:
  FileTableCatalog();
  ~FileTableCatalog();
  FileTableCatalog(const FileTableCatalog&) = delete;
  FileTableCatalog& operator=(const FileTableCatalog&) = delete;

  // Returns the key to pass as the module's argument.
  int Add(FileTableSource source);
  // nullptr for a key Add did not return.
  const FileTableSource* Find(int key) const;
  // The notes of every reader opened so far, in order, without repeats.
  std::vector<std::string> TakeNotes();
  // Stepped while a lookup index is built; true from it abandons the index (the scan
  // then reads the table straight through).
  void SetTick(TTrundleTickEvent tick) { tick_ = std::move(tick); }
  const TTrundleTickEvent& tick() const { return tick_; }

  // For the module: the tables alive, and the notes of those gone.
  void AddTable(FileVtab* table);
  void DropTable(FileVtab* table);

 private:
  std::vector<FileTableSource> sources_;
  std::vector<FileVtab*> tables_;   // borrowed; each removed by DropTable before it dies
  std::vector<std::string> notes_;  // taken from tables already dropped
  TTrundleTickEvent tick_;
};

// Registers the module on db. REQUIRES: catalog outlives db. Throws TrundleError.
void RegisterFileTableModule(sqlite3* db, FileTableCatalog* catalog);

}  // namespace trundle
