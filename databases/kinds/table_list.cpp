#include "databases/kinds/table_list.h"

#include <optional>

#include "databases/access/dao.h"
#include "databases/server/oracle_session.h"
#include "databases/sqlite/sqlite_file.h"
#include "engine/errors.h"

namespace trundle {

std::vector<std::string> ListAccessTables(const ConnectionFields& connection) {
  TDAODatabase database;
  database.DatabaseName = connection.database;
  database.Password = connection.password;
  if (const std::optional<int> version = DaoVersionFromName(connection.dao_version))
    database.DAOVersion = *version;
  // Opened first, so that a failure is an error and not an empty list.
  database.Open();
  std::vector<std::string> names;
  database.GetTableNames(names);
  return names;
}

std::vector<std::string> ListServerTables(const ConnectionFields& connection) {
  TOracleSession session;
  session.LogonDatabase = connection.database;
  session.LogonUsername = connection.user;
  session.LogonPassword = connection.password;
  try {
    session.LogOn();
    return session.TableNames();
  } catch (const TrundleError& e) {
    throw TrundleError(session.Scrub(e.what()));
  }
}

std::vector<std::string> ListTables(TDataKind kind, const ConnectionFields& connection) {
  switch (kind) {
    case dkAccess:
      return ListAccessTables(connection);
    case dkOracle:
      return ListServerTables(connection);
    case dkSqlite:
      return SqliteTableNames(connection.database);
    default:
      throw TrundleError("Only a database has a list of tables; " + connection.database +
                         " is a table of its own");
  }
}

}  // namespace trundle
