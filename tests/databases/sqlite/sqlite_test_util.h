// What the SQLite kind's tests share: databases made and read with SQLite's own C API
// (not through the adaptor under test), and whole runs of the job.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "databases/sqlite/trundle_sqlite.h"
#include "engine/adaptor_registry.h"
#include "engine/trundle.h"
#include "tests/test_files.h"

namespace trundle::testing {

// The SQLite kind, its adaptor registered as the window and trundle-cli register it.
inline constexpr TDataKind kSqliteKind = dkSqlite;
inline void LendSqliteKind() {
  RegisterAdaptor(kSqliteKind, [] { return std::make_unique<TTrundleSqlite>(); });
}

// Runs statements on the database at path (made when missing); the test fails on an error.
inline void Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK) << path;
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "") << "\n" << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

// The rows of a query, each its columns joined by '|' (NULL as "NULL"), read with
// SQLite's own text forms.
inline std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << "\n" << sql;
  } else {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        if (i) row += '|';
        row += text ? text : "NULL";
      }
      rows.push_back(row);
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

// Every value of a table as SQLite holds it: its storage class and its SQL literal.
inline std::vector<std::string> Literals(const std::string& path, const std::string& table) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  const std::string sql = "select * from \"" + table + "\" order by rowid";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    ADD_FAILURE() << sqlite3_errmsg(db);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      sqlite3_value* value = sqlite3_column_value(stmt, i);
      sqlite3_stmt* quote = nullptr;
      sqlite3_prepare_v2(db, "select typeof(?1) || ':' || quote(?1)", -1, &quote, nullptr);
      sqlite3_bind_value(quote, 1, value);
      sqlite3_step(quote);
      if (i) row += ' ';
      row += reinterpret_cast<const char*>(sqlite3_column_text(quote, 0));
      sqlite3_finalize(quote);
    }
    out.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

// Runs the job; returns the log between its opening and its closing lines.
inline std::vector<std::string> RunJob(TTrundle& job) {
  std::vector<std::string> log;
  job.OnMessage = [&log](const std::string& m) { log.push_back(m); };
  job.Execute();
  if (log.size() < 4) return log;
  // Up to the completion lines (and what a stop left, which follows them).
  auto end = log.end();
  for (auto line = log.begin(); line != log.end(); ++line)
    if (line->rfind("\r\nCompleted: ", 0) == 0) end = line;
  return std::vector<std::string>(log.begin() + 2, end);
}

// The log's lines joined, for messages to search in.
inline std::string Joined(const std::vector<std::string>& log) {
  std::string all;
  for (const std::string& line : log) all += line + "\n";
  return all;
}

}  // namespace trundle::testing
