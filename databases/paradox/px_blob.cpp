#include "databases/paradox/px_blob.h"

#include <cstring>

#include "databases/paradox/px_format.h"
#include "engine/errors.h"

namespace trundle::paradox {
namespace {

constexpr int kType2Header = 9;  // type, block count, length, modification number
constexpr int kType3Header = 12;
constexpr int kType3Slots = 64;
constexpr int kSlotSize = 5;  // chunk offset, chunk count, modification, bytes in last
constexpr int kChunk = 16;
constexpr int kFirstChunk = (kType3Header + kType3Slots * kSlotSize + kChunk - 1) / kChunk;
// Offsets keep their low byte for the slot index, so they stay below 4 GB.
constexpr int64_t kMaxMbSize = 0xFFFFF000LL;

}  // namespace

std::string FindMbFile(const std::string& table_path) { return FindSibling(table_path, ".mb"); }

std::string NewMbPath(const std::string& table_path) { return SiblingPath(table_path, ".mb"); }

MbReader::MbReader(std::string table_path) : table_path_(std::move(table_path)) {}
MbReader::~MbReader() = default;

void MbReader::Damaged(const std::string& cause) const {
  throw TrundleError("The memo file " + mb_path_ + " of the Paradox table " + table_path_ +
                     " is damaged: " + cause);
}

void MbReader::Open() {
  mb_path_ = FindMbFile(table_path_);
  if (mb_path_.empty())
    throw TrundleError("The Paradox table " + table_path_ + " needs its memo file " +
                       NewMbPath(table_path_) + ", which is missing");
  file_ = std::make_unique<RandomAccessFile>(mb_path_, RandomAccessFile::Mode::kRead);
  size_ = static_cast<int64_t>(file_->Size());
  char head[3];
  if (file_->ReadAt(0, head, 3) != 3 || head[0] != 0)
    Damaged("it does not start with a memo file header");
}

void MbReader::Read(uint32_t pointer, uint32_t length, std::string& out) {
  if (!file_) Open();
  const int64_t offset = pointer & 0xFFFFFF00u;
  const unsigned index = pointer & 0xFFu;
  if (offset < kMbBlock || offset + 3 > size_)
    Damaged("a record points to offset " + std::to_string(offset) + ", outside the file (" +
            std::to_string(size_) + " bytes)");
  char head[kType2Header];
  const size_t got = file_->ReadAt(offset, head, kType2Header);
  const int type = static_cast<unsigned char>(head[0]);
  if (type == 3) return ReadSubAllocated(offset, index, length, out);
  if (type != 2)
    Damaged("a record points to a block of type " + std::to_string(type) + " at offset " +
            std::to_string(offset));
  if (got != static_cast<size_t>(kType2Header) || index != 0xFF)
    Damaged("the blob block at offset " + std::to_string(offset) + " is not whole");
  if (GetLe32(head + 3) != length)
    Damaged("the blob at offset " + std::to_string(offset) + " holds " +
            std::to_string(GetLe32(head + 3)) + " bytes where its record says " +
            std::to_string(length));
  if (offset + kType2Header + static_cast<int64_t>(length) > size_)
    Damaged("the blob at offset " + std::to_string(offset) + " runs past the end of the file");
  out.resize(length);
  file_->ReadAt(offset + kType2Header, out.data(), length);
}

void MbReader::ReadSubAllocated(int64_t offset, unsigned index, uint32_t length, std::string& out) {
  if (index >= static_cast<unsigned>(kType3Slots))
    Damaged("a record points to entry " + std::to_string(index) + " of the small-blob block at " +
            std::to_string(offset));
  if (offset != block_offset_) {
    block_.assign(kMbBlock, '\0');
    if (file_->ReadAt(offset, block_.data(), kMbBlock) != static_cast<size_t>(kMbBlock))
      Damaged("the small-blob block at offset " + std::to_string(offset) + " is cut short");
    block_offset_ = offset;
  }
  const char* slot = block_.data() + kType3Header + index * kSlotSize;
  const int start = static_cast<unsigned char>(slot[0]) * kChunk;
  const int chunks = static_cast<unsigned char>(slot[1]);
  const int in_last = static_cast<unsigned char>(slot[4]);
  const int stored = (chunks - 1) * kChunk + in_last;
  if (start == 0 || chunks == 0 || in_last == 0 || in_last > kChunk || start + stored > kMbBlock ||
      static_cast<uint32_t>(stored) != length)
    Damaged("entry " + std::to_string(index) + " of the small-blob block at offset " +
            std::to_string(offset) + " does not hold the " + std::to_string(length) +
            " bytes its record expects");
  out.assign(block_.data() + start, static_cast<size_t>(stored));
}

MbWriter::MbWriter(std::unique_ptr<RandomAccessFile> file) : file_(std::move(file)) {}
MbWriter::~MbWriter() = default;

std::unique_ptr<MbWriter> MbWriter::Create(const std::string& mb_path) {
  auto file = std::make_unique<RandomAccessFile>(mb_path, RandomAccessFile::Mode::kCreateNew);
  std::string head(kMbBlock, '\0');
  char* p = head.data();
  // The header values Paradox writes: one 4 KB block, modification count 1, base and
  // sub-allocated block sizes of 4 KB, 16-byte chunks, 64 slots, a 2 KB threshold.
  PutLe16(p + 1, 1);
  PutLe16(p + 3, 1);
  p[5] = static_cast<char>(0x82);
  p[6] = 0x73;
  p[7] = 0x02;
  p[9] = 0x29;
  PutLe16(p + 0x0B, kMbBlock);
  PutLe16(p + 0x0D, kMbBlock);
  p[0x10] = kChunk;
  PutLe16(p + 0x11, kType3Slots);
  PutLe16(p + 0x13, static_cast<uint32_t>(kSubAllocLimit));
  file->WriteAt(0, head.data(), head.size());
  return std::unique_ptr<MbWriter>(new MbWriter(std::move(file)));
}

std::unique_ptr<MbWriter> MbWriter::OpenExisting(const std::string& mb_path) {
  auto file = std::make_unique<RandomAccessFile>(OpenForWriting(mb_path));
  char head[5] = {};
  if (file->ReadAt(0, head, 5) != 5 || head[0] != 0)
    throw TrundleError("The memo file " + mb_path + " is damaged: it has no memo file header");
  const int64_t size = static_cast<int64_t>(file->Size());
  auto writer = std::unique_ptr<MbWriter>(new MbWriter(std::move(file)));
  writer->mod_count_ = GetLe16(head + 3);
  writer->end_ = std::max<int64_t>(kMbBlock, (size + kMbBlock - 1) / kMbBlock * kMbBlock);
  return writer;
}

void MbWriter::CheckRoom(int64_t bytes) const {
  if (end_ + bytes > kMaxMbSize)
    throw TrundleError("The memo file " + file_->path() +
                       " is full (a Paradox memo file holds "
                       "at most 4 GB)");
}

uint32_t MbWriter::Put(std::string_view data) {
  ++mod_count_;
  return data.size() > kSubAllocLimit ? PutLarge(data) : PutSmall(data);
}

uint32_t MbWriter::PutLarge(std::string_view data) {
  const int64_t blocks =
      (static_cast<int64_t>(data.size()) + kType2Header + kMbBlock - 1) / kMbBlock;
  if (blocks > 0xFFFF)
    throw TrundleError("A value of " + std::to_string(data.size()) +
                       " bytes is too large for "
                       "the memo file " +
                       file_->path() + " (at most 256 MB)");
  CheckRoom(blocks * kMbBlock);
  char head[kType2Header];
  head[0] = 2;
  PutLe16(head + 1, static_cast<uint32_t>(blocks));
  PutLe32(head + 3, static_cast<uint32_t>(data.size()));
  PutLe16(head + 7, mod_count_);
  const int64_t at = end_;
  file_->WriteAt(at, head, kType2Header);
  file_->WriteAt(at + kType2Header, data.data(), data.size());
  end_ += blocks * kMbBlock;
  return static_cast<uint32_t>(at) | 0xFFu;
}

uint32_t MbWriter::PutSmall(std::string_view data) {
  const int chunks = static_cast<int>((data.size() + kChunk - 1) / kChunk);
  if (sub_.empty() || next_slot_ < 0 || next_chunk_ + chunks > kMbBlock / kChunk) {
    Flush();
    CheckRoom(kMbBlock);
    sub_.assign(kMbBlock, '\0');
    sub_[0] = 3;
    PutLe16(sub_.data() + 1, 1);
    sub_offset_ = end_;
    end_ += kMbBlock;
    next_chunk_ = kFirstChunk;
    next_slot_ = kType3Slots - 1;  // Paradox fills the table from its last entry down
  }
  char* slot = sub_.data() + kType3Header + next_slot_ * kSlotSize;
  slot[0] = static_cast<char>(next_chunk_);
  slot[1] = static_cast<char>(chunks);
  PutLe16(slot + 2, mod_count_);
  slot[4] = static_cast<char>(data.size() - static_cast<size_t>(chunks - 1) * kChunk);
  std::memcpy(sub_.data() + next_chunk_ * kChunk, data.data(), data.size());
  next_chunk_ += chunks;
  sub_dirty_ = true;
  return static_cast<uint32_t>(sub_offset_) | static_cast<uint32_t>(next_slot_--);
}

void MbWriter::Flush() {
  if (sub_dirty_) {
    file_->WriteAt(sub_offset_, sub_.data(), sub_.size());
    sub_dirty_ = false;
  }
  char count[2];
  PutLe16(count, mod_count_);
  file_->WriteAt(3, count, 2);
}

void MbWriter::Close() {
  Flush();
  file_->Sync();
  file_->Close();
}

}  // namespace trundle::paradox
