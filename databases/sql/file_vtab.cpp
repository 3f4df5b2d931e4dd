#include "databases/sql/file_vtab.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <new>

#include "databases/sql/lookup_index.h"
#include "databases/sql/sql_types.h"
#include "databases/sql/table_names.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {

struct FileVtab : sqlite3_vtab {
  FileTableCatalog* catalog = nullptr;  // the connection's; outlives the table
  FileTableSource source;               // which table, and how to open it
  TFieldDefs fields;                    // as the reader reports them
  int64_t record_count = 0;             // the header's, for the planner
  // Readers for cursors; a cursor borrows one and gives it back on close, so a self-join
  // gets a reader per side and a rescan reuses an idle reader instead of reopening.
  std::vector<std::unique_ptr<TableFileReader>> readers;
  std::vector<bool> reader_in_use;  // parallel to readers
  // Per column: how many scans asked for an equality lookup, and the index built for the
  // second such scan (the first is read straight through: a single WHERE a = 1 must not
  // load the table into memory; a second means the table is the inside of a join).
  std::vector<int> lookups;
  std::vector<std::unique_ptr<LookupIndex>> indexes;
};

namespace {

struct FileCursor : sqlite3_vtab_cursor {
  size_t reader_index = 0;                         // into FileVtab::readers
  TableFileReader* reader = nullptr;               // borrowed from the table until xClose
  std::vector<Variant> row;                        // the current record of a scan
  const std::vector<Variant>* current = &row;      // the current record, scanned or looked up
  const LookupIndex* index = nullptr;              // set while answering a lookup
  const std::vector<uint32_t>* matches = nullptr;  // records of index to visit
  size_t next_match = 0;
  sqlite3_int64 rowid = 0;  // 1-based record number in the file
  bool eof = true;
};

FileVtab* TableOf(sqlite3_vtab_cursor* cursor) { return static_cast<FileVtab*>(cursor->pVtab); }

// Sets the table's error message, which SQLite hands to sqlite3_errmsg().
int Fail(sqlite3_vtab* table, const char* message) {
  sqlite3_free(table->zErrMsg);
  table->zErrMsg = sqlite3_mprintf("%s", message);
  return SQLITE_ERROR;
}

// Column names made unique (SQLite refuses two columns of one name, letter case ignored)
// and never empty, which damaged headers can give.
std::vector<std::string> ColumnNames(const TFieldDefs& fields) {
  std::vector<std::string> names;
  auto taken = [&names](const std::string& name) {
    return std::any_of(names.begin(), names.end(), [&name](const std::string& other) {
      return EqualsIgnoringAsciiCase(other, name);
    });
  };
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string name = fields[i].Name.empty() ? "FIELD" + std::to_string(i + 1) : fields[i].Name;
    const std::string stem = name;
    for (int n = 2; taken(name); ++n) name = stem + "_" + std::to_string(n);
    names.push_back(name);
  }
  return names;
}

std::string CreateTableSql(const TFieldDefs& fields) {
  const std::vector<std::string> names = ColumnNames(fields);
  std::string sql = "CREATE TABLE x(";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) sql += ", ";
    sql += QuoteSqlName(names[i]);
    const std::string declared = DeclaredType(fields[i]);
    if (!declared.empty()) sql += ' ' + declared;
  }
  return sql + ')';
}

int ConnectTable(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
                 char** error) {
  auto* catalog = static_cast<FileTableCatalog*>(aux);
  try {
    // argv: module name, schema, table name, then the arguments.
    int key = -1;
    if (argc == 4) {
      const std::string_view text = argv[3];
      if (std::from_chars(text.data(), text.data() + text.size(), key).ptr !=
          text.data() + text.size())
        key = -1;
    }
    const FileTableSource* source = catalog->Find(key);
    if (!source)
      throw TrundleError(std::string(kFileTableModule) +
                         " takes one argument, a key of its catalog");
    if (!source->open) throw TrundleError("No reader can open " + source->name);

    auto table = std::make_unique<FileVtab>();
    table->catalog = catalog;
    table->source = *source;
    std::unique_ptr<TableFileReader> reader = table->source.open();
    table->fields = reader->fields();
    table->record_count = reader->record_count();
    table->readers.push_back(std::move(reader));
    table->reader_in_use.push_back(false);
    if (table->fields.empty()) throw TrundleError("The table " + source->name + " has no fields");
    if (sqlite3_declare_vtab(db, CreateTableSql(table->fields).c_str()) != SQLITE_OK)
      throw TrundleError("Cannot read " + source->name + " through SQL: " + sqlite3_errmsg(db));
    catalog->AddTable(table.get());
    *out = table.release();
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    *error = sqlite3_mprintf("%s", e.what());
    return SQLITE_ERROR;
  }
}

// xCreate: a separate function from xConnect, or SQLite would take the module for an
// eponymous table usable without CREATE VIRTUAL TABLE.
int CreateTable(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
                char** error) {
  return ConnectTable(db, aux, argc, argv, out, error);
}

// xBestIndex: offers a lookup on the first equality constraint with binary collation (a
// NOCASE comparison could match records the index files under other keys), else a full
// scan. The constraint stays for SQLite to test (omit = 0): lookups return a superset.
// The costs let the planner put a file with a usable equality on the inside of a join.
int BestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
  const auto* table = static_cast<FileVtab*>(base);
  const int64_t rows = std::max<int64_t>(table->record_count, 1);
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& constraint = info->aConstraint[i];
    if (!constraint.usable || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ ||
        constraint.iColumn < 0 || std::strcmp(sqlite3_vtab_collation(info, i), "BINARY") != 0)
      continue;
    info->aConstraintUsage[i].argvIndex = 1;
    info->idxNum = constraint.iColumn + 1;
    info->estimatedRows = std::min<int64_t>(rows, 10);
    info->estimatedCost = 20;
    return SQLITE_OK;
  }
  info->idxNum = 0;
  info->estimatedRows = rows;
  info->estimatedCost = static_cast<double>(rows);
  return SQLITE_OK;
}

// xDisconnect and xDestroy: nothing is stored outside the file's own reader.
int DisconnectTable(sqlite3_vtab* base) {
  auto* table = static_cast<FileVtab*>(base);
  table->catalog->DropTable(table);
  sqlite3_free(table->zErrMsg);
  delete table;
  return SQLITE_OK;
}

// xOpen: borrows an idle reader, or opens another when every one is scanning.
int OpenCursor(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
  auto* table = static_cast<FileVtab*>(base);
  try {
    auto cursor = std::make_unique<FileCursor>();
    auto idle = std::find(table->reader_in_use.begin(), table->reader_in_use.end(), false);
    cursor->reader_index = static_cast<size_t>(idle - table->reader_in_use.begin());
    if (idle == table->reader_in_use.end()) {
      table->readers.push_back(table->source.open());
      table->reader_in_use.push_back(false);
    }
    table->reader_in_use[cursor->reader_index] = true;
    cursor->reader = table->readers[cursor->reader_index].get();
    *out = cursor.release();
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    return Fail(base, e.what());
  }
}

// xClose
int CloseCursor(sqlite3_vtab_cursor* base) {
  auto* cursor = static_cast<FileCursor*>(base);
  TableOf(base)->reader_in_use[cursor->reader_index] = false;
  delete cursor;
  return SQLITE_OK;
}

int Advance(FileCursor* cursor) {
  if (cursor->index) {
    cursor->eof = cursor->next_match >= cursor->matches->size();
    if (!cursor->eof) {
      const uint32_t record = (*cursor->matches)[cursor->next_match++];
      cursor->current = &cursor->index->record(record);
      cursor->rowid = static_cast<sqlite3_int64>(record) + 1;
    }
    return SQLITE_OK;
  }
  try {
    cursor->eof = !cursor->reader->Next(cursor->row);
    ++cursor->rowid;
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    cursor->eof = true;
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    cursor->eof = true;
    return Fail(cursor->pVtab, e.what());
  }
}

// The index for a lookup on column, built on the second scan that asks for it; nullptr
// while the scan reads the file straight through.
const LookupIndex* IndexFor(FileVtab& table, int column, TableFileReader& reader) {
  if (column < 0 || static_cast<size_t>(column) >= table.fields.size()) return nullptr;
  const auto at = static_cast<size_t>(column);
  if (table.lookups.size() < table.fields.size()) {
    table.lookups.resize(table.fields.size());
    table.indexes.resize(table.fields.size());
  }
  if (++table.lookups[at] < 2) return nullptr;
  if (!table.indexes[at]) {
    auto index = std::make_unique<LookupIndex>();
    // A stop request leaves no index behind; SQLite's progress handler then ends the
    // statement.
    if (!index->Build(reader, column, table.fields, table.catalog->tick())) return nullptr;
    table.indexes[at] = std::move(index);
  }
  return table.indexes[at].get();
}

// xFilter: a lookup when xBestIndex chose one and its index exists, else a scan from the
// first record.
int Filter(sqlite3_vtab_cursor* base, int index_number, const char*, int argc,
           sqlite3_value** argv) {
  auto* cursor = static_cast<FileCursor*>(base);
  cursor->index = nullptr;
  cursor->current = &cursor->row;
  cursor->rowid = 0;
  try {
    if (index_number > 0 && argc == 1)
      cursor->index = IndexFor(*TableOf(base), index_number - 1, *cursor->reader);
    if (cursor->index) {
      cursor->matches = &cursor->index->Find(argv[0]);
      cursor->next_match = 0;
    } else {
      cursor->reader->Rewind();
    }
  } catch (const std::bad_alloc&) {
    cursor->eof = true;
    return SQLITE_NOMEM;
  } catch (const std::exception& e) {
    cursor->eof = true;
    return Fail(base->pVtab, e.what());
  }
  return Advance(cursor);
}

// xNext
int Next(sqlite3_vtab_cursor* base) { return Advance(static_cast<FileCursor*>(base)); }

// xEof
int Eof(sqlite3_vtab_cursor* base) { return static_cast<FileCursor*>(base)->eof; }

// xColumn: the value in the storage class sql_types.h reads back. SQLITE_TRANSIENT,
// because the record buffer is overwritten by the next xNext while SQLite may still hold
// the value (in a sorter, say).
int Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int i) {
  const auto* cursor = static_cast<FileCursor*>(base);
  if (i < 0 || static_cast<size_t>(i) >= cursor->current->size()) {
    sqlite3_result_null(context);
    return SQLITE_OK;
  }
  const Variant& value = (*cursor->current)[static_cast<size_t>(i)];
  switch (value.type()) {
    case VarType::kString:
      sqlite3_result_text64(context, value.text().data(), value.text().size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
      break;
    case VarType::kBlob:
      // An empty blob stays a blob of no bytes, not NULL.
      if (value.text().empty())
        sqlite3_result_zeroblob(context, 0);
      else
        sqlite3_result_blob64(context, value.text().data(), value.text().size(), SQLITE_TRANSIENT);
      break;
    case VarType::kInteger:
      sqlite3_result_int64(context, value.integer());
      break;
    case VarType::kFloat:
      sqlite3_result_double(context, value.real());
      break;
    case VarType::kCurrency:
      sqlite3_result_double(context, static_cast<double>(value.integer()) / 10000.0);
      break;
    case VarType::kBoolean:
      sqlite3_result_int(context, value.boolean() ? 1 : 0);
      break;
    case VarType::kDateTime: {
      char text[32];
      const TFieldType type = TableOf(base)->fields[static_cast<size_t>(i)].DataType;
      const int length = FormatDateTimeText(value.real(), type, text);
      sqlite3_result_text(context, text, length, SQLITE_TRANSIENT);
      break;
    }
    case VarType::kUnassigned:
    case VarType::kNull:
      sqlite3_result_null(context);
      break;
  }
  return SQLITE_OK;
}

// xRowid
int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
  *rowid = static_cast<FileCursor*>(base)->rowid;
  return SQLITE_OK;
}

// The slots of a read-only table without transactions, functions or renaming; the rest
// are named only to say they are empty.
const sqlite3_module kModule = {
    .iVersion = 1,
    .xCreate = CreateTable,
    .xConnect = ConnectTable,
    .xBestIndex = BestIndex,
    .xDisconnect = DisconnectTable,
    .xDestroy = DisconnectTable,
    .xOpen = OpenCursor,
    .xClose = CloseCursor,
    .xFilter = Filter,
    .xNext = Next,
    .xEof = Eof,
    .xColumn = Column,
    .xRowid = Rowid,
    .xUpdate = nullptr,
    .xBegin = nullptr,
    .xSync = nullptr,
    .xCommit = nullptr,
    .xRollback = nullptr,
    .xFindFunction = nullptr,
    .xRename = nullptr,
    .xSavepoint = nullptr,
    .xRelease = nullptr,
    .xRollbackTo = nullptr,
    .xShadowName = nullptr,
};

std::vector<std::string> TakeReaderNotes(FileVtab& table) {
  std::vector<std::string> notes;
  for (auto& reader : table.readers)
    for (std::string& note : reader->TakeNotes()) notes.push_back(std::move(note));
  return notes;
}

}  // namespace

FileTableCatalog::FileTableCatalog() = default;
FileTableCatalog::~FileTableCatalog() = default;

int FileTableCatalog::Add(FileTableSource source) {
  sources_.push_back(std::move(source));
  return static_cast<int>(sources_.size() - 1);
}

const FileTableSource* FileTableCatalog::Find(int key) const {
  if (key < 0 || static_cast<size_t>(key) >= sources_.size()) return nullptr;
  return &sources_[static_cast<size_t>(key)];
}

std::vector<std::string> FileTableCatalog::TakeNotes() {
  std::vector<std::string> notes = std::move(notes_);
  notes_.clear();
  for (FileVtab* table : tables_)
    for (std::string& note : TakeReaderNotes(*table)) notes.push_back(std::move(note));
  std::vector<std::string> unique;
  for (std::string& note : notes)
    if (std::find(unique.begin(), unique.end(), note) == unique.end())
      unique.push_back(std::move(note));
  return unique;
}

void FileTableCatalog::AddTable(FileVtab* table) { tables_.push_back(table); }

void FileTableCatalog::DropTable(FileVtab* table) {
  tables_.erase(std::remove(tables_.begin(), tables_.end(), table), tables_.end());
  try {
    for (std::string& note : TakeReaderNotes(*table)) notes_.push_back(std::move(note));
  } catch (const std::exception&) {
    // Notes are a courtesy; a reader failing to give them must not stop the close.
  }
}

void RegisterFileTableModule(sqlite3* db, FileTableCatalog* catalog) {
  if (sqlite3_create_module_v2(db, kFileTableModule, &kModule, catalog, nullptr) != SQLITE_OK)
    throw TrundleError(std::string("Cannot register the table-file module: ") + sqlite3_errmsg(db));
}

}  // namespace trundle
