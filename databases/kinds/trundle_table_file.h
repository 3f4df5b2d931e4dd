// The dBase and Paradox adaptors: one table file read through SQL, or created from a
// source's fields and appended to. One design; the two classes differ in their kind,
// their engine and the type translation they use for an Access source.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "databases/sql/dataset.h"
#include "engine/trundle_record_set.h"

namespace trundle {

class TTrundleTableFile : public TTrundleRecordSet {
 public:
  TTrundleTableFile();
  ~TTrundleTableFile() override;

  // Opens Sql when the file TableName exists; false, with the message, when it does
  // not, when the engine fails, or when the result has no fields. A destination holds
  // the file against other writers from here until SaveTable (or the end of the
  // adaptor), and is refused with the engine's message while another writer holds it;
  // the log also hears of records a killed run left, which the writer drops.
  bool OpenTable() override;
  // Finishes appending (the header claims every record, the file is synced) and logs
  // what did not fit, once per field.
  void SaveTable() override;
  // Creates the table file from the source's fields, then opens it. False without a try
  // when the table exists and OpenTable could not open it for appending.
  bool CreateTable(TTrundleUnknown& source) override;
  // The field list: each stored name with its type and size, one line each.
  bool DescribeNewTable(TTrundleUnknown& source, TNewTable& out) override;
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Matches names as FieldNameMapper does, with the names the table was created from;
  // a name that matches no field is ignored. Throws when a value cannot be converted or
  // the record cannot be stored.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  TFieldDefs SourceFieldDefs(const TextLength& measure_widths) override;
  // The primary key of a keyed table read whole (Sql the table's own statement).
  TIndexDefs SourceIndexDefs() override;

  TQuery& Query() { return *query_; }

 protected:
  // select * from "TableName", the name's double quotes doubled.
  std::string DestinationSql() const override;
  std::vector<std::string> StoredFieldNames() override;
  std::vector<std::string> FieldsMadeFrom(const TRecordBuffer& names,
                                          const std::vector<std::string>& stored) const override;
  virtual const char* EngineName() const = 0;
  // How many leading fields of the file TableName make its primary key (0: none).
  virtual int KeyFields() const { return 0; }

 private:
  TFieldDefs FieldsFrom(TTrundleUnknown& source);
  void SendNotes();

  std::unique_ptr<TQuery> query_;
};

class TTrundleDBase : public TTrundleTableFile {
 public:
  TDataKind GetKind() const override { return dkDBase; }

 protected:
  const char* EngineName() const override { return "dbase"; }
};

class TTrundleParadox : public TTrundleTableFile {
 public:
  TDataKind GetKind() const override { return dkParadox; }

 protected:
  const char* EngineName() const override { return "paradox"; }
  int KeyFields() const override;
};

// Registers the table-file engines and the dBase, Paradox and Access adaptors.
void RegisterDatabaseAdaptors();

}  // namespace trundle
