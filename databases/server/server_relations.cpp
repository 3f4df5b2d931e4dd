#include "databases/server/server_relations.h"

#include "databases/server/oracle_session.h"
#include "databases/server/server_types.h"
#include "engine/errors.h"

namespace trundle {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

}  // namespace

std::vector<std::string> AddServerRelationships(const ConnectionFields& connection,
                                                const TRelationDefs& relations) {
  TOracleSession session;
  session.LogonDatabase = connection.database;
  session.LogonUsername = connection.user;
  session.LogonPassword = connection.password;
  try {
    session.LogOn();
  } catch (const TrundleError& e) {
    throw TrundleError(session.Scrub(e.what()));
  }
  const ServerFamily family = FamilyOfServer(session.DbmsName());
  const bool alters = family == ServerFamily::kPostgres || family == ServerFamily::kMySql;
  const auto quoted = [&session](const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names)
      out += (out.empty() ? "" : ", ") + session.QuotedIdentifier(name);
    return out;
  };
  std::vector<std::string> lines;
  for (const TRelationDef& rel : relations) {
    const std::string shown = "The relationship " + rel.Name + " (" + rel.Table + " (" +
                              Joined(rel.Fields) + ") to " + rel.RefTable + " (" +
                              Joined(rel.RefFields) + "))";
    if (!alters) {
      lines.push_back(shown + " was not made: relationships are not added to " +
                      session.DbmsName() + " databases through ODBC.");
      continue;
    }
    try {
      session.ExecuteDirect("alter table " + session.QuotedTableName(rel.Table) +
                            " add constraint " + session.QuotedIdentifier(rel.Name) +
                            " foreign key (" + quoted(rel.Fields) + ") references " +
                            session.QuotedTableName(rel.RefTable) + " (" + quoted(rel.RefFields) +
                            ")" + (rel.CascadeUpdate ? " on update cascade" : "") +
                            (rel.CascadeDelete ? " on delete cascade" : ""));
      session.Commit();
    } catch (const TrundleError& e) {
      session.Rollback();
      lines.push_back(shown + " was not made: " + session.Scrub(e.what()));
    }
  }
  return lines;
}

}  // namespace trundle
