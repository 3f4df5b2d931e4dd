// The memo file (.mb) beside a Paradox table: where memo, binary, formatted-memo, OLE and
// graphic values longer than their field's leader live. The file is a 4 KB header block
// followed by blocks of 4 KB multiples: a type 2 block holds one large blob, a type 3
// block holds up to 64 small ones (under 2 KB) in 16-byte chunks reached through a
// pointer table. A record's blob tail holds the block's offset with the table index in
// its low byte (0xFF for a type 2 block), the length and a modification number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "databases/core/file_io.h"

namespace trundle::paradox {

inline constexpr int kMbBlock = 4096;
inline constexpr size_t kSubAllocLimit = 2048;  // larger blobs get their own block

// The memo file of a table: the table's path with .mb for its extension, in whatever
// letter case the folder holds. Empty when there is none.
std::string FindMbFile(const std::string& table_path);
// The name a new memo file takes: .MB beside a .DB, else .mb.
std::string NewMbPath(const std::string& table_path);

// Reads blob values. Opens the memo file on first use, so a table whose values all fit
// their leaders reads without one.
class MbReader {
 public:
  explicit MbReader(std::string table_path);
  ~MbReader();
  // Reads the length bytes of the blob pointer points to into out. Throws TrundleError
  // naming the files when the memo file is missing, short or does not hold such a blob.
  void Read(uint32_t pointer, uint32_t length, std::string& out);

 private:
  void Open();
  [[noreturn]] void Damaged(const std::string& cause) const;
  void ReadSubAllocated(int64_t offset, unsigned index, uint32_t length, std::string& out);

  std::string table_path_;
  std::string mb_path_;
  std::unique_ptr<RandomAccessFile> file_;
  int64_t size_ = 0;
  std::string block_;          // the last type 3 block read
  int64_t block_offset_ = -1;  // its offset, -1 when none
};

// Appends blobs to a memo file. Small blobs share type 3 blocks; the block being filled is
// written by Flush, so Flush must run before the table's header claims the records.
class MbWriter {
 public:
  // Creates a new memo file; throws when it exists.
  static std::unique_ptr<MbWriter> Create(const std::string& mb_path);
  // Opens an existing memo file to add blobs after its last block.
  static std::unique_ptr<MbWriter> OpenExisting(const std::string& mb_path);
  ~MbWriter();

  // Stores data (longer than the field's leader); returns the pointer for the record.
  uint32_t Put(std::string_view data);
  uint16_t mod_count() const { return mod_count_; }
  void Flush();
  void Close();
  const std::string& path() const { return file_->path(); }

 private:
  explicit MbWriter(std::unique_ptr<RandomAccessFile> file);
  uint32_t PutLarge(std::string_view data);
  uint32_t PutSmall(std::string_view data);
  void CheckRoom(int64_t bytes) const;

  std::unique_ptr<RandomAccessFile> file_;
  int64_t end_ = kMbBlock;  // where the next block goes
  uint16_t mod_count_ = 1;
  std::string sub_;  // the type 3 block being filled, empty when none
  int64_t sub_offset_ = 0;
  int next_chunk_ = 0;  // first free 16-byte chunk in sub_
  int next_slot_ = -1;  // next free pointer-table entry, counting down
  bool sub_dirty_ = false;
};

}  // namespace trundle::paradox
