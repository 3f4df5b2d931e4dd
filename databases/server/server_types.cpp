#include "databases/server/server_types.h"

#include <sqlext.h>

#include "databases/server/odbc.h"
#include "databases/server/oracle_session.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/key_constraints.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

// What a field needs of a column, whatever the server calls it.
enum class Need : uint8_t {
  kSmall,      // 16-bit whole numbers
  kInteger,    // 32-bit (an unsigned 16-bit word, an AutoNumber)
  kBig,        // 64-bit
  kFloat,      // a double
  kCurrency,   // 4 decimals, 19 digits in all: an Access Currency exactly
  kDecimal,    // Size digits, Decimals of them after the point
  kText,       // at most Size characters
  kLongText,   // no bound
  kBinary,
  kDate,
  kTime,
  kTimestamp,
  kBoolean,
};

// The widest varchar a MariaDB or MySQL row takes many of: its rows hold at most 65,535
// bytes, and a character of utf8mb4 may take 4.
constexpr int kMySqlVarcharWidth = 255;

Need NeedOf(const TFieldDef& def) {
  switch (def.DataType) {
    case ftSmallint:
      return Need::kSmall;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return Need::kInteger;
    case ftLargeint:
      return Need::kBig;
    case ftFloat:
      return Need::kFloat;
    case ftCurrency:
      return Need::kCurrency;
    case ftBCD:
      return Need::kDecimal;
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return def.Size > 0 ? Need::kText : Need::kLongText;
    case ftGuid:
      return Need::kText;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return Need::kBinary;
    case ftDate:
      return Need::kDate;
    case ftTime:
      return Need::kTime;
    case ftDateTime:
      return Need::kTimestamp;
    case ftBoolean:
      return Need::kBoolean;
    default:
      return Need::kLongText;  // memo and anything else that arrives as text
  }
}

// A GUID's text, braces included.
int TextWidth(const TFieldDef& def) { return def.DataType == ftGuid ? 38 : def.Size; }

// "name(size)", built by appending (GCC 12 warns falsely of overlap for a '+' chain).
std::string Sized(const char* name, int size) {
  std::string out = name;
  out.append("(").append(std::to_string(size)).append(")");
  return out;
}

std::string Decimal(const char* name, int size, int decimals) {
  std::string out = name;
  out.append("(").append(std::to_string(size)).append(",").append(std::to_string(decimals));
  return out.append(")");
}

// A decimal's declaration where its precision fits the server's `most`; else `otherwise`
// (the server's unbounded number where it has one, its long text where not, so that no
// digit is lost).
std::string DecimalOrElse(const char* name, const TFieldDef& def, int most,
                          const std::string& otherwise) {
  if (def.Size <= 0 || def.Size > most || def.Decimals < 0 || def.Decimals > def.Size)
    return otherwise;
  return Decimal(name, def.Size, def.Decimals);
}

std::string PostgresType(const TFieldDef& def, Need need) {
  switch (need) {
    case Need::kSmall: return "smallint";
    case Need::kInteger: return "integer";
    case Need::kBig: return "bigint";
    case Need::kFloat: return "double precision";
    case Need::kCurrency: return "numeric(19,4)";
    case Need::kDecimal: return DecimalOrElse("numeric", def, 1000, "numeric");
    case Need::kText: return TextWidth(def) <= 10485760 ? Sized("varchar", TextWidth(def)) : "text";
    case Need::kLongText: return "text";
    case Need::kBinary: return "bytea";
    case Need::kDate: return "date";
    case Need::kTime: return "time";
    case Need::kTimestamp: return "timestamp";
    case Need::kBoolean: return "boolean";
  }
  return "text";
}

std::string MySqlType(const TFieldDef& def, Need need) {
  switch (need) {
    case Need::kSmall: return "smallint";
    case Need::kInteger: return "int";
    case Need::kBig: return "bigint";
    case Need::kFloat: return "double";
    case Need::kCurrency: return "decimal(19,4)";
    case Need::kDecimal:
      // Its decimals at most 30.
      return def.Decimals <= 30 ? DecimalOrElse("decimal", def, 65, "longtext") : "longtext";
    case Need::kText:
      if (TextWidth(def) <= kMySqlVarcharWidth) return Sized("varchar", TextWidth(def));
      // text holds 65,535 bytes, mediumtext 16 MB: 4 bytes a character.
      return TextWidth(def) <= 16383 ? "text" : TextWidth(def) <= 4194303 ? "mediumtext" : "longtext";
    case Need::kLongText: return "longtext";
    case Need::kBinary: return "longblob";
    case Need::kDate: return "date";
    case Need::kTime: return "time(3)";
    case Need::kTimestamp: return "datetime(3)";
    case Need::kBoolean: return "boolean";
  }
  return "longtext";
}

// SQLite keeps any value in any column: the names are the ones the SQLite kind gives its
// own tables, so that both read them back alike.
std::string SqliteType(const TFieldDef& def, Need need) {
  switch (need) {
    case Need::kSmall:
    case Need::kInteger:
    case Need::kBig: return "INTEGER";
    case Need::kFloat: return "REAL";
    case Need::kCurrency: return "CURRENCY";
    case Need::kDecimal: return DecimalOrElse("DECIMAL", def, 1000, "NUMERIC");
    case Need::kText:
    case Need::kLongText: return "TEXT";
    case Need::kBinary: return "BLOB";
    case Need::kDate: return "DATE";
    case Need::kTime: return "TIME";
    case Need::kTimestamp: return "DATETIME";
    case Need::kBoolean: return "BOOLEAN";
  }
  return "TEXT";
}

std::string SqlServerType(const TFieldDef& def, Need need) {
  switch (need) {
    case Need::kSmall: return "smallint";
    case Need::kInteger: return "int";
    case Need::kBig: return "bigint";
    case Need::kFloat: return "float";
    case Need::kCurrency: return "decimal(19,4)";
    case Need::kDecimal: return DecimalOrElse("decimal", def, 38, "nvarchar(max)");
    case Need::kText: return TextWidth(def) <= 4000 ? Sized("nvarchar", TextWidth(def)) : "nvarchar(max)";
    case Need::kLongText: return "nvarchar(max)";
    case Need::kBinary: return "varbinary(max)";
    case Need::kDate: return "date";
    case Need::kTime: return "time(3)";
    case Need::kTimestamp: return "datetime2(3)";
    case Need::kBoolean: return "bit";
  }
  return "nvarchar(max)";
}

std::string OracleType(const TFieldDef& def, Need need) {
  switch (need) {
    case Need::kSmall: return "NUMBER(5)";
    case Need::kInteger: return "NUMBER(10)";
    case Need::kBig: return "NUMBER(19)";
    case Need::kFloat: return "BINARY_DOUBLE";
    case Need::kCurrency: return "NUMBER(19,4)";
    case Need::kDecimal: return DecimalOrElse("NUMBER", def, 38, "NUMBER");
    case Need::kText: return TextWidth(def) <= 2000 ? Sized("NVARCHAR2", TextWidth(def)) : "NCLOB";
    case Need::kLongText: return "NCLOB";
    case Need::kBinary: return "BLOB";
    case Need::kDate: return "DATE";
    // Oracle has no type for a time of day alone.
    case Need::kTime:
    case Need::kTimestamp: return "TIMESTAMP(3)";
    case Need::kBoolean: return "NUMBER(1)";
  }
  return "NCLOB";
}

// The driver's types of one ODBC type, as SQLGetTypeInfo lists them.
std::vector<DriverType> OfferedTypes(SQLHDBC connection, SQLSMALLINT sql_type) {
  std::vector<DriverType> out;
  odbc::Handle stmt(SQL_HANDLE_STMT, connection);
  if (!SQL_SUCCEEDED(SQLGetTypeInfo(stmt.get(), sql_type))) return out;
  while (SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    DriverType type;
    char text[256] = {};
    SQLLEN length = 0;
    if (SQL_SUCCEEDED(SQLGetData(stmt.get(), 1, SQL_C_CHAR, text, sizeof text, &length)) &&
        length != SQL_NULL_DATA)
      type.name = text;
    SQLBIGINT size = 0;
    if (SQL_SUCCEEDED(SQLGetData(stmt.get(), 3, SQL_C_SBIGINT, &size, 0, &length)) &&
        length != SQL_NULL_DATA)
      type.column_size = size;
    text[0] = '\0';
    if (SQL_SUCCEEDED(SQLGetData(stmt.get(), 6, SQL_C_CHAR, text, sizeof text, &length)) &&
        length != SQL_NULL_DATA)
      type.create_params = text;
    if (!type.name.empty()) out.push_back(std::move(type));
  }
  return out;
}

bool Taken(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& other : names)
    if (EqualsIgnoringAsciiCase(other, name)) return true;
  return false;
}

}  // namespace

ServerFamily FamilyOfServer(const std::string& dbms_name) {
  const std::string name = LowerAscii(dbms_name);
  if (name.find("postgres") != std::string::npos) return ServerFamily::kPostgres;
  if (name.find("mysql") != std::string::npos || name.find("mariadb") != std::string::npos)
    return ServerFamily::kMySql;
  if (name.find("sqlite") != std::string::npos) return ServerFamily::kSqlite;
  if (name.find("sql server") != std::string::npos) return ServerFamily::kSqlServer;
  if (name.find("oracle") != std::string::npos) return ServerFamily::kOracle;
  return ServerFamily::kOther;
}

std::string FixedServerType(const TFieldDef& def, ServerFamily family) {
  const Need need = NeedOf(def);
  switch (family) {
    case ServerFamily::kPostgres: return PostgresType(def, need);
    case ServerFamily::kMySql: return MySqlType(def, need);
    case ServerFamily::kSqlite: return SqliteType(def, need);
    case ServerFamily::kSqlServer: return SqlServerType(def, need);
    case ServerFamily::kOracle: return OracleType(def, need);
    case ServerFamily::kOther: break;
  }
  return "";
}

std::vector<SQLSMALLINT> OdbcTypesOf(const TFieldDef& def) {
  switch (NeedOf(def)) {
    case Need::kSmall: return {SQL_SMALLINT, SQL_INTEGER, SQL_BIGINT};
    case Need::kInteger: return {SQL_INTEGER, SQL_BIGINT};
    case Need::kBig: return {SQL_BIGINT, SQL_DECIMAL, SQL_NUMERIC};
    case Need::kFloat: return {SQL_DOUBLE, SQL_FLOAT};
    case Need::kCurrency:
    case Need::kDecimal: return {SQL_DECIMAL, SQL_NUMERIC};
    case Need::kText: return {SQL_WVARCHAR, SQL_VARCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR};
    case Need::kLongText: return {SQL_WLONGVARCHAR, SQL_LONGVARCHAR};
    case Need::kBinary: return {SQL_LONGVARBINARY, SQL_VARBINARY};
    case Need::kDate: return {SQL_TYPE_DATE, SQL_TYPE_TIMESTAMP};
    case Need::kTime: return {SQL_TYPE_TIME, SQL_TYPE_TIMESTAMP};
    case Need::kTimestamp: return {SQL_TYPE_TIMESTAMP};
    case Need::kBoolean: return {SQL_BIT, SQL_SMALLINT};
  }
  return {};
}

std::string DeclaredFromDriver(const TFieldDef& def, const std::vector<DriverType>& offered) {
  const Need need = NeedOf(def);
  // Currency: 19 digits, 4 after the point.
  const int digits = need == Need::kCurrency ? 19 : def.Size;
  const int decimals = need == Need::kCurrency ? 4 : def.Decimals;
  for (const DriverType& type : offered) {
    const std::string params = LowerAscii(type.create_params);
    if (need == Need::kCurrency || need == Need::kDecimal) {
      // A decimal of unknown precision needs a type that says it has no bound.
      if (digits <= 0 || (type.column_size > 0 && digits > type.column_size)) continue;
      if (params.find("precision") != std::string::npos)
        return params.find("scale") != std::string::npos
                   ? Decimal(type.name.c_str(), digits, decimals)
                   : Sized(type.name.c_str(), digits);
      continue;  // a decimal type that takes no precision may round
    }
    if (need == Need::kText) {
      if (type.column_size > 0 && TextWidth(def) > type.column_size) continue;
      if (params.find("length") != std::string::npos)
        return Sized(type.name.c_str(), TextWidth(def));
      return type.name;
    }
    return type.name;
  }
  return "";
}

// An auto-increment field becomes MariaDB's and MySQL's AUTO_INCREMENT where the server
// takes it: the first field of the primary key or of a unique key. The values given are
// kept, and the server counts on from the highest by itself.
static bool CountedInMySql(const TFieldDef& def, const TIndexDefs& keys) {
  if (def.DataType != ftAutoInc) return false;
  bool primary_seen = false;
  for (const TIndexDef& key : keys) {
    if (key.Primary && primary_seen) continue;
    primary_seen = primary_seen || key.Primary;
    if ((key.Primary || key.Unique) && !key.Fields.empty() &&
        EqualsIgnoringAsciiCase(key.Fields.front(), def.Name))
      return true;
  }
  return false;
}

std::string CreateTableSql(TOracleSession& session, const std::string& table,
                           const TFieldDefs& fields, const TIndexDefs& keys,
                           std::vector<std::string>& names) {
  const ServerFamily family = FamilyOfServer(session.DbmsName());
  names.clear();
  std::string sql = "create table " + session.QuotedIdentifier(table) + " (";
  for (size_t i = 0; i < fields.size(); ++i) {
    const TFieldDef& def = fields[i];
    std::string name = def.Name.empty() ? "Field" + std::to_string(i + 1) : def.Name;
    const std::string wanted = name;
    for (int n = 2; Taken(names, name); ++n) name = wanted + "_" + std::to_string(n);
    std::string type = FixedServerType(def, family);
    for (const SQLSMALLINT sql_type : family == ServerFamily::kOther ? OdbcTypesOf(def)
                                                                     : std::vector<SQLSMALLINT>{}) {
      type = DeclaredFromDriver(def, OfferedTypes(session.connection(), sql_type));
      if (!type.empty()) break;
    }
    if (type.empty())
      throw TrundleError("The table " + table + " cannot be created: the server " +
                         session.DbmsName() + " offers no type that holds field " +
                         ShownInLog(name) + " (" + FieldTypeName(def.DataType) + ") whole");
    sql += (i ? ", " : "") + session.QuotedIdentifier(name) + " " + type +
           (def.Required ? " not null" : "") +
           (family == ServerFamily::kMySql && CountedInMySql(def, keys) ? " auto_increment" : "");
    names.push_back(std::move(name));
  }
  sql += KeyConstraintsSql(keys, fields, names, [&session](const std::string& name) {
    return session.QuotedIdentifier(name);
  });
  return sql + ")";
}

}  // namespace trundle
