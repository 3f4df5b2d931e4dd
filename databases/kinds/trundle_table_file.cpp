#include "databases/kinds/trundle_table_file.h"

#include <sys/stat.h>

#include <algorithm>

#include "databases/access/trundle_access.h"
#include "databases/core/data_types.h"
#include "databases/paradox/paradox_file.h"
#include "databases/core/table_engine.h"
#include "engine/adaptor_registry.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

// A device, a FIFO or a folder holds no table: reading one would fail or wait forever.
bool IsNonRegular(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::string NotAFileMessage(const std::string& path) {
  return path + " is not a regular file, and a table file must be one";
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

TTrundleTableFile::TTrundleTableFile() : query_(std::make_unique<TQuery>()) {
  query_->RequestLive = true;
}

TTrundleTableFile::~TTrundleTableFile() {
  try {
    query_->Close();
  } catch (const std::exception&) {
    // The header was written at the last flush; a destructor cannot report more.
  }
}

bool TTrundleTableFile::OpenTable() {
  NewNamesLayout();  // every record of this opening carries the same names
  SendMessage("Reading from table");
  ForgetFieldMap();
  SetRefused(false);
  try {
    query_->Close();
    if (const std::string cause = NoTableCause(TableName); !cause.empty()) {
      SendMessage("Table doesn't exist or is empty");
      SendMessage(IsDestination() ? NewDestinationNote(TableName) : cause);
      return false;
    }
    if (IsNonRegular(TableName)) {
      SendMessage(NotAFileMessage(TableName));
      return false;
    }
    query_->SQL = Sql;
    query_->BaseFolder = FolderOf(TableName);
    // The kind decides the engine of this adaptor's own file; its extension only
    // proposed the kind.
    query_->KindFile = TableName;
    query_->KindEngine = EngineName();
    query_->read_options.encoding = Encoding;
    query_->write_options.encoding = Encoding.empty() ? "UTF-8" : Encoding;
    query_->write_options.encoding_explicit = !Encoding.empty();
    query_->write_options.refuse_lossy = RefuseLossyValues;
    query_->OnTick = OnTick;
    query_->AppendFromOpen = IsDestination();
    try {
      query_->Open();
    } catch (const StopRequestedError&) {
      throw;
    } catch (const std::exception&) {
      // The file is there: creating it instead would fail, and say less.
      SetRefused(IsDestination());
      throw;
    }
    SendLines(query_->TakeRepairs());
    // A source whose records a record buffer cannot carry whole is refused before the
    // destination is touched (its header alone, with no records, is copied).
    CountRecordsRead(query_->RecordCount(), query_->FieldCount(),
                     TableName + ": the statement " + ShownInLog(Sql));
    return query_->FieldCount() > 0;
  } catch (const StopRequestedError&) {
    return false;  // the job reports the stop
  } catch (const std::exception& e) {
    SendMessage(e.what());
    return false;
  }
}

namespace {

// select * from "NAME", the name's double quotes doubled.
std::string WholeFileSql(const std::string& name) {
  std::string quoted;
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return "select * from \"" + quoted + "\"";
}

}  // namespace

std::string TTrundleTableFile::DestinationSql() const { return WholeFileSql(TableName); }

TIndexDefs TTrundleTableFile::SourceIndexDefs() {
  if (!query_->Active() || Sql != WholeFileSql(TableName)) return {};
  int keys = 0;
  try {
    keys = KeyFields();
  } catch (const TrundleError&) {
    return {};
  }
  const TFieldDefs& fields = query_->FieldDefs();
  if (keys <= 0 || static_cast<size_t>(keys) > fields.size()) return {};
  TIndexDef key;
  key.Name = "PrimaryKey";
  key.Primary = true;
  for (int i = 0; i < keys; ++i) {
    const TFieldDef& field = fields[static_cast<size_t>(i)];
    // Paradox tells keys apart by letter case, an Access key does not: keys "ab" and "AB"
    // that the table holds side by side would stop the run at the second.
    if (field.DataType == ftString || field.DataType == ftFixedChar ||
        field.DataType == ftWideString)
      return {};
    key.Fields.push_back(field.Name);
  }
  return {key};
}

int TTrundleParadox::KeyFields() const { return ParadoxKeyFields(TableName); }

void TTrundleTableFile::SaveTable() {
  query_->Close();
  SendNotes();
  SendFieldNotes();
}

void TTrundleTableFile::SendNotes() { SendLines(query_->TakeNotes()); }

TFieldDefs TTrundleTableFile::FieldsFrom(TTrundleUnknown& source) {
  const TDataKind kind = source.GetKind();
  // Text has no types: every field a string as wide as its longest value, in bytes.
  const bool text = kind == dkCsv || kind == dkText;
  return NewTableFields(GetKind(), kind,
                        source.SourceFieldDefs(text ? TextLength(Utf8Bytes) : nullptr));
}

namespace {

// A type and size as a field list shows them: "String(12)", "BCD(10,2)", "Date".
std::string TypeAndSize(const TFieldDef& def) {
  std::string type = FieldTypeName(def.DataType);
  if (type.compare(0, 2, "ft") == 0) type.erase(0, 2);
  if (def.Size <= 0) return type;
  type.append(1, '(').append(std::to_string(def.Size));
  if (def.Decimals > 0) type.append(1, ',').append(std::to_string(def.Decimals));
  return type.append(1, ')');
}

}  // namespace

bool TTrundleTableFile::DescribeNewTable(TTrundleUnknown& source, TNewTable& out) {
  const TableEngine* engine = EngineByName(EngineName());
  if (!engine) return false;
  const TFieldDefs defs = FieldsFrom(source);
  out.names = engine->stored_names ? engine->stored_names(defs) : std::vector<std::string>();
  out.names.resize(defs.size());
  out.text.clear();
  for (size_t i = 0; i < defs.size(); ++i) {
    if (out.names[i].empty()) out.names[i] = defs[i].Name;
    out.types.push_back(TypeAndSize(defs[i]));
    out.text += out.names[i] + " " + out.types.back() + (defs[i].Required ? " required" : "") + "\n";
    if (out.names[i] != defs[i].Name)
      out.notes.push_back("Field " + ShownInLog(defs[i].Name) + " stored as " + out.names[i]);
  }
  return true;
}

bool TTrundleTableFile::CreateTable(TTrundleUnknown& source) {
  if (Refused()) return false;  // OpenTable said why
  try {
    const TableEngine* engine = EngineByName(EngineName());
    if (!engine) throw TrundleError(std::string("No engine for ") + EngineName() + " tables");
    if (IsNonRegular(TableName)) throw TrundleError(NotAFileMessage(TableName));
    const TFieldDefs defs = FieldsFrom(source);
    // A record reaches the table through the job's buffers; a wider table could be made
    // but never filled.
    if (defs.size() > static_cast<size_t>(kRecordBufferSize))
      throw TrundleError("Cannot create " + TableName + ": the source has " +
                         std::to_string(defs.size()) + " fields, and a record carries at most " +
                         std::to_string(kRecordBufferSize));
    TableWriteOptions options;
    options.encoding = Encoding.empty() ? "UTF-8" : Encoding;
    options.encoding_explicit = !Encoding.empty();
    const CreatedTable created = engine->create(TableName, defs, options);
    SetCreatedFrom(defs);
    SendLines(created.renames);
    SendMessage("Table created");
  } catch (const std::exception& e) {
    SendMessage(e.what());
    return false;
  }
  return OpenTable();
}

bool TTrundleTableFile::ReadRecord(TRecordBuffer& names, TRecordBuffer& values) {
  const bool read = ReadDataSetRow(*query_, names, values, [&](int fields) {
    throw TooManyFieldsError(TableName + ": the statement " + ShownInLog(Sql), fields,
                             static_cast<int64_t>(std::min(names.size(), values.size())));
  });
  if (!read) SendNotes();
  return read;
}

bool TTrundleTableFile::WriteRecord(const TRecordBuffer& names, const TRecordBuffer& values) {
  query_->Append();
  const std::vector<int>& map = MapFields(names, values);
  for (size_t i = 0; i < map.size(); ++i)
    if (map[i] >= 0 && i < values.size()) query_->SetValue(map[i], values[i]);
  query_->Post();
  return true;
}

std::vector<std::string> TTrundleTableFile::StoredFieldNames() {
  std::vector<std::string> stored;
  for (const TFieldDef& def : query_->FieldDefs()) stored.push_back(def.Name);
  return stored;
}

std::vector<std::string> TTrundleTableFile::FieldsMadeFrom(
    const TRecordBuffer& names, const std::vector<std::string>& stored) const {
  const TableEngine* engine = EngineByName(EngineName());
  std::vector<std::string> made_from(stored.size());
  if (!engine || !engine->stored_names) return made_from;
  TFieldDefs defs;
  for (const Variant& name : names) {
    if (name.IsEmpty()) break;
    TFieldDef def;
    def.Name = name.ToText();
    defs.push_back(std::move(def));
  }
  // The names a table created from these very fields would have stored, one per source
  // field; each finds the first stored field of that name not yet claimed.
  const std::vector<std::string> would_store = engine->stored_names(defs);
  for (size_t i = 0; i < would_store.size() && i < defs.size(); ++i)
    for (size_t j = 0; j < stored.size(); ++j)
      if (made_from[j].empty() && EqualsIgnoringAsciiCase(stored[j], would_store[i])) {
        made_from[j] = defs[i].Name;
        break;
      }
  return made_from;
}

TFieldDefs TTrundleTableFile::SourceFieldDefs(const TextLength& /*measure_widths*/) {
  return DataSetFields(*query_);
}

void RegisterDatabaseAdaptors() {
  RegisterBuiltInEngines();
  RegisterAdaptor(dkDBase, [] { return std::make_unique<TTrundleDBase>(); });
  RegisterAdaptor(dkParadox, [] { return std::make_unique<TTrundleParadox>(); });
  RegisterAccessAdaptor();
}

}  // namespace trundle
