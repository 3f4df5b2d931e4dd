// The Access adaptor: a table of an Access database file read through SQL (the DAO layer
// of dao.h over our own Jet reader). As a destination it appends records to a table in
// batches, each one journalled write of the file, and creates the table from the
// source's fields when it does not exist.
#pragma once

#include <memory>
#include <string>

#include "databases/access/dao.h"
#include "engine/codepage.h"
#include "engine/trundle_record_set.h"

namespace trundle {

// "select * from [NAME]": the statement proposed for a whole table, the name bracketed so
// that names with spaces work (in double quotes when it holds a ']').
std::string AccessTableSql(const std::string& table);

class TTrundleAccess : public TTrundleRecordSet {
 public:
  TTrundleAccess();
  ~TTrundleAccess() override;

  // Connects on the first call (Database, Password, DaoVersion: "dao35" or "dao36" in
  // any letter case, anything else DAO 3.5), checks that TableName is a user table (any
  // letter case), runs Sql and counts its records. False, with one message, when the
  // file or the table does not exist or anything fails; the connection then stays as it
  // was.
  bool OpenTable() override;
  // As a destination OpenTable also opens the table for appending: a table that cannot
  // take records (an index on a Memo field, a file another program holds...)
  // is refused with its reason as the message, and false.
  // Logs what did not arrive (names without a field) and values stored changed.
  void SaveTable() override;
  TDataKind GetKind() const override { return dkAccess; }
  // Defines the table from the source's fields (access_fields.h: names Access cannot
  // store are changed and each change logged), creates it, then opens it. Any failure
  // (the table exists, a field name repeated or empty, no fields, ...) is sent as the
  // engine's message and gives false with nothing created. Nothing more is said after a
  // table OpenTable refused.
  bool CreateTable(TTrundleUnknown& source) override;
  // The current record, then moves on. A read error or a result wider than the buffers
  // ("Range check error") is sent as a message and ends the reading with false.
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Appends one record to the open batch, names matched to fields exactly, else without
  // regard to letter case. A value a field cannot take throws TrundleError naming the
  // record's number, the field and the cause (the job then rolls the batch back).
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void StartTransaction() override;
  // Writes the open batch to the disk.
  void Commit() override;
  // Drops the open batch: the file keeps what the last Commit wrote.
  void Rollback() override;
  bool RollsBackOpenBatch() const override { return true; }
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // The table's primary key and its other indexes, unique or not (foreign-key indexes
  // left out), when the statement is the table's own (select * from [TABLE]).
  TIndexDefs SourceIndexDefs() override;

 protected:
  // AccessTableSql(TableName).
  std::string DestinationSql() const override;
  std::vector<std::string> StoredFieldNames() override;
  std::vector<std::string> FieldsMadeFrom(const TRecordBuffer& names,
                                          const std::vector<std::string>& stored) const override;

 private:
  void SendNotes();
  void SendAppendNotes();
  // The message for indexes that EndAppend could not build, with its cause.
  std::string IndexesNotBuilt(const std::string& cause) const;
  bool OpenAppend(const std::string& table);
  std::unique_ptr<TextCodec> Jet3Names() const;

  // Declared first so that it is destroyed last: the query reads through it.
  std::unique_ptr<TDAODatabase> database_;
  std::unique_ptr<TDAOQuery> query_;
  std::string append_table_;  // the table OpenAppend took, as stored
  std::vector<Variant> row_;
};

// Registers TTrundleAccess for dkAccess.
void RegisterAccessAdaptor();

}  // namespace trundle
