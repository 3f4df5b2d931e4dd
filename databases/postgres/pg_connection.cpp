#include "databases/postgres/pg_connection.h"

#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

bool IsPostgresUri(const std::string& location) {
  // libpq takes these two in lower case only.
  return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

bool LocationGivesPassword(const std::string& location) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(location.c_str(), &error);
  PQfreemem(error);
  // What libpq cannot parse it will not connect with either; a password may still be
  // written in it, and the refusal is the safe answer then.
  if (!options) return LowerAscii(location).find("password") != std::string::npos;
  bool found = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val && *o->val) found = true;
  PQconninfoFree(options);
  return found;
}

PgConnection::PgConnection(const std::string& location, const std::string& user,
                           const std::string& password)
    : location_(location) {
  if (LocationGivesPassword(location))
    throw NotOpenedError(
        "The connection's location gives a password, which would show in the process list: leave "
        "it "
        "out and put it in an environment variable (--source-password-env, "
        "--dest-password-env), PGPASSWORD or ~/.pgpass");
  // dbname first: its keywords are expanded there, and those after it override them.
  std::vector<const char*> keys = {"dbname", "client_encoding"};
  std::vector<const char*> values = {location.c_str(), "UTF8"};
  if (!user.empty()) keys.push_back("user"), values.push_back(user.c_str());
  if (!password.empty()) keys.push_back("password"), values.push_back(password.c_str());
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    const std::string reason = conn_ ? Trimmed(PQerrorMessage(conn_)) : "out of memory";
    PQfinish(conn_);
    conn_ = nullptr;
    throw NotOpenedError("Could not connect to " + location_ + ": " + reason);
  }
  Exec(
      "set datestyle to ISO, YMD; set intervalstyle to iso_8601; set extra_float_digits to 1; "
      "set bytea_output to hex",
      "Could not set up the session with");
}

PgConnection::~PgConnection() { PQfinish(conn_); }

std::string PgConnection::Reason(const PGresult* result) {
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string reason = primary ? primary : result ? Trimmed(PQresultErrorMessage(result)) : "";
  if (const char* detail = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL) : nullptr) {
    // The detail may quote the record's values, line breaks and all: one line, cut short.
    std::string text = detail;
    while (!text.empty() && text.back() == '.') text.pop_back();
    for (char& c : text)
      if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    reason += " (" + ShownInLog(text) + ")";
  }
  return reason;
}

std::string PgConnection::Failed(const std::string& doing, const PGresult* result) const {
  std::string reason = Reason(result);
  if (reason.empty()) reason = Trimmed(PQerrorMessage(conn_));
  return doing + " " + location_ + ": " + reason;
}

PgResult PgConnection::Exec(const std::string& sql, const std::string& doing) {
  PgResult result(PQexec(conn_, sql.c_str()));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN &&
      status != PGRES_COPY_OUT)
    throw TrundleError(Failed(doing, result.get()));
  return result;
}

PgResult PgConnection::ExecParams(const std::string& sql, const std::vector<std::string>& params,
                                  const std::string& doing) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  PgResult result(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    throw TrundleError(Failed(doing, result.get()));
  return result;
}

std::string PgConnection::Quote(const std::string& name) const {
  char* quoted = PQescapeIdentifier(conn_, name.data(), name.size());
  if (!quoted)
    throw TrundleError("The name " + name + " cannot be quoted: " + Trimmed(PQerrorMessage(conn_)));
  std::string out = quoted;
  PQfreemem(quoted);
  return out;
}

std::string PgConnection::Quote(const PgTable& table) const {
  return Quote(table.schema) + "." + Quote(table.name);
}

std::vector<PgTable> PgConnection::Tables() {
  const PgResult result = Exec(
      "select n.nspname, c.relname, c.relkind in ('v', 'm'), c.oid "
      "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
      "where c.relkind in ('r', 'p', 'v', 'm', 'f') and pg_catalog.pg_table_is_visible(c.oid) "
      "and n.nspname not in ('pg_catalog', 'information_schema') "
      "order by array_position(pg_catalog.current_schemas(false), n.nspname), c.relname",
      "Could not read the tables of");
  std::vector<PgTable> tables;
  for (int row = 0; row < PQntuples(result.get()); ++row)
    tables.push_back({PQgetvalue(result.get(), row, 0), PQgetvalue(result.get(), row, 1),
                      PQgetvalue(result.get(), row, 2)[0] == 't',
                      static_cast<uint32_t>(std::stoul(PQgetvalue(result.get(), row, 3)))});
  return tables;
}

const PgTable* PgConnection::Find(const std::vector<PgTable>& tables, const std::string& wanted) {
  for (const PgTable& t : tables)
    if (t.name == wanted) return &t;
  for (const PgTable& t : tables)
    if (EqualsIgnoringAsciiCase(t.name, wanted)) return &t;
  for (const PgTable& t : tables)
    if (EqualsIgnoringAsciiCase(t.schema + "." + t.name, wanted)) return &t;
  return nullptr;
}

std::vector<std::string> PostgresTableNames(const std::string& location, const std::string& user,
                                            const std::string& password) {
  PgConnection connection(location, user, password);
  std::vector<std::string> names;
  for (const PgTable& t : connection.Tables()) names.push_back(t.name);
  return names;
}

}  // namespace trundle
