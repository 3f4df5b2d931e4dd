#include "databases/dbase/dbase_format.h"

#include <cstring>

#include "engine/codepage.h"
#include "engine/errors.h"

namespace trundle::dbase {
namespace {

uint32_t U16(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8);
}

uint32_t U32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

std::string Hex(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  out += kDigits[(value >> 4) & 15];
  out += kDigits[value & 15];
  return out;
}

// Version bytes of the dBase family whose header and descriptors have the classic
// 32-byte layout (published format notes: dBase III/IV/V, FoxBase, FoxPro, Visual FoxPro).
bool IsKnownVersion(uint8_t v) {
  switch (v) {
    case 0x02:
    case 0x03:
    case 0x05:
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x43:
    case 0x63:
    case 0x83:
    case 0x8B:
    case 0x8E:
    case 0xCB:
    case 0xE5:
    case 0xF5:
    case 0xFB:
      return true;
    default:
      return false;
  }
}

// Width a fixed-size binary type must have; 0 when the type has no fixed width.
int FixedWidth(char type, const TableHeader& h) {
  switch (type) {
    case 'D':
      return 8;
    case 'L':
      return 1;
    case 'I':
      return 4;
    case 'Y':
    case 'T':
      return 8;
    case 'B':
      return h.IsVisualFoxPro() ? 8 : 0;
    default:
      return 0;
  }
}

FieldLayout ParseDescriptor(const char* d, const TableHeader& h, const std::string& path,
                            size_t index) {
  FieldLayout f;
  const size_t name_len = strnlen(d, 11);
  f.raw_name.assign(d, name_len);
  while (!f.raw_name.empty() && f.raw_name.back() == ' ') f.raw_name.pop_back();
  f.type = d[11];
  f.width = static_cast<unsigned char>(d[16]);
  f.decimals = static_cast<unsigned char>(d[17]);
  f.flags = static_cast<uint8_t>(d[18]);
  const std::string which = "field " + std::to_string(index + 1);
  if (static_cast<unsigned char>(f.type) < 0x20 || static_cast<unsigned char>(f.type) > 0x7E)
    throw TrundleError(Damaged(path, which + " has the type byte " + Hex(f.type & 0xFF) +
                                         ", which no dBase version uses"));
  // Clipper and FoxPro keep the high byte of a wide character field's width in the
  // decimals byte.
  if (f.type == 'C') {
    f.width += f.decimals * 256;
    f.decimals = 0;
  }
  if (f.type == '0' || (f.flags & kFlagSystem)) f.hidden = true;
  const int fixed = FixedWidth(f.type, h);
  if (f.width == 0 || (fixed && f.width != fixed && !f.hidden))
    throw TrundleError(Damaged(path, which + " (" + f.raw_name + ", type " + f.type + ") is " +
                                         std::to_string(f.width) + " bytes wide"));
  if (IsMemoField(f, h) && f.width != 4 && f.width != 10)
    throw TrundleError(Damaged(path, which + " (" + f.raw_name + ") is a memo field " +
                                         std::to_string(f.width) +
                                         " bytes wide; memo pointers take 4 or 10"));
  return f;
}

// Visual FoxPro keeps one bit per nullable field, and one more per Varchar or Varbinary
// field that marks a value shorter than the field, in the hidden _NullFlags field: the
// length bit first, then the null bit, in field order.
void AssignNullBits(TableHeader& h) {
  if (h.null_flags_field < 0) return;
  const int capacity = h.fields[static_cast<size_t>(h.null_flags_field)].width * 8;
  int next = 0;
  for (FieldLayout& f : h.fields) {
    if (f.hidden) continue;
    if ((f.type == 'V' || f.type == 'Q') && next < capacity) f.varlen_bit = next++;
    if ((f.flags & kFlagNullable) && next < capacity) f.null_bit = next++;
  }
}

void CheckRecordsPresent(const TableHeader& h, uint64_t file_size, const std::string& path) {
  if (file_size >= h.DataEnd()) return;
  const uint64_t body = file_size - h.header_size;
  const uint64_t whole = body / h.record_size;
  const uint64_t part = body % h.record_size;
  std::string cause = "the header says " + std::to_string(h.record_count) + " records of " +
                      std::to_string(h.record_size) + " bytes but the file ends after " +
                      std::to_string(whole) + (whole == 1 ? " record" : " records");
  if (part) cause += " and " + std::to_string(part) + " bytes of the next";
  throw TrundleError(Damaged(path, cause));
}

}  // namespace

std::string Damaged(const std::string& path, const std::string& cause) {
  return path + " is damaged: " + cause;
}

bool TableHeader::NeedsMemo() const {
  for (const FieldLayout& f : fields)
    if (IsMemoField(f, *this)) return true;
  return false;
}

MemoKind TableHeader::memo_kind() const {
  if (!NeedsMemo()) return MemoKind::kNone;
  if (IsFoxPro()) return MemoKind::kFoxPro;
  if (version == 0x83) return MemoKind::kDBase3;
  return MemoKind::kDBase4;
}

bool IsMemoField(const FieldLayout& f, const TableHeader& h) {
  switch (f.type) {
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return true;
    case 'B':
      return !h.IsVisualFoxPro();
    default:
      return false;
  }
}

bool IsBinaryMemo(const FieldLayout& f, const TableHeader& h) {
  if (!IsMemoField(f, h)) return false;
  return f.type != 'M' || (h.IsVisualFoxPro() && (f.flags & kFlagBinary));
}

TableHeader ReadTableHeader(const RandomAccessFile& file) {
  const std::string& path = file.path();
  const uint64_t size = file.Size();
  char head[kHeaderSize];
  if (size < kHeaderSize || file.ReadAt(0, head, kHeaderSize) != kHeaderSize)
    throw TrundleError(Damaged(
        path, "the file is " + std::to_string(size) + " bytes long, too short for a dBase header"));
  TableHeader h;
  h.version = static_cast<uint8_t>(head[0]);
  if (h.version == 0x04 || h.version == 0x8C)
    throw TrundleError(path + " is a dBase 7 table, which this program does not read");
  if (!IsKnownVersion(h.version))
    throw TrundleError(path + " is not a dBase table (its first byte is " + Hex(h.version) + ")");
  h.record_count = U32(head + 4);
  h.header_size = U16(head + 8);
  h.record_size = U16(head + 10);
  h.language_driver = static_cast<uint8_t>(head[29]);
  if (h.header_size < kHeaderSize + 1)
    throw TrundleError(
        Damaged(path, "the header size " + std::to_string(h.header_size) + " is too small"));
  if (h.header_size > size)
    throw TrundleError(Damaged(path, "the header says it takes " + std::to_string(h.header_size) +
                                         " bytes but the file has " + std::to_string(size)));
  if (h.record_size == 0) throw TrundleError(Damaged(path, "the header gives records 0 bytes"));

  std::string area(h.header_size - kHeaderSize, '\0');
  file.ReadAt(kHeaderSize, area.data(), area.size());
  size_t pos = 0;
  bool ended = false;
  int offset = 1;
  while (pos < area.size()) {
    if (area[pos] == kDescriptorEnd) {
      ended = true;
      break;
    }
    if (pos + kDescriptorSize > area.size()) break;
    FieldLayout f = ParseDescriptor(area.data() + pos, h, path, h.fields.size());
    f.offset = offset;
    offset += f.width;
    if (f.type == '0' && f.hidden) h.null_flags_field = static_cast<int>(h.fields.size());
    h.fields.push_back(std::move(f));
    pos += kDescriptorSize;
  }
  if (!ended) throw TrundleError(Damaged(path, "the field descriptors have no 0x0D terminator"));
  if (h.fields.empty()) throw TrundleError(Damaged(path, "the header describes no fields"));
  if (static_cast<uint32_t>(offset) > h.record_size)
    throw TrundleError(Damaged(path, "the fields take " + std::to_string(offset) +
                                         " bytes but the header gives records " +
                                         std::to_string(h.record_size)));
  AssignNullBits(h);
  CheckRecordsPresent(h, size, path);
  return h;
}

TFieldDef DatasetField(const FieldLayout& f, const TableHeader& h, std::string name) {
  TFieldDef def;
  def.Name = std::move(name);
  switch (f.type) {
    case 'N':
    case 'F':
      def.Size = f.width;
      def.Decimals = f.decimals;
      if (f.decimals == 0 && f.width <= 9)
        def.DataType = ftInteger;
      else if (f.decimals == 0 && f.width <= 20)
        def.DataType = ftLargeint;  // holds every int64
      else
        def.DataType = ftFloat;
      break;
    case 'L':
      def.DataType = ftBoolean;
      break;
    case 'D':
      def.DataType = ftDate;
      break;
    case 'I':
      def.DataType = ftInteger;
      break;
    case 'Y':
      def.DataType = ftCurrency;
      break;
    case 'T':
      def.DataType = ftDateTime;
      break;
    case 'Q':
      def.DataType = ftBlob;
      break;
    case 'B':
      def.DataType = h.IsVisualFoxPro() ? ftFloat : ftBlob;
      break;
    default:
      if (IsMemoField(f, h)) {
        def.DataType = IsBinaryMemo(f, h) ? ftBlob : ftMemo;
      } else {
        def.DataType = ftString;
        def.Size = f.width;
      }
  }
  def.Required = false;
  return def;
}

std::string CodePageOfLanguageDriver(uint8_t driver) {
  // Language-driver ids from the published dBase/FoxPro tables.
  switch (driver) {
    case 0x01:
    case 0x09:
    case 0x0B:
    case 0x0D:
    case 0x0F:
    case 0x11:
    case 0x15:
    case 0x18:
    case 0x19:
    case 0x1B:
      return "CP437";
    case 0x02:
    case 0x0A:
    case 0x0E:
    case 0x10:
    case 0x12:
    case 0x14:
    case 0x16:
    case 0x1A:
    case 0x1D:
    case 0x25:
    case 0x37:
      return "CP850";
    case 0x03:
    case 0x57:
    case 0x58:
    case 0x59:
      return "CP1252";
    case 0x08:
    case 0x17:
    case 0x66:
      return "CP865";
    case 0x13:
    case 0x7B:
      return "CP932";
    case 0x1C:
    case 0x6C:
      return "CP863";
    case 0x1F:
    case 0x22:
    case 0x23:
    case 0x40:
    case 0x64:
    case 0x87:
      return "CP852";
    case 0x24:
      return "CP860";
    case 0x26:
    case 0x65:
      return "CP866";
    case 0x4D:
    case 0x7A:
      return "CP936";
    case 0x4E:
    case 0x79:
      return "CP949";
    case 0x4F:
    case 0x78:
      return "CP950";
    case 0x50:
    case 0x7C:
      return "CP874";
    case 0x67:
      return "CP861";
    case 0x6A:
    case 0x86:
      return "CP737";
    case 0x6B:
    case 0x88:
      return "CP857";
    case 0x7D:
      return "CP1255";
    case 0x7E:
      return "CP1256";
    case 0xC8:
      return "CP1250";
    case 0xC9:
      return "CP1251";
    case 0xCA:
      return "CP1254";
    case 0xCB:
      return "CP1253";
    case 0xCC:
      return "CP1257";
    default:
      return {};
  }
}

uint8_t LanguageDriverOfCodePage(std::string_view cp) {
  struct Entry {
    const char* name;
    uint8_t driver;
  };
  static constexpr Entry kWritten[] = {
      {"CP437", 0x01},  {"CP850", 0x02},  {"CP1252", 0x03}, {"CP865", 0x66},  {"CP852", 0x64},
      {"CP866", 0x65},  {"CP861", 0x67},  {"CP737", 0x6A},  {"CP857", 0x6B},  {"CP863", 0x6C},
      {"CP932", 0x7B},  {"CP936", 0x7A},  {"CP949", 0x79},  {"CP950", 0x78},  {"CP874", 0x7C},
      {"CP1255", 0x7D}, {"CP1256", 0x7E}, {"CP1250", 0xC8}, {"CP1251", 0xC9}, {"CP1254", 0xCA},
      {"CP1253", 0xCB}, {"CP1257", 0xCC}, {"CP860", 0x24},
  };
  for (const Entry& e : kWritten)
    if (cp == e.name) return e.driver;
  return 0;
}

std::string ReadCpgFile(const std::string& table_path) {
  const std::string cpg = FindSibling(table_path, ".cpg");
  if (cpg.empty()) return {};
  RandomAccessFile file(cpg, RandomAccessFile::Mode::kRead);
  char buf[64];
  const size_t n = file.ReadAt(0, buf, sizeof buf);
  std::string text(buf, n);
  const size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  text = text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
  // ESRI writes "ANSI 1251" for Windows code pages.
  if (text.size() > 5 && (text.compare(0, 5, "ANSI ") == 0 || text.compare(0, 5, "ansi ") == 0))
    text = text.substr(5);
  return NormalizeCodePageName(text);
}

std::string TableCodePage(const std::string& table_path, const TableHeader& header) {
  std::string code_page = ReadCpgFile(table_path);
  if (code_page.empty()) code_page = CodePageOfLanguageDriver(header.language_driver);
  // FoxPro 2 ran on DOS: a table of it that names no code page holds DOS text.
  if (code_page.empty() && header.language_driver == 0 &&
      (header.version == 0xF5 || header.version == 0xFB))
    code_page = "CP437";
  return code_page;
}

std::string MemoFilePath(const std::string& table_path, const TableHeader& header) {
  const MemoKind kind = header.memo_kind();
  if (kind == MemoKind::kNone) return "";
  const char* extension = kind == MemoKind::kFoxPro ? ".fpt" : ".dbt";
  std::string memo_path = FindSibling(table_path, extension);
  if (memo_path.empty())
    throw TrundleError("Memo file " + SiblingPath(table_path, extension) +
                       " is missing for table " + table_path);
  return memo_path;
}

}  // namespace trundle::dbase
