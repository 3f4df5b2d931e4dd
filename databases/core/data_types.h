// Type translations between the dataset model's field types, Oracle's type codes and
// DAO's field types, used when a destination table is created from a source's fields.
// Pure functions; every argument outside a table gives the default named below it.
#pragma once

#include <array>
#include <cstdint>

#include "engine/field_types.h"
#include "engine/trundle_unknown.h"

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

// The fields of a new table of kind `destination`, made for the fields `source` that a
// source of kind `source_kind` gives (its SourceFieldDefs). Names and order stay; each
// type comes from the translation the pair of kinds calls for:
//   text sources: ftString; dBase and Paradox: unchanged; Access: FieldTypeForDBase or
//   FieldTypeForParadox; server: OracleTypeToFieldType of the field's NativeType.
// An Access destination keeps DataType and gets the DAO type in NativeType
// (OracleTypeToDaoType for a server source, else FieldTypeToDaoType). A translation that
// would lose values keeps the source's type instead: a 64-bit integer stays ftLargeint,
// an exact decimal ftBCD. A field whose type changes loses its width and decimals;
// Required is false. No table is made on a server: that destination gets no fields.
TFieldDefs NewTableFields(TDataKind destination, TDataKind source_kind, TFieldDefs source);

}  // namespace trundle
