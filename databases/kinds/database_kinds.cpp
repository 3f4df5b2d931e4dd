#include "databases/kinds/database_kinds.h"

#include "databases/access/access_relations.h"
#include "databases/access/trundle_access.h"
#include "databases/server/server_keys.h"
#include "databases/server/server_relations.h"
#include "databases/server/trundle_oracle.h"
#include "databases/kinds/table_list.h"
#include "databases/kinds/trundle_table_file.h"
#include "engine/ascii.h"

namespace trundle {

KindDeclaration DBaseKind() {
  KindDeclaration k;
  k.kind = dkDBase;
  k.name = "dbase";
  k.title = "dBase";
  k.extensions = {".dbf"};
  k.source_options = koEncoding | koSql;
  k.dest_options = koEncoding;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaOneFile | kaReadBack;
  k.make = [] { return std::make_unique<TTrundleDBase>(); };
  return k;
}

KindDeclaration ParadoxKind() {
  KindDeclaration k = DBaseKind();
  k.kind = dkParadox;
  k.name = "paradox";
  k.title = "Paradox";
  k.extensions = {".db"};
  k.make = [] { return std::make_unique<TTrundleParadox>(); };
  return k;
}

KindDeclaration AccessKind() {
  KindDeclaration k;
  k.kind = dkAccess;
  k.name = "access";
  k.title = "Access";
  k.extensions = {".mdb", ".accdb"};
  k.dest_options = koTable | koDatabase | koPasswordEnv | koDao;
  k.source_options = k.dest_options | koSql;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaCreateDatabase | kaTransactions |
                kaHoldsTables | kaReadBack;
  k.make = [] { return std::make_unique<TTrundleAccess>(); };
  k.list_tables = ListAccessTables;
  k.list_relationships = ListAccessRelationships;
  k.add_relationships = AddAccessRelationships;
  return k;
}

KindDeclaration ServerKind() {
  KindDeclaration k;
  k.kind = dkOracle;
  k.name = "oracle";
  k.aliases = {"odbc"};
  k.title = "Server database";
  // An ODBC connection string names a server, whatever it ends with.
  k.recognises = [](const std::string& location) {
    const std::string lower = LowerAscii(location);
    return lower.rfind("dsn=", 0) == 0 || lower.rfind("driver=", 0) == 0;
  };
  k.dest_options = koTable | koDatabase | koUser | koPasswordEnv;
  k.source_options = k.dest_options | koSql;
  k.abilities = kaRead | kaWrite | kaCreateTable | kaCreateOnRequest | kaTransactions |
                kaHoldsTables | kaReadBack;
  k.make = [] { return std::make_unique<TTrundleOracle>(); };
  k.list_tables = ListServerTables;
  k.list_relationships = ListServerRelationships;
  k.add_relationships = AddServerRelationships;
  return k;
}

}  // namespace trundle
