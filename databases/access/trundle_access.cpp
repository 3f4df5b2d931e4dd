#include "databases/access/trundle_access.h"

#include <sys/stat.h>

#include <vector>

#include "databases/access/access_fields.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/sql/table_names.h"
#include "engine/adaptor_registry.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

// Letter case of ASCII letters only, as the table name check has always compared.
std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

}  // namespace

// UTF-8 to the code page of a Jet 3 database's text (its header's; CP1252 where iconv does
// not know that one).
std::unique_ptr<TextCodec> TTrundleAccess::Jet3Names() const {
  const int code_page = database_->Jet()->code_page();
  try {
    if (code_page > 0) return TextCodec::FromUtf8To("CP" + std::to_string(code_page));
  } catch (const TrundleError&) {
    // The format's usual code page, below.
  }
  return TextCodec::FromUtf8To("CP1252");
}

std::string AccessTableSql(const std::string& table) {
  if (table.find(']') != std::string::npos) return "select * from " + QuoteSqlName(table);
  return "select * from [" + table + "]";
}

TTrundleAccess::TTrundleAccess()
    : database_(std::make_unique<TDAODatabase>()),
      query_(std::make_unique<TDAOQuery>(*database_)) {}

TTrundleAccess::~TTrundleAccess() {
  query_.reset();
  database_.reset();
}

bool TTrundleAccess::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  SendMessage("Reading from table");
  try {
    query_->Close();
    if (!FileExists(Database)) {
      SendMessage("Database doesn't exist");
      return false;
    }
    if (!database_->Connected()) {
      database_->DatabaseName = Database;
      database_->Password = Password;
      if (const std::optional<int> version = DaoVersionFromName(DaoVersion))
        database_->DAOVersion = *version;
      database_->Open();
    }
    std::vector<std::string> tables;
    database_->GetTableNames(tables);
    // A source statement that names its own tables needs no table of its own.
    if (!IsDestination() && TableName.empty() && !Sql.empty()) tables = {std::string()};
    const std::string wanted = UpperAscii(TableName);
    for (const std::string& table : tables) {
      if (UpperAscii(table) != wanted) continue;
      query_->SQL = Sql;
      query_->OnTick = OnTick;
      query_->Open();
      CountRecordsRead(query_->RecordCount(), query_->FieldCount(),
                       "The statement " + ShownInLog(Sql) + " on " + Database);
      if (IsDestination() && !OpenAppend(table)) return false;
      return query_->FieldCount() > 0;
    }
    SendMessage("Table doesn't exist");
  } catch (const StopRequestedError&) {
    // The job reports the stop.
  } catch (const std::exception& e) {
    SendMessage(e.what());
  }
  return false;
}

std::string TTrundleAccess::DestinationSql() const { return AccessTableSql(TableName); }

bool TTrundleAccess::OpenAppend(const std::string& table) {
  SetRefused(false);
  ForgetFieldMap();
  ResetBatchCounts();
  append_table_ = table;
  try {
    database_->OpenAppend(table);
  } catch (const std::exception& e) {
    SendMessage(e.what());
    SetRefused(true);
    return false;
  }
  return true;
}

namespace {

// The source's keys over the fields made from its fields (fields parallel to from), but
// for those a Memo or OLE Object field would take, which Access does not index.
std::vector<TDAOIndex> IndexesFor(const TIndexDefs& keys, const TFieldDefs& from,
                                  const std::vector<TDAOField>& fields) {
  std::vector<TDAOIndex> out;
  for (const TIndexDef& key : keys) {
    TDAOIndex index;
    index.Name = key.Name;
    index.Primary = key.Primary;
    index.Unique = key.Primary || key.Unique;
    for (const std::string& name : key.Fields) {
      size_t i = 0;
      while (i < from.size() && from[i].Name != name) ++i;
      if (i >= fields.size() || fields[i].Type == dbMemo || fields[i].Type == dbLongBinary) break;
      index.Fields.push_back(fields[i].Name);
    }
    if (index.Fields.size() == key.Fields.size() && !index.Fields.empty())
      out.push_back(std::move(index));
  }
  return out;
}

}  // namespace

bool TTrundleAccess::CreateTable(TTrundleUnknown& source) {
  if (Refused()) return false;  // the table exists; OpenTable said why it takes no records
  SendMessage("Creating table");
  if (!database_->Connected()) {
    SendMessage("The table " + TableName + " cannot be created: the database " + Database +
                " is not open");
    return false;
  }
  TDAOTableDef def = database_->CreateTableDef(TableName);
  try {
    const TDataKind kind = source.GetKind();
    const bool jet3 = database_->Version() == "3.0";
    const std::shared_ptr<TextCodec> jet3_text = jet3 ? Jet3Names() : nullptr;
    // A text source's widths are measured as a Text field counts its characters (not in
    // UTF-8 bytes): a value longer than a Text field holds makes the field a Memo.
    const bool text = kind == dkCsv || kind == dkText;
    const TFieldDefs from = source.SourceFieldDefs(text ? AccessTextLength(jet3_text) : nullptr);
    const NewAccessTable table = AccessFieldsFor(kind, from, jet3, jet3_text.get());
    for (const TDAOField& field : table.fields) def.Fields.Append(field);
    def.Indexes = IndexesFor(source.SourceIndexDefs(), from, table.fields);
    database_->TableDefs_Append(def);
    SetCreatedFrom(from);
    SendLines(table.renames);
    SendMessage("Table created");
  } catch (const std::exception& e) {
    SendMessage(e.what());
    return false;
  }
  return OpenTable();
}

std::vector<std::string> TTrundleAccess::StoredFieldNames() {
  return database_->AppendFieldNames();
}

std::vector<std::string> TTrundleAccess::FieldsMadeFrom(
    const TRecordBuffer& names, const std::vector<std::string>& stored) const {
  std::vector<std::string> source;
  for (const Variant& name : names) {
    if (name.IsEmpty()) break;
    source.push_back(name.ToText());
  }
  const std::unique_ptr<TextCodec> jet3_names =
      database_->Version() == "3.0" ? Jet3Names() : nullptr;
  const std::vector<std::string> would_store = AccessFieldNames(source, jet3_names.get());
  std::vector<std::string> made_from(stored.size());
  for (size_t i = 0; i < source.size(); ++i) {
    if (would_store[i] == source[i]) continue;
    for (size_t j = 0; j < stored.size(); ++j)
      if (made_from[j].empty() && EqualsIgnoringAsciiCase(stored[j], would_store[i])) {
        made_from[j] = source[i];
        break;
      }
  }
  return made_from;
}

bool TTrundleAccess::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  try {
    const bool read = ReadDataSetRow(*query_, names, values,
                                     [](int) { throw TrundleError(kRangeCheckError); });
    if (!read) SendNotes();
    return read;
  } catch (const std::exception& e) {
    ReportReadError(e.what());
    return false;
  }
}

bool TTrundleAccess::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  if (!database_->Appending())
    throw TrundleError("The table " + TableName + " of " + Database + " is not open for appending");
  const std::vector<int>& map = MapFields(names, values);
  row_.assign(StoredFieldCount(), Variant());
  for (size_t i = 0; i < map.size() && i < values.size(); ++i)
    if (map[i] >= 0) row_[static_cast<size_t>(map[i])] = values[i];
  CountWritten();
  try {
    database_->Append(row_);
  } catch (const TrundleError& e) {
    const std::string text =
        "Record " + std::to_string(Written()) + " could not be written to table " + TableName +
        " of " + Database + ": " + e.what() + ". " + std::to_string(Committed()) +
        " records were committed before it; the open batch (records " +
        std::to_string(Committed() + 1) + " to " + std::to_string(Written()) +
        ") was rolled back.";
    // The writer refuses a row before it touches the file (a value, a key, a relationship),
    // so the refusal is the record's own; a failing file is another exception.
    if (dynamic_cast<const jet::RowRefusedError*>(&e)) throw RecordRefusedError(text, e.what());
    throw TrundleError(text);
  }
  return true;
}

void TTrundleAccess::StartTransaction() {
  if (!database_->Connected()) return;
  // A batch rolled back in the middle of a run (a record refused and set aside) ended
  // the appending: the table is taken up again where the last commit left it.
  if (!database_->Appending() && !append_table_.empty()) database_->OpenAppend(append_table_);
  database_->BeginTrans();
}

void TTrundleAccess::Commit() {
  // 1 is DAO's dbForceOSFlush: committed records reach the disk at once.
  if (!database_->Connected()) return;
  database_->CommitTrans(1);
  BatchCommitted();
}

// The run ends after either: the file is released for other programs.
void TTrundleAccess::Rollback() {
  database_->EndAppend();
  BatchDropped();
  const std::string failed = database_->TakeEndAppendError();
  if (!failed.empty()) SendMessage(IndexesNotBuilt(failed));
}

void TTrundleAccess::SaveTable() {
  SendAppendNotes();
  database_->EndAppend();
  const std::string failed = database_->TakeEndAppendError();
  if (!failed.empty()) throw TrundleError(IndexesNotBuilt(failed));
}

std::string TTrundleAccess::IndexesNotBuilt(const std::string& cause) const {
  return "The indexes of table " + append_table_ + " of " + Database +
         " could not be built: " + cause + ". The table keeps its " +
         std::to_string(Committed()) + " committed records without them.";
}

void TTrundleAccess::SendAppendNotes() {
  SendFieldNotes();
  SendLines(database_->TakeAppendNotes());
}

TFieldDefs TTrundleAccess::SourceFieldDefs(const TextLength& /*measure_widths*/) {
  return DataSetFields(*query_);
}

TIndexDefs TTrundleAccess::SourceIndexDefs() {
  if (IsDestination() || !query_->Active() || !database_->Connected()) return {};
  const std::shared_ptr<const jet::JetDatabase> jet = database_->Jet();
  const std::optional<std::string> table = jet->FindTable(TableName);
  if (!table || Sql != AccessTableSql(TableName)) return {};
  TIndexDefs out;
  try {
    const jet::TableDef def = jet->Definition(*table);
    for (const jet::LogicalIndex& logical : def.logical_indexes) {
      const jet::PhysicalIndex& x = def.indexes[size_t(logical.physical)];
      const bool primary = logical.kind == jet::kIndexPrimaryKey;
      // Foreign-key indexes belong to the relationships, which list_relationships gives.
      if (!primary && logical.kind != 0) continue;
      TIndexDef index;
      index.Name = logical.name;
      index.Primary = primary;
      index.Unique = primary || (x.flags & jet::kIndexUnique) != 0;
      for (const jet::IndexColumn& k : x.columns)
        for (const jet::ColumnDef& c : def.columns)
          if (c.number == k.number) index.Fields.push_back(c.column.name);
      // A descending key column would be made ascending: such an index is left out.
      if (std::all_of(x.columns.begin(), x.columns.end(),
                      [](const jet::IndexColumn& k) { return k.ascending; }))
        out.push_back(std::move(index));
    }
  } catch (const TrundleError&) {
    return {};  // a definition that cannot be read gives the new table no index
  }
  return out;
}

void TTrundleAccess::SendNotes() { SendLines(query_->TakeNotes()); }

void RegisterAccessAdaptor() {
  RegisterAdaptor(dkAccess, [] { return std::make_unique<TTrundleAccess>(); });
}

}  // namespace trundle
