// Plain POSIX file access for every table-file engine (dBase, Paradox, Jet): one owned
// descriptor with positioned reads and writes of byte ranges, so a reader and a writer
// never share a file offset. Every failure is a TrundleError whose text names the file
// and the system's reason ("Could not write /data/t.dbf: No space left on device"), so
// the engines above never see errno.
//
// Also the file-name helpers that find a table's companion files (memo, index, code page)
// whatever letter case their extensions have, as tables copied from Windows come.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trundle {

class RandomAccessFile {
 public:
  enum class Mode {
    kRead,       // an existing file, read only
    kReadWrite,  // an existing file
    kCreateNew,  // a new file, read and write; fails when anything is at the path
  };

  // Throws TrundleError naming the path: the system's reason, "the file already exists"
  // (kCreateNew), "it is a folder", or "it is not a regular file" (a device or a pipe is
  // refused without waiting for a writer to appear at its other end).
  RandomAccessFile(const std::string& path, Mode mode);

  RandomAccessFile() = default;  // closed
  RandomAccessFile(RandomAccessFile&& other) noexcept;
  RandomAccessFile& operator=(RandomAccessFile&& other) noexcept;
  RandomAccessFile(const RandomAccessFile&) = delete;
  RandomAccessFile& operator=(const RandomAccessFile&) = delete;
  ~RandomAccessFile();  // closes without reporting; call Close to hear of errors

  bool is_open() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // REQUIRES for all below but Close: is_open().
  uint64_t Size() const;
  // Reads up to size bytes at offset; returns how many were read (fewer only at the end
  // of the file).
  size_t ReadAt(uint64_t offset, void* data, size_t size) const;
  // Reads exactly size bytes at offset; throws TrundleError "PATH is damaged: it ends
  // before byte N" when the file ends first. For structures the file must hold whole.
  void ReadExactAt(uint64_t offset, void* data, size_t size) const;
  // Writes all the bytes at offset, growing the file as needed, or throws.
  void WriteAt(uint64_t offset, std::string_view data);
  void WriteAt(uint64_t offset, const void* data, size_t size) {
    WriteAt(offset, std::string_view(static_cast<const char*>(data), size));
  }
  // Writes the pieces back to back from offset, in as few system calls as the system
  // allows (a batch of scattered pages goes out in runs of neighbours), or throws.
  void WriteAt(uint64_t offset, const std::vector<std::string_view>& pieces);
  void Truncate(uint64_t size);
  // Sets aside disk space for size bytes from offset without changing the file's length,
  // where the file system can; a file that grows in many small steps then needs no new
  // blocks at each flush. Space past the end is given back by a Truncate to the length.
  // Best effort: a failure (no support, no space) sets nothing aside and is left for the
  // writes to meet.
  void Reserve(uint64_t offset, uint64_t size) noexcept;
  // Holds the file against other writers until it is closed (engine/file_lock.h).
  // Throws BeingWrittenError when another open of it holds it already, TrundleError when
  // it cannot be locked. REQUIRES: opened for writing.
  void LockForWriting();
  // Waits until the data written so far is on the disk.
  void Sync();
  // Closes the descriptor; later calls do nothing. Throws when the close reports an
  // error, since it may be a delayed write failure.
  void Close();

 private:
  int fd_ = -1;
  std::string path_;
};

// An existing file opened to read and write, held against other writers while it is
// open (RandomAccessFile::LockForWriting): what every table writer works on.
RandomAccessFile OpenForWriting(const std::string& path);

// True when anything is at path, a dangling symbolic link included (creating a file
// there would fail).
bool PathExists(const std::string& path);

// "dir/t.dbf" with extension ".dbt" gives "dir/t.dbt": the table's extension, when it has
// one, is replaced; letter case follows the table's extension (".DBF" gives ".DBT").
std::string SiblingPath(const std::string& table_path, std::string_view extension);
// The existing file beside the table with that extension, the name in any letter case
// (exact SiblingPath first); "" when there is none.
std::string FindSibling(const std::string& table_path, std::string_view extension);

}  // namespace trundle
