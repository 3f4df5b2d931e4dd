// The server adaptor (kind dkOracle): reads the result of an SQL statement from a
// database server, or appends records to an existing table of one, through ODBC.
// Oracle is reached through Oracle's ODBC driver; any other server through its own.
// A missing destination table is created only when asked (CreateMissingTable).
#pragma once

#include <memory>

#include "databases/server/oracle_dataset.h"
#include "databases/server/oracle_session.h"
#include "engine/trundle_record_set.h"

namespace trundle {

class TTrundleOracle : public TTrundleRecordSet {
 public:
  TTrundleOracle();
  ~TTrundleOracle() override;

  // Logs on with Database, UserName and Password and opens Sql. False, with the
  // server's text as the message, when either fails; false when the result has no
  // fields. A destination (PrepareDestination called) opens its table by TableName, and
  // a source with no Sql reads the table TableName whole: the name is found in the
  // server's catalogue and quoted, never pasted into the statement as SQL.
  bool OpenTable() override;
  // Logs what did not arrive (names without a field), once per field.
  void SaveTable() override;
  TDataKind GetKind() const override { return dkOracle; }
  // With CreateMissingTable, creates TableName from the source's fields and keys
  // (server_types.h), the statement sent to the log before it runs, and opens it.
  // Without it, sends "Can't create an Oracle table" and returns false.
  bool CreateTable(TTrundleUnknown& source) override;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Appends one record to the open batch, names matched to fields without regard to
  // letter case. Throws when the server refuses the batch this record completes.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  // "SET TRANSACTION READ WRITE" on Oracle; other servers need nothing.
  void StartTransaction() override;
  // Writes the open batch and commits it; throws naming a refused record.
  void Commit() override;
  // Drops the open batch and rolls its transaction back.
  void Rollback() override;
  bool RollsBackOpenBatch() const override { return true; }
  bool MayUndoBatch() const override { return true; }
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // A table read whole (TableName, no Sql): its primary key and unique indexes as the
  // driver's catalogue gives them (server_keys.h), read when it was opened; empty for a
  // statement's result or when the driver cannot tell (said once in the log).
  TIndexDefs SourceIndexDefs() override;

  TOracleDataSet& DataSet() { return *data_set_; }
  TOracleSession& Session() { return *session_; }

 protected:
  // "select a.*, a.rowid from " + TableName + " a " (as the log shows it); the statement
  // opened names the table quoted (see OpenTable).
  std::string DestinationSql() const override;
  std::vector<std::string> StoredFieldNames() override;

 private:
  void SendNotes();
  void ReadKeys();

  std::unique_ptr<TOracleDataSet> data_set_;
  std::unique_ptr<TOracleSession> session_;
  TIndexDefs keys_;  // a source table's, see SourceIndexDefs
};

// Registers TTrundleOracle for dkOracle.
void RegisterServerAdaptor();

}  // namespace trundle
