// One SQL statement run over table files or the tables of a database: its own in-memory
// SQLite connection, in which every table the statement names that SQLite does not know
// is looked up through a TableResolver (table files in a folder, by default) and exposed
// under that very name as a file_vtab.h virtual table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "databases/core/field_types.h"
#include "databases/sql/file_vtab.h"
#include "databases/sql/sqlite_handles.h"
#include "databases/sql/table_resolver.h"
#include "databases/core/table_file.h"
#include "engine/tick.h"
#include "engine/variant.h"

namespace trundle {

inline constexpr char kStatementChangesData[] =
    "This statement would change data; only queries can be a source";

class SqlQuery {
 public:
  // Prepares sql (exactly one statement) and steps to its first row. Names that are not
  // paths are looked for in base_folder (table_names.h). Throws TrundleError with SQLite's
  // message, the file engine's message, or for a missing table SQLite's message followed
  // by where it was looked for. A statement that could change anything (a write, ATTACH,
  // DETACH, VACUUM, a PRAGMA that sets) is refused before it runs, with
  // kStatementChangesData.
  //
  // `tick` is called every few thousand steps of SQLite's machine and while a lookup index
  // is built, for as long as the query lives. While the constructor or Count runs, a true
  // from it ends them with StopRequestedError; during Next it is not acted on (the caller
  // stops between rows).
  SqlQuery(const std::string& sql, const std::string& base_folder, const TableReadOptions& options,
           TTrundleTickEvent tick = {});
  // The same over the tables `tables` finds (a database's, say); a missing table's
  // message is SQLite's followed by the resolver's account of where it looked.
  SqlQuery(const std::string& sql, std::shared_ptr<const TableResolver> tables,
           TTrundleTickEvent tick = {});
  ~SqlQuery();
  SqlQuery(const SqlQuery&) = delete;
  SqlQuery& operator=(const SqlQuery&) = delete;

  // The result's columns: names as SQLite gives them, types from the declared types of
  // file columns, else from the storage class of the first row's value.
  const TFieldDefs& fields() const { return fields_; }
  bool AtEnd() const { return at_end_; }
  // The current row. REQUIRES: !AtEnd().
  const std::vector<Variant>& row() const { return row_; }
  // Steps on; at the end AtEnd() turns true. Throws TrundleError.
  void Next();
  // Runs the statement again from its first row. Throws TrundleError.
  void First();
  // The number of rows, counted once by a statement of its own that keeps no rows.
  int64_t Count();
  std::vector<std::string> TakeNotes() { return catalog_.TakeNotes(); }

 private:
  // Runs the program's own statements (exposing tables), which the authorizer lets by.
  void Exec(const std::string& sql);
  static int Authorize(void* self, int action, const char* arg1, const char* arg2,
                       const char* database, const char* trigger);
  // SQLite's progress handler: calls tick_; non-zero interrupts the statement.
  static int OnVmSteps(void* self);
  [[noreturn]] void ThrowSqliteError();
  SqliteStmt Prepare(const std::string& sql, const char** tail);
  SqliteStmt PrepareResolvingTables(const std::string& sql);
  void ExposeTable(const std::string& missing, const std::string& message);
  void Describe();
  void Step();

  std::shared_ptr<const TableResolver> tables_;
  FileTableCatalog catalog_;  // declared before db_: the tables use it until closed
  SqliteDb db_;
  SqliteStmt stmt_;                 // declared after db_: finalized first
  std::set<std::string> exposed_;   // missing-table names already given a file
  std::set<std::string> attached_;  // schemas attached for bare dotted names
  TFieldDefs fields_;
  std::vector<TFieldType> read_as_;  // per column, how ReadColumnValue reads it
  std::vector<Variant> row_;
  bool at_end_ = true;
  bool own_statement_ = false;  // Exec is running a statement of the program's own
  bool denied_ = false;         // the authorizer refused part of the user's statement
  TTrundleTickEvent tick_;
  bool stoppable_ = false;  // a stop from tick_ may interrupt what runs now
  bool stopped_ = false;    // it did
  std::optional<int64_t> count_;
};

}  // namespace trundle
