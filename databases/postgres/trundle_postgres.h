// The PostgreSQL adaptor: a table (or a statement) of a PostgreSQL server as a source,
// and a table of one as a destination, created from the source's fields when missing
// and asked for (CreateMissingTable).
// Database is the location (a postgresql:// URI or a keyword string), TableName the
// table, Sql a source's statement, UserName and Password what to log on with (a password
// left empty is libpq's to find).
//
// As a destination each batch the job commits is one transaction holding one COPY of its
// records: a record the server refuses undoes its batch, and the batches committed before
// it stay. The server names a refused record only when the COPY ends, so the refusal
// (RecordRefusedError) comes from Commit with the record's place in the batch.
#pragma once

#include <memory>

#include "engine/trundle_record_set.h"

namespace trundle {

class PgReader;
class PgWriter;

class TTrundlePostgres : public TTrundleRecordSet {
 public:
  TTrundlePostgres();
  ~TTrundlePostgres() override;

  // A source: connects, opens the cursor and counts its records. A destination (after
  // PrepareDestination): connects and looks for TableName; false (after "Table doesn't
  // exist") when there is none. A server that cannot be reached throws NotOpenedError; any
  // other failure is one message and false.
  bool OpenTable() override;
  void SaveTable() override;
  TDataKind GetKind() const override { return dkPostgres; }
  // With CreateMissingTable, creates TableName from the source's fields and keys, the
  // statement sent to the log before it runs; without it, says so and returns false.
  bool CreateTable(TTrundleUnknown& source) override;
  bool DescribeNewTable(TTrundleUnknown& source, TNewTable& out) override;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void StartTransaction() override;
  void Commit() override;
  void Rollback() override;
  bool RollsBackOpenBatch() const override { return true; }
  bool MayUndoBatch() const override { return true; }
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // A whole table's primary key and indexes (PgReader::Keys); none for a statement, or
  // when the catalogue cannot be read (which is said).
  TIndexDefs SourceIndexDefs() override;

 private:
  bool OpenSource();
  bool OpenDestination();

  std::unique_ptr<PgReader> reader_;
  std::unique_ptr<PgWriter> writer_;
};

}  // namespace trundle
