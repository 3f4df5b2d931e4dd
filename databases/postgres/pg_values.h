// How values cross between PostgreSQL's text forms and the job's Variants, both ways,
// decided once per column from its type's OID.
//
// Reading: smallint, integer and bigint are integers; real and double precision doubles;
// boolean a Boolean; bytea binary; date, and timestamp and time to the millisecond, a
// date-time; numeric its exact text (any precision), as are text, varchar, char, uuid,
// json, timestamptz and every other type. A NULL is Null, never the empty text.
//
// Writing (a line of COPY's text format): Null as \N; text with backslash, tab, newline
// and carriage return escaped; binary as \x and hex digits; date-times in ISO 8601;
// Booleans as t and f (1 and 0 in a number column).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/field_types.h"
#include "engine/variant.h"

namespace trundle {

// The type OIDs the kind knows by number (pg_type.dat).
enum PgOid : uint32_t {
  kPgBool = 16,
  kPgBytea = 17,
  kPgInt8 = 20,
  kPgInt2 = 21,
  kPgInt4 = 23,
  kPgText = 25,
  kPgOid = 26,
  kPgFloat4 = 700,
  kPgFloat8 = 701,
  kPgBpchar = 1042,
  kPgVarchar = 1043,
  kPgDate = 1082,
  kPgTime = 1083,
  kPgTimestamp = 1114,
  kPgTimestamptz = 1184,
  kPgNumeric = 1700,
};

// What a column's values are read as and written for.
enum class PgColumnKind : uint8_t {
  kText,
  kInteger,
  kFloat,
  kBoolean,
  kBinary,
  kDate,
  kTime,
  kDateTime,
  kNumeric,
};

PgColumnKind PgColumnKindOf(uint32_t oid);
// The field a column of this type and modifier (atttypmod, PQfmod) is: its type, width
// and decimals.
TFieldDef PgFieldDefOf(uint32_t oid, int type_modifier);

// The type a new column gets for a source field (see the header).
std::string PgDeclaredType(const TFieldDef& def);

// Sets value from a column's text (PQgetvalue) as its kind asks.
void ReadPgValue(PgColumnKind kind, std::string_view text, Variant& value);

// Appends value to a COPY line, escaped, for a column of this kind: Null, and empty text
// for any column but a text one, as \N.
void AppendCopyValue(const Variant& value, PgColumnKind column, std::string& line);

}  // namespace trundle
