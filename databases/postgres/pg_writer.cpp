#include "databases/postgres/pg_writer.h"

#include <cstdlib>
#include <cstring>

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/key_constraints.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

// Lines are sent to the server in pieces of about this size.
constexpr size_t kCopyChunk = 256 * 1024;
// NAMEDATALEN - 1.
constexpr size_t kLongestName = 63;

bool Taken(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& other : names)
    if (other == name) return true;
  return false;
}

// The line of the COPY that the error's context names ("COPY t, line 3, column n: ..."),
// or 0.
int64_t CopyLineOf(const PGresult* result) {
  const char* context = PQresultErrorField(result, PG_DIAG_CONTEXT);
  if (!context) return 0;
  const char* at = std::strstr(context, "COPY ");
  at = at ? std::strstr(at, ", line ") : nullptr;
  return at ? std::strtoll(at + 7, nullptr, 10) : 0;
}

// True when the server undid the transaction for a reason that passes: a serialization
// failure or a deadlock (SQLSTATE 40001, 40P01), after which the same batch may go in.
bool UndoneForNow(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0);
}

// The field an error names: the server's own column field, the column of a COPY line's
// context ("COPY t, line 3, column n: \"x\""), or the one key of a duplicate ("Key (id)=(5)
// already exists"). Empty when none.
std::string FieldOf(const PGresult* result) {
  if (const char* column = PQresultErrorField(result, PG_DIAG_COLUMN_NAME)) return column;
  if (const char* context = PQresultErrorField(result, PG_DIAG_CONTEXT)) {
    const char* at = std::strstr(context, "COPY ");
    at = at ? std::strstr(at, ", column ") : nullptr;
    if (at) {
      const std::string rest = at + 9;
      const size_t end = rest.find(": ");
      return end == std::string::npos ? rest : rest.substr(0, end);
    }
  }
  if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) {
    const std::string text = detail;
    if (text.rfind("Key (", 0) == 0) {
      const size_t end = text.find(")=(");
      const std::string key = end == std::string::npos ? "" : text.substr(5, end - 5);
      if (key.find(',') == std::string::npos) return key;
    }
  }
  return "";
}

// A data exception (class 22: too long, out of range, not a number or date) or an
// integrity constraint violation (class 23: not null, unique, check, foreign key) is
// the record's own fault; anything else (a lost connection, a full disk) is not.
bool RecordsOwnFault(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state && (std::strncmp(state, "22", 2) == 0 || std::strncmp(state, "23", 2) == 0);
}

}  // namespace

PgWriter::PgWriter(const std::string& location, const std::string& user,
                   const std::string& password)
    : db_(location, user, password) {}

PgWriter::~PgWriter() { Rollback(); }

bool PgWriter::FindTable(const std::string& table) {
  const std::vector<PgTable> tables = db_.Tables();
  const PgTable* found = PgConnection::Find(tables, table);
  if (!found) return false;
  if (found->view)
    throw TrundleError(found->name + " of " + db_.location() +
                       " is a view; records are appended to tables");
  table_ = *found;
  created_from_.clear();
  ReadColumns();
  return true;
}

void PgWriter::ReadColumns() {
  const PgResult result = db_.ExecParams(
      "select attname, atttypid from pg_catalog.pg_attribute where attrelid = $1::oid "
      "and attnum > 0 and not attisdropped and attgenerated = '' order by attnum",
      {std::to_string(table_.oid)}, "Could not read the fields of " + table_.name + " in");
  names_.clear();
  kinds_.clear();
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    names_.emplace_back(PQgetvalue(result.get(), row, 0));
    kinds_.push_back(PgColumnKindOf(std::stoul(PQgetvalue(result.get(), row, 1))));
  }
  mapper_.SetDestination(names_, created_from_);
  mapper_ready_ = true;
  copy_map_.clear();
}

int64_t PgWriter::CountRows() {
  const PgResult result = db_.Exec("select count(*) from " + db_.Quote(table_),
                                   "Could not count the records of " + table_.name + " in");
  return std::strtoll(PQgetvalue(result.get(), 0, 0), nullptr, 10);
}

PgNewTable PgCreateTableSql(const std::string& table, const TFieldDefs& fields,
                            const TIndexDefs& keys,
                            const std::function<std::string(const std::string&)>& quote) {
  PgNewTable out;
  out.sql = "create table " + quote(table) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    std::string name = fields[i].Name.empty() ? "Field" + std::to_string(i + 1) : fields[i].Name;
    const std::string wanted = name;
    for (int n = 2; Taken(out.names, name); ++n) name = wanted + "_" + std::to_string(n);
    const bool counted = fields[i].DataType == ftAutoInc;
    const std::string type = PgDeclaredType(fields[i]);
    out.sql += (i ? ", " : "") + quote(name) + " " + type +
               (counted ? " generated by default as identity" : "") +
               (fields[i].Required ? " not null" : "");
    if (counted) out.counted.push_back(name);
    out.names.push_back(std::move(name));
    out.types.push_back(type);
  }
  out.sql += KeyConstraintsSql(keys, fields, out.names, quote) + ")";
  return out;
}

std::string PgQuotedName(const std::string& name) {
  std::string quoted = "\"";
  for (char c : name) quoted += c == '"' ? std::string(2, '"') : std::string(1, c);
  return quoted + "\"";
}

void PgWriter::CreateTable(const std::string& table, const TFieldDefs& fields,
                           const TIndexDefs& keys,
                           const std::function<void(const std::string&)>& on_statement) {
  if (table.empty()) throw TrundleError("No table was named to create in " + db_.location());
  if (fields.empty())
    throw TrundleError("The table " + table + " cannot be created in " + db_.location() +
                       ": the source has no fields");
  // The server would keep the first 63 bytes of a longer name, and make another table.
  if (table.size() > kLongestName)
    throw TrundleError("The table " + table + " cannot be created in " + db_.location() +
                       ": PostgreSQL keeps names of at most 63 bytes");
  const PgNewTable made = PgCreateTableSql(
      table, fields, keys, [this](const std::string& name) { return db_.Quote(name); });
  const std::vector<std::string>& names = made.names;
  const std::string& sql = made.sql;
  counted_.insert(counted_.end(), made.counted.begin(), made.counted.end());
  if (on_statement) on_statement(sql);
  db_.Exec(sql, "Could not create table " + table + " in");
  if (!FindTable(table))
    throw TrundleError("The table " + table + " was created in " + db_.location() +
                       " but cannot be found in its search path");
  for (const TFieldDef& field : fields) created_from_.push_back(field.Name);
  mapper_.SetDestination(names_, created_from_);
  // Indexes that are not unique only speed up searches; they take the source's name in
  // this table's schema, or the server's own name when that one is taken.
  for (const TIndexDef& key : keys) {
    if (key.Primary || key.Unique || key.Fields.empty()) continue;
    const std::string columns = KeyColumnsSql(key, fields, names, [this](const std::string& name) { return db_.Quote(name); });
    if (columns.empty()) continue;
    const std::string create = " on " + db_.Quote(table_) + " (" + columns + ")";
    const PgResult taken = db_.ExecParams(
        "select 1 from pg_catalog.pg_class where relname = $1 and relnamespace = "
        "(select relnamespace from pg_catalog.pg_class where oid = $2::oid)",
        {key.Name, std::to_string(table_.oid)}, "Could not read the indexes of");
    const std::string index_sql = PQntuples(taken.get()) == 0 && !key.Name.empty() &&
                                          key.Name.size() <= kLongestName
                                      ? "create index " + db_.Quote(key.Name) + create
                                      : "create index" + create;
    if (on_statement) on_statement(index_sql);
    db_.Exec(index_sql, "Could not create the index " + key.Name + " of " + table + " in");
  }
}

void PgWriter::SetCounters() {
  for (const std::string& name : counted_) {
    const std::string column = db_.Quote(name);
    db_.ExecParams("select pg_catalog.setval(pg_catalog.pg_get_serial_sequence($1, $2), "
                   "greatest(coalesce((select max(" + column + ") from " + db_.Quote(table_) +
                       "), 0) + 1, 1), false)",
                   {db_.Quote(table_), name},
                   "Could not set the counter of " + name + " of " + table_.name + " in");
  }
}

void PgWriter::Begin() {
  if (in_transaction_) return;
  db_.Exec("begin", "Could not start a transaction in");
  in_transaction_ = true;
}

void PgWriter::StartCopy(const std::vector<int>& map) {
  columns_.clear();
  std::string list;
  for (size_t i = 0; i < map.size(); ++i) {
    if (map[i] < 0) continue;
    list += (columns_.empty() ? "" : ", ") + db_.Quote(names_[static_cast<size_t>(map[i])]);
    columns_.emplace_back(static_cast<int>(i), map[i]);
  }
  Begin();
  copy_map_ = map;
  copy_first_ = written_ + 1;
  if (columns_.empty()) return;  // COPY names at least one field
  const PgResult result = db_.Exec("copy " + db_.Quote(table_) + " (" + list + ") from stdin",
                                   "Could not append to table " + table_.name + " of");
  copying_ = true;
}

// A record no field of the table takes is a row of the fields' defaults.
void PgWriter::WriteDefaults() {
  PgResult result(
      PQexec(db_.get(), ("insert into " + db_.Quote(table_) + " default values").c_str()));
  if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    copy_first_ = written_;
    Refuse(result.get(), 1);
  }
}

void PgWriter::Write(const TRecordBuffer& names, const TRecordBuffer& values, uint64_t layout) {
  if (!mapper_ready_)
    throw TrundleError("No table of " + db_.location() + " is open for appending");
  const std::vector<int>& map = mapper_.Map(names, values, true, -1, layout);
  if (copying_ && map != copy_map_) EndCopy();
  if (!copying_) StartCopy(map);
  ++written_;
  if (columns_.empty()) return WriteDefaults();
  static const Variant kNone;
  for (size_t k = 0; k < columns_.size(); ++k) {
    const auto [source, field] = columns_[k];
    const Variant& value = static_cast<size_t>(source) < values.size() ? values[source] : kNone;
    if (k) buffer_ += '\t';
    AppendCopyValue(value, kinds_[static_cast<size_t>(field)], buffer_);
  }
  buffer_ += '\n';
  if (buffer_.size() >= kCopyChunk) Flush();
}

void PgWriter::Flush() {
  if (buffer_.empty()) return;
  if (PQputCopyData(db_.get(), buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
    // The server may have ended the COPY already over a record sent before: its result
    // says which.
    copying_ = false;
    PgResult result(PQgetResult(db_.get()));
    while (PGresult* more = PQgetResult(db_.get())) PQclear(more);
    Refuse(result.get());
  }
  buffer_.clear();
}

void PgWriter::EndCopy() {
  if (!copying_) return;
  Flush();
  copying_ = false;
  if (PQputCopyEnd(db_.get(), nullptr) != 1) Refuse(nullptr);
  PgResult result(PQgetResult(db_.get()));
  while (PGresult* more = PQgetResult(db_.get())) PQclear(more);
  if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) Refuse(result.get());
}

void PgWriter::Commit() {
  EndCopy();
  if (in_transaction_) {
    const PgResult result(PQexec(db_.get(), "commit"));
    in_transaction_ = false;
    if (!result || PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      const std::string text = "Records " + std::to_string(committed_ + 1) + " to " +
                               std::to_string(written_) + " could not be committed to table " +
                               table_.name + " of " + db_.location() + ": " +
                               PgConnection::Reason(result.get()) + ". They were rolled back; " +
                               std::to_string(committed_) + " records were committed before them.";
      const bool passing = UndoneForNow(result.get());
      const std::string reason = PgConnection::Reason(result.get());
      Rollback();
      if (passing) throw BatchUndoneError(text, reason);
      throw TrundleError(text);
    }
  }
  committed_ = written_;
}

void PgWriter::Rollback() noexcept {
  buffer_.clear();
  if (copying_) {
    copying_ = false;
    PQputCopyEnd(db_.get(), "the batch is undone");
    while (PGresult* more = PQgetResult(db_.get())) PQclear(more);
  }
  if (in_transaction_) {
    PQclear(PQexec(db_.get(), "rollback"));
    in_transaction_ = false;
  }
  written_ = committed_;
}

// A COPY the server refused: the record its line names, the reason, and the batch undone.
void PgWriter::Refuse(const PGresult* result, int64_t line) {
  if (line == 0 && result) line = CopyLineOf(result);
  std::string reason = result ? PgConnection::Reason(result) : "";
  if (reason.empty()) reason = ShownInLog(PQerrorMessage(db_.get()));
  while (!reason.empty() && reason.back() == '\n') reason.pop_back();
  const int64_t batch_end = written_;
  std::string text =
      line > 0 ? "Record " + std::to_string(copy_first_ + line - 1) + " could not be written to "
               : "Records " + std::to_string(committed_ + 1) + " to " + std::to_string(batch_end) +
                     " could not be written to ";
  text += "table " + table_.name + " of " + db_.location() + ": " + reason + ". " +
          std::to_string(committed_) + " records were committed before; the open batch (records " +
          std::to_string(committed_ + 1) + " to " + std::to_string(batch_end) +
          ") was rolled back.";
  const bool own_fault = line > 0 && RecordsOwnFault(result);
  const std::string field = own_fault ? FieldOf(result) : "";
  const int64_t position = copy_first_ + line - 1 - committed_ - 1;
  Rollback();
  if (UndoneForNow(result)) throw BatchUndoneError(text, reason);
  if (own_fault)
    throw RecordRefusedError(text, field.empty() ? reason : "field " + field + ": " + reason,
                             position);
  throw TrundleError(text);
}

}  // namespace trundle
