#include "front/register_adaptors.h"

#include "textfiles/trundle_text.h"
#ifdef TRUNDLE_WITH_TABLE_FILES
#include "databases/trundle_table_file.h"
#endif

namespace trundle {

void RegisterAllAdaptors() {
  RegisterTextAdaptors();
#ifdef TRUNDLE_WITH_TABLE_FILES
  RegisterDatabaseAdaptors();
#endif
}

}  // namespace trundle
