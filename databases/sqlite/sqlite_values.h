// How values cross between SQLite's storage classes and the job's Variants, both ways,
// decided once per column from the type it was declared with.
//
// Reading: INTEGER is a 64-bit integer, REAL a double, TEXT UTF-8 text, BLOB binary, NULL
// Null (never the empty text). A column declared DATE, TIME, DATETIME or TIMESTAMP gives
// its ISO 8601 text ("2024-02-29", "2024-02-29 13:45:00", "2024-02-29T13:45") as a
// date-time, and a BOOLEAN column its 0 and 1 as a Boolean; any other value of those
// columns (a Julian day number, "yesterday", 7) arrives as stored.
//
// Writing: dates as ISO 8601 text ("YYYY-MM-DD" in a DATE column when there is no time of
// day, "YYYY-MM-DD HH:MM:SS[.mmm]" otherwise, "HH:MM:SS" in a TIME column), Booleans as
// 0 and 1, currency as an integer when whole and a REAL otherwise (exact for amounts under
// 10^11; a larger one with a fraction is refused by a number column), text and binary bound
// where they lie in the record (no copy).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/field_types.h"
#include "engine/variant.h"

namespace trundle {

// What a column's declared type asks of its values.
enum class SqliteColumnKind : uint8_t {
  kPlain,     // as stored
  kDate,      // DATE
  kTime,      // TIME
  kDateTime,  // DATETIME, TIMESTAMP
  kBoolean,   // BOOLEAN, BOOL, BIT
  kCurrency,  // CURRENCY, MONEY
};

// A column as the SQLite kind reads and writes it.
struct SqliteColumn {
  SqliteColumnKind kind = SqliteColumnKind::kPlain;
  // SQLite's affinity rules turn text that looks like a number into a number (keeping 15
  // digits) in an INTEGER, REAL or NUMERIC column.
  bool numeric_affinity = false;
  // The field's type, width and decimals when the declared type says them; ftUnknown
  // when it does not (no declared type, or one SQLite gives no affinity by), and then
  // the column's values decide.
  TFieldDef def;
};

// Reads a declared type ("INTEGER", "varchar(40)", "DECIMAL(19,4)", "", null) by SQLite's
// affinity rules and the names above. Text types without a width are ftMemo; with one,
// ftString of that width. Whole numbers are ftLargeint, DECIMAL and NUMERIC with decimals
// ftBCD, MONEY and CURRENCY ftCurrency.
SqliteColumn SqliteColumnOf(const char* declared);

// The field type for a column SqliteColumnOf could not type, from a value's storage
// class (SQLITE_INTEGER, ...; SQLITE_NULL as text).
TFieldType FieldTypeOfSqliteValue(int storage_class);

// The declared type a new column is created with for a source field: INTEGER for whole
// numbers, REAL for floating point, CURRENCY for currency and DECIMAL(p,s) for
// fixed-point decimals (NUMERIC without a width), TEXT for text and memos, BLOB for binary
// and OLE fields, DATE, TIME and DATETIME for dates and times, BOOLEAN for logical fields;
// "" (any value kept as given) for types of no such family.
std::string SqliteDeclaredType(const TFieldDef& def);

// Sets value to column i of stmt's current row as the column asks.
// scratch: a buffer the caller keeps so that reading dates allocates nothing once it grew.
void ReadSqliteValue(sqlite3_stmt* stmt, int i, const SqliteColumn& column, Variant& value,
                     std::string& scratch);

// Binds one value to parameter index of stmt for a column. Text and blobs are bound in
// place: value must stay unchanged until the statement has been stepped. buffer (at
// least kSqliteBindBuffer bytes, kept as long as value) holds a date's text. Returns
// SQLite's result code. Throws TrundleError, with the cause alone, for a currency amount
// a number column could not keep exactly (more than 15 significant digits with a
// fraction).
inline constexpr size_t kSqliteBindBuffer = 32;
int BindSqliteValue(sqlite3_stmt* stmt, int index, const SqliteColumn& column, const Variant& value,
                    char* buffer);

}  // namespace trundle
