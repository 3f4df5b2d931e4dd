#include "databases/sql/lookup_index.h"

#include <cstdlib>
#include <cstring>

#include "databases/sql/sql_types.h"

namespace trundle {
namespace {

// Keys: 'n' and the bytes of a double for numbers, 't' and the text, 'b' and the bytes.
// Integers go through double so that 5 and 5.0 meet; beyond 2^53 neighbours share a key,
// which only widens the superset.
std::string NumberKey(double number) {
  if (number == 0) number = 0;  // -0.0 and 0.0 are one
  std::string key(1 + sizeof number, 'n');
  std::memcpy(key.data() + 1, &number, sizeof number);
  return key;
}

std::string TextKey(const char* text, size_t size) {
  // Text that SQLite may turn into a number under a column's affinity is filed under
  // that number; strtod reads a little more than SQLite does, which is harmless here.
  const std::string copy(text, size);
  const char* start = copy.c_str();
  while (*start == ' ' || *start == '\t' || *start == '\n' || *start == '\r') ++start;
  if (*start) {
    char* end = nullptr;
    const double number = std::strtod(start, &end);
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
    if (end != start && !*end) return NumberKey(number);
  }
  return 't' + copy;
}

// False for Null, which equals nothing.
bool KeyOf(const Variant& value, TFieldType type, std::string& key) {
  switch (value.type()) {
    case VarType::kInteger:
      key = NumberKey(static_cast<double>(value.integer()));
      return true;
    case VarType::kFloat:
      key = NumberKey(value.real());
      return true;
    case VarType::kCurrency:
      key = NumberKey(static_cast<double>(value.integer()) / 10000.0);
      return true;
    case VarType::kBoolean:
      key = NumberKey(value.boolean() ? 1 : 0);
      return true;
    case VarType::kString:
      key = TextKey(value.text().data(), value.text().size());
      return true;
    case VarType::kBlob:
      key = 'b' + value.text();
      return true;
    case VarType::kDateTime: {
      char text[32];
      key = TextKey(text, static_cast<size_t>(FormatDateTimeText(value.real(), type, text)));
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool LookupIndex::Build(TableFileReader& reader, int column, const TFieldDefs& fields,
                        const TTrundleTickEvent& tick) {
  records_.clear();
  where_.clear();
  reader.Rewind();
  const TFieldType type = fields[static_cast<size_t>(column)].DataType;
  std::vector<Variant> row;
  std::string key;
  TickCounter ticks(tick);
  while (reader.Next(row)) {
    if (ticks.Step()) return false;
    const auto at = static_cast<uint32_t>(records_.size());
    if (static_cast<size_t>(column) < row.size() &&
        KeyOf(row[static_cast<size_t>(column)], type, key))
      where_[key].push_back(at);
    records_.push_back(row);
  }
  return true;
}

const std::vector<uint32_t>& LookupIndex::Find(sqlite3_value* value) const {
  std::string key;
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      key = NumberKey(sqlite3_value_double(value));
      break;
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
      key = TextKey(text, static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    }
    case SQLITE_BLOB: {
      const auto* bytes = static_cast<const char*>(sqlite3_value_blob(value));
      key = 'b';
      if (bytes) key.append(bytes, static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    }
    default:
      return none_;
  }
  auto it = where_.find(key);
  return it == where_.end() ? none_ : it->second;
}

}  // namespace trundle
