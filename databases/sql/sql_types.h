// How field types and values cross into SQLite and back. A virtual table declares each
// column with a type name that carries the field type, width and decimals
// ("VARCHAR(40)", "NUMERIC(10,2)", "DATE"), so a query's result columns can be given
// their field types again from sqlite3_column_decltype.
#pragma once

#include <sqlite3.h>

#include <string>

#include "databases/core/field_types.h"
#include "engine/variant.h"

namespace trundle {

// The declared type for a field: its type name, with "(size)" or "(size,decimals)" when
// the field has them. Types with no name of their own give "" (no declared type).
std::string DeclaredType(const TFieldDef& field);

// Reads a declared type back into field.DataType, Size and Decimals. Names not from
// DeclaredType are read by SQLite's affinity rules (INT -> ftLargeint, CHAR/TEXT/CLOB ->
// ftString, BLOB -> ftBlob, REAL/FLOA/DOUB -> ftFloat). Returns false, leaving the field
// untouched, when the text is null or empty or has no such reading; the caller then
// types the column by its values.
bool ReadDeclaredType(const char* declared, TFieldDef& field);

// The field type of a column without a declared type, from its first value's storage
// class (SQLITE_INTEGER, ...).
TFieldType FieldTypeOfStorageClass(int storage_class);

// Date-time text as stored in SQLite, so that text comparison orders it: "yyyy-mm-dd"
// for ftDate, "hh:nn:ss[.zzz]" for ftTime, "yyyy-mm-dd[ hh:nn:ss[.zzz]]" otherwise
// (the time only when it is not midnight). Writes at most 24 bytes; returns the length.
int FormatDateTimeText(double value, TFieldType type, char* out);

// Sets `value` to column i of the current row of stmt as the field type asks: date and
// time text as a date-time, integers of a Boolean as a Boolean, numbers of a currency as
// currency, text of a binary field as a blob. A value with no such reading keeps its
// storage class (text stays text), so nothing is lost. NULL gives Null.
void ReadColumnValue(sqlite3_stmt* stmt, int i, TFieldType type, Variant& value);

}  // namespace trundle
