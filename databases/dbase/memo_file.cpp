#include "databases/dbase/memo_file.h"

#include <algorithm>
#include <cstring>

#include "engine/errors.h"

namespace trundle::dbase {
namespace {

uint32_t LittleEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint32_t BigEndian32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return (static_cast<uint32_t>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

void PutLittleEndian32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

void PutBigEndian32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * (3 - i)));
}

constexpr char kDBase4Marker[4] = {'\xFF', '\xFF', '\x08', '\x00'};
constexpr uint32_t kFoxProBlockSize = 64;  // FoxPro's default SET BLOCKSIZE
constexpr uint32_t kDBaseBlockSize = 512;

uint32_t BlockSizeOf(const char* header, MemoKind kind, const std::string& path) {
  if (kind == MemoKind::kFoxPro) {
    const uint32_t size =
        (static_cast<unsigned char>(header[6]) << 8) | static_cast<unsigned char>(header[7]);
    if (size == 0) throw TrundleError(Damaged(path, "its header gives a block size of 0"));
    return size;
  }
  if (kind == MemoKind::kDBase4) {
    const uint32_t size =
        static_cast<unsigned char>(header[20]) | (static_cast<unsigned char>(header[21]) << 8);
    // Some dBase IV writers leave the size out; 512 is dBase's own.
    return size >= 8 ? size : kDBaseBlockSize;
  }
  return kDBaseBlockSize;
}

}  // namespace

MemoReader::MemoReader(RandomAccessFile file, MemoKind kind) : file_(std::move(file)), kind_(kind) {
  size_ = file_.Size();
  char header[24];
  if (size_ < sizeof header || file_.ReadAt(0, header, sizeof header) != sizeof header)
    throw TrundleError(Damaged(file_.path(), "it is too short for a memo file header"));
  block_size_ = BlockSizeOf(header, kind, file_.path());
}

void MemoReader::Read(uint64_t block, std::string& out) {
  out.clear();
  const uint64_t offset = block * block_size_;
  if (block > size_ || offset >= size_)
    throw TrundleError(Damaged(path(), "a memo pointer names block " + std::to_string(block) +
                                           ", past the end of the file"));
  char head[8];
  const size_t got = file_.ReadAt(offset, head, sizeof head);
  uint64_t length = 0;
  if (kind_ == MemoKind::kFoxPro) {
    if (got < sizeof head)
      throw TrundleError(Damaged(path(), "the memo in block " + std::to_string(block) +
                                             " is cut off by the end of the file"));
    length = BigEndian32(head + 4);
  } else if (kind_ == MemoKind::kDBase4 && got == sizeof head &&
             std::memcmp(head, kDBase4Marker, 4) == 0) {
    length = LittleEndian32(head + 4);
    length = length >= 8 ? length - 8 : 0;
  } else {
    ReadUntilEndMark(offset, out);
    return;
  }
  if (length > size_ - offset - 8)
    throw TrundleError(Damaged(path(), "the memo in block " + std::to_string(block) +
                                           " says it holds " + std::to_string(length) +
                                           " bytes, which runs past the end of the file"));
  out.resize(length);
  if (file_.ReadAt(offset + 8, out.data(), length) != length)
    throw TrundleError(
        Damaged(path(), "the file ended while reading block " + std::to_string(block)));
}

// dBase III ends a memo with 0x1A (usually two); the file's end ends the last one.
void MemoReader::ReadUntilEndMark(uint64_t offset, std::string& out) {
  char chunk[4096];
  while (offset < size_) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, size_ - offset));
    const size_t got = file_.ReadAt(offset, chunk, want);
    if (got == 0) break;
    const void* mark = std::memchr(chunk, kEndOfFile, got);
    if (mark) {
      out.append(chunk, static_cast<const char*>(mark) - chunk);
      return;
    }
    out.append(chunk, got);
    offset += got;
  }
}

MemoWriter::MemoWriter(RandomAccessFile file, MemoKind kind) : file_(std::move(file)), kind_(kind) {
  const uint64_t size = file_.Size();
  char header[24] = {};
  if (size < sizeof header || file_.ReadAt(0, header, sizeof header) != sizeof header)
    throw TrundleError(Damaged(file_.path(), "it is too short for a memo file header"));
  block_size_ = BlockSizeOf(header, kind, file_.path());
  const uint64_t claimed = kind == MemoKind::kFoxPro ? BigEndian32(header) : LittleEndian32(header);
  // Never write over bytes already in the file, even when its header lags behind them.
  const uint64_t used = (size + block_size_ - 1) / block_size_;
  next_block_ = std::max<uint64_t>({claimed, used, 1});
  pending_block_ = next_block_;
}

std::string MemoWriter::NewHeader(MemoKind kind, std::string_view table_stem) {
  std::string header(kind == MemoKind::kFoxPro ? 512 : kDBaseBlockSize, '\0');
  if (kind == MemoKind::kFoxPro) {
    PutBigEndian32(header.data(), 512 / kFoxProBlockSize);
    header[6] = static_cast<char>(kFoxProBlockSize >> 8);
    header[7] = static_cast<char>(kFoxProBlockSize & 0xFF);
    return header;
  }
  PutLittleEndian32(header.data(), 1);
  if (kind == MemoKind::kDBase4) {
    // dBase IV keeps the table's name (8 bytes) and the block size in the header.
    std::memcpy(header.data() + 8, table_stem.data(), std::min<size_t>(8, table_stem.size()));
    header[18] = 0x02;
    header[19] = 0x01;
    header[20] = static_cast<char>(kDBaseBlockSize & 0xFF);
    header[21] = static_cast<char>(kDBaseBlockSize >> 8);
  } else {
    header[16] = 0x03;  // dBase III marks its memo files with its version
  }
  return header;
}

uint64_t MemoWriter::Add(std::string_view data, bool binary) {
  const uint64_t start = next_block_;
  const size_t before = pending_.size();
  if (kind_ == MemoKind::kDBase3) {
    pending_.append(data);
    pending_.append(2, kEndOfFile);
  } else {
    char head[8];
    if (kind_ == MemoKind::kFoxPro) {
      PutBigEndian32(head, binary ? 0 : 1);
      PutBigEndian32(head + 4, static_cast<uint32_t>(data.size()));
    } else {
      std::memcpy(head, kDBase4Marker, 4);
      PutLittleEndian32(head + 4, static_cast<uint32_t>(data.size() + 8));
    }
    pending_.append(head, sizeof head);
    pending_.append(data);
    // A 0x1F after the value ends it for readers that ignore the length.
    if (kind_ == MemoKind::kDBase4) pending_ += '\x1F';
  }
  const size_t used = pending_.size() - before;
  const uint64_t blocks = (used + block_size_ - 1) / block_size_;
  pending_.resize(before + blocks * block_size_, '\0');
  next_block_ += blocks;
  if (next_block_ > 0xFFFFFFFFu)
    throw TrundleError("Memo file " + file_.path() +
                       " is full: it holds at most 4294967295 blocks");
  return start;
}

void MemoWriter::Flush() {
  if (pending_.empty()) return;
  file_.WriteAt(pending_block_ * block_size_, pending_);
  pending_.clear();
  pending_block_ = next_block_;
  char head[4];
  if (kind_ == MemoKind::kFoxPro)
    PutBigEndian32(head, static_cast<uint32_t>(next_block_));
  else
    PutLittleEndian32(head, static_cast<uint32_t>(next_block_));
  file_.WriteAt(0, std::string_view(head, 4));
}

}  // namespace trundle::dbase
