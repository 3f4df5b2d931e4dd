#include "databases/dbase/dbase_file.h"
#include "databases/paradox/paradox_file.h"
#include "databases/core/table_engine.h"

namespace trundle {

void RegisterBuiltInEngines() {
  RegisterTableEngine(DBaseEngine());
  RegisterTableEngine(ParadoxEngine());
}

}  // namespace trundle
