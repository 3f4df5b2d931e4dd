// Appending records to an unkeyed Paradox table. Records go into the last data block and
// new blocks after the last one in the file; the header, which says how many records and
// blocks count, is written only after the blocks it describes (and the memo file), so a
// crash leaves a table whose header claims only whole records. The table and its memo
// file are held against other writers while the writer is open. A run killed between the
// blocks and the header leaves records after those the header counts: the next writer
// says how many, drops them and takes their blocks back.
#include <algorithm>
#include <cstring>
#include <utility>

#include "databases/core/file_io.h"
#include "databases/paradox/paradox_file.h"
#include "databases/paradox/px_blob.h"
#include "databases/paradox/px_format.h"
#include "databases/paradox/px_text.h"
#include "databases/paradox/px_values.h"
#include "engine/errors.h"

namespace trundle {
namespace {

using namespace paradox;

constexpr int kFlushEvery = 1000;          // records between header updates
constexpr size_t kPendingLimit = 1 << 20;  // bytes of blocks kept before writing

class ParadoxWriter final : public TableFileWriter {
 public:
  ParadoxWriter(const std::string& path, const TableWriteOptions& options);
  ~ParadoxWriter() override;

  const std::string& path() const override { return path_; }
  const TFieldDefs& fields() const override { return fields_; }
  void Append(const std::vector<Variant>& values) override;
  void Flush() override;
  void Close() override;
  std::vector<std::string> TakeNotes() override;
  std::vector<std::string> TakeRepairs() override { return std::exchange(repairs_, {}); }

 private:
  int BlockCount(const std::string& block) const;
  void FindLastBlock(int64_t physical_blocks);
  void DropCutShortRecords(int last, int64_t dropped, int next, int counted_blocks,
                           int64_t physical_blocks, std::vector<bool>& visited);
  void StartBlock();
  void WritePending();
  char* CurrentBlock() { return pending_.data() + pending_.size() - header_.block_size; }

  std::string path_;
  RandomAccessFile file_;
  PxHeader header_;
  std::string header_bytes_;
  TFieldDefs fields_;
  std::unique_ptr<PxTextEncoder> encoder_;
  std::unique_ptr<MbWriter> mb_;
  std::unique_ptr<RecordEncoder> records_;
  std::string scratch_;  // the record being made
  std::string pending_;  // whole blocks from pending_first_ on; the last is being filled
  int pending_first_ = 0;
  int current_count_ = 0;  // records in the block being filled
  int per_block_ = 0;
  int since_flush_ = 0;
  std::vector<std::string> repairs_;
  bool closed_ = false;
};

ParadoxWriter::ParadoxWriter(const std::string& path, const TableWriteOptions& options)
    : path_(path), file_(OpenForWriting(path)) {
  const int64_t size = static_cast<int64_t>(file_.Size());
  header_bytes_.assign(static_cast<size_t>(std::min<int64_t>(size, 0x10000)), '\0');
  header_bytes_.resize(file_.ReadAt(0, header_bytes_.data(), header_bytes_.size()));
  header_ = ParseHeader(header_bytes_, size, path_);
  header_bytes_.resize(static_cast<size_t>(header_.header_size));
  if (header_.file_type == kFileTypeKeyed || header_.key_fields > 0)
    throw TrundleError("The Paradox table " + path_ +
                       " is keyed; appending to it would break its primary index");
  const std::string code_page = options.encoding_explicit || header_.code_page == 0
                                    ? options.encoding
                                    : CodePageName(header_.code_page);
  encoder_ = std::make_unique<PxTextEncoder>(code_page);
  PxText names;
  names.Init(code_page, 0, header_.fields.size());
  std::vector<std::string> display;
  for (const PxField& f : header_.fields) {
    TFieldDef def;
    names.DecodeName(f.raw_name, def.Name);
    def.DataType = DatasetType(f.code);
    def.Size = f.code == kAlpha || f.code == kBytes ? f.size : 0;
    def.Decimals = f.decimals;
    display.push_back(def.Name);
    fields_.push_back(std::move(def));
  }
  if (std::any_of(header_.fields.begin(), header_.fields.end(),
                  [](const PxField& f) { return IsBlobCode(f.code); })) {
    const std::string mb_path = FindMbFile(path_);
    if (mb_path.empty())
      throw TrundleError("The Paradox table " + path_ + " needs its memo file " + NewMbPath(path_) +
                         ", which is missing");
    mb_ = MbWriter::OpenExisting(mb_path);
  }
  records_ = std::make_unique<RecordEncoder>(header_.fields, std::move(display), encoder_.get(),
                                             mb_.get());
  records_->refuse_lossy = options.refuse_lossy;
  per_block_ = (header_.block_size - kBlockHeaderSize) / header_.record_size;
  FindLastBlock((size - header_.header_size) / header_.block_size);
}

ParadoxWriter::~ParadoxWriter() {
  try {
    Close();
  } catch (const std::exception&) {
    // The destructor must not throw; Close reports errors to callers who call it.
  }
}

// The records a block holds, as its last record's offset tells.
int ParadoxWriter::BlockCount(const std::string& block) const {
  const auto last_offset = static_cast<int16_t>(GetLe16(block.data() + 4));
  return last_offset < 0 ? 0 : std::min(last_offset / header_.record_size + 1, per_block_);
}

// Walks the chain to the block holding the last record the header counts. Records after
// it, left by a run killed before it wrote the header, are dropped (DropCutShortRecords);
// new blocks go after the last block in the file.
void ParadoxWriter::FindLastBlock(int64_t physical_blocks) {
  physical_blocks = std::min<int64_t>(physical_blocks, kMaxBlocks);
  std::vector<bool> visited(static_cast<size_t>(physical_blocks) + 1, false);
  const int counted_blocks = header_.file_blocks;
  header_.file_blocks = static_cast<int>(physical_blocks);
  if (header_.first_block == 0 || header_.first_block > physical_blocks) {
    if (header_.num_records > 0) ThrowDamaged(path_, "its first block is outside the file");
    header_.first_block = header_.last_block = 0;
    // A run that began on an empty table chains its blocks from the first one after
    // those the header counts.
    DropCutShortRecords(0, 0, counted_blocks + 1, counted_blocks, physical_blocks, visited);
    return;
  }
  std::string block(static_cast<size_t>(header_.block_size), '\0');
  int64_t before = 0;
  for (int n = header_.first_block;;) {
    if (n < 1 || n > physical_blocks || visited[static_cast<size_t>(n)])
      ThrowDamaged(path_, "its block chain is broken at block " + std::to_string(n));
    visited[static_cast<size_t>(n)] = true;
    file_.ReadAt(header_.header_size + static_cast<int64_t>(n - 1) * header_.block_size,
                 block.data(), block.size());
    const int count = BlockCount(block);
    if (before + count >= header_.num_records) {
      current_count_ = static_cast<int>(header_.num_records - before);
      pending_ = block;
      pending_first_ = n;
      header_.last_block = n;
      PutLe16(pending_.data(), 0);
      PutLe16(pending_.data() + 4,
              static_cast<uint16_t>((current_count_ - 1) * header_.record_size));
      DropCutShortRecords(n, count - current_count_, GetLe16(block.data()), counted_blocks,
                          physical_blocks, visited);
      return;
    }
    before += count;
    n = GetLe16(block.data());
    if (n == 0) ThrowDamaged(path_, "its blocks hold fewer records than its header claims");
  }
}

// Records after the last one the header counts: dropped of them in its block, last (0
// for a table without records), and those of the blocks chained from next. Where there
// are any, the log hears how many, the last block is written back ending at the last
// counted record, and the chained blocks at the end of the file, past the counted_blocks
// the header counts, go: the file's blocks and its header agree again.
void ParadoxWriter::DropCutShortRecords(int last, int64_t dropped, int next, int counted_blocks,
                                        int64_t physical_blocks, std::vector<bool>& visited) {
  std::string block(static_cast<size_t>(header_.block_size), '\0');
  std::vector<bool> chained(visited.size(), false);
  while (next > 0 && next <= physical_blocks && !visited[static_cast<size_t>(next)]) {
    visited[static_cast<size_t>(next)] = true;
    chained[static_cast<size_t>(next)] = true;
    file_.ReadAt(header_.header_size + static_cast<int64_t>(next - 1) * header_.block_size,
                 block.data(), block.size());
    dropped += BlockCount(block);
    next = GetLe16(block.data());
  }
  if (dropped <= 0) return;
  repairs_.push_back(LeftoversDroppedLine(
      path_, std::to_string(dropped) + (dropped == 1 ? " record" : " records") + " in its blocks",
      header_.num_records));
  if (last > 0)
    file_.WriteAt(header_.header_size + static_cast<int64_t>(last - 1) * header_.block_size,
                  pending_.data(), pending_.size());
  int64_t kept = physical_blocks;
  while (kept > counted_blocks && chained[static_cast<size_t>(kept)]) --kept;
  file_.Truncate(static_cast<uint64_t>(header_.header_size + kept * header_.block_size));
  header_.file_blocks = static_cast<int>(kept);
}

void ParadoxWriter::StartBlock() {
  if (header_.file_blocks >= kMaxBlocks)
    throw TrundleError("The Paradox table " + path_ + " is full: it holds at most " +
                       std::to_string(kMaxBlocks) + " blocks");
  const int n = header_.file_blocks + 1;
  if (!pending_.empty()) PutLe16(CurrentBlock(), static_cast<uint32_t>(n));
  if (pending_.size() >= kPendingLimit) {
    WritePending();
    pending_.clear();
  }
  if (pending_.empty()) pending_first_ = n;
  pending_.append(static_cast<size_t>(header_.block_size), '\0');
  char* b = CurrentBlock();
  PutLe16(b + 2, static_cast<uint32_t>(header_.last_block));
  // An empty block claims its last record one record before the first.
  PutLe16(b + 4, static_cast<uint16_t>(-header_.record_size));
  header_.file_blocks = n;
  ++header_.used_blocks;
  header_.last_block = n;
  if (header_.first_block == 0) header_.first_block = n;
  current_count_ = 0;
}

void ParadoxWriter::Append(const std::vector<Variant>& values) {
  if (closed_) throw TrundleError("The Paradox table " + path_ + " is already closed");
  if (header_.num_records >= 0xFFFFFFFFLL)
    throw TrundleError("The Paradox table " + path_ + " is full");
  // The record is made apart and placed only once every value is in: a value refused
  // leaves no part of it (and no new block) behind.
  scratch_.assign(static_cast<size_t>(header_.record_size), '\0');
  uint32_t auto_inc = header_.auto_inc;
  const size_t n = std::min(values.size(), header_.fields.size());
  for (size_t i = 0; i < n; ++i) {
    if (values[i].IsEmpty()) continue;
    try {
      records_->Encode(i, values[i], scratch_.data() + header_.fields[i].offset, auto_inc);
    } catch (const TrundleError& e) {
      // Encode names the field: "Field Name: the value ... takes 12 bytes, and ..."
      std::string cause = e.what();
      if (cause.rfind("Field ", 0) == 0) cause[0] = 'f';
      throw RecordRefusedError("Cannot store a value in " + path_ + ": " + e.what(), cause);
    }
  }
  header_.auto_inc = auto_inc;
  if (pending_.empty() || current_count_ >= per_block_) StartBlock();
  char* block = CurrentBlock();
  char* record = block + kBlockHeaderSize + current_count_ * header_.record_size;
  std::memcpy(record, scratch_.data(), scratch_.size());
  PutLe16(block + 4, static_cast<uint32_t>(current_count_ * header_.record_size));
  ++current_count_;
  ++header_.num_records;
  if (++since_flush_ >= kFlushEvery) Flush();
}

void ParadoxWriter::WritePending() {
  if (pending_.empty()) return;
  file_.WriteAt(header_.header_size + static_cast<int64_t>(pending_first_ - 1) * header_.block_size,
                pending_.data(), pending_.size());
}

void ParadoxWriter::Flush() {
  if (closed_) return;
  if (mb_) mb_->Flush();
  WritePending();
  if (pending_.size() > static_cast<size_t>(header_.block_size)) {
    pending_.erase(0, pending_.size() - static_cast<size_t>(header_.block_size));
    pending_first_ = header_.last_block;
  }
  PatchCounts(header_, header_bytes_);
  file_.WriteAt(0, header_bytes_.data(), kFixedHeaderSize);
  since_flush_ = 0;
}

void ParadoxWriter::Close() {
  if (closed_) return;
  Flush();
  if (mb_) mb_->Close();
  file_.Sync();
  file_.Close();
  closed_ = true;
}

std::vector<std::string> ParadoxWriter::TakeNotes() { return records_->TakeNotes(); }

}  // namespace

std::unique_ptr<TableFileWriter> AppendToParadoxTable(const std::string& path,
                                                      const TableWriteOptions& options) {
  return std::make_unique<ParadoxWriter>(path, options);
}

}  // namespace trundle
