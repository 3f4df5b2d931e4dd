#include "databases/paradox/px_format.h"

#include <ctime>

#include "engine/errors.h"

namespace trundle::paradox {
namespace {

// Offsets in the header block (little-endian fields).
constexpr int kOffRecordSize = 0x00;
constexpr int kOffHeaderSize = 0x02;
constexpr int kOffFileType = 0x04;
constexpr int kOffBlockKb = 0x05;
constexpr int kOffNumRecords = 0x06;
constexpr int kOffUsedBlocks = 0x0A;
constexpr int kOffFileBlocks = 0x0C;
constexpr int kOffFirstBlock = 0x0E;
constexpr int kOffLastBlock = 0x10;
constexpr int kOffNumFields = 0x21;
constexpr int kOffKeyFields = 0x23;
constexpr int kOffEncryption1 = 0x25;
constexpr int kOffSortOrder = 0x29;
constexpr int kOffChangeCount1 = 0x2D;
constexpr int kOffChangeCount2 = 0x2E;
constexpr int kOffVersion = 0x39;
constexpr int kOffMaxBlocks = 0x3A;
constexpr int kOffUnknown3E = 0x3E;
constexpr int kOffAutoInc = 0x49;
constexpr int kOffRealHeaderSize = 0x51;
constexpr int kOffUnknown56 = 0x56;
// The extension written by Paradox 4 and later (version byte 5 and up).
constexpr int kOffFileVersion3 = 0x58;
constexpr int kOffFileVersion4 = 0x5A;
constexpr int kOffEncryption2 = 0x5C;
constexpr int kOffUpdateTime = 0x60;
constexpr int kOffHiFieldId = 0x64;
constexpr int kOffHiFieldIdInfo = 0x66;
constexpr int kOffCodePage = 0x6A;
constexpr int kOffUnknown6C = 0x6C;

// encryption1 holds this when the real value lives in encryption2.
constexpr uint32_t kEncryptionElsewhere = 0xFF00FF00;
// Paradox 7 keeps 261 bytes for the table name, earlier versions 79.
constexpr int kTableNameLen7 = 261;
constexpr int kTableNameLenOld = 79;
constexpr char kSortOrderName[] = "ANSIINTL";

int TableNameLength(int version_id) {
  return version_id >= kVersion7 ? kTableNameLen7 : kTableNameLenOld;
}

std::string Hex(int v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  s += digits[(v >> 4) & 0xF];
  s += digits[v & 0xF];
  return s;
}

void CheckFieldWidth(const PxField& f, size_t index, const std::string& path) {
  const std::string which = "field " + std::to_string(index + 1);
  const int fixed = FixedWidth(f.code);
  if (DatasetType(f.code) == ftUnknown)
    ThrowDamaged(path, which + " has the unknown type code " + Hex(f.code));
  if (fixed != 0 && f.size != fixed)
    ThrowDamaged(path, which + " is " + std::to_string(f.size) +
                           " bytes wide where its type needs " + std::to_string(fixed));
  if (f.code == kBcd && f.decimals > 32)
    ThrowDamaged(path, which + " claims " + std::to_string(f.decimals) + " decimals");
  if (IsBlobCode(f.code) && f.size < kBlobTailSize)
    ThrowDamaged(path, which + " is too narrow for a memo or blob field");
  if (f.size <= 0) ThrowDamaged(path, which + " has no width");
}

// Field descriptors, then (skipped) name pointers and table name, then the names.
void ParseFields(std::string_view b, int num_fields, int info_start, PxHeader& h,
                 const std::string& path) {
  size_t pos = static_cast<size_t>(info_start);
  if (pos + 2 * static_cast<size_t>(num_fields) > static_cast<size_t>(h.header_size))
    ThrowDamaged(path, "its field list runs past the header");
  int offset = 0;
  for (int i = 0; i < num_fields; ++i, pos += 2) {
    PxField f;
    f.code = static_cast<uint8_t>(b[pos]);
    const int width = static_cast<unsigned char>(b[pos + 1]);
    f.size = f.code == kBcd ? kBcdSize : width;
    f.decimals = f.code == kBcd ? width : 0;
    f.offset = offset;
    CheckFieldWidth(f, h.fields.size(), path);
    offset += f.size;
    h.fields.push_back(std::move(f));
  }
  if (offset != h.record_size)
    ThrowDamaged(path, "its record size " + std::to_string(h.record_size) +
                           " does not match its fields (" + std::to_string(offset) + " bytes)");
  pos +=
      4 + 4 * static_cast<size_t>(num_fields) + static_cast<size_t>(TableNameLength(h.version_id));
  for (PxField& f : h.fields) {
    const size_t end = pos < static_cast<size_t>(h.header_size)
                           ? b.substr(0, h.header_size).find('\0', pos)
                           : std::string_view::npos;
    if (end == std::string_view::npos) ThrowDamaged(path, "its field names run past the header");
    f.raw_name.assign(b.data() + pos, end - pos);
    pos = end + 1;
  }
}

void CheckBlocks(const PxHeader& h, int64_t file_size, const std::string& path) {
  const int64_t physical = (file_size - h.header_size) / h.block_size;
  if (h.file_blocks > physical)
    ThrowDamaged(path, "the file is cut short: its header counts " + std::to_string(h.file_blocks) +
                           " blocks but the file holds " + std::to_string(physical));
  const int64_t per_block = (h.block_size - kBlockHeaderSize) / h.record_size;
  if (h.num_records > per_block * h.file_blocks)
    ThrowDamaged(path, "its header claims " + std::to_string(h.num_records) +
                           " records, more than its " + std::to_string(h.file_blocks) +
                           " blocks can hold");
  if (h.num_records > 0 && (h.first_block < 1 || h.first_block > physical))
    ThrowDamaged(path, "its first block " + std::to_string(h.first_block) + " is outside the file");
}

}  // namespace

void ThrowDamaged(const std::string& path, const std::string& cause) {
  throw TrundleError("The Paradox table " + path + " is damaged: " + cause);
}

PxHeader ParseHeader(std::string_view b, int64_t file_size, const std::string& path) {
  if (b.size() < static_cast<size_t>(kFixedHeaderSize))
    throw TrundleError("The file " + path + " is not a Paradox table: it is only " +
                       std::to_string(b.size()) + " bytes long");
  PxHeader h;
  h.version_id = static_cast<unsigned char>(b[kOffVersion]);
  h.file_type = static_cast<unsigned char>(b[kOffFileType]);
  const int block_kb = static_cast<unsigned char>(b[kOffBlockKb]);
  if (h.version_id < 3 || h.version_id > 15 || block_kb < 1 || block_kb > 32 || h.file_type > 8)
    throw TrundleError("The file " + path + " is not a Paradox table (its header is not one)");
  if (h.file_type != kFileTypeKeyed && h.file_type != kFileTypeUnkeyed)
    throw TrundleError("The file " + path + " is a Paradox index file, not a table");
  h.block_size = block_kb * 1024;
  h.record_size = GetLe16(b.data() + kOffRecordSize);
  h.header_size = GetLe16(b.data() + kOffHeaderSize);
  h.num_records = GetLe32(b.data() + kOffNumRecords);
  h.used_blocks = GetLe16(b.data() + kOffUsedBlocks);
  h.file_blocks = GetLe16(b.data() + kOffFileBlocks);
  h.first_block = GetLe16(b.data() + kOffFirstBlock);
  h.last_block = GetLe16(b.data() + kOffLastBlock);
  h.key_fields = GetLe16(b.data() + kOffKeyFields);
  h.auto_inc = GetLe32(b.data() + kOffAutoInc);
  if (h.header_size < kFixedHeaderSize || h.header_size > file_size ||
      static_cast<size_t>(h.header_size) > b.size())
    ThrowDamaged(path,
                 "its header size " + std::to_string(h.header_size) + " does not fit the file");
  if (h.record_size == 0 || h.record_size + kBlockHeaderSize > h.block_size)
    ThrowDamaged(path, "its record size " + std::to_string(h.record_size) +
                           " does not fit its blocks of " + std::to_string(h.block_size) +
                           " bytes");
  const bool extended = h.version_id >= 5;
  if (extended && h.header_size < kDataHeaderEnd) ThrowDamaged(path, "its header is cut short");
  uint32_t encryption = GetLe32(b.data() + kOffEncryption1);
  if (encryption == kEncryptionElsewhere)
    encryption = extended ? GetLe32(b.data() + kOffEncryption2) : 0;
  if (encryption != 0)
    throw TrundleError("The Paradox table " + path +
                       " is encrypted (password-protected); Trundle cannot read it");
  h.code_page = extended ? GetLe16(b.data() + kOffCodePage) : 0;
  const int num_fields = GetLe16(b.data() + kOffNumFields);
  if (num_fields < 1 || num_fields > 255)
    ThrowDamaged(path, "it claims " + std::to_string(num_fields) + " fields");
  ParseFields(b, num_fields, extended ? kDataHeaderEnd : kFixedHeaderSize, h, path);
  CheckBlocks(h, file_size, path);
  return h;
}

int HeaderSizeFor(const std::vector<PxField>& fields) {
  size_t names = 0;
  for (const PxField& f : fields) names += f.raw_name.size() + 1;
  const size_t real = kDataHeaderEnd + fields.size() * (2 + 4 + 2) + 4 + kTableNameLen7 + names +
                      sizeof kSortOrderName;
  return static_cast<int>((real + 0x7FF) / 0x800 * 0x800);
}

std::string BuildHeader(const PxHeader& h, std::string_view table_name) {
  std::string b(static_cast<size_t>(h.header_size), '\0');
  char* p = b.data();
  const uint32_t n = static_cast<uint32_t>(h.fields.size());
  size_t names = 0;
  for (const PxField& f : h.fields) names += f.raw_name.size() + 1;
  PutLe16(p + kOffRecordSize, static_cast<uint32_t>(h.record_size));
  PutLe16(p + kOffHeaderSize, static_cast<uint32_t>(h.header_size));
  p[kOffFileType] = static_cast<char>(kFileTypeUnkeyed);
  p[kOffBlockKb] = static_cast<char>(h.block_size / 1024);
  PutLe16(p + kOffNumFields, n);
  PutLe32(p + kOffEncryption1, kEncryptionElsewhere);
  // The values below are those Paradox 7 itself writes into a new table's header.
  p[kOffSortOrder] = 0x62;
  p[kOffChangeCount1] = 2;
  p[kOffChangeCount2] = 1;
  p[kOffVersion] = static_cast<char>(kVersion7);
  p[kOffUnknown3E] = 0x1F;
  p[kOffUnknown3E + 1] = 0x0F;
  PutLe16(p + kOffRealHeaderSize,
          static_cast<uint32_t>(kDataHeaderEnd + n * 8 + 4 + kTableNameLen7 + names + 9));
  p[kOffUnknown56] = 0x20;
  PutLe16(p + kOffFileVersion3, 0x010C);
  PutLe16(p + kOffFileVersion4, 0x010C);
  PutLe32(p + kOffUpdateTime, static_cast<uint32_t>(std::time(nullptr)));
  PutLe16(p + kOffHiFieldId, n + 1);
  PutLe16(p + kOffHiFieldIdInfo, static_cast<uint32_t>(0x20 + n * 6 + 4 + kTableNameLen7 + names));
  PutLe16(p + kOffCodePage, static_cast<uint32_t>(h.code_page));
  p[kOffUnknown6C] = 1;
  p[kOffUnknown6C + 1] = 1;
  PutLe16(p + kOffUnknown6C + 2,
          static_cast<uint32_t>(0x18 + n * 8 + 4 + kTableNameLen7 + names + 8));
  size_t pos = kDataHeaderEnd;
  for (const PxField& f : h.fields) {
    p[pos++] = static_cast<char>(f.code);
    p[pos++] = static_cast<char>(f.code == kBcd ? f.decimals : f.size);
  }
  pos += 4 + 4 * n;  // pointers Paradox fills in memory; zero on disk is accepted
  b.replace(pos, std::min<size_t>(table_name.size(), kTableNameLen7 - 1), table_name.data(),
            std::min<size_t>(table_name.size(), kTableNameLen7 - 1));
  pos += kTableNameLen7;
  for (const PxField& f : h.fields) {
    b.replace(pos, f.raw_name.size(), f.raw_name);
    pos += f.raw_name.size() + 1;
  }
  for (uint32_t i = 0; i < n; ++i, pos += 2) PutLe16(p + pos, i + 1);
  b.replace(pos, sizeof kSortOrderName - 1, kSortOrderName);
  PatchCounts(h, b);
  return b;
}

void PatchCounts(const PxHeader& h, std::string& bytes) {
  char* p = bytes.data();
  PutLe32(p + kOffNumRecords, static_cast<uint32_t>(h.num_records));
  PutLe16(p + kOffUsedBlocks, static_cast<uint32_t>(h.used_blocks));
  PutLe16(p + kOffFileBlocks, static_cast<uint32_t>(h.file_blocks));
  PutLe16(p + kOffFirstBlock, static_cast<uint32_t>(h.first_block));
  PutLe16(p + kOffLastBlock, static_cast<uint32_t>(h.last_block));
  PutLe16(p + kOffMaxBlocks, static_cast<uint32_t>(h.file_blocks));
  PutLe32(p + kOffAutoInc, h.auto_inc);
}

TFieldType DatasetType(uint8_t code) {
  switch (code) {
    case kAlpha:
      return ftString;
    case kDate:
      return ftDate;
    case kShort:
      return ftSmallint;
    case kLong:
      return ftInteger;
    case kMoney:
      return ftCurrency;
    case kNumber:
      return ftFloat;
    case kLogical:
      return ftBoolean;
    case kMemo:
      return ftMemo;
    case kBinary:
      return ftBlob;
    case kFmtMemo:
      return ftFmtMemo;
    case kOle:
      return ftParadoxOle;
    case kGraphic:
      return ftGraphic;
    case kTime:
      return ftTime;
    case kTimestamp:
      return ftDateTime;
    case kAutoInc:
      return ftAutoInc;
    case kBcd:
      return ftBCD;
    case kBytes:
      return ftBytes;
    default:
      return ftUnknown;
  }
}

int FixedWidth(uint8_t code) {
  switch (code) {
    case kShort:
      return 2;
    case kDate:
    case kLong:
    case kTime:
    case kAutoInc:
      return 4;
    case kMoney:
    case kNumber:
    case kTimestamp:
      return 8;
    case kLogical:
      return 1;
    case kBcd:
      return kBcdSize;
    default:
      return 0;
  }
}

bool IsBlobCode(uint8_t code) {
  return code == kMemo || code == kBinary || code == kFmtMemo || code == kOle || code == kGraphic;
}

char TypeLetter(uint8_t code) {
  switch (code) {
    case kAlpha:
      return 'A';
    case kDate:
      return 'D';
    case kShort:
      return 'S';
    case kLong:
      return 'I';
    case kMoney:
      return '$';
    case kNumber:
      return 'N';
    case kLogical:
      return 'L';
    case kMemo:
      return 'M';
    case kBinary:
      return 'B';
    case kFmtMemo:
      return 'F';
    case kOle:
      return 'O';
    case kGraphic:
      return 'G';
    case kTime:
      return 'T';
    case kTimestamp:
      return '@';
    case kAutoInc:
      return '+';
    case kBcd:
      return '#';
    case kBytes:
      return 'Y';
    default:
      return '?';
  }
}

bool GetBcd(const char* p, int field_decimals, BcdValue& out) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  out.negative = (u[0] & 0x80) == 0;
  out.decimals = u[0] & 0x3F;
  if (out.decimals > 32) out.decimals = field_decimals;
  if (out.decimals > 32) return false;
  const unsigned flip = out.negative ? 0x0F : 0x00;
  for (int i = 0; i < 32; ++i) {
    const int nibble_index = i + 2;
    const unsigned byte = u[nibble_index / 2];
    const unsigned nibble = ((nibble_index % 2) ? byte & 0x0F : byte >> 4) ^ flip;
    if (nibble > 9) return false;
    out.digits[i] = static_cast<char>('0' + nibble);
  }
  return true;
}

void PutBcd(char* p, int decimals, bool negative, const char* digits32) {
  auto* u = reinterpret_cast<unsigned char*>(p);
  std::memset(u, negative ? 0xFF : 0x00, kBcdSize);
  u[0] = static_cast<unsigned char>((negative ? 0x40 : 0xC0) | decimals);
  const unsigned flip = negative ? 0x0F : 0x00;
  for (int i = 0; i < 32; ++i) {
    const int nibble_index = i + 2;
    const unsigned nibble = (static_cast<unsigned>(digits32[i] - '0') ^ flip) & 0x0F;
    unsigned char& byte = u[nibble_index / 2];
    byte = (nibble_index % 2) ? static_cast<unsigned char>((byte & 0xF0) | nibble)
                              : static_cast<unsigned char>((byte & 0x0F) | (nibble << 4));
  }
}

}  // namespace trundle::paradox
