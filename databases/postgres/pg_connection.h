// A connection to a PostgreSQL server through libpq, and what the kind's reader and
// writer ask of it: statements run with their errors as sentences, names quoted by the
// server's own rules, and the tables of the search path.
//
// A location is a URI (postgresql://user@host:port/db?sslmode=disable, or postgres://)
// or a keyword string (host=... port=... dbname=...). It never holds the password: that
// comes from the adaptor (an environment variable the user named), else from libpq's own
// ways (PGPASSWORD, ~/.pgpass, a service file).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trundle {

// True when location starts postgresql:// or postgres:// (in lower case, as libpq takes them).
bool IsPostgresUri(const std::string& location);
// True when the URI or keyword string gives a password of its own (which would show in
// the process list). A location libpq cannot parse gives one when it says "password".
bool LocationGivesPassword(const std::string& location);

struct PgResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultFree>;

// A table or view of the search path, as the catalogue names it.
struct PgTable {
  std::string schema;
  std::string name;
  bool view = false;
  uint32_t oid = 0;
};

class PgConnection {
 public:
  // Connects to location, with password when it is not empty, and sets the session to
  // UTF-8, ISO dates and floats in their shortest exact form. Throws NotOpenedError with
  // libpq's reason (never the password) when it cannot.
  PgConnection(const std::string& location, const std::string& user, const std::string& password);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  PGconn* get() const { return conn_; }
  // The location as a message names it.
  const std::string& location() const { return location_; }

  // Runs sql and returns its result; throws TrundleError "<doing> <location>: <reason>"
  // when the server refuses it.
  PgResult Exec(const std::string& sql, const std::string& doing);
  // The same with text parameters $1, $2, ...
  PgResult ExecParams(const std::string& sql, const std::vector<std::string>& params,
                      const std::string& doing);
  // The name between double quotes as the server reads it (PQescapeIdentifier).
  std::string Quote(const std::string& name) const;
  // schema.name, each part quoted.
  std::string Quote(const PgTable& table) const;

  // The tables and views the search path shows, in its order.
  std::vector<PgTable> Tables();
  // The one named wanted: an exact match first, then one in any letter case, and
  // "schema.name" read as such when no table has that name. nullptr when none.
  static const PgTable* Find(const std::vector<PgTable>& tables, const std::string& wanted);

  // The server's reason for a result's error: its primary message, and the detail.
  static std::string Reason(const PGresult* result);
  std::string Failed(const std::string& doing, const PGresult* result) const;

 private:
  std::string location_;
  PGconn* conn_ = nullptr;
};

// The tables and views of the search path, for --list-tables.
std::vector<std::string> PostgresTableNames(const std::string& location, const std::string& user,
                                            const std::string& password);

}  // namespace trundle
