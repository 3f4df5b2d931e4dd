// A SQLite virtual table over one table file, read through its engine's reader. One
// module serves every engine.
//
//   CREATE VIRTUAL TABLE temp."/data/cust.dbf" USING trundle_file(1);
//
// The only argument is the key of an entry in the connection's FileTableCatalog, which
// names the engine, the file and the read options: paths may hold commas, quotes and
// parentheses that module arguments cannot carry intact. Read-only; every scan is a full
// scan in file order. Columns are declared with the types of sql_types.h.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "databases/table_file.h"

namespace trundle {

inline constexpr char kFileTableModule[] = "trundle_file";

struct FileTableSource {
  std::string engine_name;  // a registered TableEngine's name
  std::string path;         // absolute path of the table file
  TableReadOptions options;
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

  // For the module: the tables alive, and the notes of those gone.
  void AddTable(FileVtab* table);
  void DropTable(FileVtab* table);

 private:
  std::vector<FileTableSource> sources_;
  std::vector<FileVtab*> tables_;   // borrowed; each removed by DropTable before it dies
  std::vector<std::string> notes_;  // taken from tables already dropped
};

// Registers the module on db. REQUIRES: catalog outlives db. Throws TrundleError.
void RegisterFileTableModule(sqlite3* db, FileTableCatalog* catalog);

}  // namespace trundle
