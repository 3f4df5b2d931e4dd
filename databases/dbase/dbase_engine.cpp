// The dBase engine's entry in the table-engine registry.

#include "databases/dbase/dbase_file.h"

namespace trundle {

TableEngine DBaseEngine() {
  TableEngine engine;
  engine.name = "dbase";
  engine.extensions = {".dbf"};
  engine.open = OpenDBaseTable;
  engine.create = CreateDBaseTable;
  engine.append = AppendToDBaseTable;
  return engine;
}

}  // namespace trundle
