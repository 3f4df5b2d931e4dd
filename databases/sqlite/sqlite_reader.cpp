#include "databases/sqlite/sqlite_reader.h"

#include <algorithm>

#include "databases/sql/table_names.h"
#include "databases/sqlite/sqlite_file.h"
#include "databases/sqlite/sqlite_structure.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// SQLite calls the progress handler every this many virtual machine steps; the tick
// counter then calls the job's hook every kTickStride calls, a few milliseconds apart.
constexpr int kProgressSteps = 1000;
// A column without a declared type whose first values are all NULL is text: this many
// rows are looked at before that is settled (when widths are not measured anyway).
constexpr int kRowsToType = 10000;

bool IsText(TFieldType type) { return type == ftString || type == ftMemo; }

}  // namespace

SqliteReader::SqliteReader(const std::string& path, const std::string& table,
                           const std::string& sql, TTrundleTickEvent on_tick, int busy_wait_ms)
    : path_(path),
      mark_(path),
      on_tick_(std::move(on_tick)),
      ticks_(on_tick_),
      db_(OpenSqliteForReading(path, busy_wait_ms)) {
  guard_ = std::make_unique<SqliteSourceGuard>(db_.get(), path_);
  sqlite3_progress_handler(db_.get(), kProgressSteps, &SqliteReader::OnProgress, this);
  if (sql.empty()) table_ = ChooseTable(table);
  stmt_ = guard_->Prepare(sql.empty() ? SqliteTableSql(table_) : sql);
  const int count = sqlite3_column_count(stmt_.get());
  for (int i = 0; i < count; ++i) {
    const char* name = sqlite3_column_name(stmt_.get(), i);
    names_.emplace_back(name ? name : "");
    columns_.push_back(SqliteColumnOf(sqlite3_column_decltype(stmt_.get(), i)));
  }
}

SqliteReader::~SqliteReader() {
  stmt_.reset();
  guard_.reset();
  db_.reset();
}

int SqliteReader::OnProgress(void* self) {
  auto& reader = *static_cast<SqliteReader*>(self);
  try {
    if (reader.ticks_.Step()) reader.stop_requested_ = true;
  } catch (...) {
    // An exception must not cross SQLite: a hook that fails is taken as a stop.
    reader.stop_requested_ = true;
  }
  return reader.stop_requested_ ? 1 : 0;
}

std::string SqliteReader::ChooseTable(const std::string& wanted) {
  const std::vector<SqliteTable> tables = SqliteTables(db_.get(), path_);
  if (wanted.empty()) {
    if (tables.size() == 1) return tables.front().name;
    if (tables.empty()) throw TrundleError(path_ + " holds no tables");
    std::string list;
    for (size_t i = 0; i < tables.size() && i < 10; ++i) list += (i ? ", " : "") + tables[i].name;
    if (tables.size() > 10) list += ", ...";
    throw TrundleError(path_ + " holds " + std::to_string(tables.size()) + " tables (" + list +
                       "); name the one to read");
  }
  for (const SqliteTable& table : tables)
    if (table.name == wanted) return table.name;
  for (const SqliteTable& table : tables)
    if (EqualsIgnoringAsciiCase(table.name, wanted)) return table.name;
  throw TrundleError("Table " + wanted + " doesn't exist in " + path_);
}

int SqliteReader::Step(sqlite3_stmt* stmt) {
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  if (stop_requested_) {
    stop_requested_ = false;
    sqlite3_reset(stmt);
    throw StopRequestedError();
  }
  const std::string text = SqliteErrorText(db_.get(), rc, "Could not read", path_);
  sqlite3_reset(stmt);
  throw TrundleError(text);
}

SqliteStmt SqliteReader::Copy() { return guard_->Prepare(sqlite3_sql(stmt_.get())); }

int64_t SqliteReader::Count() {
  sqlite3_reset(stmt_.get());
  done_ = false;
  if (!table_.empty()) {
    // A table's b-tree counts its rows without reading them.
    sqlite3_stmt* raw = nullptr;
    const std::string sql = "select count(*) from " + QuoteSqlName(table_);
    const int rc = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
    const SqliteStmt counter(raw);
    if (rc != SQLITE_OK)
      throw TrundleError(SqliteErrorText(db_.get(), rc, "Could not count", path_));
    if (Step(counter.get()) == SQLITE_ROW) return sqlite3_column_int64(counter.get(), 0);
    return 0;
  }
  int64_t count = 0;
  while (Step(stmt_.get()) == SQLITE_ROW) ++count;
  sqlite3_reset(stmt_.get());
  return count;
}

TFieldDefs SqliteReader::FieldDefs(const TextLength& measure_widths) {
  TFieldDefs defs;
  bool untyped = false;
  for (size_t i = 0; i < names_.size(); ++i) {
    TFieldDef def = columns_[i].def;
    def.Name = names_[i];
    untyped = untyped || def.DataType == ftUnknown;
    defs.push_back(std::move(def));
  }
  if (untyped || measure_widths) TypeByValues(defs, measure_widths);
  MarkRequired(defs);
  return defs;
}

// One run over a copy of the statement: a column without a type takes its first value's
// storage class; text columns are measured when asked.
void SqliteReader::TypeByValues(TFieldDefs& defs, const TextLength& measure_widths) {
  const SqliteStmt run = Copy();
  std::vector<bool> pending(defs.size());
  std::vector<size_t> widths(defs.size(), 0);
  size_t left = 0;
  for (size_t i = 0; i < defs.size(); ++i) left += (pending[i] = defs[i].DataType == ftUnknown);
  for (int row = 0; Step(run.get()) == SQLITE_ROW; ++row) {
    if (!measure_widths && (left == 0 || row >= kRowsToType)) break;
    for (size_t i = 0; i < defs.size(); ++i) {
      const int storage = sqlite3_column_type(run.get(), static_cast<int>(i));
      if (storage == SQLITE_NULL) continue;
      if (pending[i]) {
        defs[i].DataType = FieldTypeOfSqliteValue(storage);
        pending[i] = false;
        --left;
      }
      if (measure_widths && IsText(defs[i].DataType) && storage != SQLITE_BLOB) {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(run.get(), static_cast<int>(i)));
        const std::string_view view(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(
                                                          run.get(), static_cast<int>(i))));
        widths[i] = std::max(widths[i], measure_widths(view));
      }
    }
  }
  for (size_t i = 0; i < defs.size(); ++i) {
    if (pending[i]) defs[i].DataType = ftMemo;  // only NULLs: nothing to go by
    if (!measure_widths || !IsText(defs[i].DataType)) continue;
    const size_t width = std::max<size_t>({widths[i], 1, static_cast<size_t>(defs[i].Size)});
    defs[i].DataType = ftString;
    defs[i].Size = static_cast<int>(std::min<size_t>(width, INT32_MAX));
  }
}

// A column of a table read whole that is declared NOT NULL is required in the table made
// from it. (A statement's columns are not: an outer join gives NULLs in any of them.) An
// INTEGER PRIMARY KEY declared AUTOINCREMENT is an auto-increment field; a plain INTEGER
// PRIMARY KEY stays an integer: SQLite may give its numbers again, and a destination that
// counted it would change what a single-table copy makes.
void SqliteReader::MarkRequired(TFieldDefs& defs) {
  if (table_.empty()) return;
  for (TFieldDef& def : defs) {
    int not_null = 0, primary_key = 0, autoincrement = 0;
    const char* type = nullptr;
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db_.get(), "main", table_.c_str(), def.Name.c_str(), &type,
                                      &collation, &not_null, &primary_key,
                                      &autoincrement) != SQLITE_OK)
      continue;
    def.Required = not_null != 0;
    if (autoincrement != 0) def.DataType = ftAutoInc;
  }
}

TIndexDefs SqliteReader::Keys() {
  TIndexDefs keys;
  if (table_.empty()) return keys;
  const auto prepare = [this](const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
      throw TrundleError("The keys of " + table_ + " in " + path_ +
                         " cannot be read: " + sqlite3_errmsg(db_.get()));
    return SqliteStmt(raw);
  };
  const auto text = [](sqlite3_stmt* stmt, int column) {
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return value ? std::string(value) : std::string();
  };
  // table_info's pk column gives each key field's place in the primary key.
  TIndexDef primary;
  primary.Name = "PrimaryKey";
  primary.Primary = true;
  std::vector<std::pair<int, std::string>> key_fields;
  const SqliteStmt info = prepare("pragma table_info(" + QuoteSqlName(table_) + ")");
  while (sqlite3_step(info.get()) == SQLITE_ROW)
    if (const int place = sqlite3_column_int(info.get(), 5); place > 0)
      key_fields.emplace_back(place, text(info.get(), 1));
  std::sort(key_fields.begin(), key_fields.end());
  for (auto& [place, name] : key_fields) primary.Fields.push_back(std::move(name));
  if (!primary.Fields.empty()) keys.push_back(std::move(primary));
  for (TIndexDef& index : SqliteIndexes(db_.get(), table_, path_)) keys.push_back(std::move(index));
  return keys;
}

bool SqliteReader::Next(TRecordBuffer& names, TRecordBuffer& values) {
  // Stepped again after its end, a statement would start over.
  if (done_ || Step(stmt_.get()) != SQLITE_ROW) {
    done_ = true;
    return false;
  }
  // An empty result has nothing to cut, however wide.
  const int count = columns();
  if (count > static_cast<int>(names.size()) || count > static_cast<int>(values.size()))
    throw RangeCheckError(path_ + ": the result has " + std::to_string(count) +
                          " columns, and a record holds at most " + std::to_string(names.size()));
  for (int i = 0; i < count; ++i) {
    names[i].SetString(names_[i]);
    ReadSqliteValue(stmt_.get(), i, columns_[i], values[i], scratch_);
  }
  return true;
}

}  // namespace trundle
