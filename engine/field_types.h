// The dataset model's field types and field definitions, shared by the table-file
// engines, the SQL layer and the adaptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace trundle {

// Ordinals are fixed: the type translations index by them.
enum TFieldType : uint8_t {
  ftUnknown = 0,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
};
inline constexpr int kFieldTypeCount = 36;

const char* FieldTypeName(TFieldType type);

// The width a field of this type takes when none is given: 20 for ftString and
// ftFixedChar, 16 for ftBytes and ftVarBytes, 4 for ftBCD, 10 for ftArray, else 0.
int DefaultFieldSize(TFieldType type);

struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;      // width in characters of a string field; digits of a number
  int Decimals = 0;  // digits after the point of a fixed-point number field
  bool Required = false;
  // The source's own code for the column's type, where it has one: the Oracle type code
  // of a server column (3 integer, 4 other number, 5 character, 12 date, ...), the DAO
  // field type of a new Access field. 0 when there is none.
  int NativeType = 0;
};

using TFieldDefs = std::vector<TFieldDef>;

// A primary key or index of a source table: the fields it keys, by name, in key order.
// An index that is not Unique only speeds up searches; a destination that makes keys
// only (constraints) leaves it out.
struct TIndexDef {
  std::string Name;
  std::vector<std::string> Fields;
  bool Primary = false;
  bool Unique = true;
};

using TIndexDefs = std::vector<TIndexDef>;

// A relationship between two tables of a database: Fields of Table refer to RefFields
// of RefTable (the parent, whose fields are its primary key or a unique index), by name,
// pair by pair in order.
struct TRelationDef {
  std::string Name;
  std::string Table;
  std::vector<std::string> Fields;
  std::string RefTable;
  std::vector<std::string> RefFields;
  bool CascadeUpdate = false;
  bool CascadeDelete = false;
};

using TRelationDefs = std::vector<TRelationDef>;

// A text value's length (the value in UTF-8) in the unit a new table's text field is sized
// in: UTF-8 bytes for dBase and Paradox, UTF-16 code units for a Jet 4 database, bytes of
// its code page for a Jet 3 one.
using TextLength = std::function<size_t(std::string_view utf8)>;

// dBase and Paradox widths are bytes: a value's UTF-8 bytes are its bytes in a file written
// in UTF-8, and never fewer than in a single- or double-byte code page.
inline size_t Utf8Bytes(std::string_view utf8) { return utf8.size(); }

// Index of the field named name: the first exact match, else the first match that
// ignores letter case; -1 when none.
int FindFieldIndex(const TFieldDefs& defs, std::string_view name);

}  // namespace trundle
