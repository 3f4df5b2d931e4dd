// The column types a new server table is declared with, so that every value of the
// source's fields goes in unchanged: whole numbers as wide as they come, currency and
// decimals exact, long text unbounded, bytes as the server's binary type.
//
//   create table "orders" ("ID" bigint not null, "Total" numeric(19,4), primary key ("ID"))
//
// Servers whose types are known here get fixed names; any other is asked through
// SQLGetTypeInfo (CreateTableSql).
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/field_types.h"

namespace trundle {

class TOracleSession;

enum class ServerFamily : uint8_t {
  kPostgres,
  kMySql,  // MySQL and MariaDB
  kSqlite,
  kSqlServer,
  kOracle,
  kOther,  // asked through the driver
};

// The family a server's SQL_DBMS_NAME names ("PostgreSQL", "MariaDB", "Microsoft SQL
// Server", ...); kOther for one not known here.
ServerFamily FamilyOfServer(const std::string& dbms_name);

// The declared type of a new column for `def` on a server of `family`; empty for kOther.
std::string FixedServerType(const TFieldDef& def, ServerFamily family);

// The ODBC SQL types a field may be declared as on a server not known here, the best
// first, for SQLGetTypeInfo (SQL_BIGINT; SQL_WLONGVARCHAR, then SQL_LONGVARCHAR; ...).
std::vector<SQLSMALLINT> OdbcTypesOf(const TFieldDef& def);

// One row of a driver's SQLGetTypeInfo: the type's name and what it takes in brackets.
struct DriverType {
  std::string name;           // TYPE_NAME
  std::string create_params;  // CREATE_PARAMS: "max length", "precision,scale", or ""
  int64_t column_size = 0;    // COLUMN_SIZE: the most characters, digits or bytes
};

// The declaration for `def` from the first of the driver's types of one ODBC type (as
// OdbcTypesOf gives it) that is wide enough: the name, with the field's size, or precision and scale, where
// the type takes them. Empty when the driver offers none, or none wide enough.
std::string DeclaredFromDriver(const TFieldDef& def, const std::vector<DriverType>& offered);

// The whole statement creating `table` on the session's server from the fields: names
// quoted with the server's identifier quote (an empty name becomes FieldN, a name met
// before gets _2, _3, ...), NOT NULL where required, and the first primary key and the
// unique indexes of `keys` over those fields; on MariaDB and MySQL an ftAutoInc field that
// leads one of those keys is AUTO_INCREMENT. `names` gets the column names used.
// Throws TrundleError naming a field whose type the server has no name for.
// REQUIRES: session.Connected().
std::string CreateTableSql(TOracleSession& session, const std::string& table,
                           const TFieldDefs& fields, const TIndexDefs& keys,
                           std::vector<std::string>& names);

}  // namespace trundle
