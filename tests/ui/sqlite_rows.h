// Reading a SQLite database back in the window's tests, through SQLite's own API.
#pragma once

#include <sqlite3.h>

#include <QStringList>
#include <string>

#include <gtest/gtest.h>

namespace trundle {

// The rows `sql` gives, each one's values joined by '|', read through SQLite's own API.
inline QStringList Query(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  QStringList rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
    QStringList values;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i)
      values << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
    rows << values.join('|');
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

}  // namespace trundle
