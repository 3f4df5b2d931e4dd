#include "databases/core/data_types.h"

namespace trundle {
namespace {

// Rows 0 .. 16 of the translation for an Access source; the two engines differ only in
// ftDateTime, which dBase keeps as text in a memo field (no dBase III or IV field holds
// a date with a time of day) and Paradox as a timestamp.
constexpr TFieldType kForDBase[] = {
    ftString,   // ftUnknown
    ftString,   // ftString
    ftString,   // ftSmallint
    ftInteger,  // ftInteger
    ftInteger,  // ftWord
    ftBoolean,  // ftBoolean
    ftString,   // ftFloat
    ftFloat,    // ftCurrency
    ftFloat,    // ftBCD: a number, not a date
    ftDate,     // ftDate stays a date
    ftString,   // ftTime
    ftMemo,     // ftDateTime
    ftBlob,     // ftBytes: bytes stay bytes
    ftString,   // ftVarBytes
    ftInteger,  // ftAutoInc: an AutoNumber is a Long, a number as ftInteger is
    ftBlob,     // ftBlob: bytes, not a number
    ftMemo,     // ftMemo
};

}  // namespace

TFieldType FieldTypeForDBase(int source) {
  if (source < 0 || source > ftMemo) return ftString;
  return kForDBase[source];
}

TFieldType FieldTypeForParadox(int source) {
  if (source == ftDateTime) return ftDateTime;
  return FieldTypeForDBase(source);
}

TFieldType OracleTypeToFieldType(int code) {
  switch (code) {
    case 3:
      return ftInteger;
    case 4:
      return ftFloat;
    case 8:    // LONG is long text
    case 112:  // CLOB
      return ftMemo;
    case 12:
      return ftDateTime;  // DATE holds a date and a time of day
    case 24:
    case 108:
    case 113:
      return ftBlob;
    case 116:
      return ftCursor;
    case 252:
      return ftBoolean;
    default:
      return ftString;  // 1, 5, 10, 96, 97, 110, 114 and unknown codes
  }
}

int32_t OracleTypeToDaoType(int code) {
  switch (code) {
    case 3:
      return 3;  // dbInteger
    case 4:
      return 7;  // dbDouble
    case 8:
    case 112:
      return 12;  // dbMemo
    case 12:
      return 8;  // dbDate
    // LONG RAW and BLOB need dbLongBinary: dbVarBinary holds 255 bytes at most.
    case 24:
    case 113:
      return 11;
    case 108:
      return 17;  // dbVarBinary
    case 116:
      return 4;  // dbLong
    case 252:
      return 1;  // dbBoolean
    default:
      return 10;  // dbText
  }
}

namespace {

enum class Translation : uint8_t {
  kNoTable,       // the destination makes no tables
  kKeep,          // the source's types as they are
  kText,          // every field text
  kDBaseRows,     // FieldTypeForDBase
  kParadoxRows,   // FieldTypeForParadox
  kOracleCode,    // OracleTypeToFieldType(NativeType)
  kDaoFromField,  // FieldTypeToDaoType[DataType] into NativeType
  kDaoFromCode,   // OracleTypeToDaoType(NativeType) into NativeType
};

struct TranslationRow {
  TDataKind destination;
  TDataKind source;
  Translation translation;
};

// Every pair of kinds that meets in CreateTable. Pairs not listed keep the source's types.
constexpr TranslationRow kTranslations[] = {
    {dkDBase, dkCsv, Translation::kText},
    {dkDBase, dkText, Translation::kText},
    {dkDBase, dkDBase, Translation::kKeep},
    {dkDBase, dkParadox, Translation::kKeep},
    {dkDBase, dkAccess, Translation::kDBaseRows},
    {dkDBase, dkOracle, Translation::kOracleCode},
    {dkParadox, dkCsv, Translation::kText},
    {dkParadox, dkText, Translation::kText},
    {dkParadox, dkDBase, Translation::kKeep},
    {dkParadox, dkParadox, Translation::kKeep},
    {dkParadox, dkAccess, Translation::kParadoxRows},
    {dkParadox, dkOracle, Translation::kOracleCode},
    {dkAccess, dkCsv, Translation::kDaoFromField},
    {dkAccess, dkText, Translation::kDaoFromField},
    {dkAccess, dkDBase, Translation::kDaoFromField},
    {dkAccess, dkParadox, Translation::kDaoFromField},
    {dkAccess, dkAccess, Translation::kDaoFromField},
    {dkAccess, dkOracle, Translation::kDaoFromCode},
    // Kinds that state their fields' types (SQLite, PostgreSQL): from the types, as for
    // the table files; their own type codes mean nothing to Access.
    {dkAccess, dkUnknown, Translation::kDaoFromField},
    {dkOracle, dkUnknown, Translation::kNoTable},  // any source
};

Translation TranslationFor(TDataKind destination, TDataKind source) {
  for (const TranslationRow& row : kTranslations)
    if (row.destination == destination && (row.source == source || row.source == dkUnknown))
      return row.translation;
  return Translation::kKeep;
}

// The translated type, unless it would lose values the source's type holds.
TFieldType KeepWhatFits(TFieldType source, TFieldType translated) {
  if (source == ftLargeint && (translated == ftInteger || translated == ftSmallint))
    return ftLargeint;
  if (source == ftBCD && (translated == ftFloat || translated == ftString)) return ftBCD;
  return translated;
}

}  // namespace

TFieldDefs NewTableFields(TDataKind destination, TDataKind source_kind, TFieldDefs fields) {
  const Translation translation = TranslationFor(destination, source_kind);
  if (translation == Translation::kNoTable) return {};
  for (TFieldDef& def : fields) {
    def.Required = false;
    TFieldType type = def.DataType;
    switch (translation) {
      case Translation::kText:
        type = ftString;
        break;
      case Translation::kDBaseRows:
        type = FieldTypeForDBase(def.DataType);
        break;
      case Translation::kParadoxRows:
        type = FieldTypeForParadox(def.DataType);
        break;
      case Translation::kOracleCode:
        type = KeepWhatFits(def.DataType, OracleTypeToFieldType(def.NativeType));
        break;
      case Translation::kDaoFromField:
        def.NativeType = def.DataType < kFieldTypeCount ? FieldTypeToDaoType[def.DataType] : 10;
        break;
      case Translation::kDaoFromCode:
        def.NativeType = OracleTypeToDaoType(def.NativeType);
        break;
      case Translation::kKeep:
      case Translation::kNoTable:
        break;
    }
    if (type != def.DataType) def.Size = def.Decimals = 0;
    def.DataType = type;
  }
  return fields;
}

const std::array<int32_t, kFieldTypeCount> FieldTypeToDaoType = {
    10,  // ftUnknown
    10,  // ftString
    3,   // ftSmallint
    4,   // ftInteger
    3,   // ftWord
    1,   // ftBoolean
    7,   // ftFloat
    5,   // ftCurrency
    7,   // ftBCD
    8,   // ftDate
    8,   // ftTime
    8,   // ftDateTime
    11,  // ftBytes
    11,  // ftVarBytes
    4,   // ftAutoInc
    11,  // ftBlob
    12,  // ftMemo
    11,  // ftGraphic
    12,  // ftFmtMemo
    11,  // ftParadoxOle
    11,  // ftDBaseOle
    9,   // ftTypedBinary
    10,  // ftCursor
    10,  // ftFixedChar
    10,  // ftWideString
    16,  // ftLargeint
    10,  // ftADT
    10,  // ftArray
    10,  // ftReference
    10,  // ftDataSet
    11,  // ftOraBlob
    11,  // ftOraClob
    10,  // ftVariant
    10,  // ftInterface
    10,  // ftIDispatch
    15,  // ftGuid
};

}  // namespace trundle
