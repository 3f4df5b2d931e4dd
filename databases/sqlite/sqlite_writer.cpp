#include "databases/sqlite/sqlite_writer.h"

#include "databases/sql/table_names.h"
#include "databases/sqlite/sqlite_file.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/key_constraints.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

// A name not taken yet by names, compared as SQLite compares column names (letters a to z
// in any case).
bool Taken(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& other : names)
    if (EqualsIgnoringAsciiCase(other, name)) return true;
  return false;
}

}  // namespace

SqliteWriter::SqliteWriter(const std::string& path, int busy_wait_ms)
    : path_(path), db_(OpenSqliteForWriting(path, created_file_, busy_wait_ms)) {}

SqliteWriter::~SqliteWriter() {
  insert_.reset();
  Rollback();
  db_.reset();
}

bool SqliteWriter::FindTable(const std::string& table) {
  const std::vector<SqliteTable> tables = SqliteTables(db_.get(), path_);
  const SqliteTable* found = nullptr;
  for (const SqliteTable& t : tables)
    if (t.name == table) found = &t;
  for (size_t i = 0; !found && i < tables.size(); ++i)
    if (EqualsIgnoringAsciiCase(tables[i].name, table)) found = &tables[i];
  if (!found) return false;
  if (found->view)
    throw TrundleError(found->name + " of " + path_ + " is a view; records are appended to tables");
  table_ = found->name;
  created_from_.clear();
  ReadColumns();
  return true;
}

// The fields of table_ that an INSERT can fill: generated columns (and a virtual table's
// hidden ones) cannot be given values.
void SqliteWriter::ReadColumns() {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(
      db_.get(), "select name, type, pk, hidden from pragma_table_xinfo(?1)", -1, &raw, nullptr);
  const SqliteStmt info(raw);
  if (rc == SQLITE_OK)
    rc = sqlite3_bind_text(info.get(), 1, table_.data(), static_cast<int>(table_.size()),
                           SQLITE_STATIC);
  if (rc != SQLITE_OK)
    throw TrundleError(
        SqliteErrorText(db_.get(), rc, "Could not read the fields of " + table_ + " in", path_));
  names_.clear();
  columns_.clear();
  rowid_field_ = -1;
  int primary_keys = 0;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
    const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
    const int pk = sqlite3_column_int(info.get(), 2);
    if (sqlite3_column_int(info.get(), 3) != 0) continue;
    primary_keys += pk > 0;
    if (pk > 0 && type && EqualsIgnoringAsciiCase(type, "INTEGER"))
      rowid_field_ = static_cast<int>(names_.size());
    names_.emplace_back(name ? name : "");
    columns_.push_back(SqliteColumnOf(type));
  }
  if (rc != SQLITE_DONE)
    throw TrundleError(
        SqliteErrorText(db_.get(), rc, "Could not read the fields of " + table_ + " in", path_));
  if (primary_keys != 1) rowid_field_ = -1;
  mapper_.SetDestination(names_, created_from_);
  mapper_ready_ = true;
  insert_ready_ = false;
}

int64_t SqliteWriter::CountRows() {
  sqlite3_stmt* raw = nullptr;
  const std::string sql = "select count(*) from " + QuoteSqlName(table_);
  int rc = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
  const SqliteStmt counter(raw);
  if (rc == SQLITE_OK && (rc = sqlite3_step(counter.get())) == SQLITE_ROW)
    return sqlite3_column_int64(counter.get(), 0);
  throw TrundleError(
      SqliteErrorText(db_.get(), rc, "Could not count the records of " + table_ + " in", path_));
}

SqliteNewTable SqliteCreateTableSql(const std::string& table, const TFieldDefs& fields,
                                    const TIndexDefs& keys) {
  SqliteNewTable out;
  // An auto-increment field that is the whole primary key becomes SQLite's INTEGER PRIMARY
  // KEY AUTOINCREMENT: the values given are kept, and sqlite_sequence follows the highest,
  // so that a record added later without one gets the next number.
  const TIndexDef* primary = nullptr;
  for (const TIndexDef& key : keys)
    if (key.Primary && !primary) primary = &key;
  int counted = -1;
  if (primary && primary->Fields.size() == 1) {
    const int at = FindFieldIndex(fields, primary->Fields[0]);
    if (at >= 0 && fields[static_cast<size_t>(at)].DataType == ftAutoInc) counted = at;
  }
  for (const TIndexDef& key : keys)
    if (counted < 0 || &key != primary) out.other_keys.push_back(key);
  // SQLite keeps the statement in its schema with these first words upper-cased.
  out.sql = "CREATE TABLE " + QuoteSqlName(table) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string name = fields[i].Name.empty() ? "Field" + std::to_string(i + 1) : fields[i].Name;
    const std::string wanted = name;
    for (int n = 2; Taken(out.names, name); ++n) name = wanted + "_" + std::to_string(n);
    if (name != fields[i].Name)
      out.notes.push_back("Field " + std::to_string(i + 1) + " (" + ShownInLog(fields[i].Name) +
                          ") is stored as " + ShownInLog(name) +
                          (fields[i].Name.empty() ? ": it had no name"
                                                  : ": the table has a field of that name already"));
    const bool is_counted = static_cast<int>(i) == counted;
    if (fields[i].DataType == ftAutoInc && !is_counted)
      out.notes.push_back("Field " + ShownInLog(name) +
                          " is an auto-increment field that is not the whole primary key; SQLite "
                          "counts only such a key, so it is a plain INTEGER field here");
    const std::string type =
        is_counted ? "INTEGER PRIMARY KEY AUTOINCREMENT" : SqliteDeclaredType(fields[i]);
    out.sql += (i ? ", " : "") + QuoteSqlName(name) + (type.empty() ? "" : " " + type) +
               (fields[i].Required ? " not null" : "");
    out.names.push_back(std::move(name));
    out.types.push_back(type);
  }
  out.sql += KeyConstraintsSql(out.other_keys, fields, out.names, QuoteSqlName);
  out.sql += ")";
  return out;
}

std::vector<std::string> SqliteWriter::CreateTable(const std::string& table,
                                                   const TFieldDefs& fields,
                                                   const TIndexDefs& keys) {
  if (table.empty()) throw TrundleError("No table was named to create in " + path_);
  if (fields.empty())
    throw TrundleError("The table " + table + " cannot be created in " + path_ +
                       ": the source has no fields");
  const SqliteNewTable made = SqliteCreateTableSql(table, fields, keys);
  ExecSqlite(db_.get(), made.sql.c_str(), "Could not create table " + table + " in", path_);
  CreateIndexes(table, made.other_keys, fields, made.names);
  table_ = table;
  created_from_.clear();
  for (const TFieldDef& field : fields) created_from_.push_back(field.Name);
  ReadColumns();
  return made.notes;
}

// The source's indexes that are not unique speed up searches only: each becomes a CREATE
// INDEX, named as in the source unless the database has that name already.
void SqliteWriter::CreateIndexes(const std::string& table, const TIndexDefs& keys,
                                 const TFieldDefs& fields, const std::vector<std::string>& names) {
  for (const TIndexDef& key : keys) {
    if (key.Primary || key.Unique || key.Fields.empty()) continue;
    const std::string columns = KeyColumnsSql(key, fields, names, QuoteSqlName);
    if (columns.empty()) continue;
    const std::string wanted = key.Name.empty() ? table + "_index" : key.Name;
    std::string name = wanted;
    for (int n = 2; SchemaHas(name); ++n) name = wanted + "_" + std::to_string(n);
    const std::string sql =
        "create index " + QuoteSqlName(name) + " on " + QuoteSqlName(table) + " (" + columns + ")";
    ExecSqlite(db_.get(), sql.c_str(), "Could not create the index " + name + " of " + table + " in",
               path_);
  }
}

// True when a table, index, view or trigger of the database is named name.
bool SqliteWriter::SchemaHas(const std::string& name) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db_.get(), "select 1 from sqlite_schema where name = ?1 collate nocase", -1,
                     &raw, nullptr);
  const SqliteStmt stmt(raw);
  if (!stmt) return false;
  sqlite3_bind_text(stmt.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
  return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

void SqliteWriter::Begin() {
  if (!sqlite3_get_autocommit(db_.get())) return;
  // IMMEDIATE: the file is held for writing from here, so that another writer is met (and
  // waited for) now rather than in the middle of the batch.
  const int rc = sqlite3_exec(db_.get(), "begin immediate", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK)
    throw TrundleError(SqliteErrorText(db_.get(), rc, "Could not write to", path_));
}

void SqliteWriter::Commit() {
  if (!sqlite3_get_autocommit(db_.get())) {
    const int rc = sqlite3_exec(db_.get(), "commit", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      const std::string text = "Records " + std::to_string(committed_ + 1) + " to " +
                               std::to_string(written_) + " could not be committed to table " +
                               table_ + " of " + path_ + ": " + SqliteCause(db_.get(), rc, path_) +
                               ". They were rolled back; " + std::to_string(committed_) +
                               " records were committed before them.";
      Rollback();
      throw TrundleError(text);
    }
  }
  committed_ = written_;
}

void SqliteWriter::Rollback() noexcept {
  if (db_ && !sqlite3_get_autocommit(db_.get()))
    sqlite3_exec(db_.get(), "rollback", nullptr, nullptr, nullptr);
  written_ = committed_;
}

void SqliteWriter::Finish() { insert_.reset(); }

// The INSERT for one mapping of record positions to fields: only the fields the record
// reaches are named, so that the others take their defaults (an INTEGER PRIMARY KEY its
// next number).
void SqliteWriter::PrepareInsert(const std::vector<int>& map) {
  insert_.reset();
  params_.clear();
  std::string columns, marks;
  for (size_t i = 0; i < map.size(); ++i) {
    if (map[i] < 0) continue;
    columns += (params_.empty() ? "" : ", ") + QuoteSqlName(names_[static_cast<size_t>(map[i])]);
    marks += params_.empty() ? "?" : ", ?";
    params_.emplace_back(static_cast<int>(i), map[i]);
  }
  const std::string sql =
      "insert into " + QuoteSqlName(table_) +
      (params_.empty() ? " default values" : " (" + columns + ") values (" + marks + ")");
  sqlite3_stmt* raw = nullptr;
  const int rc =
      sqlite3_prepare_v3(db_.get(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
  insert_.reset(raw);
  if (rc != SQLITE_OK)
    throw TrundleError(
        SqliteErrorText(db_.get(), rc, "Could not append to table " + table_ + " of", path_));
  buffers_.resize(params_.size());
  insert_map_ = map;
  insert_ready_ = true;
}

void SqliteWriter::Write(const TRecordBuffer& names, const TRecordBuffer& values, uint64_t layout) {
  if (!mapper_ready_) throw TrundleError("No table of " + path_ + " is open for appending");
  // A record's names end at the first without a value (an empty text is a name): looking
  // no further spares a walk over the rest of the job's 256 every record.
  const std::vector<int>& map = mapper_.Map(names, values, true, -1, layout);
  if (!insert_ready_ || map != insert_map_) PrepareInsert(map);
  ++written_;
  sqlite3_stmt* stmt = insert_.get();
  for (size_t k = 0; k < params_.size(); ++k) {
    const auto [source, field] = params_[k];
    static const Variant kNone;
    const Variant& value = static_cast<size_t>(source) < values.size() ? values[source] : kNone;
    // SQLite takes lengths as int; a longer text or blob it would read to its first zero.
    const bool bytes = value.type() == VarType::kString || value.type() == VarType::kBlob;
    int rc = SQLITE_TOOBIG;
    try {
      if (!bytes || value.text().size() <= INT32_MAX)
        rc = BindSqliteValue(stmt, static_cast<int>(k) + 1, columns_[field], value,
                             buffers_[k].data());
    } catch (const TrundleError& e) {
      const std::string cause = "field " + names_[field] + ": " + e.what();
      const std::string text = Failed(cause);
      Rollback();
      throw RecordRefusedError(text, cause);
    }
    if (rc != SQLITE_OK) Refuse(rc, values, source, field);
  }
  const int rc = sqlite3_step(stmt);
  sqlite3_reset(stmt);
  if (rc != SQLITE_DONE) Refuse(rc, values, -1, -1);
}

// The field SQLite's message names ("NOT NULL constraint failed: t.name", "cannot store
// TEXT value in INTEGER column t.n"), or -1.
int SqliteWriter::FieldNamedIn(const std::string& message) const {
  const std::string prefix = table_ + ".";
  for (size_t at = message.find(prefix); at != std::string::npos;
       at = message.find(prefix, at + 1)) {
    const size_t start = at + prefix.size();
    size_t end = message.find_first_of(", ", start);
    if (end == std::string::npos) end = message.size();
    const std::string name = message.substr(start, end - start);
    for (size_t j = 0; j < names_.size(); ++j)
      if (EqualsIgnoringAsciiCase(names_[j], name)) return static_cast<int>(j);
  }
  return -1;
}

void SqliteWriter::Refuse(int rc, const TRecordBuffer& values, int source, int field) {
  const std::string message =
      rc == SQLITE_TOOBIG ? sqlite3_errstr(rc) : SqliteCause(db_.get(), rc, path_);
  if (field < 0) field = FieldNamedIn(message);
  if (field < 0 && (rc & 0xff) == SQLITE_MISMATCH) field = rowid_field_;
  if (field >= 0 && source < 0)
    for (const auto& [position, filled] : params_)
      if (filled == field) source = position;
  std::string cause = message;
  if (field >= 0) {
    const bool has_value = source >= 0 && static_cast<size_t>(source) < values.size();
    cause = "field " + names_[static_cast<size_t>(field)] +
            (has_value ? " (value " + ValueInLog(values[static_cast<size_t>(source)]) + ")" : "") +
            ": " + message;
  }
  const std::string text = Failed(cause);
  Rollback();
  // A constraint, a type or a size is this record's own fault; anything else (a full
  // disk, a lock) would refuse every record after it as well.
  const int primary = rc & 0xff;
  if (primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG)
    throw RecordRefusedError(text, cause);
  throw TrundleError(text);
}

std::string SqliteWriter::Failed(const std::string& cause) const {
  return "Record " + std::to_string(written_) + " could not be written to table " + table_ +
         " of " + path_ + ": " + cause + ". " + std::to_string(committed_) +
         " records were committed before it; the open batch (records " +
         std::to_string(committed_ + 1) + " to " + std::to_string(written_) + ") was rolled back.";
}

}  // namespace trundle
