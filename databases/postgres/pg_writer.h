// The PostgreSQL kind's destination: records appended to one table, each batch one
// transaction holding one COPY ... FROM STDIN of its records in COPY's text format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "databases/postgres/pg_connection.h"
#include "databases/postgres/pg_values.h"
#include "engine/field_name_mapper.h"
#include "engine/field_types.h"
#include "engine/trundle_unknown.h"

namespace trundle {

class PgWriter {
 public:
  // Connects (PgConnection's rules; throws NotOpenedError).
  PgWriter(const std::string& location, const std::string& user, const std::string& password);
  ~PgWriter();
  PgWriter(const PgWriter&) = delete;
  PgWriter& operator=(const PgWriter&) = delete;

  // Finds the table in the search path in any letter case (PgConnection::Find) and reads
  // its fields; false when there is none. Throws TrundleError for a view.
  bool FindTable(const std::string& table);
  int64_t CountRows();
  // Creates the table in the first schema of the search path from the source's fields
  // (PgDeclaredType; NOT NULL where required; an empty name becomes FieldN, a name met
  // before gets _2, _3, ...) and the source's primary key and unique indexes, passing the
  // statement to on_statement (the log) before it runs. Throws TrundleError.
  void CreateTable(const std::string& table, const TFieldDefs& fields, const TIndexDefs& keys,
                   const std::function<void(const std::string&)>& on_statement);

  // Opens the batch's transaction, unless one is open.
  void Begin();
  // Ends the batch's COPY and commits it. A record the server refused undoes the batch
  // and throws TrundleError naming the record's number in the run and the server's reason:
  // a RecordRefusedError, with the record's place in the batch, when the value or a
  // constraint was at fault (SQLSTATE class 22 or 23) rather than the server. A batch
  // undone by a serialization failure or a deadlock throws BatchUndoneError (Write too,
  // where the server says so while the COPY is under way).
  void Commit();
  // Undoes the open batch. Never throws.
  void Rollback() noexcept;
  // Adds one record to the batch's COPY, names matched as FieldNameMapper does; fields no
  // name reaches take their defaults.
  void Write(const TRecordBuffer& names, const TRecordBuffer& values);
  std::vector<std::string> TakeNotes() { return mapper_.TakeNotes(); }

  const std::string& table() const { return table_.name; }
  const std::string& location() const { return db_.location(); }

 private:
  void ReadColumns();
  void StartCopy(const std::vector<int>& map);
  void Flush();
  void EndCopy();
  void WriteDefaults();
  // line: the refused record's line in the open COPY, 0 to read it from the result.
  [[noreturn]] void Refuse(const PGresult* result, int64_t line = 0);

  PgConnection db_;
  PgTable table_;
  std::vector<std::string> names_;
  std::vector<PgColumnKind> kinds_;
  std::vector<std::string> created_from_;
  FieldNameMapper mapper_;
  bool mapper_ready_ = false;
  bool in_transaction_ = false;
  bool copying_ = false;
  std::vector<int> copy_map_;                 // the mapping the open COPY was started for
  std::vector<std::pair<int, int>> columns_;  // record position, field, of each COPY column
  int64_t copy_first_ = 0;                    // run number of the open COPY's first record
  std::string buffer_;                        // lines not yet sent
  int64_t written_ = 0;
  int64_t committed_ = 0;
};

}  // namespace trundle
