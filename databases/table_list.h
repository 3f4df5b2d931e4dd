// The tables a database offers, for the command line's --list-tables and the window's
// table lists: one function for every kind that holds tables by name.
#pragma once

#include <string>
#include <vector>

#include "engine/trundle_unknown.h"

namespace trundle {

// What it takes to reach a database, as the adaptors' fields hold it.
struct ConnectionFields {
  std::string database;     // Access: the file's path; server: the data source
  std::string user;         // server only
  std::string password;     // never shown in a message
  std::string dao_version;  // Access only: "dao35" or "dao36" (anything else: dao35)
};

// The names of the database's user tables, in the database's own order. Throws
// TrundleError when the database cannot be opened (the engine's or server's message: a
// missing file, "Not a valid password.", ...) or when the kind holds no tables by name.
std::vector<std::string> ListTables(TDataKind kind, const ConnectionFields& connection);

}  // namespace trundle
