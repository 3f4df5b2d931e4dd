// The tables a database offers, for the command line's --list-tables and the window's
// table lists: one function for every kind that holds tables by name.
#pragma once

#include <string>
#include <vector>

#include "engine/kind.h"

namespace trundle {

// The names of the database's user tables, in the database's own order. Throws
// TrundleError when the database cannot be opened (the engine's or server's message: a
// missing file, "Not a valid password.", ...) or when the kind holds no tables by name.
std::vector<std::string> ListAccessTables(const ConnectionFields& connection);
std::vector<std::string> ListServerTables(const ConnectionFields& connection);
// The same for any kind that holds tables, by its declaration (front/kinds.h's list).
std::vector<std::string> ListTables(TDataKind kind, const ConnectionFields& connection);

}  // namespace trundle
