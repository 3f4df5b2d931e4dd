// The key clauses of a CREATE TABLE made from a source's fields and keys.
//
//   KeyConstraintsSql(keys, fields, names, quote)  // ", primary key ("id"), unique ("code")"
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/field_types.h"

namespace trundle {

// ", primary key (...), unique (...)" for the source's keys over its fields as the new
// table names them (names[i] for fields[i]), each name through `quote`. A key over a
// field the table lacks is left out whole, and only the first primary key is taken.
std::string KeyConstraintsSql(const TIndexDefs& keys, const TFieldDefs& fields,
                              const std::vector<std::string>& names,
                              const std::function<std::string(const std::string&)>& quote);

// "\"a\", \"b\"": the key's fields as the new table names them, each through `quote`;
// empty when the key has no fields or one the table lacks.
std::string KeyColumnsSql(const TIndexDef& key, const TFieldDefs& fields,
                          const std::vector<std::string>& names,
                          const std::function<std::string(const std::string&)>& quote);

}  // namespace trundle
