#include "databases/data_types.h"

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
    ftString,   // ftAutoInc
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
