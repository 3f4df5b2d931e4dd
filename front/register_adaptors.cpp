#include "front/register_adaptors.h"

#include "engine/errors.h"
#include "textfiles/trundle_text.h"
#ifdef TRUNDLE_WITH_TABLE_FILES
#include "databases/table_list.h"
#include "databases/server/trundle_oracle.h"
#include "databases/trundle_table_file.h"
#endif

namespace trundle {

void RegisterAllAdaptors() {
  RegisterTextAdaptors();
#ifdef TRUNDLE_WITH_TABLE_FILES
  RegisterDatabaseAdaptors();
  RegisterServerAdaptor();
#endif
}

std::vector<std::string> DatabaseTables(TDataKind kind, const std::string& database,
                                        const std::string& user, const std::string& password,
                                        const std::string& dao_version) {
#ifdef TRUNDLE_WITH_TABLE_FILES
  return ListTables(kind, {database, user, password, dao_version});
#else
  (void)kind, (void)user, (void)password, (void)dao_version;
  throw TrundleError("This build reads no databases: " + database + " cannot be listed");
#endif
}

}  // namespace trundle
