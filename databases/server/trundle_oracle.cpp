#include "databases/server/trundle_oracle.h"

#include <climits>
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
  SendMessage("Reading from table");
  mapper_ready_ = false;
  created_from_.clear();
  try {
    data_set_->Close();
    session_->LogonDatabase = Database;
    session_->LogonUsername = UserName;
    session_->LogonPassword = Password;
    session_->LogOn();
    // A destination's table name is data: the statement names it as the server spells it.
    // So is a source's table read whole when no statement was given.
    if (destination_)
      data_set_->SQL = "select a.*, a.rowid from " + session_->QuotedTableName(TableName) + " a ";
    else if (Sql.empty() && !TableName.empty())
      data_set_->SQL = "select * from " + session_->QuotedTableName(TableName);
    else
      data_set_->SQL = Sql;
    keys_.clear();
    if (!destination_ && Sql.empty() && !TableName.empty()) ReadKeys();
    data_set_->Open();
    SendNotes();
    const int64_t count = data_set_->RecordCount();
    // Records wider than the job's buffers could not be handed on whole: refused before
    // the destination is touched.
    if (!destination_ && count > 0 && data_set_->FieldCount() > kRecordBufferSize)
      throw TooManyFieldsError("The statement " + ShownInLog(data_set_->SQL),
                               data_set_->FieldCount(), kRecordBufferSize);
    SendMessage(std::to_string(count) + " records read");
    RecordCount = count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
    return data_set_->FieldCount() > 0;
  } catch (const std::exception& e) {
    SendMessage(session_->Scrub(e.what()));
    return false;
  }
}

void TTrundleOracle::PrepareDestination() {
  Sql = "select a.*, a.rowid from " + TableName + " a ";
  destination_ = true;
}

void TTrundleOracle::SaveTable() {
  SendNotes();
  for (const std::string& note : mapper_.TakeNotes()) SendMessage(note);
}

bool TTrundleOracle::CreateTable(TTrundleUnknown& source) {
  // A server's tables belong to its owners: one is made only when the run asks for it.
  if (!CreateMissingTable || !destination_) {
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
    created_from_.clear();
    for (const TFieldDef& field : fields) created_from_.push_back(field.Name);
    mapper_ready_ = false;
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
  ClearFilledBuffers(names, values);
  if (!data_set_->Active() || data_set_->Eof()) return false;
  const int fields = data_set_->FieldCount();
  if (fields > static_cast<int>(names.size()) || fields > static_cast<int>(values.size()))
    throw TrundleError(kRangeCheckError);
  FilledUpTo(fields);
  const TFieldDefs& defs = data_set_->FieldDefs();
  for (int i = 0; i < fields; ++i) {
    names[i].SetString(defs[i].Name);
    values[i] = data_set_->Value(i);
  }
  data_set_->Next();
  return true;
}

bool TTrundleOracle::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!mapper_ready_) {
    std::vector<std::string> stored;
    for (const TFieldDef& def : data_set_->FieldDefs()) stored.push_back(def.Name);
    mapper_.SetDestination(std::move(stored), created_from_);
    mapper_ready_ = true;
  }
  data_set_->Append();
  const std::vector<int>& map = mapper_.Map(names, values, false, NamesFilled());
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] >= 0 && i < values.size()) data_set_->SetValue(map[i], values[i]);
  data_set_->Post();
  return true;
}

void TTrundleOracle::StartTransaction() {
  if (session_->Connected()) session_->SetTransaction("READ WRITE");
}

void TTrundleOracle::Commit() { data_set_->CommitBatch(); }

void TTrundleOracle::Rollback() { data_set_->RollbackBatch(); }

TFieldDefs TTrundleOracle::SourceFieldDefs(const TextLength& /*measure_widths*/) {
  if (!data_set_->Active()) return {};
  return data_set_->FieldDefs();
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

void TTrundleOracle::SendNotes() {
  for (const std::string& note : data_set_->TakeNotes()) SendMessage(note);
}

void RegisterServerAdaptor() {
  RegisterAdaptor(dkOracle, [] { return std::make_unique<TTrundleOracle>(); });
}

}  // namespace trundle
