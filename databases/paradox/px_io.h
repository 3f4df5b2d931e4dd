// A file descriptor owned once, with exact positioned reads and writes. Every read and
// write names the file in its error, so callers above never see errno.
#pragma once

#include <cstdint>
#include <string>

namespace trundle::paradox {

class PxFile {
 public:
  enum class Mode { kRead, kReadWrite, kCreateNew };
  // Throws TrundleError naming the path when the file cannot be opened (or, for
  // kCreateNew, when it already exists).
  PxFile(const std::string& path, Mode mode);
  ~PxFile();
  PxFile(const PxFile&) = delete;
  PxFile& operator=(const PxFile&) = delete;

  const std::string& path() const { return path_; }
  int64_t Size() const;
  // Reads up to size bytes at offset; returns how many were read (fewer only at the
  // end of the file).
  size_t ReadAt(int64_t offset, void* buffer, size_t size) const;
  // Writes all of size bytes at offset or throws.
  void WriteAt(int64_t offset, const void* data, size_t size);
  void Sync();
  // Closes the descriptor; later calls do nothing. Throws when the close reports an
  // error, since it may be a delayed write failure.
  void Close();

 private:
  std::string path_;
  int fd_ = -1;
};

// True when a file or directory entry exists at path.
bool PathExists(const std::string& path);

}  // namespace trundle::paradox
