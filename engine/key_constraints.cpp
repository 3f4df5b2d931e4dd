#include "engine/key_constraints.h"

namespace trundle {

std::string KeyConstraintsSql(const TIndexDefs& keys, const TFieldDefs& fields,
                              const std::vector<std::string>& names,
                              const std::function<std::string(const std::string&)>& quote) {
  std::string out;
  bool primary_given = false;
  for (const TIndexDef& key : keys) {
    if (key.Fields.empty() || (key.Primary && primary_given) || !(key.Primary || key.Unique))
      continue;
    const std::string columns = KeyColumnsSql(key, fields, names, quote);
    if (columns.empty()) continue;
    out += std::string(key.Primary ? ", primary key (" : ", unique (") + columns + ")";
    primary_given = primary_given || key.Primary;
  }
  return out;
}

std::string KeyColumnsSql(const TIndexDef& key, const TFieldDefs& fields,
                          const std::vector<std::string>& names,
                          const std::function<std::string(const std::string&)>& quote) {
  std::string columns;
  for (const std::string& field : key.Fields) {
    const int at = FindFieldIndex(fields, field);
    if (at < 0) return "";
    columns += (columns.empty() ? "" : ", ") + quote(names[static_cast<size_t>(at)]);
  }
  return columns;
}

}  // namespace trundle
