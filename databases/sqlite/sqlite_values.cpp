#include "databases/sqlite/sqlite_values.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "databases/sql/sql_types.h"
#include "engine/ascii.h"
#include "engine/datetime.h"
#include "engine/errors.h"

namespace trundle {
namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// "(10)" or "(10,2)" after a type's name; size and decimals stay 0 on any other text.
void ReadWidth(const char* p, int& size, int& decimals) {
  int s = 0, d = 0;
  char close = 0;
  if (std::sscanf(p, " ( %d , %d %c", &s, &d, &close) == 3 && close == ')') {
    size = s, decimals = d;
  } else if (std::sscanf(p, " ( %d %c", &s, &close) == 2 && close == ')') {
    size = s;
  }
  if (size < 0 || decimals < 0 || decimals > size) size = decimals = 0;
}

// Text SQLite would keep in a date column and we read as a date-time: what ParseIsoText
// reads, but never a fraction of a second finer than the millisecond a date-time holds.
bool ReadIsoText(std::string_view text, double& days, std::string& scratch) {
  if (text.size() < 5 || text.size() > 30) return false;
  const size_t dot = text.find('.');
  if (dot != std::string_view::npos && text.size() - dot - 1 > 3) return false;
  scratch.assign(text);
  return ParseIsoText(scratch, days);
}

std::string_view ColumnText(sqlite3_stmt* stmt, int i) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return {text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i))};
}

int PutDate(char* out, const DateParts& p) {
  return std::snprintf(out, kSqliteBindBuffer, "%04d-%02d-%02d", p.year, p.month, p.day);
}

int PutTime(char* out, size_t room, const DateParts& p) {
  int n = std::snprintf(out, room, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  if (p.millisecond) n += std::snprintf(out + n, room - n, ".%03d", p.millisecond);
  return n;
}

// A date-time as the column keeps it (see the header).
int DateTimeText(double days, SqliteColumnKind kind, char* out) {
  const DateParts p = DecodeDateTime(days);
  const bool has_time = p.hour || p.minute || p.second || p.millisecond;
  if (kind == SqliteColumnKind::kTime && days >= 0 && days < 1)
    return PutTime(out, kSqliteBindBuffer, p);
  int n = PutDate(out, p);
  if (has_time || kind == SqliteColumnKind::kDateTime) {
    out[n++] = ' ';
    n += PutTime(out + n, kSqliteBindBuffer - n, p);
  }
  return n;
}

// Currency holds 1/10000 units in 64 bits; an amount beyond this stays a number.
constexpr int64_t kLargestCurrency = 900000000000000;

// A REAL keeps any decimal of at most 15 significant digits exactly (DBL_DIG).
constexpr int64_t kExactRealTenThousandths = 1000000000000000;  // 1e11 with 4 decimals

int BindCurrency(sqlite3_stmt* stmt, int index, const SqliteColumn& column, int64_t units,
                 char* buffer) {
  if (units % 10000 == 0) return sqlite3_bind_int64(stmt, index, units / 10000);
  if (units < kExactRealTenThousandths && units > -kExactRealTenThousandths)
    return sqlite3_bind_double(stmt, index, static_cast<double>(units) / 10000.0);
  const std::string text = Variant::Currency(units).ToText();
  if (column.numeric_affinity)
    throw TrundleError("the amount " + text +
                       " has more digits than a SQLite number keeps (15); a text column would "
                       "keep it");
  std::memcpy(buffer, text.data(), text.size());
  return sqlite3_bind_text(stmt, index, buffer, static_cast<int>(text.size()), SQLITE_STATIC);
}

}  // namespace

SqliteColumn SqliteColumnOf(const char* declared) {
  SqliteColumn column;
  TFieldDef& def = column.def;
  if (!declared || !*declared) return column;  // no affinity: values decide
  std::string name;
  const char* p = declared;
  for (; *p && *p != '('; ++p) name += UpperAsciiChar(*p);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  int size = 0, decimals = 0;
  if (*p == '(') ReadWidth(p, size, decimals);
  // SQLite's affinity rules, in their order: INT, then CHAR/CLOB/TEXT, then BLOB, then
  // REAL/FLOA/DOUB, else NUMERIC.
  if (Contains(name, "INT")) {
    column.numeric_affinity = true;
    def.DataType = ftLargeint;
  } else if (Contains(name, "CHAR") || Contains(name, "CLOB") || Contains(name, "TEXT")) {
    def.DataType = size > 0 ? ftString : ftMemo;
    def.Size = size;
  } else if (Contains(name, "BLOB")) {
    def.DataType = ftBlob;
  } else if (Contains(name, "REAL") || Contains(name, "FLOA") || Contains(name, "DOUB")) {
    column.numeric_affinity = true;
    def.DataType = ftFloat;
  } else {
    column.numeric_affinity = true;
    if (name == "DATE") {
      column.kind = SqliteColumnKind::kDate;
      def.DataType = ftDate;
    } else if (name == "TIME") {
      column.kind = SqliteColumnKind::kTime;
      def.DataType = ftTime;
    } else if (name == "DATETIME" || name == "TIMESTAMP") {
      column.kind = SqliteColumnKind::kDateTime;
      def.DataType = ftDateTime;
    } else if (name == "BOOLEAN" || name == "BOOL" || name == "BIT") {
      column.kind = SqliteColumnKind::kBoolean;
      def.DataType = ftBoolean;
    } else if (name == "MONEY" || name == "CURRENCY") {
      column.kind = SqliteColumnKind::kCurrency;
      def.DataType = ftCurrency;
    } else if (decimals > 0 || size > 18) {
      def.DataType = ftBCD;
      def.Size = size;
      def.Decimals = decimals;
    } else if (size > 0) {
      def.DataType = ftLargeint;  // NUMERIC(10): whole numbers
    } else {
      def.DataType = ftFloat;  // NUMERIC, DECIMAL: integers and reals both
    }
  }
  return column;
}

TFieldType FieldTypeOfSqliteValue(int storage_class) {
  // Text has no width in SQLite: a memo, unless a destination measures it.
  const TFieldType type = FieldTypeOfStorageClass(storage_class);
  return type == ftString ? ftMemo : type;
}

std::string SqliteDeclaredType(const TFieldDef& def) {
  switch (def.DataType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftLargeint:
    case ftAutoInc:
      return "INTEGER";
    case ftFloat:
      return "REAL";
    case ftCurrency:
      return "CURRENCY";
    case ftBCD:
      if (def.Size <= 0) return "NUMERIC";
      return "DECIMAL(" + std::to_string(def.Size) + "," + std::to_string(def.Decimals) + ")";
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
    case ftGuid:
      return "TEXT";
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return "BLOB";
    case ftDate:
      return "DATE";
    case ftTime:
      return "TIME";
    case ftDateTime:
      return "DATETIME";
    case ftBoolean:
      return "BOOLEAN";
    default:
      return "";
  }
}

void ReadSqliteValue(sqlite3_stmt* stmt, int i, const SqliteColumn& column, Variant& value,
                     std::string& scratch) {
  const int storage = sqlite3_column_type(stmt, i);
  switch (storage) {
    case SQLITE_INTEGER: {
      const int64_t number = sqlite3_column_int64(stmt, i);
      if (column.kind == SqliteColumnKind::kBoolean && (number == 0 || number == 1))
        return value.SetBoolean(number != 0);
      if (column.kind == SqliteColumnKind::kCurrency && number < kLargestCurrency &&
          number > -kLargestCurrency)
        return value.SetCurrency(number * 10000);
      return value.SetInteger(number);
    }
    case SQLITE_FLOAT: {
      const double number = sqlite3_column_double(stmt, i);
      if (column.kind == SqliteColumnKind::kCurrency && std::fabs(number) < kLargestCurrency) {
        const int64_t units = std::llround(number * 10000.0);
        if (static_cast<double>(units) / 10000.0 == number) return value.SetCurrency(units);
      }
      return value.SetFloat(number);
    }
    case SQLITE_TEXT: {
      const std::string_view text = ColumnText(stmt, i);
      double days = 0;
      const bool date = column.kind == SqliteColumnKind::kDate ||
                        column.kind == SqliteColumnKind::kTime ||
                        column.kind == SqliteColumnKind::kDateTime;
      if (date && ReadIsoText(text, days, scratch)) return value.SetDateTime(days);
      return value.SetString(text);
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      return value.SetBlob(
          std::string_view(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
    }
    default:
      return value.SetNull();
  }
}

int BindSqliteValue(sqlite3_stmt* stmt, int index, const SqliteColumn& column, const Variant& value,
                    char* buffer) {
  switch (value.type()) {
    case VarType::kString:
      return sqlite3_bind_text(stmt, index, value.text().data(),
                               static_cast<int>(value.text().size()), SQLITE_STATIC);
    case VarType::kBlob:
      return sqlite3_bind_blob(stmt, index, value.text().data(),
                               static_cast<int>(value.text().size()), SQLITE_STATIC);
    case VarType::kInteger:
      return sqlite3_bind_int64(stmt, index, value.integer());
    case VarType::kFloat:
      // SQLite stores a NaN as NULL; its text keeps that there was a value.
      if (std::isnan(value.real())) return sqlite3_bind_text(stmt, index, "NaN", 3, SQLITE_STATIC);
      return sqlite3_bind_double(stmt, index, value.real());
    case VarType::kCurrency:
      return BindCurrency(stmt, index, column, value.integer(), buffer);
    case VarType::kDateTime: {
      const int n = DateTimeText(value.real(), column.kind, buffer);
      return sqlite3_bind_text(stmt, index, buffer, n, SQLITE_STATIC);
    }
    case VarType::kBoolean:
      return sqlite3_bind_int(stmt, index, value.boolean() ? 1 : 0);
    case VarType::kUnassigned:
    case VarType::kNull:
      break;
  }
  return sqlite3_bind_null(stmt, index);
}

}  // namespace trundle
