// Type translations between the dataset model's field types, Oracle's type codes and
// DAO's field types, used when a destination table is created from a source's fields.
// Pure functions; every argument outside a table gives the default named below it.
#pragma once

#include <array>
#include <cstdint>

#include "engine/field_types.h"

namespace trundle {

// The type of a new dBase or Paradox field for a source field of type `source` (an
// ordinal of TFieldType); ftString for anything above ftMemo.
TFieldType FieldTypeForDBase(int source);
TFieldType FieldTypeForParadox(int source);

// The type of a new dBase or Paradox field, and the DAO type of a new Access field, for
// an Oracle column of the given OCI type code; ftString and 10 (dbText) for an unknown
// code.
TFieldType OracleTypeToFieldType(int code);
int32_t OracleTypeToDaoType(int code);

// The DAO field type of a new Access field, by TFieldType ordinal.
extern const std::array<int32_t, kFieldTypeCount> FieldTypeToDaoType;

}  // namespace trundle
