// The Access adaptor: a table of an Access database file read through SQL (the DAO layer
// of dao.h over our own Jet reader). As a destination it opens an existing table and
// counts it; writing to Access databases is not available yet, and says so.
#pragma once

#include <memory>
#include <string>

#include "databases/access/dao.h"
#include "engine/trundle_unknown.h"

namespace trundle {

// "select * from [NAME]": the statement proposed for a whole table, the name bracketed so
// that names with spaces work (in double quotes when it holds a ']').
std::string AccessTableSql(const std::string& table);

class TTrundleAccess : public TTrundleUnknown {
 public:
  TTrundleAccess();
  ~TTrundleAccess() override;

  // Connects on the first call (Database, Password, DaoVersion: "dao35" or "dao36" in
  // any letter case, anything else DAO 3.5), checks that TableName is a user table (any
  // letter case), runs Sql and counts its records. False, with one message, when the
  // file or the table does not exist or anything fails; the connection then stays as it
  // was.
  bool OpenTable() override;
  // Sql := AccessTableSql(TableName).
  void PrepareDestination() override;
  void SaveTable() override {}
  TDataKind GetKind() const override { return dkAccess; }
  // Creates nothing: says that writing to Access databases is not available yet and
  // returns false.
  bool CreateTable(TTrundleUnknown& source) override;
  // The current record, then moves on. A read error or a result wider than the buffers
  // ("Range check error") is sent as a message and ends the reading with false.
  bool ReadRecord(TRecordBuffer& names, TRecordBuffer& values) override;
  // Throws TrundleError: writing to Access databases is not available yet.
  bool WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) override;
  void StartTransaction() override;
  void Commit() override;
  TFieldDefs SourceFieldDefs(bool measure_widths) override;

 private:
  void SendNotes();

  // Declared first so that it is destroyed last: the query reads through it.
  std::unique_ptr<TDAODatabase> database_;
  std::unique_ptr<TDAOQuery> query_;
};

// Registers TTrundleAccess for dkAccess.
void RegisterAccessAdaptor();

}  // namespace trundle
