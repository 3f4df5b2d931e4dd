// An in-memory equality index over a table file, for the inner side of a join: SQLite
// builds automatic indexes only for its own tables, so without this every row of the
// outer table would read the inner file from start to end.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "databases/core/table_file.h"
#include "engine/tick.h"

namespace trundle {

class LookupIndex {
 public:
  // Reads every record of reader (from its start) and indexes column, stepping `tick` at
  // each record. False when tick asked to stop: the index is then incomplete and must not
  // be used. Throws what the reader throws.
  bool Build(TableFileReader& reader, int column, const TFieldDefs& fields,
             const TTrundleTickEvent& tick = {});

  // The records whose value may equal `value` as SQLite compares them: a superset (text
  // that reads as a number is filed under the number, so '5' finds 5 and "05" as well),
  // which SQLite narrows by testing the constraint itself. Empty for NULL.
  const std::vector<uint32_t>& Find(sqlite3_value* value) const;
  const std::vector<Variant>& record(uint32_t i) const { return records_[i]; }

 private:
  std::vector<std::vector<Variant>> records_;                     // the whole table
  std::unordered_map<std::string, std::vector<uint32_t>> where_;  // key -> records
  std::vector<uint32_t> none_;
};

}  // namespace trundle
