#include "databases/sql/sql_types.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/ascii.h"
#include "engine/datetime.h"

namespace trundle {
namespace {

struct TypeName {
  TFieldType type;
  const char* name;  // upper case, as declared
};

// One name per field type the engines produce. The names are picked so that SQLite's
// affinity rules (a name holding INT gives INTEGER, CHAR/CLOB/TEXT give TEXT, REAL/FLOA/
// DOUB give REAL, BLOB none, anything else NUMERIC) suit comparisons: the text types hold
// CHAR or TEXT, because with NUMERIC affinity SQLite compares both sides as numbers where
// they look like numbers, and a memo holding "05" would equal '5'. That is why a memo is
// TEXT and not MEMO.
constexpr TypeName kTypeNames[] = {
    {ftString, "VARCHAR"},
    {ftFixedChar, "CHAR"},
    {ftWideString, "NVARCHAR"},
    {ftMemo, "TEXT"},
    {ftFmtMemo, "RICHTEXT"},
    {ftOraClob, "CLOB"},
    {ftSmallint, "SMALLINT"},
    {ftInteger, "INTEGER"},
    {ftWord, "WORD"},
    {ftLargeint, "BIGINT"},
    {ftAutoInc, "AUTOINC"},
    {ftBoolean, "BOOLEAN"},
    {ftFloat, "FLOAT"},
    {ftCurrency, "CURRENCY"},
    {ftBCD, "NUMERIC"},
    {ftDate, "DATE"},
    {ftTime, "TIME"},
    {ftDateTime, "TIMESTAMP"},
    {ftBytes, "BINARY"},
    {ftVarBytes, "VARBINARY"},
    {ftBlob, "BLOB"},
    {ftGraphic, "GRAPHIC"},
    {ftParadoxOle, "PDXOLE"},
    {ftDBaseOle, "DBASEOLE"},
    {ftTypedBinary, "TYPEDBINARY"},
    {ftOraBlob, "ORABLOB"},
    {ftGuid, "GUID"},
};

bool IsBinary(TFieldType type) {
  switch (type) {
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return true;
    default:
      return false;
  }
}

// Reads a number of at most 9 digits (wider is no width any engine has) at text[pos].
bool ReadSmallNumber(std::string_view text, size_t& pos, int& out) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  size_t start = pos;
  int value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 9)
    value = value * 10 + (text[pos++] - '0');
  while (pos < text.size() && text[pos] == ' ') ++pos;
  out = value;
  return pos > start;
}

// "(10)" or "(10,2)" after the name; false on anything else.
bool ReadSizeAndDecimals(std::string_view text, int& size, int& decimals) {
  size_t pos = 1;
  if (!ReadSmallNumber(text, pos, size)) return false;
  if (pos < text.size() && text[pos] == ',') {
    ++pos;
    if (!ReadSmallNumber(text, pos, decimals)) return false;
  }
  return pos + 1 == text.size() && text[pos] == ')';
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// SQLite's own affinity rules, for declared types this file did not write.
TFieldType TypeOfAffinity(const std::string& name) {
  if (Contains(name, "INT")) return ftLargeint;
  if (Contains(name, "CHAR") || Contains(name, "CLOB") || Contains(name, "TEXT")) return ftString;
  if (Contains(name, "BLOB")) return ftBlob;
  if (Contains(name, "REAL") || Contains(name, "FLOA") || Contains(name, "DOUB")) return ftFloat;
  return ftUnknown;
}

char* PutDigits(char* out, int value, int digits) {
  for (int k = digits - 1; k >= 0; --k) {
    out[k] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + digits;
}

char* PutDate(char* out, const DateParts& p) {
  out = PutDigits(out, p.year, 4);
  *out++ = '-';
  out = PutDigits(out, p.month, 2);
  *out++ = '-';
  return PutDigits(out, p.day, 2);
}

char* PutTime(char* out, const DateParts& p) {
  out = PutDigits(out, p.hour, 2);
  *out++ = ':';
  out = PutDigits(out, p.minute, 2);
  *out++ = ':';
  out = PutDigits(out, p.second, 2);
  if (p.millisecond) {
    *out++ = '.';
    out = PutDigits(out, p.millisecond, 3);
  }
  return out;
}

void ReadByStorageClass(sqlite3_stmt* stmt, int i, int storage, Variant& value) {
  switch (storage) {
    case SQLITE_INTEGER:
      value.SetInteger(sqlite3_column_int64(stmt, i));
      return;
    case SQLITE_FLOAT:
      value.SetFloat(sqlite3_column_double(stmt, i));
      return;
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      value.SetString(std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      return;
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
      value.SetBlob(std::string_view(bytes, static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      return;
    }
    default:
      value.SetNull();
  }
}

bool ReadDigits(std::string_view text, size_t at, size_t count, int& out) {
  if (at + count > text.size()) return false;
  int value = 0;
  for (size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  out = value;
  return true;
}

// The forms FormatDateTimeText writes, read without sscanf: ParseIsoText took a fifth of
// the time of a scan of a million rows with dates. Returns false on any other form.
bool ReadDateTimeText(std::string_view text, double& value) {
  DateParts p;
  size_t pos = 0;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    if (!ReadDigits(text, 0, 4, p.year) || !ReadDigits(text, 5, 2, p.month) ||
        !ReadDigits(text, 8, 2, p.day))
      return false;
    pos = 10;
    if (pos < text.size() && text[pos++] != ' ') return false;
  }
  if (pos < text.size() || pos == 0) {
    if (text.size() - pos < 8 || text[pos + 2] != ':' || text[pos + 5] != ':') return false;
    if (!ReadDigits(text, pos, 2, p.hour) || !ReadDigits(text, pos + 3, 2, p.minute) ||
        !ReadDigits(text, pos + 6, 2, p.second))
      return false;
    pos += 8;
    if (pos < text.size() && (text[pos] != '.' || text.size() - pos != 4 ||
                              !ReadDigits(text, pos + 1, 3, p.millisecond)))
      return false;
  }
  if (!IsValidDateParts(p)) return false;
  value = EncodeDateTime(p);
  return true;
}

// Currency holds 1/10000 units in 64 bits; beyond this the amount stays a plain number.
constexpr double kLargestCurrency = 9.2e14;

}  // namespace

std::string DeclaredType(const TFieldDef& field) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type != field.DataType) continue;
    std::string declared = entry.name;
    if (field.Size > 0 || field.Decimals > 0) {
      declared += '(' + std::to_string(field.Size);
      if (field.Decimals > 0) declared += ',' + std::to_string(field.Decimals);
      declared += ')';
    }
    return declared;
  }
  return {};
}

bool ReadDeclaredType(const char* declared, TFieldDef& field) {
  if (!declared || !*declared) return false;
  std::string name;
  const char* p = declared;
  for (; *p && *p != '('; ++p) name += UpperAsciiChar(*p);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  int size = 0, decimals = 0;
  if (*p == '(' && !ReadSizeAndDecimals(p, size, decimals)) size = decimals = 0;
  for (const TypeName& entry : kTypeNames) {
    if (name == entry.name) {
      field.DataType = entry.type;
      field.Size = size;
      field.Decimals = decimals;
      return true;
    }
  }
  const TFieldType type = TypeOfAffinity(name);
  if (type == ftUnknown) return false;
  field.DataType = type;
  field.Size = type == ftString ? size : 0;
  field.Decimals = 0;
  return true;
}

TFieldType FieldTypeOfStorageClass(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER:
      return ftLargeint;
    case SQLITE_FLOAT:
      return ftFloat;
    case SQLITE_BLOB:
      return ftBlob;
    default:
      return ftString;
  }
}

int FormatDateTimeText(double value, TFieldType type, char* out) {
  const DateParts p = DecodeDateTime(value);
  char* end = out;
  if (type == ftTime) {
    end = PutTime(out, p);
  } else {
    end = PutDate(out, p);
    if (type != ftDate && (p.hour || p.minute || p.second || p.millisecond)) {
      *end++ = ' ';
      end = PutTime(end, p);
    }
  }
  *end = '\0';
  return static_cast<int>(end - out);
}

void ReadColumnValue(sqlite3_stmt* stmt, int i, TFieldType type, Variant& value) {
  const int storage = sqlite3_column_type(stmt, i);
  if (storage == SQLITE_NULL) return value.SetNull();
  switch (type) {
    case ftDate:
    case ftTime:
    case ftDateTime:
      if (storage == SQLITE_TEXT) {
        double days = 0;
        const std::string_view text(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)),
                                    static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
        if (ReadDateTimeText(text, days) || ParseIsoText(std::string(text), days))
          return value.SetDateTime(days);
      }
      break;
    case ftBoolean:
      if (storage == SQLITE_INTEGER) return value.SetBoolean(sqlite3_column_int64(stmt, i) != 0);
      if (storage == SQLITE_FLOAT) return value.SetBoolean(sqlite3_column_double(stmt, i) != 0);
      break;
    case ftCurrency:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        const double amount = sqlite3_column_double(stmt, i);
        if (std::fabs(amount) < kLargestCurrency) {
          if (storage == SQLITE_INTEGER)
            return value.SetCurrency(sqlite3_column_int64(stmt, i) * 10000);
          return value.SetCurrency(std::llround(amount * 10000.0));
        }
      }
      break;
    default:
      if (IsBinary(type) && (storage == SQLITE_TEXT || storage == SQLITE_BLOB)) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, i));
        return value.SetBlob(
            std::string_view(bytes, static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
      }
      break;
  }
  ReadByStorageClass(stmt, i, storage, value);
}

}  // namespace trundle
