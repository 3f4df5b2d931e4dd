#include "databases/access/dao.h"

#include <algorithm>
#include <utility>

#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_table_creator.h"
#include "databases/access/jet/jet_table_writer.h"
#include "databases/sql/sql_query.h"
#include "databases/sql/table_names.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// The user tables of one open database, for SQL. Each reader shares the database, so the
// file stays open for as long as a virtual table reads it.
class AccessTables : public TableResolver {
 public:
  explicit AccessTables(std::shared_ptr<const jet::JetDatabase> jet) : jet_(std::move(jet)) {}

  std::optional<FileTableSource> Resolve(const std::string& name,
                                         std::string* looked_for) const override {
    const std::optional<std::string> stored = jet_->FindTable(name);
    if (!stored) {
      if (looked_for) *looked_for = "no user table of that name in " + jet_->path();
      return std::nullopt;
    }
    return FileTableSource{*stored + " in " + jet_->path(),
                           [jet = jet_, table = *stored] { return jet->OpenTable(table); }};
  }

 private:
  std::shared_ptr<const jet::JetDatabase> jet_;
};

void AddNotes(std::vector<std::string> more, std::vector<std::string>& notes) {
  for (std::string& note : more)
    if (std::find(notes.begin(), notes.end(), note) == notes.end())
      notes.push_back(std::move(note));
}

}  // namespace

std::optional<int> DaoVersionFromName(const std::string& name) {
  if (EqualsIgnoringAsciiCase(name, "dao35")) return kDao35;
  if (EqualsIgnoringAsciiCase(name, "dao36")) return kDao36;
  return std::nullopt;
}

TDAOField& TDAOFields::Item(int i) {
  if (i < 0 || i >= Count()) throw TrundleError("Item not found in this collection.");
  return fields_[static_cast<size_t>(i)];
}

jet::NewColumn JetColumnForDaoField(const TDAOField& field, bool jet3) {
  jet::NewColumn c;
  c.name = field.Name;
  c.required = field.Required;
  // DAO gives a Text or Binary field without a size the largest.
  const int size = field.Size == 0 ? 255 : field.Size;
  switch (field.Type) {
    case dbBoolean:
      c.type = jet::kBoolean;
      break;
    case dbByte:
      c.type = jet::kByte;
      break;
    case dbInteger:
      c.type = jet::kInteger;
      break;
    case dbLong:
      c.type = jet::kLong;
      c.autonumber = field.AutoIncrement;
      break;
    case dbCurrency:
      c.type = jet::kCurrency;
      break;
    case dbSingle:
      c.type = jet::kSingle;
      break;
    case dbDouble:
    case dbFloat:
      c.type = jet::kDouble;
      break;
    case dbDate:
    case dbTime:
    case dbTimeStamp:
      c.type = jet::kDateTime;
      break;
    case dbBinary:
    case dbVarBinary:
      c.type = jet::kBinary;
      c.size = size;
      break;
    case dbText:
    case dbChar:
      c.type = jet::kText;
      c.size = size;
      c.allow_zero_length = field.AllowZeroLength;
      break;
    case dbLongBinary:
      c.type = jet::kOle;
      break;
    case dbMemo:
      c.type = jet::kMemo;
      c.allow_zero_length = field.AllowZeroLength;
      break;
    case dbGUID:
      c.type = jet::kGuid;
      break;
    case dbNumeric:
    case dbDecimal:
      // Jet 4 brought the decimal type; Jet 3 has none.
      if (jet3) throw TrundleError("Invalid field data type.");
      c.type = jet::kNumeric;
      c.precision = field.Precision;
      c.scale = field.Scale;
      break;
    default:
      // dbBigInt among them: the 64-bit integer came with Access 2016's format.
      throw TrundleError("Invalid field data type.");
  }
  return c;
}

TDAODatabase::TDAODatabase() = default;

std::string TDAODatabase::Version() const {
  if (!jet_) throw TrundleError("The database " + DatabaseName + " is not open");
  return jet_->is_jet3() ? "3.0" : "4.0";
}
TDAODatabase::~TDAODatabase() { Close(); }

void TDAODatabase::Open() {
  if (jet_) return;
  std::shared_ptr<const jet::JetDatabase> jet = jet::JetDatabase::Open(DatabaseName);
  // DAO 3.5 came before Jet 4: it takes a newer database for no database at all.
  if (DAOVersion == kDao35 && !jet->is_jet3())
    throw TrundleError("Unrecognized database format '" + DatabaseName + "'.");
  // A database without a password opens whatever password is given, as DAO's does.
  if (jet->has_password() && !jet->CheckPassword(Password))
    throw TrundleError("Not a valid password.");
  jet_ = std::move(jet);
}

void TDAODatabase::Close() {
  if (store_) {
    try {
      store_->Rollback();
    } catch (const std::exception&) {
      // The journal still holds the batch's old pages: the next open puts them back.
    }
  }
  writer_.reset();
  store_.reset();
  jet_.reset();
}

void TDAODatabase::OpenAppend(const std::string& table) {
  if (!jet_) throw TrundleError("The database " + DatabaseName + " is not open");
  writer_.reset();
  store_.reset();
  std::unique_ptr<jet::PageStore> store = jet::PageStore::Open(DatabaseName);
  // The catalogue is read again once the store has put back what a crashed run left.
  std::shared_ptr<const jet::JetDatabase> jet = jet::JetDatabase::Open(DatabaseName);
  writer_ = jet::TableWriter::Open(*store, *jet, table);
  store_ = std::move(store);
  jet_ = std::move(jet);
}

std::vector<std::string> TDAODatabase::AppendFieldNames() const {
  if (!writer_) throw TrundleError("No table of " + DatabaseName + " is open for appending");
  std::vector<std::string> names;
  for (const jet::ColumnDef& c : writer_->def().columns) names.push_back(c.column.name);
  return names;
}

void TDAODatabase::Append(std::vector<Variant>& values) {
  if (!writer_) throw TrundleError("No table of " + DatabaseName + " is open for appending");
  writer_->Append(values);
}

std::vector<std::string> TDAODatabase::TakeAppendNotes() {
  if (!writer_) return {};
  return writer_->TakeNotes();
}

void TDAODatabase::EndAppend() noexcept {
  Rollback();
  if (writer_) {
    try {
      writer_->Finish();
    } catch (const std::exception& e) {
      end_error_ = e.what();
    }
  }
  writer_.reset();
  store_.reset();  // rolls back what Rollback could not, releases the lock, drops the journal
}

std::string TDAODatabase::TakeEndAppendError() { return std::exchange(end_error_, {}); }

TDAOTableDef TDAODatabase::CreateTableDef(const std::string& name) const {
  TDAOTableDef def;
  def.Name = name;
  return def;
}

void TDAODatabase::TableDefs_Append(const TDAOTableDef& def) {
  if (!jet_) throw TrundleError("The database " + DatabaseName + " is not open");
  std::vector<jet::NewColumn> columns;
  for (const TDAOField& field : def.Fields.All())
    columns.push_back(JetColumnForDaoField(field, jet_->is_jet3()));
  std::vector<jet::NewIndex> indexes;
  for (const TDAOIndex& index : def.Indexes) {
    jet::NewIndex& x = indexes.emplace_back();
    x.name = index.Name;
    x.primary = index.Primary;
    x.unique = index.Primary || index.Unique;
    for (const std::string& name : index.Fields) {
      int at = -1;
      for (size_t i = 0; i < columns.size() && at < 0; ++i)
        if (columns[i].name == name) at = int(i);
      x.columns.push_back(at);  // -1, a field the table lacks, is refused
    }
  }
  // A table open for appending holds the file through its own store: its open batch is
  // dropped, as Close drops it.
  if (store_) Rollback();
  writer_.reset();
  store_.reset();
  {
    std::unique_ptr<jet::PageStore> store = jet::PageStore::Open(DatabaseName);
    // The catalogue as it is once the store has put back what a crashed run left.
    const std::unique_ptr<jet::JetDatabase> jet = jet::JetDatabase::Open(DatabaseName);
    jet::CreateTable(*store, *jet, def.Name, columns, indexes);
  }
  jet_ = jet::JetDatabase::Open(DatabaseName);
}

void TDAODatabase::CommitTrans(int /*options*/) {
  if (writer_) writer_->Commit();
}

void TDAODatabase::Rollback() noexcept {
  if (!writer_) return;
  try {
    writer_->Rollback();
  } catch (const std::exception&) {
    // The journal still holds the batch's old pages: the next open puts them back.
    writer_.reset();
    store_.reset();
  }
}

void TDAODatabase::GetTableNames(std::vector<std::string>& list) {
  list.clear();
  const bool was_connected = Connected();
  try {
    Open();
    for (std::string& name : jet_->UserTables()) list.push_back(std::move(name));
  } catch (const std::exception&) {
    // Listing reports nothing: the caller sees what could be listed.
  }
  if (!was_connected) Close();
}

std::shared_ptr<const TableResolver> TDAODatabase::Tables() const {
  if (!jet_) throw TrundleError("The database " + DatabaseName + " is not open");
  return std::make_shared<AccessTables>(jet_);
}

// A whole-table select reads the table's reader directly; anything else goes through
// SQLite over the database's tables.
struct TDAOQuery::Impl {
  std::shared_ptr<const jet::JetDatabase> jet;  // what reader reads; outlives it
  std::unique_ptr<TableFileReader> reader;      // a whole-table select, or
  std::unique_ptr<SqlQuery> sql;                // anything else
  std::vector<Variant> row;                     // the reader's current record
  bool at_end = true;                           // of the reader
  std::vector<std::string> notes;               // kept from results already closed
  TFieldDefs no_fields;

  void RequireOpen() const {
    if (!reader && !sql) throw TrundleError("The query is not open");
  }
  void ReadNext() { at_end = !reader->Next(row); }
};

TDAOQuery::TDAOQuery(TDAODatabase& database)
    : database_(database), impl_(std::make_unique<Impl>()) {}

TDAOQuery::~TDAOQuery() = default;

void TDAOQuery::Open() {
  Close();
  std::shared_ptr<const jet::JetDatabase> jet = database_.Jet();
  if (!jet) throw TrundleError("The database " + database_.DatabaseName + " is not open");
  if (const std::optional<std::string> name = WholeTableSelectName(SQL)) {
    if (const std::optional<std::string> stored = jet->FindTable(*name)) {
      impl_->reader = jet->OpenTable(*stored);
      impl_->jet = std::move(jet);
      impl_->ReadNext();
      return;
    }
  }
  impl_->sql = std::make_unique<SqlQuery>(SQL, database_.Tables(), OnTick);
}

void TDAOQuery::Close() {
  if (impl_->reader) AddNotes(impl_->reader->TakeNotes(), impl_->notes);
  if (impl_->sql) AddNotes(impl_->sql->TakeNotes(), impl_->notes);
  impl_->reader.reset();
  impl_->jet.reset();
  impl_->sql.reset();
  impl_->at_end = true;
}

bool TDAOQuery::Active() const { return impl_->reader || impl_->sql; }

int64_t TDAOQuery::RecordCount() {
  impl_->RequireOpen();
  return impl_->reader ? impl_->reader->record_count() : impl_->sql->Count();
}

const TFieldDefs& TDAOQuery::FieldDefs() const {
  if (impl_->reader) return impl_->reader->fields();
  if (impl_->sql) return impl_->sql->fields();
  return impl_->no_fields;
}

const Variant& TDAOQuery::Value(int i) const {
  impl_->RequireOpen();
  const std::vector<Variant>& row = impl_->reader ? impl_->row : impl_->sql->row();
  if (i < 0 || static_cast<size_t>(i) >= row.size()) throw TrundleError(kRangeCheckError);
  return row[static_cast<size_t>(i)];
}

bool TDAOQuery::Eof() const {
  if (impl_->reader) return impl_->at_end;
  if (impl_->sql) return impl_->sql->AtEnd();
  return true;
}

void TDAOQuery::Next() {
  impl_->RequireOpen();
  if (impl_->reader) {
    if (!impl_->at_end) impl_->ReadNext();
  } else {
    impl_->sql->Next();
  }
}

void TDAOQuery::First() {
  impl_->RequireOpen();
  if (impl_->reader) {
    impl_->reader->Rewind();
    impl_->ReadNext();
  } else {
    impl_->sql->First();
  }
}

std::vector<std::string> TDAOQuery::TakeNotes() {
  if (impl_->reader) AddNotes(impl_->reader->TakeNotes(), impl_->notes);
  if (impl_->sql) AddNotes(impl_->sql->TakeNotes(), impl_->notes);
  return std::exchange(impl_->notes, {});
}

}  // namespace trundle
