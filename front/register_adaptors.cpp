#include "front/register_adaptors.h"

#include <sys/stat.h>

#include "engine/adaptor_registry.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "front/kinds.h"
#include "textfiles/trundle_text.h"
#ifdef TRUNDLE_WITH_TABLE_FILES
#include "databases/access/new_database.h"
#include "databases/server/trundle_oracle.h"
#include "databases/kinds/table_list.h"
#include "databases/kinds/trundle_table_file.h"
#endif

namespace trundle {

void RegisterAllAdaptors() {
  RegisterTextAdaptors();
#ifdef TRUNDLE_WITH_TABLE_FILES
  RegisterDatabaseAdaptors();
  RegisterServerAdaptor();
#endif
  for (const KindDeclaration& kind : Kinds())
    if (kind.make) RegisterAdaptor(kind.kind, kind.make);
}

std::vector<std::string> DatabaseTables(TDataKind kind, const std::string& database,
                                        const std::string& user, const std::string& password,
                                        const std::string& dao_version) {
  const KindDeclaration* declared = FindKind(kind);
  if (declared && declared->list_tables)
    return declared->list_tables({database, user, password, dao_version});
  if (declared)
    throw TrundleError("Only a database has a list of tables; " + database +
                       " is a table of its own");
  throw TrundleError("This build reads no databases: " + database + " cannot be listed");
}

CreatedDatabase CreateMissingDatabase(const EndDescription& end) {
  struct stat st {};
  if (end.kind != dkAccess || !end.create_database || stat(end.database.c_str(), &st) == 0)
    return {};
  if (EqualsIgnoringAsciiCase(end.dao_version, "dao35"))
    throw TrundleError("The database " + end.database +
                       " was not created: a new database is an Access 2000 one, which DAO 3.5 "
                       "(Access 97) cannot open");
#ifdef TRUNDLE_WITH_TABLE_FILES
  const NewDatabaseFile made = CreateAccessDatabase(end.database);
  return {"Created the empty Access database " + end.database, made.path, made.device, made.inode};
#else
  throw TrundleError("This build writes no databases: " + end.database + " was not created");
#endif
}

std::string RemoveUnusedDatabase(const CreatedDatabase& made) {
#ifdef TRUNDLE_WITH_TABLE_FILES
  if (made.message.empty() || !RemoveIfNoTables({made.path, made.device, made.inode})) return "";
  return "Removed the empty Access database " + made.path +
         " this run created: no table was created in it";
#else
  (void)made;
  return "";
#endif
}

}  // namespace trundle
