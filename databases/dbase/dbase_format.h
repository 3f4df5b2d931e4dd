// The layout of a dBase table file, shared by the reader and the writer: the 32-byte
// header, the field descriptors, the language-driver byte, and how each stored field
// type appears in the dataset model.
//
//   offset 0   version byte (0x03 dBase III, 0x83 with .dbt memo, 0x8B dBase IV with
//              memo, 0x30/0x31/0x32 Visual FoxPro, 0xF5 FoxPro with .fpt memo, ...)
//          1   date of last update: year - 1900, month, day
//          4   record count (uint32, little-endian)
//          8   header size, 10 record size (uint16)
//         29   language driver (code page)
//         32   field descriptors of 32 bytes, ended by 0x0D; Visual FoxPro then keeps a
//              263-byte back link inside the header size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "databases/core/field_types.h"
#include "databases/core/file_io.h"

namespace trundle::dbase {

inline constexpr int kHeaderSize = 32;
inline constexpr int kDescriptorSize = 32;
inline constexpr char kDescriptorEnd = 0x0D;
inline constexpr char kEndOfFile = 0x1A;
inline constexpr int kMaxCharWidth = 254;  // dBase character fields hold at most 254 bytes
inline constexpr int kMaxNameBytes = 10;   // plus a NUL in the 11-byte name slot

enum class MemoKind { kNone, kDBase3, kDBase4, kFoxPro };

// Visual FoxPro field flags (descriptor byte 18).
inline constexpr uint8_t kFlagSystem = 0x01;  // hidden, such as _NullFlags
inline constexpr uint8_t kFlagNullable = 0x02;
inline constexpr uint8_t kFlagBinary = 0x04;  // no code page translation

struct FieldLayout {
  std::string raw_name;  // bytes of the name slot up to the first NUL
  char type = 'C';       // the descriptor's type letter
  int width = 0;         // bytes in the record
  int decimals = 0;
  int offset = 0;  // from the start of the record (byte 0 is the deletion flag)
  uint8_t flags = 0;
  int null_bit = -1;    // bit in _NullFlags that marks Null, or -1
  int varlen_bit = -1;  // bit that marks a short Varchar/Varbinary value, or -1
  bool hidden = false;  // a system field the dataset does not see
};

struct TableHeader {
  uint8_t version = 0x03;
  uint32_t record_count = 0;
  uint32_t header_size = 0;
  uint32_t record_size = 0;
  uint8_t language_driver = 0;
  std::vector<FieldLayout> fields;
  int null_flags_field = -1;  // index into fields of _NullFlags, or -1

  bool IsVisualFoxPro() const { return version == 0x30 || version == 0x31 || version == 0x32; }
  bool IsFoxPro() const { return IsVisualFoxPro() || version == 0xF5 || version == 0xFB; }
  // True when some field keeps its value in the memo file.
  bool NeedsMemo() const;
  MemoKind memo_kind() const;
  uint64_t DataEnd() const {
    return header_size + static_cast<uint64_t>(record_count) * record_size;
  }
};

// "PATH is damaged: CAUSE" — the sentence every damage error uses.
std::string Damaged(const std::string& path, const std::string& cause);

// Reads and checks the header and field descriptors, and that the file holds every
// record the header claims. Throws TrundleError naming the file and what is wrong.
TableHeader ReadTableHeader(const RandomAccessFile& file);

// True for memo-pointer fields: M, G, P, W, and B outside Visual FoxPro.
bool IsMemoField(const FieldLayout& field, const TableHeader& header);
// True when the field's memo holds bytes rather than text.
bool IsBinaryMemo(const FieldLayout& field, const TableHeader& header);

// The field as the dataset model sees it. name is the decoded field name.
TFieldDef DatasetField(const FieldLayout& field, const TableHeader& header, std::string name);

// The iconv name of the code page a language-driver byte names; "" for none or unknown.
std::string CodePageOfLanguageDriver(uint8_t driver);
// The language-driver byte for a normalized code page name ("CP1251"); 0 when none.
uint8_t LanguageDriverOfCodePage(std::string_view code_page);
// The code page a .cpg file names, normalized; "" when the file is absent or empty.
std::string ReadCpgFile(const std::string& table_path);
// The code page a table names for itself: its .cpg file, else its language-driver byte;
// "" when it names none.
std::string TableCodePage(const std::string& table_path, const TableHeader& header);
// The memo file of a table whose header needs one (any letter case of .dbt or .fpt);
// "" when the header needs none. Throws TrundleError when it is missing.
std::string MemoFilePath(const std::string& table_path, const TableHeader& header);

}  // namespace trundle::dbase
