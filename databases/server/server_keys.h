// The keys of a server's tables as its ODBC driver's catalogue gives them: a table's
// primary key and unique indexes (SQLPrimaryKeys, SQLStatistics) and the foreign keys
// among the tables (SQLForeignKeys).
//
//   std::optional<TIndexDefs> keys = ReadServerKeys(session, "orders");  // nullopt: no call
//   TRelationDefs relations = ListServerRelationships(connection);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "databases/server/oracle_session.h"
#include "engine/field_types.h"
#include "engine/kind.h"

namespace trundle {

// The table's primary key first (named as the server names it, "PrimaryKey" when it
// gives no name), then its unique indexes over plain columns, each column in key order;
// an index that repeats the primary key's columns is left out. nullopt when the driver
// has no SQLPrimaryKeys or SQLStatistics. Throws TrundleError with the driver's text
// when a call fails. REQUIRES: session.Connected().
std::optional<TIndexDefs> ReadServerKeys(TOracleSession& session, const std::string& table);

// The foreign keys whose referring table is one of `tables` (catalogue names), pair by
// pair in key order, with their cascade rules. nullopt when the driver has no
// SQLForeignKeys. Throws TrundleError with the driver's text when a call fails.
std::optional<TRelationDefs> ReadServerForeignKeys(TOracleSession& session,
                                                   const std::vector<std::string>& tables);

// The server's relationships among its user tables, for the whole-database run. Throws
// TrundleError when the log on fails or the driver cannot give foreign keys ("... keys
// cannot be read through its ODBC driver").
TRelationDefs ListServerRelationships(const ConnectionFields& connection);

// True the first time it is asked for a server's name in this process: a message that
// the driver lacks a call is said once however many tables are read.
bool FirstTimeToldOf(const std::string& what);

}  // namespace trundle
