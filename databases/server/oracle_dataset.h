// A result set of a server, read forwards through ODBC, or a table appended to in
// batches. The counterpart of TQuery for the server kind.
//
//   TOracleDataSet data;
//   data.Session = &session;
//   data.SQL = "select * from orders";
//   data.Open();
//   for (; !data.Eof(); data.Next()) Use(data.Value(0));
//
// A statement of the form "select a.*, a.rowid from TABLE a " opens TABLE for appending:
// Append, SetValue and Post collect records, CommitBatch writes what was collected as
// one transaction and commits it: on PostgreSQL as INSERTs of many rows each, elsewhere
// with ODBC parameter arrays where the driver has them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/variant.h"

namespace trundle {

class TOracleSession;

class TOracleDataSet {
 public:
  TOracleDataSet();
  ~TOracleDataSet();
  TOracleDataSet(const TOracleDataSet&) = delete;
  TOracleDataSet& operator=(const TOracleDataSet&) = delete;

  // Borrowed; must stay logged on while the dataset is open.
  TOracleSession* Session = nullptr;
  std::string SQL;

  // Runs SQL. The record count is the full count, taken before the first record is
  // read without holding the result in memory. Afterwards the fields list the carried
  // columns (a column of a type the dataset does not carry is left out with a note; a
  // column named ROWID is never a field) and the current record is the first. Throws
  // TrundleError with the server's text.
  void Open();
  // Drops records collected and not yet written. Closing a closed dataset does nothing.
  void Close();
  bool Active() const;
  // True when SQL has the appending form.
  bool Updatable() const;

  int64_t RecordCount() const;
  const TFieldDefs& FieldDefs() const;
  int FieldCount() const;
  // REQUIRES: Active() and !Eof(); 0 <= i < FieldCount().
  const Variant& Value(int i) const;
  bool Eof() const;
  // Throws TrundleError when the driver fails.
  void Next();

  // Appending. REQUIRES: Updatable(), else they throw TrundleError. Append starts a
  // record whose fields are all Null; Post adds it to the open batch (and writes the
  // batch once it holds kRecordsPerBatch records).
  void Append();
  void SetValue(int i, const Variant& value);
  void Post();
  // Writes the open batch and commits it. When the server refuses a record, the batch
  // is rolled back and TrundleError names the record's number in the run, the server's
  // text and how many records were committed before it; a RecordRefusedError, with the
  // record's place in the batch, when a value or a constraint was at fault (Post throws
  // the same when the batch it fills is written). A batch the server undid for a passing
  // reason (odbc::UndidTransaction) is rolled back and throws BatchUndoneError, from Post
  // as well when it writes.
  void CommitBatch();
  // Drops the open batch and rolls the transaction back; never throws.
  void RollbackBatch() noexcept;
  int64_t CommittedRecords() const;

  // How the appended records go to the server, settled when the appending SQL opens:
  // INSERTs of many rows each on PostgreSQL (by the server's own name for itself),
  // parameter arrays where the driver says it takes them, otherwise one INSERT a record.
  enum class Insertion : uint8_t { kOneByOne, kArrays, kManyRows };
  // REQUIRES: Updatable().
  Insertion InsertionPath() const;

  // Lines for the log: columns left out, and the like; each once.
  std::vector<std::string> TakeNotes();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trundle
