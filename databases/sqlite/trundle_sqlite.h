// The SQLite adaptor: a table (or a read-only statement) of a SQLite database file as a
// source, and a table of one as a destination, the file and the table made when
// missing. Database is the file's path, TableName the table's name, Sql a source's
// statement (empty: the whole table, or the database's only one).
//
// As a destination it appends in the batches the job commits, each one SQLite
// transaction in the file's own journal mode, so that a run killed at any moment leaves
// the file sound with whole batches, and the next run appends after them.
#pragma once

#include <memory>
#include <string>

#include "databases/sqlite/sqlite_file.h"
#include "engine/trundle_record_set.h"

namespace trundle {

class SqliteReader;
class SqliteWriter;

class TTrundleSqlite : public TTrundleRecordSet {
 public:
  TTrundleSqlite();
  ~TTrundleSqlite() override;

  // A source: opens Database read-only, prepares Sql (or the table's whole, TableName in
  // any letter case) and counts its records. False with one message when the file or
  // the table does not exist, the statement would change the file, or anything fails.
  // A destination (after PrepareDestination): opens Database, creating the file when it
  // is missing, and looks for TableName in any letter case: false (after "Table doesn't
  // exist") when there is none. A file that cannot be opened or created throws
  // NotOpenedError; a view, or a file busy past the wait, is refused with one message,
  // false, and CreateTable says nothing more.
  bool OpenTable() override;
  // Logs the source fields that had no field in the table, and releases the table.
  void SaveTable() override;
  TDataKind GetKind() const override { return dkSqlite; }
  // Creates TableName from the source's fields (sqlite_values.h gives the types; required
  // fields are NOT NULL), then opens it. A failure is one message and false, and a
  // database file this run made is removed again.
  bool CreateTable(TTrundleUnknown& source) override;
  bool DescribeNewTable(TTrundleUnknown& source, TNewTable& out) override;
  // The next record of the statement. A SQLite error (a damaged file, a result wider
  // than the buffers) is sent as a message and ends the reading with false; a stop asked
  // for during a long statement throws StopRequestedError.
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Appends one record to the open batch (sqlite_writer.h). A record SQLite refuses
  // throws TrundleError naming the record's number, the field and the cause; the open
  // batch is already undone then.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void StartTransaction() override;
  void Commit() override;
  // Undoes the open batch: the file keeps what the last Commit wrote.
  void Rollback() override;
  bool RollsBackOpenBatch() const override { return true; }
  // The fields of the source's statement (SqliteReader::FieldDefs).
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // A whole table's primary key and indexes (SqliteReader::Keys); none for a statement, or when it
  // cannot be read.
  TIndexDefs SourceIndexDefs() override;

  // How long a database another program holds is waited for before it is reported.
  int BusyWaitMs = kSqliteBusyWaitMs;

 protected:
  // SqliteTableSql(TableName).
  std::string DestinationSql() const override;

 private:
  bool OpenSource();
  bool OpenDestination();
  bool ReadyDestination();
  void RemoveCreatedFile();

  std::unique_ptr<SqliteReader> reader_;
  std::unique_ptr<SqliteWriter> writer_;
};

}  // namespace trundle
