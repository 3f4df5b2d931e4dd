#include "databases/sql/sql_query.h"

#include <climits>
#include <string_view>

#include "databases/sql/sql_types.h"
#include "databases/sql/table_names.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

constexpr std::string_view kNoSuchTable = "no such table: ";
// SQLite's refusal of a write to a read-only (virtual) table: "table cust may not be
// modified".
constexpr std::string_view kMayNotBeModified = " may not be modified";
// Each round exposes one file or fails, and a name is exposed at most twice, so this only
// guards against a statement naming an absurd number of tables.
constexpr int kMaxRounds = 200;

// What follows the first statement, past white space, comments and empty statements;
// empty when nothing does.
std::string_view RestAfterStatement(std::string_view tail) {
  size_t i = 0;
  while (i < tail.size()) {
    const char c = tail[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == ';') {
      ++i;
    } else if (tail.substr(i, 2) == "--") {
      i = tail.find('\n', i);
      if (i == std::string_view::npos) i = tail.size();
    } else if (tail.substr(i, 2) == "/*") {
      i = tail.find("*/", i + 2);
      i = i == std::string_view::npos ? tail.size() : i + 2;
    } else {
      return tail.substr(i);
    }
  }
  return {};
}

// Pragmas whose argument names what they describe, not a new setting; every other
// pragma given a value changes the connection (or, like temp_store_directory, the
// process), so only its reading form runs.
bool IsDescribingPragma(std::string_view name) {
  for (std::string_view known : {"table_info", "table_xinfo", "table_list", "index_info",
                                 "index_xinfo", "index_list", "foreign_key_list"})
    if (EqualsIgnoringAsciiCase(name, known)) return true;
  return false;
}

// The statement's own text without the ';' and white space that may end it.
std::string StatementText(sqlite3_stmt* stmt) {
  std::string text = sqlite3_sql(stmt);
  while (!text.empty() && (text.back() == ';' || text.back() == ' ' || text.back() == '\n' ||
                           text.back() == '\t' || text.back() == '\r'))
    text.pop_back();
  return text;
}

}  // namespace

namespace {

// SQLite machine steps between calls of the progress handler: well under a millisecond.
constexpr int kVmStepsPerTick = 10000;

}  // namespace

SqlQuery::SqlQuery(const std::string& sql, const std::string& base_folder,
                   const TableReadOptions& options, TTrundleTickEvent tick)
    : SqlQuery(sql, std::make_shared<TableFileResolver>(base_folder, options), std::move(tick)) {}

SqlQuery::SqlQuery(const std::string& sql, std::shared_ptr<const TableResolver> tables,
                   TTrundleTickEvent tick)
    : tables_(std::move(tables)), tick_(std::move(tick)) {
  if (!tables_) throw TrundleError("An SQL statement needs a place to find its tables");
  sqlite3* raw = nullptr;
  // NOMUTEX: the connection belongs to this object alone, and the mutex taken by every
  // sqlite3_column_* call cost a tenth of a scan.
  const int rc = sqlite3_open_v2(
      ":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK)
    throw TrundleError(std::string("Cannot start SQLite: ") +
                       (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  // The user's statement may read and never write, and is refused before anything runs.
  // sqlite3_stmt_readonly, checked once it is prepared, catches every statement that
  // writes, VACUUM INTO included; a write to a table file is refused by SQLite while
  // preparing (the virtual tables are read-only). ATTACH (which creates its file), DETACH
  // and pragmas that set a value count as read-only there, so the authorizer refuses them
  // while the statement is prepared. With no database to attach, nothing outside this
  // connection is reachable even so.
  sqlite3_limit(raw, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_set_authorizer(raw, &SqlQuery::Authorize, this);
  RegisterFileTableModule(raw, &catalog_);
  if (tick_) {
    sqlite3_progress_handler(raw, kVmStepsPerTick, &SqlQuery::OnVmSteps, this);
    catalog_.SetTick(tick_);
  }
  stoppable_ = true;
  stmt_ = PrepareResolvingTables(sql);
  Step();
  stoppable_ = false;
  Describe();
}

int SqlQuery::OnVmSteps(void* self) {
  auto* query = static_cast<SqlQuery*>(self);
  // No exception may cross SQLite's C frames.
  try {
    if (query->tick_() && query->stoppable_) {
      query->stopped_ = true;
      return 1;
    }
  } catch (...) {
  }
  return 0;
}

SqlQuery::~SqlQuery() = default;

void SqlQuery::Exec(const std::string& sql) {
  sqlite3* db = db_.get();
  // Room for the schemas this object attaches itself (SQLite caps the value at its own
  // maximum), taken back at once.
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, static_cast<int>(attached_.size()) + 1);
  own_statement_ = true;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  own_statement_ = false;
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  if (rc != SQLITE_OK && stopped_) throw StopRequestedError();
  if (rc != SQLITE_OK) throw TrundleError(sqlite3_errmsg(db));
}

int SqlQuery::Authorize(void* self, int action, const char* arg1, const char* arg2,
                        const char* /*database*/, const char* /*trigger*/) {
  auto* query = static_cast<SqlQuery*>(self);
  if (query->own_statement_) return SQLITE_OK;
  bool allowed = true;
  if (action == SQLITE_ATTACH || action == SQLITE_DETACH)
    allowed = false;
  else if (action == SQLITE_PRAGMA)
    allowed = !arg2 || (arg1 && IsDescribingPragma(arg1));
  if (allowed) return SQLITE_OK;
  query->denied_ = true;
  return SQLITE_DENY;
}

void SqlQuery::ThrowSqliteError() {
  if (stopped_) throw StopRequestedError();
  // SQLite's own text for a refusal is "not authorized", which tells the user nothing.
  if (denied_) throw TrundleError(kStatementChangesData);
  throw TrundleError(sqlite3_errmsg(db_.get()));
}

SqliteStmt SqlQuery::Prepare(const std::string& sql, const char** tail) {
  sqlite3_stmt* raw = nullptr;
  const int rc =
      sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, tail);
  SqliteStmt stmt(raw);
  if (rc != SQLITE_OK) return nullptr;
  return stmt;
}

SqliteStmt SqlQuery::PrepareResolvingTables(const std::string& sql) {
  if (sql.size() >= INT_MAX) throw TrundleError("The SQL text is too long");
  // SQLite would stop reading at the NUL and never see what follows.
  if (sql.find('\0') != std::string::npos) throw TrundleError("The SQL text holds a NUL character");
  for (int round = 0;; ++round) {
    const char* tail = nullptr;
    SqliteStmt stmt = Prepare(sql, &tail);
    if (stmt) {
      const std::string_view rest = RestAfterStatement(tail ? std::string_view(tail) : "");
      if (!rest.empty()) {
        std::string shown(rest.substr(0, 40));
        if (rest.size() > 40) shown += "...";
        throw TrundleError(
            "Only one SQL statement can be run at a time, but the text goes on "
            "after the first: \"" +
            shown + "\"");
      }
      if (!sqlite3_stmt_readonly(stmt.get())) throw TrundleError(kStatementChangesData);
      return stmt;
    }
    if (denied_) ThrowSqliteError();
    const std::string message = sqlite3_errmsg(db_.get());
    if (message.find(kMayNotBeModified) != std::string::npos)
      throw TrundleError(kStatementChangesData);
    if (sqlite3_errcode(db_.get()) == SQLITE_OK)
      throw TrundleError("The SQL text holds no statement");
    if (message.rfind(kNoSuchTable, 0) != 0 || round == kMaxRounds) throw TrundleError(message);
    ExposeTable(message.substr(kNoSuchTable.size()), message);
  }
}

void SqlQuery::ExposeTable(const std::string& missing, const std::string& message) {
  std::string schema = "temp";
  std::string table = missing;
  for (const char* known : {"main.", "temp."}) {
    if (StartsWithIgnoringAsciiCase(missing, known)) {
      schema = std::string(known, 4);
      table = missing.substr(5);
    }
  }
  std::string file_name = table;
  if (!exposed_.insert(missing).second) {
    // Exposed once and still missing: the name was written bare with a dot (cust.dbf),
    // which SQLite reads as table dbf of a database cust. Give it such a database.
    const size_t dot = table.find('.');
    if (schema != "temp" || table != missing || dot == std::string::npos || dot == 0)
      throw TrundleError(message);
    schema = table.substr(0, dot);
    table = table.substr(dot + 1);
    if (attached_.insert(schema).second)
      Exec("ATTACH DATABASE ':memory:' AS " + QuoteSqlName(schema));
  }
  std::string looked_for;
  std::optional<FileTableSource> source = tables_->Resolve(file_name, &looked_for);
  if (!source) throw TrundleError(looked_for.empty() ? message : message + " (" + looked_for + ")");
  const int key = catalog_.Add(std::move(*source));
  Exec("CREATE VIRTUAL TABLE " + QuoteSqlName(schema) + "." + QuoteSqlName(table) + " USING " +
       kFileTableModule + "(" + std::to_string(key) + ")");
}

void SqlQuery::Describe() {
  sqlite3_stmt* stmt = stmt_.get();
  const int count = sqlite3_column_count(stmt);
  fields_.assign(static_cast<size_t>(count), TFieldDef{});
  read_as_.assign(static_cast<size_t>(count), ftUnknown);
  for (int i = 0; i < count; ++i) {
    TFieldDef& field = fields_[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(stmt, i);
    if (!name) throw TrundleError("SQLite ran out of memory");
    field.Name = name;
    if (ReadDeclaredType(sqlite3_column_decltype(stmt, i), field)) {
      read_as_[static_cast<size_t>(i)] = field.DataType;
    } else {
      // An expression: typed by its first value, and every value read by its own class.
      field.DataType =
          FieldTypeOfStorageClass(at_end_ ? SQLITE_NULL : sqlite3_column_type(stmt, i));
    }
  }
  // Step() read the first row before the types were known.
  if (!at_end_)
    for (int i = 0; i < count; ++i)
      ReadColumnValue(stmt, i, read_as_[static_cast<size_t>(i)], row_[static_cast<size_t>(i)]);
}

void SqlQuery::Step() {
  sqlite3_stmt* stmt = stmt_.get();
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) {
    at_end_ = true;
    return;
  }
  if (rc != SQLITE_ROW) {
    at_end_ = true;
    ThrowSqliteError();
  }
  at_end_ = false;
  const int count = sqlite3_data_count(stmt);
  row_.resize(static_cast<size_t>(count));
  for (int i = 0; i < count && static_cast<size_t>(i) < read_as_.size(); ++i)
    ReadColumnValue(stmt, i, read_as_[static_cast<size_t>(i)], row_[static_cast<size_t>(i)]);
}

void SqlQuery::Next() {
  if (!at_end_) Step();
}

void SqlQuery::First() {
  // reset() repeats the last step's error, which Next() has already reported.
  sqlite3_reset(stmt_.get());
  Step();
}

int64_t SqlQuery::Count() {
  if (count_) return *count_;
  // A count is a pass of its own that a stop may cut short.
  struct Stoppable {
    bool& flag;
    explicit Stoppable(bool& f) : flag(f) { flag = true; }
    ~Stoppable() { flag = false; }
  } stoppable(stoppable_);
  // New lines around the text, so that a "--" comment ending it cannot swallow the ')'.
  const char* tail = nullptr;
  SqliteStmt counter =
      Prepare("select count(*) from (\n" + StatementText(stmt_.get()) + "\n)", &tail);
  if (counter) {
    if (sqlite3_step(counter.get()) != SQLITE_ROW) ThrowSqliteError();
    count_ = sqlite3_column_int64(counter.get(), 0);
    return *count_;
  }
  // Not a query that can be a subquery (a PRAGMA, say): count the rows of a second run,
  // which the constructor made sure changes nothing.
  SqliteStmt again = Prepare(sqlite3_sql(stmt_.get()), &tail);
  if (!again) throw TrundleError(sqlite3_errmsg(db_.get()));
  int64_t rows = 0;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(again.get())) == SQLITE_ROW) ++rows;
  if (rc != SQLITE_DONE) ThrowSqliteError();
  count_ = rows;
  return rows;
}

}  // namespace trundle
