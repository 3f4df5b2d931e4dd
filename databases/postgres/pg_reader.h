// The PostgreSQL kind's source: a table or view of the search path, or a statement, read
// in a read-only transaction as one COPY TO STDOUT stream (or, for a statement COPY does
// not take, through a cursor a thousand rows at a time), so that a table of any size is
// read in constant memory and the statement can change nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/postgres/pg_connection.h"
#include "databases/postgres/pg_values.h"
#include "engine/field_types.h"
#include "engine/trundle_unknown.h"

namespace trundle {

class PgReader {
 public:
  // Connects and opens the cursor over sql when it is not empty, else over the table
  // named table (any letter case), else the database's only one. Throws NotOpenedError
  // when the server cannot be reached, TrundleError when the table is missing or the
  // server refuses the statement.
  PgReader(const std::string& location, const std::string& user, const std::string& password,
           const std::string& table, const std::string& sql);
  ~PgReader();
  PgReader(const PgReader&) = delete;
  PgReader& operator=(const PgReader&) = delete;

  // The records the statement gives, counted by the server (0 when it cannot count them).
  int64_t Count();
  // The result's fields by their types; a table's NOT NULL columns are required.
  TFieldDefs FieldDefs() const;
  // A whole table's primary key and other indexes (PgIndexes); none for a statement.
  // Throws TrundleError when the catalogue cannot be read.
  TIndexDefs Keys();
  // Fills names and values with the next record; false at the end. Throws TrundleError
  // when the server fails, RangeCheckError for a result wider than the buffers.
  bool Next(TRecordBuffer& names, TRecordBuffer& values);
  int columns() const { return static_cast<int>(names_.size()); }

 private:
  PgTable ChooseTable(const std::string& wanted);
  void Fetch();
  void StartCopy();
  bool NextCopied(TRecordBuffer& names, TRecordBuffer& values);

  PgConnection db_;
  PgTable table_;  // oid 0 for a statement
  std::string sql_;
  std::vector<std::string> names_;
  std::vector<PgColumnKind> kinds_;
  TFieldDefs defs_;
  PgResult rows_;
  int row_ = 0;
  bool done_ = false;
  bool tried_copy_ = false;
  bool copying_ = false;         // the rows come through COPY, not the cursor
  char* line_ = nullptr;         // the COPY row last read, the server library's to free
  std::string unescaped_;        // a field's text with its escapes undone
};

}  // namespace trundle
