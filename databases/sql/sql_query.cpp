#include "databases/sql/sql_query.h"

#include <climits>
#include <string_view>

#include "databases/sql/sql_types.h"
#include "databases/sql/table_names.h"
#include "engine/errors.h"

namespace trundle {
namespace {

constexpr std::string_view kNoSuchTable = "no such table: ";
// Each round exposes one file or fails, and a name is exposed at most twice, so this only
// guards against a statement naming an absurd number of tables.
constexpr int kMaxRounds = 200;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

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

// The statement's own text without the ';' and white space that may end it.
std::string StatementText(sqlite3_stmt* stmt) {
  std::string text = sqlite3_sql(stmt);
  while (!text.empty() && (text.back() == ';' || text.back() == ' ' || text.back() == '\n' ||
                           text.back() == '\t' || text.back() == '\r'))
    text.pop_back();
  return text;
}

}  // namespace

SqlQuery::SqlQuery(const std::string& sql, const std::string& base_folder,
                   const TableReadOptions& options)
    : SqlQuery(sql, std::make_shared<TableFileResolver>(base_folder, options)) {}

SqlQuery::SqlQuery(const std::string& sql, std::shared_ptr<const TableResolver> tables)
    : tables_(std::move(tables)) {
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
  RegisterFileTableModule(db_.get(), &catalog_);
  stmt_ = PrepareResolvingTables(sql);
  Step();
  Describe();
}

SqlQuery::~SqlQuery() = default;

void SqlQuery::Exec(const std::string& sql) {
  if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
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
      return stmt;
    }
    const std::string message = sqlite3_errmsg(db_.get());
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
    if (StartsWithIgnoringCase(missing, known)) {
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
    throw TrundleError(sqlite3_errmsg(db_.get()));
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
  // New lines around the text, so that a "--" comment ending it cannot swallow the ')'.
  const char* tail = nullptr;
  SqliteStmt counter =
      Prepare("select count(*) from (\n" + StatementText(stmt_.get()) + "\n)", &tail);
  if (counter) {
    if (sqlite3_step(counter.get()) != SQLITE_ROW) throw TrundleError(sqlite3_errmsg(db_.get()));
    count_ = sqlite3_column_int64(counter.get(), 0);
    return *count_;
  }
  // Not a query that can be a subquery (a PRAGMA, say): count the rows of a second run,
  // which only a statement that changes nothing may have.
  if (!sqlite3_stmt_readonly(stmt_.get()))
    throw TrundleError("Cannot count the records of a statement that changes data");
  SqliteStmt again = Prepare(sqlite3_sql(stmt_.get()), &tail);
  if (!again) throw TrundleError(sqlite3_errmsg(db_.get()));
  int64_t rows = 0;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(again.get())) == SQLITE_ROW) ++rows;
  if (rc != SQLITE_DONE) throw TrundleError(sqlite3_errmsg(db_.get()));
  count_ = rows;
  return rows;
}

}  // namespace trundle
