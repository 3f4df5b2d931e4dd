#include "databases/postgres/postgres_kind.h"

#include "databases/postgres/pg_connection.h"
#include "databases/postgres/pg_structure.h"
#include "databases/postgres/trundle_postgres.h"

namespace trundle {

KindDeclaration PostgresKind() {
  KindDeclaration k;
  k.kind = dkPostgres;
  k.name = "postgresql";
  k.aliases = {"pg"};
  k.title = "PostgreSQL";
  k.recognises = IsPostgresUri;
  k.gives_password = LocationGivesPassword;
  k.dest_options = koTable | koDatabase | koUser | koPasswordEnv;
  k.source_options = k.dest_options | koSql;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaCreateOnRequest | kaTransactions |
                kaHoldsTables | kaReadBack;
  k.make = [] { return std::make_unique<TTrundlePostgres>(); };
  k.list_tables = [](const ConnectionFields& c) {
    return PostgresTableNames(c.database, c.user, c.password);
  };
  k.list_relationships = [](const ConnectionFields& c) {
    PgConnection db(c.database, c.user, c.password);
    return PgRelationships(db);
  };
  k.add_relationships = [](const ConnectionFields& c, const TRelationDefs& relations) {
    PgConnection db(c.database, c.user, c.password);
    return AddPgRelationships(db, relations);
  };
  return k;
}

}  // namespace trundle
