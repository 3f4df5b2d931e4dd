// The structure of a SQLite database beyond its tables' fields: the indexes of a table,
// the foreign keys among its tables, and foreign keys given to tables already made.
//
//   TIndexDefs indexes = SqliteIndexes(db, "orders", path);   // unique and plain ones
//   TRelationDefs relations = SqliteRelationships(path);       // PRAGMA foreign_key_list
//   for (auto& line : AddSqliteRelationships(path, relations)) log(line);
#pragma once

#include <string>
#include <vector>

#include "databases/sql/sqlite_handles.h"
#include "engine/field_types.h"

namespace trundle {

// The indexes of table that key plain columns, unique or not, in the order SQLite lists
// them; the primary key's own index is left out (table_info gives the primary key), and so
// are partial indexes and indexes over expressions, which a list of fields cannot say.
// Throws TrundleError naming the file when SQLite fails.
TIndexDefs SqliteIndexes(sqlite3* db, const std::string& table, const std::string& path);

// The foreign keys of every user table of the database at path (opened read-only), each
// with its fields in key order; a foreign key that names no parent fields refers to the
// parent's primary key, whose fields are filled in. Throws TrundleError naming the file.
TRelationDefs SqliteRelationships(const std::string& path);

// Gives the tables of the database at path the foreign keys of relations. SQLite cannot add
// a constraint to a table, so each child table is made again with its foreign keys: a new
// table from the old one's statement, its records copied, the old one dropped, the new one
// renamed and the old one's indexes and triggers made again, in one transaction per table
// with foreign key enforcement off. A relationship whose tables or fields are missing,
// whose parent fields are not the parent's primary key or a unique index, or whose child
// records have no parent record, is left out with a line saying why; the others are made.
// Throws TrundleError naming the file when it cannot be opened.
std::vector<std::string> AddSqliteRelationships(const std::string& path,
                                                const TRelationDefs& relations);

// The text of a CREATE TABLE statement from its opening parenthesis on, or empty when it
// has none outside quotes (names may hold parentheses inside "", '', `` or []).
std::string SqliteTableBody(const std::string& create_sql);

}  // namespace trundle
