// Helpers for the dBase engine's tests: copying fixtures, reading a whole table, and
// running the other programs (GDAL, dbfread) that check what we write.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "databases/dbase/dbase_file.h"
#include "engine/variant.h"
#include "tests/test_files.h"

namespace trundle::dbase_test {

inline std::string Fixture(const std::string& name) {
  return std::string(TRUNDLE_FIXTURES) + "/dbase/" + name;
}

// Copies a fixture (and any companion files of the same stem) into dir, writable.
inline std::string CopyFixture(const ScratchFolder& dir, const std::string& name) {
  const std::string stem = name.substr(0, name.rfind('.'));
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(TRUNDLE_FIXTURES) + "/dbase")) {
    const std::string file = entry.path().filename().string();
    if (file.rfind(stem + ".", 0) == 0) {
      std::filesystem::copy_file(entry.path(), dir / file);
      std::filesystem::permissions(dir / file, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
  }
  return dir / name;
}

using Rows = std::vector<std::vector<Variant>>;

inline Rows ReadAll(const std::string& path, const TableReadOptions& options = {}) {
  auto reader = OpenDBaseTable(path, options);
  Rows rows;
  std::vector<Variant> row;
  while (reader->Next(row)) rows.push_back(row);
  return rows;
}

// Runs a shell command; returns its standard output, and its exit status in status.
inline std::string Run(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  status = pclose(pipe);
  return out;
}

inline bool HaveOtherReader(const std::string& reader) {
  int status = 0;
  const std::string module = reader == "gdal" ? "osgeo.ogr" : "dbfread";
  Run("/usr/bin/python3 -c 'import " + module + "' 2>/dev/null", status);
  return status == 0;
}

// The table as the other program reads it: the field names, then one row of tokens per
// record (read_with_others.py describes them).
std::vector<std::vector<std::string>> ReadWithOther(const std::string& reader,
                                                    const std::string& path,
                                                    const std::string& encoding);

// Empty when our value matches the other program's token, else a description of the
// difference.
std::string CompareValue(const Variant& ours, const std::string& theirs, TFieldType type);

}  // namespace trundle::dbase_test
