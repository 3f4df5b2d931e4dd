// Creating an empty dBase table with its memo and .cpg files.

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "databases/dbase/dbase_file.h"
#include "databases/dbase/dbase_writer.h"
#include "databases/dbase/memo_file.h"
#include "databases/core/side_files.h"
#include "engine/ascii.h"
#include "engine/codepage.h"
#include "engine/datetime.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {
namespace dbase {
namespace {

constexpr int kMemoPointerWidth = 10;
constexpr uint32_t kMaxRecordSize = 65535;  // a 16-bit header field
constexpr size_t kMaxFields = 2046;         // keeps the header size within 16 bits

FieldLayout Layout(char type, int width, int decimals = 0) {
  FieldLayout f;
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  return f;
}

FieldLayout NumberLayout(int width, int decimals) {
  // Widths beyond one byte, or decimals that leave no room for the point, cannot be
  // described; a free-form F field keeps every digit instead.
  if (width < 1 || width > kMaxCharWidth || decimals < 0 || (decimals > 0 && decimals > width - 2))
    return Layout('F', 20, 10);
  return Layout('N', width, decimals);
}

FieldLayout TextLayout(int size) {
  if (size <= 0) size = DefaultFieldSize(ftString);
  if (size > kMaxCharWidth) return Layout('M', kMemoPointerWidth);
  return Layout('C', size);
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string CleanName(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (IsNameChar(name[i]))
      out += name[i];
    else if (c < 0x80 || c >= 0xC0)
      out += '_';  // one '_' per character, not per byte
  }
  return out.empty() ? "FIELD" : out;
}

}  // namespace

FieldLayout StoredLayout(const TFieldDef& def) {
  switch (def.DataType) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return TextLayout(def.Size);
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return Layout('M', kMemoPointerWidth);
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftGraphic:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob:
      return Layout('B', kMemoPointerWidth);
    case ftSmallint:
      return Layout('N', 6);
    case ftInteger:
    case ftAutoInc:
      return Layout('N', 11);
    case ftWord:
      return Layout('N', 5);
    case ftLargeint:
      return Layout('N', 20);
    case ftFloat:
      return def.Size > 0 ? NumberLayout(def.Size, def.Decimals) : Layout('F', 20, 10);
    case ftCurrency:
      return Layout('N', 20, 4);
    case ftBCD:
      return NumberLayout(def.Size > 0 ? def.Size : 20, def.Decimals);
    case ftBoolean:
      return Layout('L', 1);
    case ftDate:
      return Layout('D', 8);
    case ftDateTime:
      return Layout('C', 23);  // "yyyy-mm-dd hh:nn:ss.zzz"
    case ftTime:
      return Layout('C', 12);  // "hh:nn:ss.zzz"
    default:
      return TextLayout(def.Size);
  }
}

std::vector<std::string> StoredNames(const TFieldDefs& fields) {
  std::vector<std::string> names;
  std::vector<std::string> taken;  // upper case, for comparison
  for (const TFieldDef& def : fields) {
    const std::string clean = CleanName(def.Name);
    std::string name = clean.substr(0, kMaxNameBytes);
    for (int n = 1; std::find(taken.begin(), taken.end(), UpperAscii(name)) != taken.end(); ++n) {
      std::string suffix(1, '_');
      suffix += std::to_string(n);
      name = clean.substr(0, kMaxNameBytes - suffix.size()) + suffix;
    }
    taken.push_back(UpperAscii(name));
    names.push_back(name);
  }
  return names;
}

void PutHeaderDate(char* bytes) {
  const DateParts today = DecodeDateTime(NowLocal());
  bytes[0] = static_cast<char>(std::clamp(today.year - 1900, 0, 255));
  bytes[1] = static_cast<char>(today.month);
  bytes[2] = static_cast<char>(today.day);
}

std::string NewTableBytes(const TableHeader& h) {
  std::string bytes(h.header_size + 1, '\0');
  char* p = bytes.data();
  p[0] = static_cast<char>(h.version);
  PutHeaderDate(p + 1);
  p[8] = static_cast<char>(h.header_size & 0xFF);
  p[9] = static_cast<char>(h.header_size >> 8);
  p[10] = static_cast<char>(h.record_size & 0xFF);
  p[11] = static_cast<char>(h.record_size >> 8);
  p[29] = static_cast<char>(h.language_driver);
  char* d = p + kHeaderSize;
  for (const FieldLayout& f : h.fields) {
    std::memcpy(d, f.raw_name.data(), std::min<size_t>(f.raw_name.size(), kMaxNameBytes));
    d[11] = f.type;
    d[16] = static_cast<char>(f.width);
    d[17] = static_cast<char>(f.decimals);
    d += kDescriptorSize;
  }
  *d = kDescriptorEnd;
  bytes.back() = kEndOfFile;
  return bytes;
}

}  // namespace dbase

namespace {

// Removes the files made so far unless the creation finished.
class CreatedFiles {
 public:
  ~CreatedFiles() {
    if (!done_)
      for (const std::string& p : paths_) ::unlink(p.c_str());
  }
  RandomAccessFile Create(const std::string& path) {
    RandomAccessFile file(path, RandomAccessFile::Mode::kCreateNew);
    paths_.push_back(path);
    return file;
  }
  // A side file (memo, code page) of the table just created. One already there, in any
  // letter case, belonged to a table that is gone (the table file did not exist, or
  // Create would have failed) and is replaced; unless a table of the same name in
  // another letter case may own it.
  RandomAccessFile CreateSideFile(const std::string& table_path, std::string_view extension) {
    if (!HasNamesakeFile(table_path))
      for (std::string stale = FindSibling(table_path, extension); !stale.empty();
           stale = FindSibling(table_path, extension))
        if (::unlink(stale.c_str()) != 0) break;
    return Create(SiblingPath(table_path, extension));
  }
  void Done() { done_ = true; }

 private:
  std::vector<std::string> paths_;
  bool done_ = false;
};

std::string CpgText(const std::string& code_page) {
  if (code_page.size() > 2 && code_page.compare(0, 2, "CP") == 0) return code_page.substr(2);
  return code_page;
}

std::string TableStem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.substr(0, name.find('.'));
}

}  // namespace

CreatedTable CreateDBaseTable(const std::string& path, const TFieldDefs& fields,
                              const TableWriteOptions& options) {
  using namespace dbase;
  if (fields.empty()) throw TrundleError("Cannot create " + path + ": a table needs a field");
  if (fields.size() > kMaxFields)
    throw TrundleError("Cannot create " + path + ": dBase tables hold at most " +
                       std::to_string(kMaxFields) + " fields");
  const std::string code_page =
      NormalizeCodePageName(options.encoding.empty() ? "UTF-8" : options.encoding);
  TextCodec::FromUtf8To(code_page);  // throws for a code page iconv does not know

  TableHeader h;
  h.language_driver = LanguageDriverOfCodePage(code_page);
  const std::vector<std::string> names = StoredNames(fields);
  CreatedTable created;
  uint32_t record_size = 1;
  bool text_memo = false, binary_memo = false;
  for (size_t i = 0; i < fields.size(); ++i) {
    FieldLayout f = StoredLayout(fields[i]);
    f.raw_name = names[i];
    f.offset = static_cast<int>(record_size);
    record_size += static_cast<uint32_t>(f.width);
    text_memo |= f.type == 'M';
    binary_memo |= f.type == 'B';
    h.fields.push_back(f);
    if (names[i] != fields[i].Name)
      created.renames.push_back("Field " + ShownInLog(fields[i].Name) + " stored as " + names[i]);
  }
  if (record_size > kMaxRecordSize)
    throw TrundleError("Cannot create " + path + ": its fields take " +
                       std::to_string(record_size) +
                       " bytes per record, and dBase holds at most 65535");
  h.version = binary_memo ? 0x8B : text_memo ? 0x83 : 0x03;
  h.header_size = static_cast<uint32_t>(kHeaderSize + kDescriptorSize * fields.size() + 1);
  h.record_size = record_size;
  for (const FieldLayout& f : h.fields) created.stored.push_back(DatasetField(f, h, f.raw_name));

  CreatedFiles files;
  RandomAccessFile table = files.Create(path);
  table.WriteAt(0, NewTableBytes(h));
  const MemoKind memo = h.memo_kind();
  if (memo != MemoKind::kNone) {
    RandomAccessFile memo_file = files.CreateSideFile(path, ".dbt");
    memo_file.WriteAt(0, MemoWriter::NewHeader(memo, TableStem(path)));
    memo_file.Sync();
    memo_file.Close();
  }
  RandomAccessFile cpg = files.CreateSideFile(path, ".cpg");
  cpg.WriteAt(0, CpgText(code_page));
  cpg.Close();
  table.Sync();
  table.Close();
  files.Done();
  return created;
}

}  // namespace trundle
