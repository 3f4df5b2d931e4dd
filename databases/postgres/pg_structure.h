// The structure of a PostgreSQL table beyond its fields: its indexes, its auto-increment
// columns, the foreign keys among the search path's tables, and foreign keys added to
// tables already made.
//
//   TIndexDefs keys = PgIndexes(db, table);              // primary key first
//   TRelationDefs relations = PgRelationships(db);       // pg_constraint, contype 'f'
//   for (auto& line : AddPgRelationships(db, relations)) log(line);
#pragma once

#include <string>
#include <vector>

#include "databases/postgres/pg_connection.h"
#include "engine/field_types.h"

namespace trundle {

// The table's primary key, then its other indexes over plain columns, unique or not, by
// name; partial indexes and indexes over expressions are left out, as are the columns an
// index only INCLUDEs. Throws TrundleError naming the location.
TIndexDefs PgIndexes(PgConnection& db, const PgTable& table);

// The names of the table's identity and serial columns (a default drawn from a sequence).
std::vector<std::string> PgCountedColumns(PgConnection& db, const PgTable& table);

// The foreign keys of the search path's tables, each with its fields in key order.
TRelationDefs PgRelationships(PgConnection& db);

// Adds each relation as ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY, each in its own
// statement, so that one the server refuses (a missing table or key, child records with no
// parent) is a line naming it and the server's reason while the others are made.
std::vector<std::string> AddPgRelationships(PgConnection& db, const TRelationDefs& relations);

}  // namespace trundle
