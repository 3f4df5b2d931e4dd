// Helpers for the Paradox tests: reading a table into rows, building field definitions.
// Scratch folders and whole-file reads and writes come from tests/test_files.h.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "databases/paradox/paradox_file.h"
#include "engine/datetime.h"
#include "tests/test_files.h"

namespace trundle::pxtest {

inline std::vector<std::vector<Variant>> ReadAll(const std::string& path,
                                                 const TableReadOptions& options = {}) {
  auto reader = OpenParadoxTable(path, options);
  std::vector<std::vector<Variant>> rows;
  std::vector<Variant> row;
  while (reader->Next(row)) rows.push_back(row);
  return rows;
}

inline double Moment(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime(DateParts{y, mo, d, h, mi, s, ms});
}

inline TFieldDef Def(const std::string& name, TFieldType type, int size = 0, int decimals = 0) {
  TFieldDef d;
  d.Name = name;
  d.DataType = type;
  d.Size = size;
  d.Decimals = decimals;
  return d;
}

}  // namespace trundle::pxtest
