// Plain POSIX file access for the dBase engine: positioned reads and writes that report
// failures as TrundleError naming the file, and the file-name helpers that find a table's
// companion files (memo, code page) whatever letter case their extensions have.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace trundle::dbase {

// One open file descriptor, closed by the destructor. Move-only.
class PosixFile {
 public:
  // Each throws TrundleError naming the path and the system's reason.
  static PosixFile OpenRead(const std::string& path);
  static PosixFile OpenReadWrite(const std::string& path);
  // Fails (throws "PATH already exists") when the file exists.
  static PosixFile CreateNew(const std::string& path);

  PosixFile() = default;
  PosixFile(PosixFile&& other) noexcept;
  PosixFile& operator=(PosixFile&& other) noexcept;
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;
  ~PosixFile();

  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  uint64_t Size() const;
  // Reads up to size bytes at offset; returns how many were read (fewer only at the end
  // of the file).
  size_t ReadAt(uint64_t offset, char* data, size_t size) const;
  void WriteAt(uint64_t offset, std::string_view data);
  void Truncate(uint64_t size);
  void Sync();
  void Close();

 private:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
};

// "dir/t.dbf" with extension ".dbt" gives "dir/t.dbt": the table's extension, when it has
// one, is replaced; letter case follows the table's extension (".DBF" gives ".DBT").
std::string SiblingPath(const std::string& table_path, std::string_view extension);
// The existing file beside the table with that extension in any letter case (exact
// SiblingPath first); "" when there is none.
std::string FindSibling(const std::string& table_path, std::string_view extension);
bool FileExists(const std::string& path);

}  // namespace trundle::dbase
