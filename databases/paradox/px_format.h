// The layout of a Paradox table file (.db): the header block, the field descriptors,
// the data blocks and the way each field type keeps its value in a record. Sources: the
// "Paradox 4.x file formats" notes by Kevin Mitchell and the header structures of pxlib,
// checked against tables written by Paradox itself.
//
// Numbers in records are big-endian with the sign bit flipped so that they sort as bytes;
// a field whose bytes are all zero is empty (NULL). Header and block fields are
// little-endian.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "databases/core/field_types.h"

namespace trundle::paradox {

// Field type codes as the header stores them.
enum FieldCode : uint8_t {
  kAlpha = 0x01,
  kDate = 0x02,
  kShort = 0x03,
  kLong = 0x04,
  kMoney = 0x05,
  kNumber = 0x06,
  kLogical = 0x09,
  kMemo = 0x0C,
  kBinary = 0x0D,
  kFmtMemo = 0x0E,
  kOle = 0x0F,
  kGraphic = 0x10,
  kTime = 0x14,
  kTimestamp = 0x15,
  kAutoInc = 0x16,
  kBcd = 0x17,
  kBytes = 0x18,
};

inline constexpr int kBlockHeaderSize = 6;  // next, previous, offset of last record
inline constexpr int kBlobTailSize = 10;    // pointer, length, modification number
inline constexpr int kBcdSize = 17;         // one sign/scale byte and 32 digits
inline constexpr int kMaxBlocks = 65535;    // block numbers are 16 bits
inline constexpr int kFixedHeaderSize = 0x58;
inline constexpr int kDataHeaderEnd = 0x78;  // end of the extension of version 4 and up
inline constexpr int kFileTypeKeyed = 0;
inline constexpr int kFileTypeUnkeyed = 2;
inline constexpr int kVersion7 = 0x0C;
inline constexpr uint32_t kMsPerDay = 86400000;

struct PxField {
  std::string raw_name;  // as stored, in the table's code page
  uint8_t code = 0;
  int size = 0;      // bytes in the record
  int decimals = 0;  // digits after the point of a # field
  int offset = 0;    // from the start of the record
};

struct PxHeader {
  int record_size = 0;
  int header_size = 0;
  int file_type = kFileTypeUnkeyed;
  int block_size = 0;  // bytes
  int64_t num_records = 0;
  int used_blocks = 0;
  int file_blocks = 0;
  int first_block = 0;
  int last_block = 0;
  int version_id = kVersion7;
  int key_fields = 0;
  int code_page = 0;  // 0 when the header names none (version 3 tables)
  uint32_t auto_inc = 0;
  bool encrypted = false;
  std::vector<PxField> fields;
};

// Reads a header. bytes holds the start of the file (at least the whole header block
// when the file has one); file_size is the file's length. Throws TrundleError naming
// path and the cause for a file that is not a Paradox table, is encrypted or damaged.
PxHeader ParseHeader(std::string_view bytes, int64_t file_size, const std::string& path);

// The bytes of a new version 7 header block (header_size bytes) for an unkeyed table.
// REQUIRES: header.fields hold raw_name, code, size and decimals; header_size is large
// enough (HeaderSizeFor).
std::string BuildHeader(const PxHeader& header, std::string_view table_name);
int HeaderSizeFor(const std::vector<PxField>& fields);
// Writes the counts, block numbers and autoincrement value into the header bytes.
void PatchCounts(const PxHeader& header, std::string& bytes);

// The dataset type a field code reads as; ftUnknown for codes this engine does not know.
TFieldType DatasetType(uint8_t code);
// The width of a field in the record for codes of a fixed width, else 0.
int FixedWidth(uint8_t code);
bool IsBlobCode(uint8_t code);
char TypeLetter(uint8_t code);

[[noreturn]] void ThrowDamaged(const std::string& path, const std::string& cause);

// Little-endian header and block fields.
inline uint16_t GetLe16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(u[0] | (u[1] << 8));
}
inline uint32_t GetLe32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) |
         (static_cast<uint32_t>(u[2]) << 16) | (static_cast<uint32_t>(u[3]) << 24);
}
inline void PutLe16(char* p, uint32_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Record values. Each Get returns false for an empty field.
inline bool GetShort(const char* p, int16_t& out) {
  const uint16_t raw = static_cast<uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                             static_cast<unsigned char>(p[1]));
  if (raw == 0) return false;
  out = static_cast<int16_t>(raw ^ 0x8000u);
  return true;
}
inline void PutShort(char* p, int16_t v) {
  const uint16_t raw = static_cast<uint16_t>(v) ^ 0x8000u;
  p[0] = static_cast<char>(raw >> 8);
  p[1] = static_cast<char>(raw & 0xFF);
}
inline bool GetLong(const char* p, int32_t& out) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  const uint32_t raw = (static_cast<uint32_t>(u[0]) << 24) | (static_cast<uint32_t>(u[1]) << 16) |
                       (static_cast<uint32_t>(u[2]) << 8) | u[3];
  if (raw == 0) return false;
  out = static_cast<int32_t>(raw ^ 0x80000000u);
  return true;
}
inline void PutLong(char* p, int32_t v) {
  const uint32_t raw = static_cast<uint32_t>(v) ^ 0x80000000u;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((raw >> (24 - 8 * i)) & 0xFF);
}
// Doubles: positive values have the sign bit set, negative ones have every bit inverted,
// so that the bytes sort as the numbers do.
inline bool GetDouble(const char* p, double& out) {
  uint64_t raw = 0;
  for (int i = 0; i < 8; ++i) raw = (raw << 8) | static_cast<unsigned char>(p[i]);
  if (raw == 0) return false;
  raw = (raw & (1ULL << 63)) ? raw & ~(1ULL << 63) : ~raw;
  std::memcpy(&out, &raw, 8);
  return true;
}
inline void PutDouble(char* p, double v) {
  uint64_t raw;
  std::memcpy(&raw, &v, 8);
  raw = (raw & (1ULL << 63)) ? ~raw : raw | (1ULL << 63);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>((raw >> (56 - 8 * i)) & 0xFF);
}

// # fields: byte 0 holds the sign (bit 7 set for positive) and the number of decimals
// (low 6 bits); 32 decimal digits follow as nibbles, complemented for negative values.
// GetBcd reads a non-empty field (the caller checks for the empty byte 0 first) and
// returns false when a nibble is not a decimal digit.
struct BcdValue {
  bool negative = false;
  int decimals = 0;
  char digits[32];  // '0'..'9', most significant first
};
bool GetBcd(const char* p, int field_decimals, BcdValue& out);
// REQUIRES: 0 <= decimals <= 32; digits32 holds 32 digits, the last decimals of them after
// the point.
void PutBcd(char* p, int decimals, bool negative, const char* digits32);

}  // namespace trundle::paradox
