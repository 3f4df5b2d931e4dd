#include "databases/server/trundle_oracle.h"

#include <optional>

#include "databases/server/server_keys.h"
#include "databases/server/server_types.h"
#include "engine/adaptor_registry.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {

TTrundleOracle::TTrundleOracle()
    : data_set_(std::make_unique<TOracleDataSet>()), session_(std::make_unique<TOracleSession>()) {
  data_set_->Session = session_.get();
}

TTrundleOracle::~TTrundleOracle() {
  data_set_.reset();
  session_.reset();
}

bool TTrundleOracle::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  SendMessage("Reading from table");
  ForgetFieldMap();
  ForgetCreatedFrom();
  try {
    data_set_->Close();
    session_->LogonDatabase = Database;
    session_->LogonUsername = UserName;
    session_->LogonPassword = Password;
    session_->LogOn();
    // A destination's table name is data: the statement names it as the server spells it.
    // So is a source's table read whole when no statement was given.
    if (IsDestination())
      data_set_->SQL = "select a.*, a.rowid from " + session_->QuotedTableName(TableName) + " a ";
    else if (Sql.empty() && !TableName.empty())
      data_set_->SQL = "select * from " + session_->QuotedTableName(TableName);
    else
      data_set_->SQL = Sql;
    keys_.clear();
    if (!IsDestination() && Sql.empty() && !TableName.empty()) ReadKeys();
    data_set_->Open();
    SendNotes();
    CountRecordsRead(data_set_->RecordCount(), data_set_->FieldCount(),
                     "The statement " + ShownInLog(data_set_->SQL));
    return data_set_->FieldCount() > 0;
  } catch (const std::exception& e) {
    SendMessage(session_->Scrub(e.what()));
    return false;
  }
}

std::string TTrundleOracle::DestinationSql() const {
  return "select a.*, a.rowid from " + TableName + " a ";
}

void TTrundleOracle::SaveTable() {
  SendNotes();
  SendFieldNotes();
}

bool TTrundleOracle::CreateTable(TTrundleUnknown& source) {
  // A server's tables belong to its owners: one is made only when the run asks for it.
  if (!CreateMissingTable || !IsDestination()) {
    SendMessage("Can't create an Oracle table");
    return false;
  }
  if (!session_->Connected()) {
    SendMessage("The table " + TableName + " cannot be created: the log on failed");
    return false;
  }
  SendMessage("Creating table");
  try {
    // The failed look for the table may have spoilt the open transaction (PostgreSQL).
    session_->Rollback();
    std::vector<std::string> names;
    const TFieldDefs fields = source.SourceFieldDefs(nullptr);
    if (fields.empty())
      throw TrundleError("The table " + TableName + " cannot be created: the source has no fields");
    const std::string sql =
        CreateTableSql(*session_, TableName, fields, source.SourceIndexDefs(), names);
    SendMessage(sql);
    session_->ExecuteDirect(sql);
    session_->Commit();
    data_set_->SQL = "select a.*, a.rowid from " + session_->QuotedTableName(TableName) + " a ";
    data_set_->Open();
    SendNotes();
    // Source fields renamed on the way (no name, a name met before) still reach theirs.
    SetCreatedFrom(fields);
    ForgetFieldMap();
    SendMessage("Table created");
    return true;
  } catch (const std::exception& e) {
    SendMessage(session_->Scrub(e.what()));
    try {
      session_->Rollback();
    } catch (const std::exception&) {
      // Logging off rolls back as well.
    }
  }
  return false;
}

bool TTrundleOracle::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  return ReadDataSetRow(*data_set_, names, values,
                        [](int) { throw TrundleError(kRangeCheckError); });
}

bool TTrundleOracle::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  data_set_->Append();
  const std::vector<int>& map = MapFields(names, values);
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] >= 0 && i < values.size()) data_set_->SetValue(map[i], values[i]);
  data_set_->Post();
  return true;
}

std::vector<std::string> TTrundleOracle::StoredFieldNames() {
  std::vector<std::string> stored;
  for (const TFieldDef& def : data_set_->FieldDefs()) stored.push_back(def.Name);
  return stored;
}

void TTrundleOracle::StartTransaction() {
  if (session_->Connected()) session_->SetTransaction("READ WRITE");
}

void TTrundleOracle::Commit() { data_set_->CommitBatch(); }

void TTrundleOracle::Rollback() { data_set_->RollbackBatch(); }

TFieldDefs TTrundleOracle::SourceFieldDefs(const TextLength& /*measure_widths*/) {
  return DataSetFields(*data_set_);
}

TIndexDefs TTrundleOracle::SourceIndexDefs() { return keys_; }

void TTrundleOracle::ReadKeys() {
  // Read before the records are, while no result is open on the connection.
  try {
    std::optional<TIndexDefs> keys = ReadServerKeys(*session_, TableName);
    if (keys)
      keys_ = std::move(*keys);
    else if (FirstTimeToldOf("keys " + session_->DbmsName()))
      SendMessage("The keys of " + session_->DbmsName() +
                  " tables cannot be read through its ODBC driver (it has no SQLPrimaryKeys "
                  "or SQLStatistics): tables made from them get none");
  } catch (const TrundleError& e) {
    SendMessage(session_->Scrub(e.what()) + ": the table is copied without its keys");
  }
}

void TTrundleOracle::SendNotes() { SendLines(data_set_->TakeNotes()); }

void RegisterServerAdaptor() {
  RegisterAdaptor(dkOracle, [] { return std::make_unique<TTrundleOracle>(); });
}

}  // namespace trundle
