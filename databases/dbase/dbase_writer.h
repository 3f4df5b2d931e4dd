// Shared between creating a table and appending to it: how a table is stored for the
// dataset's field types, and the header bytes of a new table.
#pragma once

#include <string>
#include <vector>

#include "databases/dbase/dbase_format.h"
#include "databases/core/field_types.h"

namespace trundle::dbase {

// The field type letter, width and decimals that hold a dataset field.
FieldLayout StoredLayout(const TFieldDef& def);

// Names of at most 10 bytes (letters, digits and '_'), unique without regard to letter
// case, parallel to fields.
std::vector<std::string> StoredNames(const TFieldDefs& fields);

// The contents of a new empty table file: header, descriptors, 0x0D and the 0x1A end mark.
std::string NewTableBytes(const TableHeader& header);

// Today's date in header bytes 1..3 (year - 1900, month, day).
void PutHeaderDate(char* bytes);

}  // namespace trundle::dbase
