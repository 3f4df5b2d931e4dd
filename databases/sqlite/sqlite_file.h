// A SQLite database file as the SQLite kind meets it: telling one from other files,
// opening it for reading or for writing, naming its tables, and SQLite's errors turned
// into sentences that name the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "databases/sql/sqlite_handles.h"

namespace trundle {

// The extensions that are SQLite's alone, with their dot, lower case: ".sqlite", ".sqlite3",
// ".db3". A ".db" file may be SQLite or Paradox: SqliteHeaderAt tells them apart.
const std::vector<std::string>& SqliteExtensions();
// True when path ends in one of SqliteExtensions, in any letter case.
bool HasSqliteExtension(std::string_view path);
// True when the file at path starts with the 16 bytes "SQLite format 3" and a zero byte.
// False for a file that is shorter, unreadable or missing.
bool SqliteHeaderAt(const std::string& path);
// Whether a path names a SQLite database: a SQLite extension, or a file (of any other
// extension, ".db" included) that starts with SQLite's header. A missing ".db" file is
// not SQLite: a new .db destination is a Paradox table.
bool IsSqlitePath(const std::string& path);

// How long a database another connection is writing is waited for before it is
// reported busy.
inline constexpr int kSqliteBusyWaitMs = 5000;

// The database at path opened read-only (never created); throws TrundleError naming it
// when it does not exist or cannot be opened. Nothing is written to the file.
SqliteDb OpenSqliteForReading(const std::string& path, int busy_wait_ms = kSqliteBusyWaitMs);
// The database at path opened for reading and writing, created empty when missing
// (created says which). Throws NotOpenedError naming it when it cannot be opened or
// created (no folder, no permission, a folder in its place), or when it is not in WAL mode
// and a source of this process reads it (SqliteSourceMark).
SqliteDb OpenSqliteForWriting(const std::string& path, bool& created,
                              int busy_wait_ms = kSqliteBusyWaitMs);

// Marks a database file as read by a source of this process for as long as it lives, so
// that a destination can tell that the file it is to write is one a statement of the same
// run reads: SQLite cannot commit to a file in a rollback journal mode while another
// connection's statement reads it, and would wait, then report it busy.
class SqliteSourceMark {
 public:
  explicit SqliteSourceMark(const std::string& path);
  ~SqliteSourceMark();
  SqliteSourceMark(const SqliteSourceMark&) = delete;
  SqliteSourceMark& operator=(const SqliteSourceMark&) = delete;
  // True when a mark on the same file (any path to it) lives.
  static bool IsMarked(const std::string& path);

 private:
  uint64_t device_ = 0, inode_ = 0;
  bool marked_ = false;  // the file was there to be marked
};

// A table or view of a database, as sqlite_schema names it.
struct SqliteTable {
  std::string name;
  bool view = false;
};

// The database's tables and views in the order they were made, without SQLite's own
// (sqlite_*) and without the tables virtual tables keep their data in.
std::vector<SqliteTable> SqliteTables(sqlite3* db, const std::string& path);
// The names of SqliteTables of the database at path, opened read-only: what the command
// line's --list-tables shows. Throws TrundleError naming the file when it cannot be read.
std::vector<std::string> SqliteTableNames(const std::string& path);

// The sentence for a failed SQLite call on db at path: "<what> <path>: <SQLite's
// message>", or the busy sentence when another connection held the database past the
// wait.
std::string SqliteErrorText(sqlite3* db, int rc, const std::string& what, const std::string& path);
// SQLite's message alone, or the busy sentence (which names path).
std::string SqliteCause(sqlite3* db, int rc, const std::string& path);
// True for SQLITE_BUSY and SQLITE_LOCKED in any of their extended forms.
bool IsSqliteBusy(int rc);

// Runs one statement that returns no rows; throws TrundleError made by SqliteErrorText.
void ExecSqlite(sqlite3* db, const char* sql, const std::string& what, const std::string& path);

// "select * from \"NAME\"": the statement proposed for a whole table.
std::string SqliteTableSql(const std::string& table);

}  // namespace trundle
