// How a server column travels: which ODBC types the dataset carries, the Oracle type
// code and field type each gets, and the conversions between ODBC buffers, Variants and
// parameter text.
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>

#include "engine/field_types.h"
#include "engine/variant.h"

namespace trundle {

// What the dataset fetches a column as.
enum class ColumnKind : uint8_t {
  kNotCarried,  // left out of the fields
  kInteger,     // SQL_C_SBIGINT
  kFloat,       // SQL_C_DOUBLE
  kDecimal,     // exact text, delivered as a string so no digit is lost
  kText,        // UTF-8 text
  kBinary,      // bytes
  kBoolean,     // text "1"/"0" or "t"/"f" read as a Boolean
  kDate,        // SQL_C_TYPE_DATE
  kTimestamp,   // SQL_C_TYPE_TIMESTAMP
  kTime,        // text "hh:mm:ss[.f]"
};

// A column as the driver describes it.
struct ColumnDescription {
  std::string name;
  SQLSMALLINT sql_type = 0;
  SQLULEN size = 0;
  SQLSMALLINT decimals = 0;
  std::string type_name;  // the server's own name ("bool", "LONG RAW", ...)
  bool is_unsigned = false;  // MariaDB's and MySQL's unsigned integers
};

struct ColumnPlan {
  ColumnKind kind = ColumnKind::kNotCarried;
  TFieldDef def;  // name, field type, width and the Oracle type code in NativeType
};

// The field a column becomes. `sqlite` widens integers: SQLite's INTEGER holds 64 bits
// whatever the column's declared type.
ColumnPlan PlanColumn(const ColumnDescription& column, bool sqlite);

// Text of a SQL_C_TYPE_TIMESTAMP value: a date-time when its fraction is whole
// milliseconds, else the ISO text with every digit, so nothing is rounded away.
void TimestampValue(const SQL_TIMESTAMP_STRUCT& ts, Variant& out);
// "1", "t", "true", "y", "yes" (any case) are true, and the single byte 1 (a bit(1)
// delivered as its byte); the rest false.
bool BooleanFromText(std::string_view text);
// "hh:mm:ss[.fff]" as a time of day, or the text itself when finer than milliseconds.
void TimeValue(std::string_view text, Variant& out);

// The text a value is sent as to a column of `kind`, appended to out. REQUIRES: the
// value is neither Unassigned nor Null. Booleans go to number and Boolean columns as
// 1 and 0, date-times as "yyyy-mm-dd hh:nn:ss[.zzz]", blobs as their bytes, and text of
// the form text tables write bytes in ("0x48690A") to a binary column as those bytes.
void ParameterText(const Variant& value, ColumnKind kind, std::string& out);

}  // namespace trundle
