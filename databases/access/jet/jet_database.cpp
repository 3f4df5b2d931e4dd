#include "databases/access/jet/jet_database.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_pages.h"
#include "databases/access/jet/jet_props.h"
#include "databases/access/jet/jet_rows.h"
#include "databases/access/jet/jet_tdef.h"
#include "databases/access/jet/jet_text.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle::jet {
namespace {

constexpr uint32_t kCatalogPage = 2;
constexpr uint32_t kSystemFlags = 0x80000002u;

std::string CodePageName(int code_page) {
  return code_page > 0 ? "CP" + std::to_string(code_page) : "CP1252";
}

// A database's code page for Jet 3 text; CP1252 where iconv does not know the header's.
std::unique_ptr<TextCodec> Jet3Codec(int code_page) {
  try {
    return TextCodec::ToUtf8From(CodePageName(code_page));
  } catch (const TrundleError&) {
    return TextCodec::ToUtf8From("CP1252");
  }
}

TFieldDef FieldFor(const JetColumn& c, bool jet3) {
  TFieldDef f;
  f.Name = c.name;
  f.Required = c.required || !c.nullable;
  switch (c.type) {
    case kBoolean:
      f.DataType = ftBoolean;
      break;
    case kByte:
    case kInteger:
      f.DataType = ftSmallint;
      break;
    case kLong:
      // An AutoNumber says so, that a new table made from it numbers its rows as well.
      f.DataType = c.autonumber ? ftAutoInc : ftInteger;
      break;
    case kCurrency:
      f.DataType = ftCurrency;
      break;
    case kSingle:
    case kDouble:
      f.DataType = ftFloat;
      break;
    case kNumeric:
      f.DataType = ftFloat;
      f.Size = c.precision;
      f.Decimals = c.scale;
      break;
    case kDateTime:
      f.DataType = ftDateTime;
      break;
    case kText:
      f.DataType = ftString;
      f.Size = jet3 ? c.size : c.size / 2;
      break;
    case kOle:
      f.DataType = ftBlob;
      break;
    case kMemo:
      f.DataType = ftMemo;
      break;
    // Types the dataset's own list leaves unknown: read, not lost.
    case kGuid:
      f.DataType = ftGuid;
      f.Size = 38;
      break;
    case kBigInt:
      f.DataType = ftLargeint;
      break;
    case kBinary:
      f.DataType = c.fixed ? ftBytes : ftVarBytes;
      f.Size = c.size;
      break;
    default:
      f.DataType = ftUnknown;
      break;
  }
  return f;
}

// Streams the live rows of one table, page by page in the order of its usage map.
class JetTableReader : public TableFileReader {
 public:
  JetTableReader(const PageFile& file, const Format& format, TableDef def, int code_page, bool jet3)
      : file_(file),
        format_(format),
        def_(std::move(def)),
        codec_(Jet3Codec(code_page)),
        pages_(ReadUsageMap(file, format, def_.used_pages, Where())),
        decoder_(file, format_, def_, codec_.get(), Where()) {
    for (const ColumnDef& c : def_.columns) fields_.push_back(FieldFor(c.column, jet3));
    Rewind();
  }

  const std::string& path() const override { return file_.path(); }
  const TFieldDefs& fields() const override { return fields_; }
  int64_t record_count() const override { return def_.row_count; }

  bool Next(std::vector<Variant>& values) override {
    while (true) {
      if (page_ >= pages_.page_count()) return false;
      if (!page_loaded_) {
        file_.Read(page_, page_buf_);
        page_loaded_ = true;
        row_ = 0;
        // The owned-pages map also marks the table's index and long-value pages.
        if (page_buf_[0] != 0x01 || Get32(&page_buf_[4]) != def_.page) {
          Advance();
          continue;
        }
      }
      RowSpan span;
      if (!LocateRow(page_buf_, format_, row_, span, Where())) {
        Advance();
        continue;
      }
      ++row_;
      if (span.deleted) continue;
      if (!span.overflow) {
        decoder_.Decode(&page_buf_[size_t(span.begin)], span.end - span.begin, values);
        return true;
      }
      ReadOverflow(span, values);
      return true;
    }
  }

  void Rewind() override {
    page_ = pages_.Next(0);
    page_loaded_ = false;
    row_ = 0;
  }

  std::vector<std::string> TakeNotes() override {
    std::vector<std::string> notes;
    const int64_t bad = decoder_.bad_text() - reported_bad_text_;
    if (bad > 0)
      notes.push_back(file_.path() + ": table " + def_.name + ": " + std::to_string(bad) +
                      " text values were not valid in their encoding; the characters that "
                      "could not be read arrived as replacement characters");
    reported_bad_text_ = decoder_.bad_text();
    return notes;
  }

 private:
  std::string Where() const { return file_.path() + " is damaged: table " + def_.name; }

  void Advance() {
    page_ = pages_.Next(page_ + 1);
    page_loaded_ = false;
  }

  // A row moved to another page leaves a 4-byte pointer (row number, 3-byte page).
  void ReadOverflow(RowSpan span, std::vector<Variant>& values) {
    const std::vector<uint8_t>* buf = &page_buf_;
    for (int hops = 0;; ++hops) {
      if (span.end - span.begin < 4 || hops > 8)
        throw TrundleError(Where() + ": a moved row cannot be followed");
      const uint8_t* p = &(*buf)[size_t(span.begin)];
      const uint32_t page = Get24(p + 1);
      if (page == 0 || page >= file_.page_count())
        throw TrundleError(Where() + ": a moved row points to page " + std::to_string(page) +
                           ", outside the file");
      file_.Read(page, overflow_buf_);
      buf = &overflow_buf_;
      if (overflow_buf_[0] != 0x01 || !LocateRow(overflow_buf_, format_, p[0], span, Where(), true))
        throw TrundleError(Where() + ": a moved row points to a missing row on page " +
                           std::to_string(page));
      if (!span.overflow) break;
    }
    decoder_.Decode(&overflow_buf_[size_t(span.begin)], span.end - span.begin, values);
  }

  const PageFile& file_;
  const Format format_;
  TableDef def_;
  std::unique_ptr<TextCodec> codec_;
  PageSet pages_;
  RowDecoder decoder_;
  TFieldDefs fields_;
  uint32_t page_ = 0;
  bool page_loaded_ = false;
  int row_ = 0;
  std::vector<uint8_t> page_buf_, overflow_buf_;
  int64_t reported_bad_text_ = 0;
};

Format FormatOf(JetVersion v) {
  Format f = v == JetVersion::kJet3 ? Format::Jet3() : Format::Jet4();
  f.ace = v != JetVersion::kJet3 && v != JetVersion::kJet4;
  return f;
}

}  // namespace

JetDatabase::JetDatabase() = default;
JetDatabase::~JetDatabase() = default;

bool JetDatabase::is_encoded() const { return pages_->encoded(); }

std::unique_ptr<JetDatabase> JetDatabase::Open(const std::string& path) {
  // A folder, whatever its name ("shop.mdb/"), is no database, as a file of other bytes
  // is not.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw TrundleError(path + " is not an Access database");
  std::unique_ptr<JetDatabase> db(new JetDatabase());
  db->path_ = path;
  // What a writer stopped in the middle of a batch left is put right first, unless a
  // writer is at work on the file.
  SettleJournal(path);
  db->pages_ = std::make_unique<PageFile>(path);
  db->ReadHeader();
  db->ReadCatalog();
  return db;
}

void JetDatabase::ReadHeader() {
  uint8_t h[0x300] = {};
  const size_t got = pages_->ReadAt(0, h, sizeof h);
  static const char kJet[] = "Standard Jet DB";
  static const char kAce[] = "Standard ACE DB";
  if (got < 0x100 || h[0] != 0 ||
      (std::memcmp(h + 4, kJet, 15) != 0 && std::memcmp(h + 4, kAce, 15) != 0))
    throw TrundleError(path_ + " is not an Access database");
  switch (h[0x14]) {
    case 0:
      version_ = JetVersion::kJet3;
      break;
    case 1:
      version_ = JetVersion::kJet4;
      break;
    case 2:
      version_ = JetVersion::kAce12;
      break;
    case 3:
      version_ = JetVersion::kAce14;
      break;
    case 4:
      version_ = JetVersion::kAce15;
      break;
    case 5:
      version_ = JetVersion::kAce16;
      break;
    default:
      throw TrundleError(path_ + " is an Access database of an unknown version (" +
                         std::to_string(h[0x14]) + ")");
  }
  const Format format = FormatOf(version_);
  if (pages_->file_size() < uint64_t(format.page_size))
    throw TrundleError(path_ + " is damaged: its header page is cut short");
  Rc4(kHeaderMask, 4, h + 0x18, is_jet3() ? 126 : 128);
  code_page_ = Get16(h + 0x3C);
  const uint32_t key = Get32(h + 0x3E);
  sort_order_ = is_jet3() ? Get16(h + 0x3A) : uint16_t(Get32(h + 0x6E));
  if (version_ >= JetVersion::kAce12 && key != 0) {
    throw TrundleError(path_ +
                       " is encrypted with a password; encrypted Access databases "
                       "cannot be read");
  }
  // A password alone encrypts nothing: it is kept in the header for Access to compare.
  if (is_jet3()) {
    std::string raw(reinterpret_cast<const char*>(h + 0x42), 20);
    raw.resize(std::strlen(raw.c_str()));
    if (!raw.empty()) Jet3Codec(code_page_)->Convert(raw, password_);
  } else {
    double created;
    std::memcpy(&created, h + 0x72, 8);
    uint32_t mask = 0;
    if (std::isfinite(created) && std::fabs(created) < 2e9)
      mask = uint32_t(int32_t(std::floor(created)));
    uint8_t pw[40];
    for (int i = 0; i < 40; ++i) pw[i] = h[0x42 + i] ^ uint8_t(mask >> (8 * (i % 4)));
    if (version_ >= JetVersion::kAce12) std::memcpy(pw, h + 0x42, 40);
    int len = 0;
    while (len < 40 && (pw[len] | pw[len + 1]) != 0) len += 2;
    AppendUtf16(pw, size_t(len), password_);
  }
  pages_->SetLayout(format.page_size, is_jet3() || version_ == JetVersion::kJet4 ? key : 0);
  // A journal beside the file: a writer stopped, or is working, in the middle of a batch.
  // One that no writer held was applied and deleted by Open; otherwise the database is
  // read as the journal puts it back. One that cannot be applied is left to the next writer to
  // report; the file is read as it is.
  PageFile::Overlay old_pages;
  uint64_t old_length = 0;
  try {
    if (ReadJournal(path_, pages_->encoded() ? key : 0, old_pages, old_length)) {
      pages_->KeepOverlay(std::move(old_pages));
      pages_->SetPageCount(uint32_t(std::min<uint64_t>(old_length / uint64_t(format.page_size),
                                                       pages_->page_count())));
    }
  } catch (const TrundleError&) {
  }
  if (pages_->page_count() <= kCatalogPage)
    throw TrundleError(path_ + " is damaged: it ends before its catalogue");
}

bool JetDatabase::CheckPassword(std::string_view password) const { return password == password_; }

void JetDatabase::ReadCatalog() {
  const Format format = FormatOf(version_);
  auto codec = Jet3Codec(code_page_);
  TableDef def = ReadTableDef(*pages_, format, kCatalogPage, "MSysObjects", path_, codec.get());
  auto column = [&](const char* name) {
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].column.name == name) return int(i);
    throw TrundleError(TableDamage(path_, "MSysObjects", std::string("it has no column ") + name));
  };
  const int id = column("Id"), name = column("Name"), type = column("Type"),
            flags = column("Flags");
  int lvprop = -1;
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].column.name == "LvProp") lvprop = int(i);
  JetTableReader reader(*pages_, format, std::move(def), code_page_, is_jet3());
  std::vector<Variant> row;
  while (reader.Next(row)) {
    if (row[size_t(type)].type() != VarType::kInteger || row[size_t(type)].integer() != 1) continue;
    if (row[size_t(id)].type() != VarType::kInteger || !row[size_t(name)].IsText()) continue;
    CatalogEntry e;
    e.name = row[size_t(name)].text();
    e.tdef_page = uint32_t(row[size_t(id)].integer()) & 0x00FFFFFFu;
    e.flags =
        row[size_t(flags)].type() == VarType::kInteger ? uint32_t(row[size_t(flags)].integer()) : 0;
    e.system = (e.flags & kSystemFlags) != 0;
    if (lvprop >= 0 && row[size_t(lvprop)].type() == VarType::kBlob)
      e.properties = row[size_t(lvprop)].text();
    catalog_.push_back(std::move(e));
  }
}

const CatalogEntry* JetDatabase::Find(std::string_view name, bool user_only) const {
  const CatalogEntry* folded = nullptr;
  for (const CatalogEntry& e : catalog_) {
    if (user_only && e.system) continue;
    if (e.name == name) return &e;
    if (!folded && EqualsIgnoringAsciiCase(e.name, name)) folded = &e;
  }
  return folded;
}

std::vector<std::string> JetDatabase::UserTables() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : catalog_)
    if (!e.system) names.push_back(e.name);
  return names;
}

std::vector<std::string> JetDatabase::AllTables() const {
  std::vector<std::string> names;
  for (const CatalogEntry& e : catalog_) names.push_back(e.name);
  return names;
}

std::optional<std::string> JetDatabase::FindTable(std::string_view name) const {
  const CatalogEntry* e = Find(name, true);
  if (!e) return std::nullopt;
  return e->name;
}

TableDef JetDatabase::Definition(const std::string& table) const {
  const CatalogEntry* e = Find(table, false);
  if (!e) throw TrundleError(path_ + " has no table " + table);
  auto codec = Jet3Codec(code_page_);
  TableDef def =
      ReadTableDef(*pages_, FormatOf(version_), e->tdef_page, e->name, path_, codec.get());
  std::vector<ColumnProperties> props;
  ParseColumnProperties(e->properties, is_jet3(), codec.get(), props);
  ApplyColumnProperties(props, def);
  return def;
}

std::vector<JetColumn> JetDatabase::Columns(const std::string& table) const {
  TableDef def = Definition(table);
  std::vector<JetColumn> cols;
  for (const ColumnDef& c : def.columns) cols.push_back(c.column);
  return cols;
}

std::unique_ptr<TableFileReader> JetDatabase::OpenTable(const std::string& table) const {
  const CatalogEntry* e = Find(table, true);
  if (!e) throw TrundleError(path_ + " has no table " + table);
  return OpenAnyTable(e->name);
}

std::unique_ptr<TableFileReader> JetDatabase::OpenAnyTable(const std::string& table) const {
  const Format format = FormatOf(version_);
  TableDef def = Definition(table);
  return std::make_unique<JetTableReader>(*pages_, format, std::move(def), code_page_, is_jet3());
}

}  // namespace trundle::jet
