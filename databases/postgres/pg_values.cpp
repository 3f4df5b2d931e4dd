#include "databases/postgres/pg_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "engine/datetime.h"

namespace trundle {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// A date-time the way PostgreSQL reads it back to the millisecond: a date column gets
// the date alone, a time column the time of day alone.
void AppendDateTime(double days, PgColumnKind column, std::string& line) {
  const DateParts p = DecodeDateTime(days);
  char out[40];
  int n = 0;
  if (column == PgColumnKind::kTime && days >= 0 && days < 1) {
    n = std::snprintf(out, sizeof out, "%02d:%02d:%02d.%03d", p.hour, p.minute, p.second,
                      p.millisecond);
  } else {
    n = std::snprintf(out, sizeof out, "%04d-%02d-%02d", p.year, p.month, p.day);
    if (column != PgColumnKind::kDate)
      n += std::snprintf(out + n, sizeof out - n, " %02d:%02d:%02d.%03d", p.hour, p.minute,
                         p.second, p.millisecond);
  }
  line.append(out, static_cast<size_t>(n));
}

void AppendEscaped(std::string_view text, std::string& line) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escape = c == '\\'   ? "\\\\"
                         : c == '\t' ? "\\t"
                         : c == '\n' ? "\\n"
                         : c == '\r' ? "\\r"
                                     : nullptr;
    if (!escape) continue;
    line.append(text.data() + start, i - start);
    line += escape;
    start = i + 1;
  }
  line.append(text.data() + start, text.size() - start);
}

// bytea's hex form, its backslash escaped for COPY: \\x0aff.
void AppendHex(std::string_view bytes, std::string& line) {
  line += "\\\\x";
  for (unsigned char c : bytes) {
    line += kHex[c >> 4];
    line += kHex[c & 15];
  }
}

void AppendFloat(double d, std::string& line) {
  if (std::isnan(d)) return void(line += "NaN");
  if (std::isinf(d)) return void(line += d > 0 ? "Infinity" : "-Infinity");
  char out[32];
  const auto result = std::to_chars(out, out + sizeof out, d);
  line.append(out, result.ptr);
}

bool ReadDate(std::string_view text, double& days) {
  // ParseIsoText keeps milliseconds; a finer fraction stays the exact text.
  const size_t dot = text.find('.');
  if (dot != std::string_view::npos && text.size() - dot - 1 > 3) return false;
  if (text.size() < 8 || text.size() > 23) return false;
  return ParseIsoText(std::string(text), days);
}

// Bytes from bytea's hex output (\x0aff); false for any other form.
bool ReadHex(std::string_view text, Variant& value) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2) return false;
  std::string bytes;
  bytes.reserve(text.size() / 2 - 1);
  auto digit = [](char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
  };
  for (size_t i = 2; i < text.size(); i += 2) {
    const int high = digit(text[i]), low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  value.SetBlob(bytes);
  return true;
}

}  // namespace

PgColumnKind PgColumnKindOf(uint32_t oid) {
  switch (oid) {
    case kPgInt2:
    case kPgInt4:
    case kPgInt8:
    case kPgOid:
      return PgColumnKind::kInteger;
    case kPgFloat4:
    case kPgFloat8:
      return PgColumnKind::kFloat;
    case kPgBool:
      return PgColumnKind::kBoolean;
    case kPgBytea:
      return PgColumnKind::kBinary;
    case kPgDate:
      return PgColumnKind::kDate;
    case kPgTime:
      return PgColumnKind::kTime;
    case kPgTimestamp:
      return PgColumnKind::kDateTime;
    case kPgNumeric:
      return PgColumnKind::kNumeric;
    default:
      return PgColumnKind::kText;
  }
}

TFieldDef PgFieldDefOf(uint32_t oid, int type_modifier) {
  TFieldDef def;
  switch (oid) {
    case kPgInt2:
      def.DataType = ftSmallint;
      break;
    case kPgInt4:
      def.DataType = ftInteger;
      break;
    case kPgInt8:
    case kPgOid:
      def.DataType = ftLargeint;
      break;
    case kPgFloat4:
    case kPgFloat8:
      def.DataType = ftFloat;
      break;
    case kPgBool:
      def.DataType = ftBoolean;
      break;
    case kPgBytea:
      def.DataType = ftBlob;
      break;
    case kPgDate:
      def.DataType = ftDate;
      break;
    case kPgTime:
      def.DataType = ftTime;
      break;
    case kPgTimestamp:
      def.DataType = ftDateTime;
      break;
    case kPgNumeric:
      def.DataType = ftBCD;
      if (type_modifier >= 4) {
        def.Size = ((type_modifier - 4) >> 16) & 0xffff;
        def.Decimals = (type_modifier - 4) & 0xffff;
      }
      break;
    case kPgVarchar:
    case kPgBpchar:
      def.DataType = type_modifier > 4 ? ftString : ftMemo;
      def.Size = type_modifier > 4 ? type_modifier - 4 : 0;
      break;
    default:
      def.DataType = ftMemo;
  }
  return def;
}

std::string PgDeclaredType(const TFieldDef& def) {
  switch (def.DataType) {
    case ftSmallint:
      return "smallint";
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return "integer";
    case ftLargeint:
      return "bigint";
    case ftFloat:
      return "double precision";
    case ftCurrency:
      return "numeric(19,4)";
    case ftBCD:
      if (def.Size <= 0 || def.Size > 1000 || def.Decimals > def.Size) return "numeric";
      return "numeric(" + std::to_string(def.Size) + "," + std::to_string(def.Decimals) + ")";
    case ftString:
    case ftFixedChar:
    case ftWideString:
      if (def.Size > 0 && def.Size <= 10485760) return "varchar(" + std::to_string(def.Size) + ")";
      return "text";
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return "bytea";
    case ftDate:
      return "date";
    case ftTime:
      return "time";
    case ftDateTime:
      return "timestamp";
    case ftBoolean:
      return "boolean";
    default:
      return "text";
  }
}

void ReadPgValue(PgColumnKind kind, std::string_view text, Variant& value) {
  switch (kind) {
    case PgColumnKind::kInteger: {
      int64_t n = 0;
      const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
      if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return value.SetInteger(n);
      break;
    }
    case PgColumnKind::kFloat: {
      if (text == "NaN") return value.SetFloat(std::nan(""));
      if (text == "Infinity") return value.SetFloat(HUGE_VAL);
      if (text == "-Infinity") return value.SetFloat(-HUGE_VAL);
      double d = 0;
      const auto r = std::from_chars(text.data(), text.data() + text.size(), d);
      if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return value.SetFloat(d);
      break;
    }
    case PgColumnKind::kBoolean:
      if (text == "t" || text == "f") return value.SetBoolean(text == "t");
      break;
    case PgColumnKind::kBinary:
      if (ReadHex(text, value)) return;
      break;
    case PgColumnKind::kDate:
    case PgColumnKind::kDateTime:
    case PgColumnKind::kTime: {
      double days = 0;
      if (ReadDate(text, days)) return value.SetDateTime(days);
      break;
    }
    default:
      break;
  }
  // Text, numeric, and what the rules above cannot read exactly (a timestamp to the
  // microsecond, infinity, a date before year 1): as the server wrote it.
  value.SetString(text);
}

void AppendCopyValue(const Variant& value, PgColumnKind column, std::string& line) {
  switch (value.type()) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return void(line += "\\N");
    case VarType::kString:
      if (column == PgColumnKind::kBinary) return AppendHex(value.text(), line);
      // Empty text is a value of a text column; in any other it is no value (a text
      // file's empty field), which the server would refuse as a number or a date.
      if (value.text().empty() && column != PgColumnKind::kText) return void(line += "\\N");
      return AppendEscaped(value.text(), line);
    case VarType::kBlob:
      return AppendHex(value.text(), line);
    case VarType::kFloat:
      return AppendFloat(value.real(), line);
    case VarType::kDateTime:
      if (column == PgColumnKind::kText) return AppendEscaped(value.ToText(), line);
      return AppendDateTime(value.real(), column, line);
    case VarType::kBoolean:
      if (column == PgColumnKind::kText) return value.AppendText(line);
      if (column == PgColumnKind::kBoolean) return void(line += value.boolean() ? "t" : "f");
      return void(line += value.boolean() ? "1" : "0");
    default:
      return value.AppendText(line);
  }
}

}  // namespace trundle
