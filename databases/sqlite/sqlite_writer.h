// The SQLite kind's destination: records appended to one table of a database file (made
// when missing, as is the table), in transactions the caller opens and commits, through
// one prepared INSERT that is bound again for every record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "databases/sql/sqlite_handles.h"
#include "databases/sqlite/sqlite_values.h"
#include "engine/field_name_mapper.h"
#include "engine/trundle_unknown.h"

namespace trundle {

// The CREATE TABLE statement SqliteWriter::CreateTable runs for these fields and keys,
// with what it decides on the way. Makes nothing; never throws.
struct SqliteNewTable {
  std::string sql;                 // the CREATE TABLE statement
  std::vector<std::string> names;  // each field's column name (FieldN, name_2, ...)
  std::vector<std::string> types;  // its declared type, parallel; empty: none
  std::vector<std::string> notes;  // a line for each name changed or counter not kept
  TIndexDefs other_keys;           // the keys not made the INTEGER PRIMARY KEY
};
SqliteNewTable SqliteCreateTableSql(const std::string& table, const TFieldDefs& fields,
                                    const TIndexDefs& keys);

class SqliteWriter {
 public:
  // Opens the database at path for writing, creating the file when it is missing.
  // Throws NotOpenedError naming it when it cannot be opened or created, or is no
  // database.
  SqliteWriter(const std::string& path, int busy_wait_ms);
  ~SqliteWriter();
  SqliteWriter(const SqliteWriter&) = delete;
  SqliteWriter& operator=(const SqliteWriter&) = delete;

  // True when the constructor made the file.
  bool created_file() const { return created_file_; }
  // Finds the table named table in any letter case (an exact match first) and reads its
  // fields; false when there is none. Throws TrundleError for a view, which takes no
  // records, or when SQLite fails.
  bool FindTable(const std::string& table);
  // Records the table found holds.
  int64_t CountRows();
  // Creates the table from the source's fields, in one statement: each field a column of
  // the type SqliteDeclaredType gives, NOT NULL where the field is required. An empty name
  // becomes FieldN and a name met before (in any letter case) gets "_2", "_3", ...; the
  // lines returned say so. Throws TrundleError naming the file for no fields or what
  // SQLite refuses. keys (the source's primary key and unique indexes) become the table's
  // PRIMARY KEY and UNIQUE constraints, an ftAutoInc field that is the whole primary key
  // an INTEGER PRIMARY KEY AUTOINCREMENT, and indexes that are not unique CREATE INDEX.
  std::vector<std::string> CreateTable(const std::string& table, const TFieldDefs& fields,
                                       const TIndexDefs& keys = {});

  // Opens a transaction that holds the file for writing (BEGIN IMMEDIATE), unless one is
  // open; Commit ends it. Both throw TrundleError naming the file, the busy sentence
  // when another connection held the file past the wait.
  void Begin();
  void Commit();
  // Undoes the open transaction, if any. Never throws.
  void Rollback() noexcept;
  // Appends one record, names matched to fields as FieldNameMapper does; fields no name
  // reaches take their default (NULL when they have none). A record SQLite refuses (a
  // constraint, a value a column cannot take) undoes the open transaction and throws
  // TrundleError naming the record, the field where SQLite says it, and the batch undone.
  // `layout`: the source's NamesLayout (0: unknown, the names are compared).
  void Write(const TRecordBuffer& names, const TRecordBuffer& values, uint64_t layout = 0);
  // One line for each source field that had no field here, with how many values it lost.
  std::vector<std::string> TakeNotes() { return mapper_.TakeNotes(); }
  // Releases the INSERT (the file stays open until the writer goes).
  void Finish();

  const std::string& table() const { return table_; }
  int64_t written() const { return written_; }

 private:
  void ReadColumns();
  void CreateIndexes(const std::string& table, const TIndexDefs& keys, const TFieldDefs& fields,
                     const std::vector<std::string>& names);
  bool SchemaHas(const std::string& name);
  void PrepareInsert(const std::vector<int>& map);
  [[noreturn]] void Refuse(int rc, const TRecordBuffer& values, int source, int column);
  std::string Failed(const std::string& cause) const;
  int FieldNamedIn(const std::string& message) const;

  std::string path_;
  std::string table_;  // as the database names it
  bool created_file_ = false;
  // Declared first so that it is destroyed last: the INSERT is prepared on it.
  SqliteDb db_;
  SqliteStmt insert_;
  std::vector<std::string> names_;         // the table's fields that take values, in order
  std::vector<SqliteColumn> columns_;      // how each takes them
  int rowid_field_ = -1;                   // the INTEGER PRIMARY KEY field, if any
  std::vector<std::string> created_from_;  // source names of the fields CreateTable made
  FieldNameMapper mapper_;
  bool mapper_ready_ = false;
  std::vector<int> insert_map_;  // the mapping insert_ was prepared for
  bool insert_ready_ = false;
  // For each parameter of insert_: the record position it takes and the field it fills.
  std::vector<std::pair<int, int>> params_;
  std::vector<std::array<char, kSqliteBindBuffer>> buffers_;  // one per parameter
  int64_t written_ = 0;                                       // records passed to Write in this run
  int64_t committed_ = 0;                                     // of which the last Commit kept
};

}  // namespace trundle
