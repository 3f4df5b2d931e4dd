#include "databases/server/oracle_session.h"

#include <sqlext.h>

#include <algorithm>

#include "databases/server/server_types.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// Rows psqlODBC fetches through its cursor at a time.
constexpr int kCursorFetchRows = 4096;

// A connection-string value, braced when it holds a character the syntax uses.
std::string AttributeValue(const std::string& value) {
  if (value.find_first_of(";{}=") == std::string::npos && !value.empty() && value.front() != ' ' &&
      value.back() != ' ')
    return value;
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// A name the server takes unquoted whatever it is: a letter or underscore, then letters,
// digits, underscores, $ and #. Such a name cannot end a statement or begin another.
bool IsPlainIdentifier(const std::string& name) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (name.empty() || !(letter(name[0]) || name[0] == '_')) return false;
  for (char c : name)
    if (!(letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#')) return false;
  return true;
}

std::string InfoText(SQLHDBC connection, SQLUSMALLINT what) {
  char buffer[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(connection, what, buffer, sizeof buffer, &length))) return "";
  return buffer;
}

}  // namespace

TOracleSession::~TOracleSession() { LogOff(); }

TOracleSession::Catalogue TOracleSession::ReadCatalogue(SQLHENV environment) {
  Catalogue catalogue;
  SQLCHAR name[512];
  SQLCHAR more[2048];
  SQLSMALLINT name_length = 0;
  SQLSMALLINT more_length = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
       SQL_SUCCEEDED(SQLDataSources(environment, direction, name, sizeof name, &name_length, more,
                                    sizeof more, &more_length));
       direction = SQL_FETCH_NEXT)
    catalogue.data_sources.emplace_back(reinterpret_cast<const char*>(name));
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
       SQL_SUCCEEDED(SQLDrivers(environment, direction, name, sizeof name, &name_length, more,
                                sizeof more, &more_length));
       direction = SQL_FETCH_NEXT)
    catalogue.drivers.emplace_back(reinterpret_cast<const char*>(name));
  return catalogue;
}

std::string TOracleSession::ConnectionString(const std::string& database, const std::string& user,
                                             const std::string& password,
                                             const Catalogue& catalogue) {
  std::string text;
  if (database.find('=') != std::string::npos) {
    text = database;
  } else if (database.empty()) {
    throw TrundleError("No database given: name a data source or give an ODBC connection string");
  } else {
    for (const std::string& name : catalogue.data_sources)
      if (EqualsIgnoringAsciiCase(name, database)) text = "DSN=" + AttributeValue(database);
    if (text.empty()) {
      std::string driver;
      for (const std::string& name : catalogue.drivers)
        if (driver.empty() && UpperAscii(name).find("ORACLE") != std::string::npos) driver = name;
      if (driver.empty())
        throw TrundleError("\"" + database +
                           "\" is no configured data source, and no Oracle ODBC driver is "
                           "installed to reach it as an Oracle connect identifier (odbcinst.ini "
                           "names none); give an ODBC connection string instead");
      text = "Driver={" + driver + "};DBQ=" + AttributeValue(database);
    }
  }
  while (!text.empty() && (text.back() == ';' || text.back() == ' ')) text.pop_back();
  if (!user.empty()) text += ";UID=" + AttributeValue(user);
  if (!password.empty()) text += ";PWD=" + AttributeValue(password);
  return text;
}

void TOracleSession::LogOn() {
  LogOff();
  if (!environment_) {
    environment_ = odbc::Handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
    SQLSetEnvAttr(environment_.get(), SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  // The catalogue is read only when the text is no connection string.
  const Catalogue catalogue = LogonDatabase.find('=') == std::string::npos
                                  ? ReadCatalogue(environment_.get())
                                  : Catalogue();
  const std::string text = ConnectionString(LogonDatabase, LogonUsername, LogonPassword, catalogue);
  Connect(text);
  dbms_name_ = InfoText(connection_.get(), SQL_DBMS_NAME);
  is_postgres_ = FamilyOfServer(dbms_name_) == ServerFamily::kPostgres;
  // psqlODBC keeps a whole result in memory unless told to read it through a cursor, a
  // block of rows at a time; a user's own setting stands. The server's name decides, not
  // the driver's: SQL_DRIVER_NAME is a file name that builds and packages spell as they
  // please, while psqlODBC names PostgreSQL for every server it reaches. The keywords are
  // psqlODBC's own; another driver for PostgreSQL passes over keywords it does not know.
  if (is_postgres_ && UpperAscii(text).find("USEDECLAREFETCH") == std::string::npos) {
    SQLDisconnect(connection_.get());
    connected_ = false;
    Connect(text + ";UseDeclareFetch=1;Fetch=" + std::to_string(kCursorFetchRows));
  }
  is_oracle_ = EqualsIgnoringAsciiCase(dbms_name_, "Oracle");
  identifier_quote_ = InfoText(connection_.get(), SQL_IDENTIFIER_QUOTE_CHAR);
  if (identifier_quote_ == " ") identifier_quote_.clear();
  // Batches are the job's transactions: nothing is kept until Commit.
  const SQLRETURN manual = SQLSetConnectAttr(connection_.get(), SQL_ATTR_AUTOCOMMIT,
                                             reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  if (!SQL_SUCCEEDED(manual)) {
    const std::string message = odbc::Diagnostics(SQL_HANDLE_DBC, connection_.get());
    LogOff();
    throw TrundleError("The server cannot work in transactions: " + message);
  }
  // MariaDB and MySQL take a 0 written into an AUTO_INCREMENT field for "the next number"
  // unless told otherwise: a source's own 0 would arrive as another value.
  if (IsMySqlFamily()) {
    try {
      ExecuteDirect(
          "set session sql_mode = concat_ws(',', nullif(@@session.sql_mode, ''), "
          "'NO_AUTO_VALUE_ON_ZERO')");
    } catch (const std::exception& e) {
      LogOff();
      throw TrundleError(std::string("The server refused the session's settings: ") + e.what());
    }
  }
}

void TOracleSession::Connect(const std::string& text) {
  connection_ = odbc::Handle(SQL_HANDLE_DBC, environment_.get());
  SQLSetConnectAttr(connection_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout_seconds)), 0);
  std::string in = text;
  const SQLRETURN rc =
      SQLDriverConnect(connection_.get(), nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS,
                       nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    std::string message = Scrub(odbc::Diagnostics(SQL_HANDLE_DBC, connection_.get()));
    connection_.Reset();
    throw TrundleError(message.empty() ? "The server refused the log on" : message);
  }
  connected_ = true;
}

void TOracleSession::LogOff() {
  if (connected_) {
    SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
    SQLDisconnect(connection_.get());
  }
  connected_ = false;
  connection_.Reset();
}

void TOracleSession::Commit() {
  if (!connected_) throw TrundleError("Not logged on");
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_COMMIT);
  if (!SQL_SUCCEEDED(rc) && odbc::UndidTransaction(SQL_HANDLE_DBC, connection_.get(),
                                                 IsMySqlFamily())) {
    const std::string text = odbc::Diagnostics(SQL_HANDLE_DBC, connection_.get());
    throw BatchUndoneError(text, text);
  }
  odbc::Check(rc, connection_, "The server refused to commit");
}

void TOracleSession::Rollback() {
  if (!connected_) throw TrundleError("Not logged on");
  odbc::Check(SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK), connection_,
              "The server refused to roll back");
}

void TOracleSession::ExecuteDirect(const std::string& sql) {
  if (!connected_) throw TrundleError("Not logged on");
  odbc::Handle statement(SQL_HANDLE_STMT, connection_.get());
  std::string text = sql;
  odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS),
              statement, "The server refused the statement");
}

void TOracleSession::SetTransaction(const std::string& mode) {
  if (!connected_) throw TrundleError("Not logged on");
  if (!is_oracle_) return;
  odbc::Handle statement(SQL_HANDLE_STMT, connection_.get());
  std::string sql = "SET TRANSACTION " + mode;
  odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS),
              statement, "The server refused " + sql);
}

std::vector<std::string> TOracleSession::TableNames() {
  std::vector<std::string> names;
  for (CatalogueTable& table : CatalogueTables())
    if (table.is_table) names.push_back(std::move(table.name));
  return names;
}

std::vector<TOracleSession::CatalogueTable> TOracleSession::CatalogueTables() {
  if (!connected_) throw TrundleError("Not logged on");
  odbc::Handle statement(SQL_HANDLE_STMT, connection_.get());
  // The columns of the result: schema (0: none), name, type.
  SQLUSMALLINT schema_column = 2, name_column = 3, type_column = 4;
  if (is_oracle_) {
    // The user's own tables and views; another schema's table is named with its schema.
    std::string sql =
        "select table_name, 'TABLE' from user_tables union all "
        "select view_name, 'VIEW' from user_views";
    odbc::Check(SQLExecDirect(statement.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS),
                statement, "The table list cannot be read");
    schema_column = 0;
    name_column = 1;
    type_column = 2;
  } else {
    // Every object of the catalogue, its type checked by the caller: drivers differ in
    // how they read a list of types.
    odbc::Check(SQLTables(statement.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0),
                statement, "The table list cannot be read");
  }
  // The text of a column of the current row; false for NULL.
  const auto text_of = [&statement](SQLUSMALLINT column, std::string& out) {
    char text[1024];
    SQLLEN length = 0;
    odbc::Check(SQLGetData(statement.get(), column, SQL_C_CHAR, text, sizeof text, &length),
                statement, "The table list cannot be read");
    if (length == SQL_NULL_DATA) return false;
    out = text;
    return true;
  };
  std::vector<CatalogueTable> tables;
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) break;
    odbc::Check(rc, statement, "The table list cannot be read");
    CatalogueTable table;
    std::string type;
    if (!text_of(name_column, table.name)) continue;
    if (schema_column > 0) text_of(schema_column, table.schema);
    table.is_table = text_of(type_column, type) && UpperAscii(type) == "TABLE";
    tables.push_back(std::move(table));
  }
  return tables;
}

std::string TOracleSession::QuotedIdentifier(const std::string& name) const {
  if (identifier_quote_.empty()) {
    if (IsPlainIdentifier(name)) return name;
    throw TrundleError("The name " + name +
                       " needs quoting, and the server's driver has no quote character");
  }
  std::string out = identifier_quote_;
  for (char c : name) {
    out += c;
    if (identifier_quote_.size() == 1 && c == identifier_quote_[0]) out += c;
  }
  return out + identifier_quote_;
}

std::string TOracleSession::QuotedTableName(const std::string& name) {
  if (name.empty()) throw TrundleError("No table given");
  if (name.find('\0') != std::string::npos)
    throw TrundleError("The table name holds a NUL character, which no server allows");
  const size_t dot = name.find('.');
  const std::string schema_part = dot == std::string::npos ? "" : name.substr(0, dot);
  const std::string table_part = dot == std::string::npos ? "" : name.substr(dot + 1);
  // A catalogue that cannot be read leaves the name as given.
  std::vector<CatalogueTable> tables;
  try {
    tables = CatalogueTables();
  } catch (const TrundleError&) {
    // A failed statement spoils the open transaction on some servers (PostgreSQL).
    SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
  }
  const auto same = [](const std::string& a, const std::string& b, bool any_case) {
    return any_case ? EqualsIgnoringAsciiCase(a, b) : a == b;
  };
  for (bool any_case : {false, true}) {
    // The whole name as one table's: qualified with its schema when only one schema
    // holds it, so that a table outside the search path is found too. Of names alike in
    // any letter case, the spelling the server folds an unquoted name to wins.
    std::vector<const CatalogueTable*> found;
    for (const CatalogueTable& t : tables)
      if (same(t.name, name, any_case)) found.push_back(&t);
    if (any_case && found.size() > 1) {
      std::vector<const CatalogueTable*> folded;
      for (const CatalogueTable* t : found)
        if (t->name == LowerAscii(name) || t->name == UpperAscii(name)) folded.push_back(t);
      if (!folded.empty()) found = folded;
    }
    if (!found.empty()) {
      const CatalogueTable& t = *found.front();
      const bool one_schema =
          std::all_of(found.begin(), found.end(),
                      [&t](const CatalogueTable* other) { return other->schema == t.schema; });
      return t.schema.empty() || !one_schema
                 ? QuotedIdentifier(t.name)
                 : QuotedIdentifier(t.schema) + "." + QuotedIdentifier(t.name);
    }
    if (dot == std::string::npos) continue;
    for (const CatalogueTable& t : tables)
      if (same(t.schema, schema_part, any_case) && same(t.name, table_part, any_case))
        return QuotedIdentifier(t.schema) + "." + QuotedIdentifier(t.name);
  }
  // Not in the catalogue: plain parts go as given, for the server to fold as it does;
  // anything else is quoted, so that the server says it has no such table.
  const auto part = [this](const std::string& text) {
    return IsPlainIdentifier(text) ? text : QuotedIdentifier(text);
  };
  if (dot != std::string::npos && !schema_part.empty() && !table_part.empty())
    return part(schema_part) + "." + part(table_part);
  return part(name);
}

std::string TOracleSession::Scrub(std::string message) const {
  // Short passwords would blank out ordinary words; drivers that echo the connection
  // string show it as PWD=..., which is cut whatever the password.
  if (LogonPassword.size() >= 4)
    for (size_t at = message.find(LogonPassword); at != std::string::npos;
         at = message.find(LogonPassword, at))
      message.replace(at, LogonPassword.size(), "***");
  const std::string upper = UpperAscii(message);
  for (size_t at = upper.find("PWD="); at != std::string::npos; at = upper.find("PWD=", at + 1)) {
    size_t end = message.find(';', at);
    if (end == std::string::npos) end = message.size();
    message.replace(at + 4, end - at - 4, std::string(end - at - 4, '*'));
  }
  return message;
}

}  // namespace trundle
