// The source side of the SQLite kind only reads: a source statement is prepared through
// a guard that refuses, before anything runs, every statement that would change the file
// or make another one. The connection is read-only as well; the guard is what makes the
// refusal a clear sentence and keeps ATTACH and VACUUM INTO (which a read-only
// connection still runs) from creating files.
//
//   SqliteSourceGuard guard(db.get(), path);
//   SqliteStmt stmt = guard.Prepare("select name, sum(total) from orders group by name");
#pragma once

#include <string>

#include "databases/sql/sqlite_handles.h"

namespace trundle {

class SqliteSourceGuard {
 public:
  // Installs the guard on db for as long as it lives (SQLite prepares a statement again
  // through it after a schema change). db must outlive the guard; path names the file in
  // messages.
  SqliteSourceGuard(sqlite3* db, std::string path);
  ~SqliteSourceGuard();
  SqliteSourceGuard(const SqliteSourceGuard&) = delete;
  SqliteSourceGuard& operator=(const SqliteSourceGuard&) = delete;

  // The prepared statement, when sql is one statement that only reads and returns
  // columns. Throws TrundleError with the reason otherwise: a statement that writes
  // (INSERT, CREATE, VACUUM, ...), ATTACH or DETACH, a pragma that sets a value or acts
  // (optimize, wal_checkpoint, ...), more than one statement, none, or SQLite's own error.
  SqliteStmt Prepare(const std::string& sql);

 private:
  static int Authorize(void* self, int action, const char* arg1, const char* arg2,
                       const char* database, const char* trigger);

  sqlite3* db_;          // borrowed
  std::string path_;     // the database's path, for messages
  std::string refusal_;  // why the authorizer refused the last statement; empty if it did not
};

}  // namespace trundle
