// Foreign keys added to tables of a server reached through ODBC, once their records are in.
//
//   for (auto& line : AddServerRelationships(connection, relations)) log(line);
#pragma once

#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/kind.h"

namespace trundle {

// On PostgreSQL, MariaDB and MySQL each relation is one ALTER TABLE ... ADD CONSTRAINT ...
// FOREIGN KEY, committed alone, so that one the server refuses (a missing table or key,
// child records with no parent) is a line naming it and the server's reason while the
// others are made. Other servers (SQLite through its driver among them) get one line per
// relation saying it is not made there. Throws TrundleError when the log on fails.
std::vector<std::string> AddServerRelationships(const ConnectionFields& connection,
                                                const TRelationDefs& relations);

}  // namespace trundle
