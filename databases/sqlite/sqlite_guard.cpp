#include "databases/sqlite/sqlite_guard.h"

#include <cstring>

#include "databases/sqlite/sqlite_file.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// Pragmas that only describe what they are given (a table, an index, how much to check):
// their argument is no new setting.
constexpr const char* kDescribingPragmas[] = {
    "table_info", "table_xinfo",      "table_list",        "index_info",      "index_xinfo",
    "index_list", "foreign_key_list", "foreign_key_check", "integrity_check", "quick_check",
};
// Pragmas that act even without an argument: they may write to the file or its journal.
constexpr const char* kActingPragmas[] = {"optimize", "wal_checkpoint", "incremental_vacuum",
                                          "shrink_memory"};

template <size_t N>
bool Listed(const char* const (&list)[N], const char* name) {
  for (const char* entry : list)
    if (EqualsIgnoringAsciiCase(entry, name)) return true;
  return false;
}

// The statement's first word, upper-cased, after blanks and comments.
std::string FirstWord(const char* sql) {
  const char* p = sql;
  for (;;) {
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '(') ++p;
    if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      p = end ? end + 2 : p + std::strlen(p);
    } else {
      break;
    }
  }
  std::string word;
  while ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')) word += UpperAsciiChar(*p++);
  return word;
}

}  // namespace

SqliteSourceGuard::SqliteSourceGuard(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)) {
  sqlite3_set_authorizer(db_, &SqliteSourceGuard::Authorize, this);
}

SqliteSourceGuard::~SqliteSourceGuard() { sqlite3_set_authorizer(db_, nullptr, nullptr); }

int SqliteSourceGuard::Authorize(void* self, int action, const char* arg1, const char* arg2,
                                 const char* /*database*/, const char* /*trigger*/) {
  auto& guard = *static_cast<SqliteSourceGuard*>(self);
  switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      guard.refusal_ = "The source statement attaches or detaches a database; a source reads " +
                       guard.path_ + " alone";
      return SQLITE_DENY;
    case SQLITE_PRAGMA: {
      const char* name = arg1 ? arg1 : "";
      const bool sets = arg2 != nullptr && !Listed(kDescribingPragmas, name);
      if (!sets && !Listed(kActingPragmas, name)) return SQLITE_OK;
      guard.refusal_ = std::string("The source statement's PRAGMA ") + name + " would change " +
                       guard.path_ + " or how it is read; a source is only read";
      return SQLITE_DENY;
    }
    default:
      return SQLITE_OK;
  }
}

SqliteStmt SqliteSourceGuard::Prepare(const std::string& sql) {
  refusal_.clear();
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
  SqliteStmt stmt(raw);
  if (rc != SQLITE_OK) {
    if (!refusal_.empty()) throw TrundleError(refusal_);
    throw TrundleError(SqliteErrorText(db_, rc, "The source statement could not be run on", path_));
  }
  if (!stmt) throw TrundleError("The source statement for " + path_ + " is empty");
  // What follows the first statement must be blanks, comments and semicolons: a second
  // statement would never be run, and leaving it out silently reads less than asked.
  sqlite3_stmt* next = nullptr;
  rc = sqlite3_prepare_v2(db_, tail, -1, &next, nullptr);
  const SqliteStmt second(next);
  if (rc != SQLITE_OK || second)
    throw TrundleError("The source statement for " + path_ +
                       " holds more than one statement; a source runs one");
  if (!sqlite3_stmt_readonly(stmt.get())) {
    if (FirstWord(sql.c_str()) == "VACUUM")
      throw TrundleError(
          "The source statement VACUUM writes a database file; a source is only "
          "read");
    throw TrundleError("The source statement would change " + path_ + "; a source is only read");
  }
  if (sqlite3_column_count(stmt.get()) == 0)
    throw TrundleError("The source statement for " + path_ + " returns no records");
  return stmt;
}

}  // namespace trundle
