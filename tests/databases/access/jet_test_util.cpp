#include "tests/databases/access/jet_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace trundle::jet_test {
namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as days since 1899-12-30

std::string Number(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return std::string("n:") + (std::string(buf) == "-0" ? "0" : buf);
}

std::string Seconds(double seconds) {
  return "d:" + std::to_string(static_cast<long long>(std::llround(seconds)));
}

std::string Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : text) {
    if (c == sep) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  parts.push_back(cur);
  return parts;
}

// mdb-reader's cells: numbers and dates in our canonical form, the rest as given.
std::string ReaderCell(const std::string& cell, TFieldType type) {
  if (cell.rfind("n:", 0) == 0) return Number(std::stod(cell.substr(2)));
  if (cell.rfind("d:", 0) == 0) return Seconds(std::stod(cell.substr(2)) / 1000.0);
  if (cell.rfind("s:{", 0) == 0 && cell.size() == 40) return cell;
  if (cell.rfind("s:", 0) == 0 && cell.size() == 38 && cell[10] == '-') {  // a GUID
    std::string guid = cell.substr(2);
    for (char& c : guid) c = char(std::toupper(static_cast<unsigned char>(c)));
    return "s:{" + guid + "}";
  }
  if (cell.rfind("s:", 0) == 0 && (type == ftCurrency || type == ftFloat)) {
    // Currency and Decimal arrive as text
    const std::string t = cell.substr(2);
    char* end = nullptr;
    const double d = std::strtod(t.c_str(), &end);
    if (!t.empty() && end == t.c_str() + t.size() &&
        t.find_first_not_of("-0123456789.") == std::string::npos)
      return Number(d);
  }
  return cell;
}

// One CSV record of mdb-export: fields with quoted flags. pos advances past the record.
bool ReadCsvRecord(const std::string& text, size_t& pos, std::vector<std::string>& fields) {
  fields.clear();
  if (pos >= text.size()) return false;
  std::string cur;
  bool quoted = false, in_quotes = false;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (in_quotes) {
      if (c == '"') {
        if (pos < text.size() && text[pos] == '"') {
          cur.push_back('"');
          ++pos;
        } else {
          in_quotes = false;
        }
      } else {
        cur.push_back(c);
      }
    } else if (c == '"') {
      in_quotes = quoted = true;
    } else if (c == ',') {
      fields.push_back(cur);
      cur.clear();
      quoted = false;
    } else if (c == '\n') {
      break;
    } else {
      cur.push_back(c);
    }
  }
  fields.push_back(cur);
  return true;
}

std::string ExportCell(const std::string& cell, TFieldType type) {
  if (cell.empty()) return "N";  // mdb-export writes Null and empty text alike
  switch (type) {
    case ftBoolean:
      return cell == "1" ? "b:1" : "b:0";
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
      return Number(std::stod(cell));
    case ftDateTime: {
      std::tm tm{};
      if (!strptime(cell.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) return "s:" + Escape(cell);
      return Seconds(double(timegm(&tm)));
    }
    case ftGuid: {  // -b hex writes the GUID's text as hex
      std::string text;
      for (size_t i = 0; i + 1 < cell.size(); i += 2)
        text.push_back(char(std::stoi(cell.substr(i, 2), nullptr, 16)));
      // mdbtools 1.0 leaves out the dash between the fourth and fifth groups.
      if (text.size() == 37 && text[24] != '-') text.insert(24, "-");
      return "s:" + text;
    }
    case ftBlob:
    case ftVarBytes:
    case ftBytes: {
      std::string hex = cell;  // mdb-export writes upper case
      for (char& c : hex) c = char(std::tolower(static_cast<unsigned char>(c)));
      return "x:" + hex;
    }
    default:
      return "s:" + Escape(cell);
  }
}

}  // namespace

std::string Fixture(const std::string& name) {
  return std::string(TRUNDLE_SOURCE_DIR) + "/tests/data/access/" + name;
}

std::vector<std::string> FixtureNames() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(std::string(TRUNDLE_SOURCE_DIR) +
                                                           "/tests/data/access")) {
    const std::string ext = e.path().extension().string();
    if (ext == ".mdb" || ext == ".accdb") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out.push_back(c);
  }
  return out + "'";
}

std::string Run(const std::string& command, int* exit_status) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = pclose(p);
  if (exit_status) *exit_status = status;
  return out;
}

std::string CanonicalCell(const Variant& v) {
  switch (v.type()) {
    case VarType::kUnassigned:
    case VarType::kNull:
      return "N";
    case VarType::kBoolean:
      return v.boolean() ? "b:1" : "b:0";
    case VarType::kInteger:
      return Number(double(v.integer()));
    case VarType::kFloat:
      return Number(v.real());
    case VarType::kCurrency:
      return Number(double(v.integer()) / 10000.0);
    case VarType::kDateTime:
      return Seconds((v.real() - kUnixEpochDays) * 86400.0);
    case VarType::kBlob:
      return "x:" + Hex(v.text());
    case VarType::kString:
      return "s:" + Escape(v.text());
  }
  return "?";
}

std::vector<std::string> OurRows(const jet::JetDatabase& db, const std::string& table,
                                 bool system_too) {
  auto reader = system_too ? db.OpenAnyTable(table) : db.OpenTable(table);
  std::vector<std::string> rows;
  std::vector<Variant> values;
  while (reader->Next(values)) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) line.push_back('\t');
      // Decimal values that a double cannot hold travel as text: compare them as numbers.
      if (values[i].IsText() && reader->fields()[i].DataType == ftFloat)
        line += Number(std::stod(values[i].text()));
      else
        line += CanonicalCell(values[i]);
    }
    rows.push_back(line);
  }
  return rows;
}

std::vector<std::string> ReaderRows(const std::string& file, const std::string& table,
                                    const TFieldDefs& fields) {
  const std::string out =
      Run("node " + Quote(std::string(TRUNDLE_SOURCE_DIR) + "/tests/oracles/mdb_table.mjs") + " " +
          Quote(file) + " " + Quote(table));
  std::vector<std::string> lines = Split(out, '\n');
  std::vector<std::string> rows;
  for (size_t i = 1; i < lines.size(); ++i) {  // line 0 names the columns
    if (lines[i].empty()) continue;
    std::string line;
    const std::vector<std::string> cells = Split(lines[i], '\t');
    for (size_t c = 0; c < cells.size(); ++c) {
      std::string cell = cells[c];
      if (cell == "b:true") cell = "b:1";
      if (cell == "b:false") cell = "b:0";
      if (c) line.push_back('\t');
      line += ReaderCell(cell, c < fields.size() ? fields[c].DataType : ftString);
    }
    rows.push_back(line);
  }
  return rows;
}

std::vector<std::string> ExportRows(const std::string& file, const std::string& table,
                                    const TFieldDefs& fields) {
  const std::string out = Run("timeout 60 mdb-export -H -b hex -T '%Y-%m-%d %H:%M:%S' " +
                              Quote(file) + " " + Quote(table));
  std::vector<std::string> rows;
  size_t pos = 0;
  std::vector<std::string> cells;
  while (ReadCsvRecord(out, pos, cells)) {
    std::string line;
    for (size_t c = 0; c < cells.size(); ++c) {
      if (c) line.push_back('\t');
      line += ExportCell(cells[c], c < fields.size() ? fields[c].DataType : ftString);
    }
    rows.push_back(line);
  }
  return rows;
}

std::vector<std::string> ReaderTables(const std::string& file, bool system_too) {
  std::vector<std::string> names;
  for (const std::string& n :
       Split(Run("node " + Quote(std::string(TRUNDLE_SOURCE_DIR) + "/tests/oracles/mdb_table.mjs") +
                 " " + Quote(file) + (system_too ? " --all" : "")),
             '\n'))
    if (!n.empty()) names.push_back(n);
  return names;
}

std::string EmptyAsNull(const std::string& row) {
  std::string out = "\t" + row + "\t";
  for (const char* empty : {"\ts:\t", "\tx:\t"})
    for (size_t at; (at = out.find(empty)) != std::string::npos;) out.replace(at, 4, "\tN\t");
  return out.substr(1, out.size() - 2);
}

}  // namespace trundle::jet_test
