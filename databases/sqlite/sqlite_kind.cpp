#include "databases/sqlite/sqlite_kind.h"

#include "databases/sqlite/sqlite_file.h"
#include "databases/sqlite/sqlite_structure.h"
#include "databases/sqlite/trundle_sqlite.h"

namespace trundle {

KindDeclaration SqliteKind() {
  KindDeclaration k;
  k.kind = dkSqlite;
  k.name = "sqlite";
  k.title = "SQLite";
  k.extensions = SqliteExtensions();
  // A .db file is Paradox's by its extension unless SQLite's header opens it.
  k.recognises = [](const std::string& location) { return SqliteHeaderAt(location); };
  k.source_options = koTable | koSql | koDatabase;
  k.dest_options = koTable | koDatabase;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaCreateDatabase | kaTransactions |
                kaHoldsTables | kaReadBack;
  k.make = [] { return std::make_unique<TTrundleSqlite>(); };
  k.list_tables = [](const ConnectionFields& c) { return SqliteTableNames(c.database); };
  k.list_relationships = [](const ConnectionFields& c) { return SqliteRelationships(c.database); };
  k.add_relationships = [](const ConnectionFields& c, const TRelationDefs& relations) {
    return AddSqliteRelationships(c.database, relations);
  };
  return k;
}

}  // namespace trundle
