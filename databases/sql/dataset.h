// The dataset model over table files: TQuery opens SQL text, lists its fields in
// select-list order with their types, reads forwards one record at a time and, for a
// plain whole-table select, appends records.
//
//   TQuery q;
//   q.SQL = "select NAME, sum(AMOUNT) from \"/data/orders.dbf\" group by NAME";
//   q.Open();
//   for (; !q.Eof(); q.Next()) Use(q.Value(0), q.Value(1));
//
// SQL runs in SQLite. Every table a statement names that SQLite does not know is looked
// for as a table file: a path as written ("/data/cust.dbf", [sub/cust.dbf] from the
// current folder, else from BaseFolder), a name that is not a path in BaseFolder, a name without
// extension with each engine's extension. Each file found is exposed as a virtual table under that
// very name, so the user's SQL runs unchanged. A whole-table select ("select * from \"x.dbf\"")
// does not go through SQLite at all: it reads the file directly, its RecordCount is the header's,
// and it can append.
//
// Values come back as the variants of the file's field types: a date as a date-time, a
// currency as currency, a logical as a Boolean, a blob as a blob, text as UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "databases/core/field_types.h"
#include "databases/core/table_file.h"
#include "engine/tick.h"
#include "engine/variant.h"

namespace trundle {

class TQuery {
 public:
  TQuery();
  ~TQuery();
  TQuery(const TQuery&) = delete;
  TQuery& operator=(const TQuery&) = delete;

  std::string SQL;
  bool RequestLive = true;  // a whole-table select may be appended to
  // Set by a destination before Open: a whole-table select then opens its writer before
  // it reads the table, so that the file is held against other writers from the start
  // (Open throws BeingWrittenError when another holds it) and the count read is the one
  // appended to.
  bool AppendFromOpen = false;
  std::string BaseFolder;   // where names that are not paths are looked for
  // A table file and the engine ("dbase", "paradox") the user chose for it by its kind:
  // wherever SQL names this file, that engine opens it, whatever its extension (or none)
  // would propose. Empty: every file goes by its extension.
  std::string KindFile;
  std::string KindEngine;
  TableReadOptions read_options;
  TableWriteOptions write_options;
  // Stepped while SQL runs and counts (SqlQuery): a true ends Open or RecordCount with
  // StopRequestedError. Set before Open.
  TTrundleTickEvent OnTick;

  // Runs SQL. Afterwards the fields list the result's columns and the current record
  // is the first (Eof() already true when there is none). Throws TrundleError with the
  // engine's message (SQLite's, or the file engine's naming the file).
  void Open();
  // Closes (and finishes any appending). Closing a closed query does nothing.
  void Close();
  bool Active() const;

  // Records of the open result: the header's count for a whole-table select, else
  // counted by a pass of its own that holds nothing in memory.
  int64_t RecordCount();
  const TFieldDefs& FieldDefs() const;
  int FieldCount() const;
  // Field by name: exact match first, then ignoring letter case; -1 when none.
  int FieldIndex(const std::string& name) const;

  // REQUIRES: Active() and !Eof(); 0 <= i < FieldCount().
  const Variant& Value(int i) const;
  bool Eof() const;
  void Next();
  // Back to the first record.
  void First();

  // Appending. REQUIRES: a whole-table select opened with RequestLive, else throws
  // TrundleError "The query is read-only ...". Append starts an empty record; SetValue
  // assigns (converted on Post to the field's type); Post stores it and throws when the
  // value cannot be converted. Records are flushed to the file every 1000 posts and on
  // Close.
  void Append();
  void SetValue(int i, const Variant& value);
  void Post();

  // Log lines from the file engines: values cut to fit, text the code page could not
  // hold, and the like; each once.
  std::vector<std::string> TakeNotes();
  // Log lines about what opening the writer put right in the file (records a killed run
  // left after the counted ones, dropped: TableFileWriter::TakeRepairs); each once.
  std::vector<std::string> TakeRepairs();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trundle
