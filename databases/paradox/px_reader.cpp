// Reading a Paradox table: the header once, then the data blocks in chain order, a window
// of blocks at a time, decoding each record's fields into Variants.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "databases/core/file_io.h"
#include "databases/paradox/paradox_file.h"
#include "databases/paradox/px_blob.h"
#include "databases/paradox/px_format.h"
#include "databases/paradox/px_text.h"
#include "engine/codepage.h"
#include "engine/datetime.h"
#include "engine/errors.h"

namespace trundle {
namespace {

using namespace paradox;

constexpr size_t kWindowBytes = 1 << 20;  // blocks read ahead in one system call
// Graphic blobs begin with 8 bytes of their own before the picture (pxlib's notes).
constexpr uint32_t kGraphicPrefix = 8;

// The fraction of a day of ms milliseconds, computed as EncodeDateTime does so that a
// value read equals the value written.
double DayFraction(int64_t ms) {
  const int64_t h = ms / 3600000, m = ms / 60000 % 60, s = ms / 1000 % 60, rest = ms % 1000;
  return ((static_cast<double>(h) * 60.0 + static_cast<double>(m)) * 60.0 + static_cast<double>(s) +
          static_cast<double>(rest) / 1000.0) /
         86400.0;
}

class ParadoxReader final : public TableFileReader {
 public:
  ParadoxReader(const std::string& path, const TableReadOptions& options);

  const std::string& path() const override { return path_; }
  const TFieldDefs& fields() const override { return fields_; }
  int64_t record_count() const override { return header_.num_records; }
  bool Next(std::vector<Variant>& values) override;
  void Rewind() override;
  std::vector<std::string> TakeNotes() override;

 private:
  const char* LoadBlock(int number);
  void AdvanceBlock();
  void DecodeField(size_t i, const char* rec, Variant& v);
  void DecodeBlob(size_t i, const char* p, Variant& v);
  void DecodeBcd(size_t i, const char* p, Variant& v);
  void DecodeTimestamp(size_t i, double ms, Variant& v);

  std::string path_;
  RandomAccessFile file_;
  PxHeader header_;
  TFieldDefs fields_;
  PxText text_;
  MbReader mb_;
  int64_t physical_blocks_ = 0;
  int per_block_ = 0;
  int64_t last_day_ = 0;  // day number of 31 December 9999
  std::string window_;    // whole blocks read ahead
  int window_first_ = 0;
  int window_count_ = 0;
  int current_ = 0;  // block being read, 0 before the first
  int next_block_ = 0;
  int rec_in_block_ = 0;
  int recs_in_block_ = 0;
  const char* block_data_ = nullptr;
  int64_t delivered_ = 0;
  std::vector<bool> visited_;
  std::vector<int64_t> bad_values_;  // per field: dates, times, numbers that make no sense
  std::string scratch_;
};

std::string ReadHeaderBytes(const RandomAccessFile& file) {
  const int64_t size = static_cast<int64_t>(file.Size());
  std::string bytes(static_cast<size_t>(std::min<int64_t>(size, 0x10000)), '\0');
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

ParadoxReader::ParadoxReader(const std::string& path, const TableReadOptions& options)
    : path_(path), file_(path, RandomAccessFile::Mode::kRead), mb_(path) {
  const int64_t size = static_cast<int64_t>(file_.Size());
  header_ = ParseHeader(ReadHeaderBytes(file_), size, path_);
  text_.Init(options.encoding, header_.code_page, header_.fields.size());
  physical_blocks_ =
      std::min<int64_t>((size - header_.header_size) / header_.block_size, kMaxBlocks);
  per_block_ = (header_.block_size - kBlockHeaderSize) / header_.record_size;
  last_day_ = DaysFromCivil(9999, 12, 31);
  for (const PxField& f : header_.fields) {
    TFieldDef def;
    text_.DecodeName(f.raw_name, def.Name);
    def.DataType = DatasetType(f.code);
    if (f.code == kAlpha || f.code == kBytes) def.Size = f.size;
    if (IsBlobCode(f.code)) def.Size = f.size - kBlobTailSize;
    if (f.code == kBcd) {
      def.Size = 32;
      def.Decimals = f.decimals;
    }
    fields_.push_back(std::move(def));
  }
  bad_values_.assign(fields_.size(), 0);
  visited_.assign(static_cast<size_t>(physical_blocks_) + 1, false);
}

const char* ParadoxReader::LoadBlock(int number) {
  if (number < window_first_ || number >= window_first_ + window_count_) {
    const int64_t want =
        std::max<int64_t>(1, static_cast<int64_t>(kWindowBytes) / header_.block_size);
    const int64_t count = std::min<int64_t>(want, physical_blocks_ - number + 1);
    window_.resize(static_cast<size_t>(count * header_.block_size));
    const int64_t offset =
        header_.header_size + static_cast<int64_t>(number - 1) * header_.block_size;
    const size_t got = file_.ReadAt(offset, window_.data(), window_.size());
    window_first_ = number;
    window_count_ = static_cast<int>(got / static_cast<size_t>(header_.block_size));
    if (window_count_ == 0)
      ThrowDamaged(path_, "block " + std::to_string(number) + " is cut short");
  }
  return window_.data() + static_cast<size_t>(number - window_first_) * header_.block_size;
}

void ParadoxReader::AdvanceBlock() {
  const int n = current_ == 0 ? header_.first_block : next_block_;
  if (n == 0)
    ThrowDamaged(path_, "its blocks hold only " + std::to_string(delivered_) + " of the " +
                            std::to_string(header_.num_records) + " records its header claims");
  if (n < 1 || n > physical_blocks_)
    ThrowDamaged(path_,
                 "its block chain points to block " + std::to_string(n) + ", outside the file");
  if (visited_[static_cast<size_t>(n)])
    ThrowDamaged(path_, "its block chain loops back to block " + std::to_string(n));
  visited_[static_cast<size_t>(n)] = true;
  const char* b = LoadBlock(n);
  next_block_ = GetLe16(b);
  const auto last_offset = static_cast<int16_t>(GetLe16(b + 4));
  int count = 0;
  if (last_offset >= 0) {
    if (last_offset % header_.record_size != 0 || last_offset / header_.record_size >= per_block_)
      ThrowDamaged(path_, "block " + std::to_string(n) + " claims a last record at offset " +
                              std::to_string(last_offset) + ", which its records cannot have");
    count = last_offset / header_.record_size + 1;
  }
  current_ = n;
  rec_in_block_ = 0;
  recs_in_block_ = count;
  block_data_ = b + kBlockHeaderSize;
}

bool ParadoxReader::Next(std::vector<Variant>& values) {
  if (delivered_ >= header_.num_records) return false;
  while (rec_in_block_ >= recs_in_block_) AdvanceBlock();
  const char* rec = block_data_ + static_cast<size_t>(rec_in_block_) * header_.record_size;
  ++rec_in_block_;
  ++delivered_;
  values.resize(fields_.size());
  for (size_t i = 0; i < fields_.size(); ++i) DecodeField(i, rec, values[i]);
  return true;
}

void ParadoxReader::Rewind() {
  current_ = 0;
  next_block_ = 0;
  rec_in_block_ = recs_in_block_ = 0;
  delivered_ = 0;
  std::fill(visited_.begin(), visited_.end(), false);
}

void ParadoxReader::DecodeField(size_t i, const char* rec, Variant& v) {
  const PxField& f = header_.fields[i];
  const char* p = rec + f.offset;
  int16_t s;
  int32_t l;
  double d;
  switch (f.code) {
    case kAlpha: {
      const void* nul = std::memchr(p, 0, static_cast<size_t>(f.size));
      const size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : f.size;
      if (n == 0) return v.SetNull();
      return text_.Decode(i, std::string_view(p, n), v);
    }
    case kShort:
      return GetShort(p, s) ? v.SetInteger(s) : v.SetNull();
    case kLong:
    case kAutoInc:
      return GetLong(p, l) ? v.SetInteger(l) : v.SetNull();
    case kNumber:
      return GetDouble(p, d) ? v.SetFloat(d) : v.SetNull();
    case kMoney:
      return GetDouble(p, d) ? v.SetCurrency(std::llround(d * 10000.0)) : v.SetNull();
    case kLogical:
      if (*p == 0) return v.SetNull();
      return v.SetBoolean((static_cast<unsigned char>(*p) & 0x7F) != 0);
    case kDate:
      if (!GetLong(p, l)) return v.SetNull();
      if (l < 1 || l > last_day_) return ++bad_values_[i], v.SetNull();
      return v.SetDateTime(static_cast<double>(l - EpochDayNumber()));
    case kTime:
      if (!GetLong(p, l)) return v.SetNull();
      if (l < 0 || static_cast<uint32_t>(l) >= kMsPerDay) return ++bad_values_[i], v.SetNull();
      return v.SetDateTime(DayFraction(l));
    case kTimestamp:
      return GetDouble(p, d) ? DecodeTimestamp(i, d, v) : v.SetNull();
    case kBcd:
      return DecodeBcd(i, p, v);
    case kBytes: {
      const bool empty = std::all_of(p, p + f.size, [](char c) { return c == 0; });
      return empty ? v.SetNull() : v.SetBlob(std::string_view(p, static_cast<size_t>(f.size)));
    }
    default:
      return DecodeBlob(i, p, v);
  }
}

void ParadoxReader::DecodeTimestamp(size_t i, double ms, Variant& v) {
  const double day_ms = static_cast<double>(kMsPerDay);
  double days = std::floor(ms / day_ms);
  double rest = std::round(ms - days * day_ms);
  if (rest >= day_ms) days += 1, rest -= day_ms;
  if (!(days >= 1 && days <= static_cast<double>(last_day_))) return ++bad_values_[i], v.SetNull();
  // Before 30 December 1899 the day counts down while the time still counts up.
  const double base = days - static_cast<double>(EpochDayNumber());
  const double fraction = DayFraction(static_cast<int64_t>(rest));
  v.SetDateTime(base < 0 ? base - fraction : base + fraction);
}

void ParadoxReader::DecodeBcd(size_t i, const char* p, Variant& v) {
  if (*p == 0) return v.SetNull();
  BcdValue bcd;
  if (!GetBcd(p, header_.fields[i].decimals, bcd)) return ++bad_values_[i], v.SetNull();
  const int int_digits = 32 - bcd.decimals;
  const char* first =
      std::find_if(bcd.digits, bcd.digits + int_digits, [](char c) { return c != '0'; });
  // Up to 4 decimals and 14 integer digits fit a Currency exactly.
  if (bcd.decimals <= 4 && bcd.digits + int_digits - first <= 14) {
    int64_t units = 0;
    for (const char* c = first; c < bcd.digits + 32; ++c) units = units * 10 + (*c - '0');
    for (int k = bcd.decimals; k < 4; ++k) units *= 10;
    return v.SetCurrency(bcd.negative ? -units : units);
  }
  scratch_.clear();
  if (bcd.negative) scratch_ += '-';
  scratch_.append(bcd.digits, static_cast<size_t>(int_digits));
  scratch_ += '.';
  scratch_.append(bcd.digits + int_digits, static_cast<size_t>(bcd.decimals));
  v.SetFloat(std::strtod(scratch_.c_str(), nullptr));
}

void ParadoxReader::DecodeBlob(size_t i, const char* p, Variant& v) {
  const PxField& f = header_.fields[i];
  const uint32_t leader = static_cast<uint32_t>(f.size - kBlobTailSize);
  const uint32_t pointer = GetLe32(p + leader);
  const uint32_t length = GetLe32(p + leader + 4);
  if (length == 0) return v.SetNull();
  if (length <= leader) {
    scratch_.assign(p, length);
  } else {
    mb_.Read(pointer, length, scratch_);
  }
  if (f.code == kMemo) {
    return text_.Decode(i, scratch_, v);
  }
  if (f.code == kGraphic && scratch_.size() >= kGraphicPrefix) scratch_.erase(0, kGraphicPrefix);
  v.SetBlob(scratch_);
}

std::vector<std::string> ParadoxReader::TakeNotes() {
  std::vector<std::string> notes;
  for (size_t i = 0; i < fields_.size(); ++i) {
    text_.TakeNote(i, fields_[i].Name, notes);
    if (bad_values_[i] > 0)
      notes.push_back("Field " + fields_[i].Name + ": " + CountOf(bad_values_[i], "value") +
                      (bad_values_[i] == 1 ? " was" : " were") +
                      " not a valid value of its type and read as empty");
    bad_values_[i] = 0;
  }
  text_.TakeTableNote(path_, notes);
  return notes;
}

}  // namespace

std::unique_ptr<TableFileReader> OpenParadoxTable(const std::string& path,
                                                  const TableReadOptions& options) {
  return std::make_unique<ParadoxReader>(path, options);
}

int ParadoxKeyFields(const std::string& path) {
  const RandomAccessFile file(path, RandomAccessFile::Mode::kRead);
  const PxHeader header =
      ParseHeader(ReadHeaderBytes(file), static_cast<int64_t>(file.Size()), path);
  return header.file_type == kFileTypeKeyed ? header.key_fields : 0;
}

}  // namespace trundle
