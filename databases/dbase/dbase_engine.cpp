// The dBase engine's entry in the table-engine registry.

#include "databases/dbase/dbase_file.h"
#include "databases/dbase/dbase_writer.h"

namespace trundle {

TableEngine DBaseEngine() {
  TableEngine engine;
  engine.name = "dbase";
  engine.extensions = {".dbf"};
  engine.open = OpenDBaseTable;
  engine.create = CreateDBaseTable;
  engine.append = AppendToDBaseTable;
  engine.stored_names = [](const TFieldDefs& fields) { return dbase::StoredNames(fields); };
  return engine;
}

}  // namespace trundle
