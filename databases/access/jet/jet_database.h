// A read-only Jet database (Access .mdb of Jet 3 and Jet 4, unencrypted .accdb): its
// header, its catalogue of tables, each table's columns, and a streaming reader over a
// table's rows.
//
// Every offset, length, page number and chain read from the file is checked before use:
// a damaged file gives a TrundleError naming the file (and the table) and the cause,
// never a crash, a hang or a read outside a buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "databases/core/table_file.h"

namespace trundle::jet {

class PageFile;
struct TableDef;

// One row of MSysObjects that names a table.
struct CatalogEntry {
  std::string name;
  uint32_t tdef_page = 0;
  uint32_t flags = 0;
  bool system = false;  // flags with any bit of 0x80000002
  std::string properties;  // LvProp: the column properties (jet_props.h)
};

enum class JetVersion { kJet3, kJet4, kAce12, kAce14, kAce15, kAce16 };

struct JetColumn {  // a column as the table definition stores it
  std::string name;
  uint8_t type = 0;  // Jet column type code (1 Boolean, 2 Byte, 3 Integer, 4 Long, 5 Currency,
                     // 6 Single, 7 Double, 8 DateTime, 9 Binary, 10 Text, 11 OLE, 12 Memo,
                     // 15 GUID, 16 Numeric/Decimal, 19 Large Number ...)
  int size = 0;      // bytes as stored (text: bytes; Jet 4 text = 2 x characters)
  int precision = 0, scale = 0;
  bool fixed = false, nullable = true, autonumber = false;
  // The column's properties in the catalogue (MSysObjects' LvProp), as Access enforces
  // them; a column without them takes a Null and zero-length text.
  bool required = false;
  bool allow_zero_length = true;
};

// Jet column type codes.
enum JetType : uint8_t {
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,
  kLong = 4,
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDateTime = 8,
  kBinary = 9,
  kText = 10,
  kOle = 11,
  kMemo = 12,
  kGuid = 15,
  kNumeric = 16,
  kComplex = 18,
  kBigInt = 19,
};

class JetDatabase {
 public:
  // Opens read-only. Throws TrundleError naming the file and the cause: missing, not a Jet
  // file ("PATH is not an Access database", a folder too), damaged header, an encrypted
  // .accdb ("... is encrypted with a password; ... cannot be read").
  static std::unique_ptr<JetDatabase> Open(const std::string& path);
  ~JetDatabase();
  JetDatabase(const JetDatabase&) = delete;
  JetDatabase& operator=(const JetDatabase&) = delete;

  const std::string& path() const { return path_; }
  JetVersion version() const { return version_; }
  bool is_jet3() const { return version_ == JetVersion::kJet3; }
  int code_page() const { return code_page_; }  // header's text code page; 0 when unknown
  uint16_t sort_order() const { return sort_order_; }
  // True when the pages are encoded with the key the header holds (Access's "encode
  // database"); they are decoded as they are read.
  bool is_encoded() const;
  bool has_password() const { return !password_.empty(); }
  bool CheckPassword(std::string_view password) const;  // case-sensitive, as Access does

  // User tables in catalogue order (MSysObjects type 1, flags without any bit of
  // 0x80000002; linked tables and queries are not tables).
  std::vector<std::string> UserTables() const;
  // The stored name of a user table, letter case ignored; std::nullopt when none.
  std::optional<std::string> FindTable(std::string_view name) const;
  // The catalogue row of a user table, letter case ignored (an exact match first);
  // nullptr when none. Valid while the database is.
  const CatalogEntry* UserTableEntry(std::string_view name) const { return Find(name, true); }
  // Live columns in column order. Throws TrundleError when the table is missing or its
  // definition is damaged.
  std::vector<JetColumn> Columns(const std::string& table) const;
  // A streaming reader over a user table (the database must outlive it). fields() are
  // the dataset's types of the table's columns; record_count() the live row count of the
  // table definition. Throws TrundleError naming the file and the table when missing or
  // damaged.
  std::unique_ptr<TableFileReader> OpenTable(const std::string& table) const;
  // The definition of any table of the catalogue, its columns' Required and
  // AllowZeroLength taken from the catalogue's properties (a property value that cannot
  // be read leaves them at their defaults). Throws like Columns.
  TableDef Definition(const std::string& table) const;
  // The same over any table of the catalogue, system tables included.
  std::unique_ptr<TableFileReader> OpenAnyTable(const std::string& table) const;
  // Every table of the catalogue (type 1), system tables included, in catalogue order.
  std::vector<std::string> AllTables() const;
  // The catalogue's tables (type 1), system tables included, in catalogue order.
  const std::vector<CatalogEntry>& Catalog() const { return catalog_; }
  // The file page by page (decoded when the database is encoded), for the verifier.
  const PageFile& Pages() const { return *pages_; }

 private:
  JetDatabase();
  void ReadHeader();
  void ReadCatalog();
  const CatalogEntry* Find(std::string_view name, bool user_only) const;

  std::string path_;
  std::unique_ptr<PageFile> pages_;
  JetVersion version_ = JetVersion::kJet4;
  int code_page_ = 0;
  uint16_t sort_order_ = 0;
  std::string password_;  // UTF-8, empty when none
  std::vector<CatalogEntry> catalog_;
};

}  // namespace trundle::jet
