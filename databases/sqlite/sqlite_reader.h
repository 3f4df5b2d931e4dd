// The SQLite kind's source: one read-only statement over a database file, either a whole
// table or any statement SQLite runs that only reads (joins, GROUP BY, window functions,
// views, pragmas that describe). The file stays byte for byte as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "databases/sql/sqlite_handles.h"
#include "databases/sqlite/sqlite_file.h"
#include "databases/sqlite/sqlite_guard.h"
#include "databases/sqlite/sqlite_values.h"
#include "engine/tick.h"
#include "engine/trundle_unknown.h"

namespace trundle {

class SqliteReader {
 public:
  // Opens path read-only and prepares the statement: sql when it is not empty, else the
  // whole of the table or view named table (any letter case), else of the database's
  // only one. Throws TrundleError naming the file when it is missing, no database, has
  // no such table or more than one to choose from, or refuses the statement
  // (SqliteSourceGuard). on_tick is stepped while a long statement runs; when it says
  // stop, the running call throws StopRequestedError.
  SqliteReader(const std::string& path, const std::string& table, const std::string& sql,
               TTrundleTickEvent on_tick, int busy_wait_ms);
  ~SqliteReader();
  SqliteReader(const SqliteReader&) = delete;
  SqliteReader& operator=(const SqliteReader&) = delete;

  // The records the statement gives, by a run of its own (a table's by count(*)); the
  // next Next starts from the first record again.
  int64_t Count();
  // The result's fields, typed by their declared types and, where a column has none,
  // by its first value that is not NULL. Required where a table's column is NOT NULL.
  // With measure_widths, text fields are ftString as wide as the longest value (at
  // least 1 and the declared width), by a run of their own.
  TFieldDefs FieldDefs(const TextLength& measure_widths);
  // Fills names and values with the next record (the first columns() elements); false at
  // the end. Throws TrundleError naming the file when SQLite fails (a damaged page, a
  // busy file) and a range check error for a result wider than the buffers.
  bool Next(TRecordBuffer& names, TRecordBuffer& values);
  int columns() const { return static_cast<int>(names_.size()); }
  // The table's primary key, then its other indexes over plain fields, unique or not
  // (SqliteIndexes), for a destination that makes a table like it; none for a statement.
  // Throws TrundleError naming the file when the schema cannot be read.
  TIndexDefs Keys();
  // The table read, as the database names it; empty for a statement.
  const std::string& table() const { return table_; }

 private:
  std::string ChooseTable(const std::string& wanted);
  // A fresh copy of the statement, for a run of its own.
  SqliteStmt Copy();
  int Step(sqlite3_stmt* stmt);
  void TypeByValues(TFieldDefs& defs, const TextLength& measure_widths);
  void MarkRequired(TFieldDefs& defs);
  static int OnProgress(void* self);

  std::string path_;
  SqliteSourceMark mark_;  // a destination of this run does not wait for this reader
  std::string table_;
  TTrundleTickEvent on_tick_;
  TickCounter ticks_;
  bool stop_requested_ = false;  // on_tick_ said stop inside a statement
  bool done_ = false;            // Next reached the end of the statement's records
  // Declared in the order they are built; destroyed the other way round, the statement
  // before the guard before the connection.
  SqliteDb db_;
  std::unique_ptr<SqliteSourceGuard> guard_;
  SqliteStmt stmt_;
  std::vector<std::string> names_;     // the result's column names
  std::vector<SqliteColumn> columns_;  // how each column's values are read
  std::string scratch_;                // for reading dates
};

}  // namespace trundle
