#include "databases/server/server_columns.h"

#include <sqlext.h>

#include <cstdio>

#include "engine/ascii.h"
#include "engine/datetime.h"

namespace trundle {
namespace {

// Character columns wider than this are long text (CLOB, 112) rather than strings (5):
// Oracle's VARCHAR2 holds at most 4000 bytes.
constexpr SQLULEN kMaxStringWidth = 4000;

ColumnPlan Plan(ColumnKind kind, TFieldType type, int code, int size = 0, int decimals = 0) {
  ColumnPlan plan;
  plan.kind = kind;
  plan.def.DataType = type;
  plan.def.NativeType = code;
  plan.def.Size = size;
  plan.def.Decimals = decimals;
  return plan;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Text of the form the text tables write bytes in ("0x" and two hex digits a byte), as
// the bytes it stands for; false, appending nothing, for any other text.
bool AppendHexBytes(const std::string& text, std::string& out) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
      text.size() % 2 != 0)
    return false;
  for (size_t i = 2; i < text.size(); ++i)
    if (HexDigit(text[i]) < 0) return false;
  for (size_t i = 2; i < text.size(); i += 2)
    out += static_cast<char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1]));
  return true;
}

}  // namespace

ColumnPlan PlanColumn(const ColumnDescription& column, bool sqlite) {
  const std::string type_name = UpperAscii(column.type_name);
  ColumnPlan plan;
  // psqlODBC describes boolean columns as text unless told otherwise; the type name
  // tells them apart.
  if (type_name == "BOOL" || type_name == "BOOLEAN") {
    plan = Plan(ColumnKind::kBoolean, ftBoolean, 252);
  } else {
    switch (column.sql_type) {
      case SQL_BIT:
        plan = Plan(ColumnKind::kBoolean, ftBoolean, 252);
        break;
      // An unsigned integer gets the next wider field; an unsigned bigint, past what 64
      // signed bits hold, travels as exact digits.
      case SQL_TINYINT:
      case SQL_SMALLINT:
        plan = Plan(ColumnKind::kInteger,
                    sqlite ? ftLargeint : column.is_unsigned ? ftInteger : ftSmallint, 3);
        break;
      case SQL_INTEGER:
        plan = Plan(ColumnKind::kInteger,
                    sqlite || column.is_unsigned ? ftLargeint : ftInteger, 3);
        break;
      case SQL_BIGINT:
        if (column.is_unsigned)
          plan = Plan(ColumnKind::kDecimal, ftBCD, 4, 20, 0);
        else
          plan = Plan(ColumnKind::kInteger, ftLargeint, 3);
        break;
      case SQL_DECIMAL:
      case SQL_NUMERIC:
        if (column.decimals == 0 && column.size > 0 && column.size <= 18)
          plan = Plan(ColumnKind::kInteger, column.size <= 9 ? ftInteger : ftLargeint, 3);
        else
          plan =
              Plan(ColumnKind::kDecimal, ftBCD, 4, static_cast<int>(column.size), column.decimals);
        break;
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE:
        plan = Plan(ColumnKind::kFloat, ftFloat, 4);
        break;
      case SQL_CHAR:
      case SQL_VARCHAR:
      case SQL_WCHAR:
      case SQL_WVARCHAR:
        if (column.size > 0 && column.size <= kMaxStringWidth)
          plan = Plan(ColumnKind::kText, ftString, 5, static_cast<int>(column.size));
        else
          plan = Plan(ColumnKind::kText, ftMemo, 112);
        break;
      case SQL_GUID:
        plan = Plan(ColumnKind::kText, ftString, 5, 36);
        break;
      case SQL_LONGVARCHAR:
      case SQL_WLONGVARCHAR:
        plan = Plan(ColumnKind::kText, ftMemo, type_name == "LONG" ? 8 : 112);
        break;
      case SQL_BINARY:
      case SQL_VARBINARY:
        plan = Plan(ColumnKind::kBinary, ftBlob, 24);
        break;
      case SQL_LONGVARBINARY:
        plan = Plan(ColumnKind::kBinary, ftBlob, type_name == "LONG RAW" ? 24 : 113);
        break;
      case SQL_TYPE_DATE:
      case SQL_DATE:
        plan = Plan(ColumnKind::kDate, ftDate, 12);
        break;
      case SQL_TYPE_TIMESTAMP:
      case SQL_TIMESTAMP:
        plan = Plan(ColumnKind::kTimestamp, ftDateTime, 12);
        break;
      case SQL_TYPE_TIME:
      case SQL_TIME:
        plan = Plan(ColumnKind::kTime, ftTime, 12);
        break;
      default:
        break;  // intervals, server-specific types: not carried
    }
  }
  plan.def.Name = column.name;
  return plan;
}

void TimestampValue(const SQL_TIMESTAMP_STRUCT& ts, Variant& out) {
  DateParts parts;
  parts.year = ts.year;
  parts.month = ts.month;
  parts.day = ts.day;
  parts.hour = ts.hour;
  parts.minute = ts.minute;
  parts.second = ts.second;
  parts.millisecond = static_cast<int>(ts.fraction / 1000000);
  if (ts.fraction % 1000000 == 0 && IsValidDateParts(parts)) {
    out.SetDateTime(EncodeDateTime(parts));
    return;
  }
  char text[48];
  int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%09u", ts.year, ts.month,
                    ts.day, ts.hour, ts.minute, ts.second, static_cast<unsigned>(ts.fraction));
  while (length > 0 && text[length - 1] == '0') --length;  // no trailing zeros
  if (length > 0 && text[length - 1] == '.') --length;
  out.SetString(std::string_view(text, static_cast<size_t>(length)));
}

bool BooleanFromText(std::string_view text) {
  const std::string upper = UpperAscii(text);
  return upper == "1" || upper == "T" || upper == "TRUE" || upper == "Y" || upper == "YES" ||
         text == std::string_view("\x01", 1);
}

void TimeValue(std::string_view text, Variant& out) {
  auto digits = [&](size_t at, size_t count) {
    int n = 0;
    for (size_t i = at; i < at + count; ++i) {
      if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
      n = n * 10 + (text[i] - '0');
    }
    return n;
  };
  const int hour = digits(0, 2);
  const int minute = digits(3, 2);
  const int second = digits(6, 2);
  bool plain = text.size() >= 8 && text[2] == ':' && text[5] == ':' && hour >= 0 && hour < 24 &&
               minute >= 0 && minute < 60 && second >= 0 && second < 60;
  int millisecond = 0;
  if (plain && text.size() > 8) {
    const std::string_view fraction = text.substr(9);
    plain = text[8] == '.' && fraction.find_first_not_of("0123456789") == std::string_view::npos &&
            (fraction.size() <= 3 || fraction.find_first_not_of('0', 3) == std::string_view::npos);
    for (size_t i = 0; plain && i < 3; ++i)
      millisecond = millisecond * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  if (!plain) {
    out.SetString(text);  // finer than milliseconds, or a form of the server's own
    return;
  }
  out.SetDateTime((hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0) / 86400.0);
}

void ParameterText(const Variant& value, ColumnKind kind, std::string& out) {
  switch (value.type()) {
    case VarType::kBoolean:
      if (kind == ColumnKind::kText || kind == ColumnKind::kBinary)
        out += value.boolean() ? "True" : "False";
      else
        out += value.boolean() ? '1' : '0';
      return;
    case VarType::kString:
      if (kind == ColumnKind::kBinary && AppendHexBytes(value.text(), out)) return;
      if (kind == ColumnKind::kBoolean) {
        const std::string upper = UpperAscii(value.text());
        if (upper == "TRUE" || upper == "T" || upper == "YES" || upper == "Y") {
          out += '1';
          return;
        }
        if (upper == "FALSE" || upper == "F" || upper == "NO" || upper == "N") {
          out += '0';
          return;
        }
      }
      out += value.text();
      return;
    default:
      value.AppendText(out);
      return;
  }
}

}  // namespace trundle
