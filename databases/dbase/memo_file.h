// The memo files that hold a dBase table's long text and binary values in blocks:
//   .dbt of dBase III: 512-byte blocks, a value runs until its 0x1A end mark;
//   .dbt of dBase IV: block size at header offset 20, each value opens with
//        FF FF 08 00 and its length (little-endian, counting those 8 bytes);
//   .fpt of FoxPro: block size big-endian at offset 6, each value opens with its
//        type (0 binary, 1 text) and length, both big-endian.
// Block 0 holds the header, whose first four bytes give the next free block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "databases/dbase/dbase_format.h"
#include "databases/core/file_io.h"

namespace trundle::dbase {

class MemoReader {
 public:
  // Reads the header of an open memo file. Throws TrundleError when it is damaged.
  MemoReader(RandomAccessFile file, MemoKind kind);

  // Replaces out with the bytes of the value starting at block. Throws TrundleError
  // naming the memo file when block lies past its end or the value runs off it.
  // REQUIRES: block > 0.
  void Read(uint64_t block, std::string& out);

  const std::string& path() const { return file_.path(); }

 private:
  void ReadUntilEndMark(uint64_t offset, std::string& out);

  RandomAccessFile file_;
  MemoKind kind_;
  uint64_t size_ = 0;
  uint32_t block_size_ = 512;
};

class MemoWriter {
 public:
  // Continues an existing memo file after its last used block.
  MemoWriter(RandomAccessFile file, MemoKind kind);

  // The header block of a new, empty memo file for a table named table_stem.
  static std::string NewHeader(MemoKind kind, std::string_view table_stem);

  // Queues one value and returns the block it starts at; Flush writes it.
  uint64_t Add(std::string_view data, bool binary);
  // Writes the queued blocks, then the header's next-free-block pointer.
  void Flush();
  void Sync() { file_.Sync(); }
  void Close() { file_.Close(); }
  size_t pending_bytes() const { return pending_.size(); }

 private:
  RandomAccessFile file_;
  MemoKind kind_;
  uint32_t block_size_ = 512;
  uint64_t next_block_ = 1;     // the first block not yet used
  uint64_t pending_block_ = 1;  // where pending_ starts
  std::string pending_;
};

}  // namespace trundle::dbase
