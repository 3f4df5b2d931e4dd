// Helpers for the Paradox tests: a scratch folder per test, whole-file reads and writes,
// and reading a table into rows.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "databases/paradox/paradox_file.h"
#include "engine/datetime.h"

namespace trundle::pxtest {

class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("trundle_px_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
             std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

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
