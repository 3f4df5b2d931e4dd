// Creating an empty unkeyed Paradox 7 table (and its memo file), and the engine record.
#include <unistd.h>

#include <algorithm>
#include <set>

#include "databases/core/file_io.h"
#include "databases/paradox/paradox_file.h"
#include "databases/paradox/px_blob.h"
#include "databases/paradox/px_format.h"
#include "databases/paradox/px_text.h"
#include "databases/core/side_files.h"
#include "engine/ascii.h"
#include "engine/errors.h"
#include "engine/log_text.h"

namespace trundle {
namespace {

using namespace paradox;

constexpr size_t kMaxNameChars = 25;  // Paradox field names hold at most 25 characters
constexpr int kDefaultAlpha = 20;
constexpr int kMemoLeader = 10;  // short memos stay in the record, needing no .mb read
constexpr int kMaxFields = 255;

PxField MapField(const TFieldDef& def) {
  PxField f;
  const auto blob = [&f](uint8_t code, int leader) {
    f.code = code;
    f.size = leader + kBlobTailSize;
  };
  switch (def.DataType) {
    case ftMemo:
      blob(kMemo, kMemoLeader);
      break;
    case ftFmtMemo:
      blob(kFmtMemo, kMemoLeader);
      break;
    case ftBlob:
    case ftBytes:
    case ftVarBytes:
    case ftTypedBinary:
    case ftDBaseOle:
      blob(kBinary, 0);
      break;
    case ftGraphic:
      blob(kGraphic, 0);
      break;
    case ftParadoxOle:
      blob(kOle, 0);
      break;
    case ftSmallint:
      f.code = kShort;
      break;
    case ftInteger:
    case ftWord:
      f.code = kLong;
      break;
    case ftAutoInc:
      f.code = kAutoInc;
      break;
    case ftLargeint:
    case ftFloat:
      f.code = kNumber;
      break;
    case ftCurrency:
      f.code = kMoney;
      break;
    case ftBCD:
      f.code = kBcd;
      // Values travel as Currency, so more than 4 decimals would hold only zeros.
      f.decimals =
          def.Decimals > 0 ? def.Decimals : (def.Size >= 1 && def.Size <= 4 ? def.Size : 4);
      f.decimals = std::min(f.decimals, 4);
      break;
    case ftBoolean:
      f.code = kLogical;
      break;
    case ftDate:
      f.code = kDate;
      break;
    case ftTime:
      f.code = kTime;
      break;
    case ftDateTime:
      f.code = kTimestamp;
      break;
    default:
      if (def.Size > 255) {
        blob(kMemo, kMemoLeader);
      } else {
        f.code = kAlpha;
        f.size = def.Size > 0 ? def.Size : kDefaultAlpha;
      }
      break;
  }
  if (f.size == 0) f.size = FixedWidth(f.code);
  return f;
}

// The first max_chars characters of a UTF-8 name.
std::string CutChars(const std::string& name, size_t max_chars) {
  size_t chars = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
    if (chars++ == max_chars) return name.substr(0, i);
  }
  return name;
}

// Names as stored: cut to 25 characters, unique ignoring letter case (as Paradox compares
// them), and held by the code page.
std::vector<std::string> StoredNames(const TFieldDefs& defs, PxTextEncoder& encoder) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  std::string encoded;
  for (size_t i = 0; i < defs.size(); ++i) {
    std::string base = defs[i].Name;
    if (base.empty() || !encoder.Encode(base, encoded)) base = "Field" + std::to_string(i + 1);
    std::string name = CutChars(base, kMaxNameChars);
    for (int k = 2; taken.count(LowerAscii(name)) != 0; ++k) {
      const std::string suffix = std::string("_").append(std::to_string(k));
      name = CutChars(base, kMaxNameChars - suffix.size()) + suffix;
    }
    taken.insert(LowerAscii(name));
    names.push_back(std::move(name));
  }
  return names;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

PxHeader BuildTable(const TFieldDefs& defs, const std::vector<std::string>& names,
                    PxTextEncoder& encoder, int code_page) {
  PxHeader h;
  h.code_page = code_page;
  for (size_t i = 0; i < defs.size(); ++i) {
    PxField f = MapField(defs[i]);
    encoder.Encode(names[i], f.raw_name);
    f.offset = h.record_size;
    h.record_size += f.size;
    h.fields.push_back(std::move(f));
  }
  // 16 KB blocks keep a table of up to 1 GB within the 65535 block numbers; wider records
  // take the largest block Paradox 7 knows.
  h.block_size = h.record_size + kBlockHeaderSize <= 16384 ? 16384 : 32768;
  h.header_size = HeaderSizeFor(h.fields);
  return h;
}

void WriteNewFiles(const std::string& path, const PxHeader& h, const std::string& table_name,
                   bool needs_mb) {
  RandomAccessFile db(path, RandomAccessFile::Mode::kCreateNew);
  std::string mb_path;
  try {
    db.WriteAt(0, BuildHeader(h, table_name).data(), static_cast<size_t>(h.header_size));
    if (needs_mb) {
      // A memo file already there, in any letter case, belonged to a table that is gone
      // (the table file did not exist, or creating it would have failed) and is replaced;
      // unless a table of the same name in another letter case may own it.
      if (!HasNamesakeFile(path))
        for (std::string stale = FindMbFile(path); !stale.empty(); stale = FindMbFile(path))
          if (::unlink(stale.c_str()) != 0) break;
      mb_path = NewMbPath(path);
      MbWriter::Create(mb_path)->Close();
    }
    db.Sync();
    db.Close();
  } catch (...) {
    ::unlink(path.c_str());
    if (!mb_path.empty() && PathExists(mb_path)) ::unlink(mb_path.c_str());
    throw;
  }
}

}  // namespace

CreatedTable CreateParadoxTable(const std::string& path, const TFieldDefs& fields,
                                const TableWriteOptions& options) {
  if (fields.empty()) throw TrundleError("Could not create " + path + ": a table needs a field");
  if (fields.size() > static_cast<size_t>(kMaxFields))
    throw TrundleError("Could not create " + path +
                       ": a Paradox table holds at most 255 fields, "
                       "not " +
                       std::to_string(fields.size()));
  const int code_page = CodePageNumber(options.encoding);
  if (code_page == 0)
    throw TrundleError("Could not create " + path +
                       ": a Paradox header names its code page by "
                       "number, and " +
                       options.encoding + " has none");
  PxTextEncoder encoder(CodePageName(code_page));
  const std::vector<std::string> names = StoredNames(fields, encoder);
  const PxHeader h = BuildTable(fields, names, encoder, code_page);
  if (h.record_size + kBlockHeaderSize > 32768)
    throw TrundleError("Could not create " + path + ": its records of " +
                       std::to_string(h.record_size) + " bytes are wider than a Paradox block");
  const bool needs_mb = std::any_of(h.fields.begin(), h.fields.end(),
                                    [](const PxField& f) { return IsBlobCode(f.code); });
  if (needs_mb && PathExists(path))
    throw TrundleError("Could not create " + path + ": the file already exists");
  std::string table_name;
  encoder.Encode(BaseName(path), table_name);
  WriteNewFiles(path, h, table_name, needs_mb);

  CreatedTable created;
  for (size_t i = 0; i < fields.size(); ++i) {
    const PxField& f = h.fields[i];
    TFieldDef def;
    def.Name = names[i];
    def.DataType = DatasetType(f.code);
    def.Size = f.code == kAlpha ? f.size : 0;
    def.Decimals = f.decimals;
    def.Required = fields[i].Required;
    if (def.Name != fields[i].Name)
      created.renames.push_back("Field " + ShownInLog(fields[i].Name) + " stored as " + def.Name);
    created.stored.push_back(std::move(def));
  }
  return created;
}

TableEngine ParadoxEngine() {
  TableEngine engine;
  engine.name = "paradox";
  engine.extensions = {".db"};
  engine.open = OpenParadoxTable;
  engine.create = CreateParadoxTable;
  engine.append = AppendToParadoxTable;
  engine.stored_names = [](const TFieldDefs& fields) {
    // Names are compared as UTF-8 text, which holds every character.
    PxTextEncoder encoder("UTF-8");
    return StoredNames(fields, encoder);
  };
  return engine;
}

}  // namespace trundle
