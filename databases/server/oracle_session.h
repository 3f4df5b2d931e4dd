// A connection to a database server through ODBC: Oracle through Oracle's own ODBC
// driver, or any server that has a driver (PostgreSQL, SQLite, SQL Server, MySQL, ...).
//
//   TOracleSession session;
//   session.LogonDatabase = "Driver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so;Server=db";
//   session.LogonUsername = "scott";
//   session.LogonPassword = password;
//   session.LogOn();
//   ... TOracleDataSet over it ...
//   session.Commit();
//
// The session works in manual-commit mode: nothing written is kept until Commit.
#pragma once

#include <sql.h>

#include <string>
#include <vector>

#include "databases/server/odbc.h"

namespace trundle {

class TOracleSession {
 public:
  TOracleSession() = default;
  ~TOracleSession();
  TOracleSession(const TOracleSession&) = delete;
  TOracleSession& operator=(const TOracleSession&) = delete;

  // What LogonDatabase holds decides how the server is reached, in this order:
  //  - text holding "=": a full ODBC connection string;
  //  - the name of a configured data source;
  //  - otherwise an Oracle connect identifier, given as DBQ to the Oracle ODBC driver
  //    that odbcinst.ini names.
  // The user name and password are added as UID and PWD. Neither the password nor the
  // connection string is ever part of a message.
  std::string LogonDatabase;
  std::string LogonUsername;
  std::string LogonPassword;
  // How long a log on may wait for the server, in seconds.
  int login_timeout_seconds = 15;

  // Logs off first when logged on. Throws TrundleError with the driver's text.
  void LogOn();
  // Rolls back what was not committed and disconnects; never throws.
  void LogOff();
  bool Connected() const { return connected_; }

  // REQUIRES: Connected(). Throw TrundleError with the server's text; Commit throws
  // BatchUndoneError when the server undid the transaction for a passing reason
  // (odbc::UndidTransaction).
  void Commit();
  void Rollback();
  // Runs one statement that gives no result (a CREATE TABLE). Throws TrundleError with
  // the server's text.
  void ExecuteDirect(const std::string& sql);
  // Oracle: executes "SET TRANSACTION " followed by mode. Other servers open their
  // transactions by themselves in manual-commit mode and need nothing.
  void SetTransaction(const std::string& mode);

  // Facts about the server, valid while Connected().
  bool IsOracle() const { return is_oracle_; }
  // PostgreSQL, or a server speaking its protocol through psqlODBC, which names
  // PostgreSQL for them all.
  bool IsPostgres() const { return is_postgres_; }
  bool IsSQLite() const { return dbms_name_ == "SQLite"; }
  // MariaDB or MySQL, whose drivers share their quirks and whose native
  // error numbers say more than their SQLSTATEs.
  bool IsMySqlFamily() const { return dbms_name_ == "MariaDB" || dbms_name_ == "MySQL"; }
  const std::string& DbmsName() const { return dbms_name_; }
  // The character that quotes identifiers ("" when the server has none).
  const std::string& IdentifierQuote() const { return identifier_quote_; }
  SQLHDBC connection() const { return connection_.get(); }

  // The user's tables: on Oracle the rows of "select table_name from user_tables", on
  // other servers the ODBC table catalogue's tables. Throws TrundleError.
  std::vector<std::string> TableNames();

  // A table's name as this server's SQL must spell it, for a name the user gave: the
  // name is data, never SQL. The catalogue is searched for the name as given, then for
  // "schema.table" split at its first dot, then for either in any letter case; what is
  // found is quoted part by part with the driver's identifier quote, its inner quotes
  // doubled. A name the catalogue does not hold is quoted whole as given, so that the
  // server says it has no such table. Throws TrundleError for an empty name, a name
  // holding NUL, or one that needs quoting on a server that has no quote character.
  // REQUIRES: Connected().
  std::string QuotedTableName(const std::string& name);
  // One identifier quoted with the driver's quote character (see QuotedTableName).
  std::string QuotedIdentifier(const std::string& name) const;

  // The message with the password taken out, for texts a driver may have built from
  // the connection string.
  std::string Scrub(std::string message) const;

  // What the driver manager has configured: data-source names and driver names.
  struct Catalogue {
    std::vector<std::string> data_sources;
    std::vector<std::string> drivers;
  };
  static Catalogue ReadCatalogue(SQLHENV environment);
  // The connection string for a database text (see LogonDatabase); throws TrundleError
  // naming the missing Oracle driver when the text is a connect identifier and the
  // catalogue has none.
  static std::string ConnectionString(const std::string& database, const std::string& user,
                                      const std::string& password, const Catalogue& catalogue);

 private:
  struct CatalogueTable {
    std::string schema;  // empty where the server has no schemas
    std::string name;
    bool is_table = false;  // a table, not a view or another kind of object
  };
  // Every table and view of the catalogue the user can name. Throws TrundleError.
  std::vector<CatalogueTable> CatalogueTables();
  // Connects a fresh connection handle with the connection string; throws TrundleError
  // with the driver's text, the password taken out.
  void Connect(const std::string& text);

  odbc::Handle environment_;
  odbc::Handle connection_;
  bool connected_ = false;
  bool is_oracle_ = false;
  bool is_postgres_ = false;
  std::string dbms_name_;
  std::string identifier_quote_;
};

}  // namespace trundle
