// Column properties from the catalogue: MSysObjects' LvProp value of a table, the
// properties Access keeps beside the table definition (Required, AllowZeroLength, ...).
//
// Layout (mdbtools' HACKING.md, checked on the fixtures with mdb-prop): "KKD\0" (Jet 3) or
// "MR2\0" (Jet 4), then chunks of a 32-bit length (itself included) and a 16-bit type.
// Type 0x80 lists the property names (16-bit length + name). Types 0 (the table) and 1
// (a column) hold a block header (32-bit length, 16-bit name length, the column's name)
// and then entries: 16-bit length, ddl flag, data type, 16-bit index into the names,
// 16-bit value length, value. Names are UTF-16 in Jet 4, in the code page in Jet 3.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "databases/access/jet/jet_tdef.h"
#include "engine/codepage.h"

namespace trundle::jet {

struct ColumnProperties {
  std::string column;
  bool has_required = false, required = false;
  bool has_allow_zero_length = false, allow_zero_length = false;
};

// The column blocks of an LvProp value, in stored order. jet3_text converts Jet 3 names
// to UTF-8 (TextCodec::ToUtf8From). Returns false, with what was read before it, when the
// value is not a property list or is cut short; an empty value is an empty list.
bool ParseColumnProperties(std::string_view blob, bool jet3, TextCodec* jet3_text,
                           std::vector<ColumnProperties>& out);

// Sets required and allow_zero_length of def's columns from the blocks (matched by
// name, exactly first, then ignoring letter case); columns without them keep theirs.
void ApplyColumnProperties(const std::vector<ColumnProperties>& props, TableDef& def);

}  // namespace trundle::jet
