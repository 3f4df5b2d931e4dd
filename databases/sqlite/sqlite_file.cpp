#include "databases/sqlite/sqlite_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "databases/sql/table_names.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// The first 16 bytes of every SQLite 3 database (its file format's header string).
constexpr char kSqliteHeader[] = "SQLite format 3";  // and the terminating zero: 16 bytes
static_assert(sizeof kSqliteHeader == 16);

// A path SQLite would take for a URI when URIs are on in the library's build ("file:x")
// is given a "./" so that it stays a file name.
std::string FileName(const std::string& path) {
  if (path.compare(0, 5, "file:") == 0) return "./" + path;
  return path;
}

// Safer settings for files that come from anywhere: no writes to the schema tables, and
// no SQL functions with side effects called from triggers or views the file defines.
void Harden(sqlite3* db) {
  sqlite3_extended_result_codes(db, 1);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
#ifdef SQLITE_DBCONFIG_TRUSTED_SCHEMA
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
#endif
}

// SQLite opens lazily: the first read of the schema finds a file that is no database.
void ReadSchema(sqlite3* db, const std::string& path, bool writing) {
  const int rc = sqlite3_exec(db, "select count(*) from sqlite_schema", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) return;
  std::string text = SqliteErrorText(db, rc, "Could not read", path);
  if ((rc & 0xff) == SQLITE_NOTADB)
    text = path + " is not a SQLite database (" + sqlite3_errmsg(db) + ")";
  // A write a killed program left unfinished is undone by the next connection that may
  // write; a read-only one cannot, and must not read the half-written pages.
  if (rc == SQLITE_READONLY_ROLLBACK)
    text = path + " holds a write that a program stopped in the middle of (" + path +
           "-journal); it is read once it has been opened for writing (by a run into it, or by "
           "sqlite3), which undoes that write";
  if (writing) throw NotOpenedError(text);
  throw TrundleError(text);
}

SqliteDb Open(const std::string& path, int flags, int busy_wait_ms, const char* what) {
  sqlite3* raw = nullptr;
  // A connection serves one adaptor, used by one thread at a time: SQLite's own locking
  // of it would cost a few percent of a run for nothing.
  const int rc =
      sqlite3_open_v2(FileName(path).c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteDb db(raw);
  if (rc != SQLITE_OK) {
    const std::string cause = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw NotOpenedError(std::string(what) + " " + path + ": " + cause);
  }
  Harden(db.get());
  sqlite3_busy_timeout(db.get(), busy_wait_ms);
  return db;
}

bool InWal(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, "pragma journal_mode", -1, &raw, nullptr);
  const SqliteStmt stmt(raw);
  if (!stmt || sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  return mode && EqualsIgnoringAsciiCase(mode, "wal");
}

std::mutex g_marks_mutex;
std::multiset<std::pair<uint64_t, uint64_t>>& Marks() {
  static std::multiset<std::pair<uint64_t, uint64_t>> marks;
  return marks;
}

}  // namespace

SqliteSourceMark::SqliteSourceMark(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  marked_ = true;
  const std::lock_guard<std::mutex> lock(g_marks_mutex);
  Marks().emplace(device_, inode_);
}

SqliteSourceMark::~SqliteSourceMark() {
  if (!marked_) return;
  const std::lock_guard<std::mutex> lock(g_marks_mutex);
  auto& marks = Marks();
  const auto it = marks.find({device_, inode_});
  if (it != marks.end()) marks.erase(it);
}

bool SqliteSourceMark::IsMarked(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  const std::lock_guard<std::mutex> lock(g_marks_mutex);
  return Marks().count({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}) > 0;
}

const std::vector<std::string>& SqliteExtensions() {
  static const std::vector<std::string> extensions = {".sqlite", ".sqlite3", ".db3"};
  return extensions;
}

bool HasSqliteExtension(std::string_view path) {
  for (const std::string& extension : SqliteExtensions())
    if (EndsWithIgnoringAsciiCase(path, extension)) return true;
  return false;
}

bool SqliteHeaderAt(const std::string& path) {
  // Only a regular file is looked into: opening a FIFO to read would wait for its writer.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[sizeof kSqliteHeader] = {};
  const size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  return got == sizeof head && std::memcmp(head, kSqliteHeader, sizeof head) == 0;
}

bool IsSqlitePath(const std::string& path) {
  return HasSqliteExtension(path) || SqliteHeaderAt(path);
}

SqliteDb OpenSqliteForReading(const std::string& path, int busy_wait_ms) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0)
    throw NotOpenedError("Database " + path + " doesn't exist");
  if (S_ISDIR(st.st_mode)) throw NotOpenedError("Could not open " + path + ": it is a folder");
  SqliteDb db = Open(path, SQLITE_OPEN_READONLY, busy_wait_ms, "Could not open");
  ReadSchema(db.get(), path, false);
  return db;
}

SqliteDb OpenSqliteForWriting(const std::string& path, bool& created, int busy_wait_ms) {
  struct stat st {};
  if (path.empty()) throw NotOpenedError("No database file was named");
  errno = 0;
  created = stat(path.c_str(), &st) != 0;
  if (created && errno != ENOENT)
    throw NotOpenedError("Could not open " + path + ": " + std::strerror(errno));
  if (!created && S_ISDIR(st.st_mode))
    throw NotOpenedError("Could not open " + path + ": it is a folder");
  SqliteDb db = Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, busy_wait_ms,
                     created ? "Could not create" : "Could not open");
  if (created) return db;
  ReadSchema(db.get(), path, true);
  if (SqliteSourceMark::IsMarked(path) && !InWal(db.get()))
    throw NotOpenedError(path +
                         " is this run's source as well: SQLite cannot write to a database "
                         "while a statement reads it, in the rollback journal mode this "
                         "one has; write to another database, or set this one to WAL "
                         "(pragma journal_mode = wal)");
  return db;
}

std::vector<SqliteTable> SqliteTables(sqlite3* db, const std::string& path) {
  // pragma table_list (SQLite 3.37) tells the tables that hold a virtual table's data
  // ("shadow"); an older library lists them along.
  static const char kWithShadows[] =
      "select name, type = 'view' from sqlite_schema where type in ('table', 'view') and "
      "name not like 'sqlite\\_%' escape '\\' order by rowid";
  static const char kWithoutShadows[] =
      "select name, type = 'view' from sqlite_schema where type in ('table', 'view') and "
      "name not like 'sqlite\\_%' escape '\\' and name not in (select name from "
      "pragma_table_list where schema = 'main' and type = 'shadow') order by rowid";
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, kWithoutShadows, -1, &raw, nullptr);
  if (rc != SQLITE_OK) rc = sqlite3_prepare_v2(db, kWithShadows, -1, &raw, nullptr);
  SqliteStmt stmt(raw);
  if (rc != SQLITE_OK)
    throw TrundleError(SqliteErrorText(db, rc, "Could not list the tables of", path));
  std::vector<SqliteTable> tables;
  while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    tables.push_back({name ? name : "", sqlite3_column_int(stmt.get(), 1) != 0});
  }
  if (rc != SQLITE_DONE)
    throw TrundleError(SqliteErrorText(db, rc, "Could not list the tables of", path));
  return tables;
}

std::vector<std::string> SqliteTableNames(const std::string& path) {
  const SqliteDb db = OpenSqliteForReading(path);
  std::vector<std::string> names;
  for (SqliteTable& table : SqliteTables(db.get(), path)) names.push_back(std::move(table.name));
  return names;
}

bool IsSqliteBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

std::string SqliteCause(sqlite3* db, int rc, const std::string& path) {
  if (IsSqliteBusy(rc))
    return path + " is being written by another program; try again when it has finished";
  return db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

std::string SqliteErrorText(sqlite3* db, int rc, const std::string& what, const std::string& path) {
  if (IsSqliteBusy(rc)) return SqliteCause(db, rc, path);
  return what + " " + path + ": " + SqliteCause(db, rc, path);
}

void ExecSqlite(sqlite3* db, const char* sql, const std::string& what, const std::string& path) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) throw TrundleError(SqliteErrorText(db, rc, what, path));
}

std::string SqliteTableSql(const std::string& table) {
  return "select * from " + QuoteSqlName(table);
}

}  // namespace trundle
