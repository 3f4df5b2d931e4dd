// The DAO layer over our own Jet reader: TDAODatabase is the connection to one Access
// database file (opened with its password and the engine version of the era it belongs
// to), TDAOQuery a result opened from SQL on it.
//
//   TDAODatabase db;
//   db.DatabaseName = "/data/shop.mdb";
//   db.DAOVersion = kDao36;
//   db.Open();
//   TDAOQuery q(db);
//   q.SQL = "select [Last Name], City from [Customer List] where City = 'Oslo'";
//   q.Open();
//   for (; !q.Eof(); q.Next()) Use(q.Value(0), q.Value(1));
//
// A statement runs in SQLite over the database's user tables, each a virtual table of the
// one table module (sql/file_vtab.h), found by name in any letter case; a whole-table
// select ("select * from [Customer List]") reads the table straight through instead.
// Records are appended to a table through OpenAppend and Append, in batches that
// BeginTrans opens and CommitTrans ends (each batch is one journalled write of the file:
// it reaches the disk whole or not at all).
//
// New tables are made as DAO makes them: a table definition, its fields appended to it,
// the definition appended to the database (one journalled write as well):
//
//   TDAOTableDef def = db.CreateTableDef("People");
//   def.Fields.Append(def.CreateField("Name", dbText, 50));
//   def.Fields.Item(def.Fields.Count() - 1).AllowZeroLength = true;
//   db.TableDefs_Append(def);
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "databases/core/field_types.h"
#include "databases/sql/table_resolver.h"
#include "engine/tick.h"
#include "engine/variant.h"

namespace trundle {

namespace jet {
class JetDatabase;
class PageStore;
class TableWriter;
struct NewColumn;
}  // namespace jet

// DAO's engine versions: 3.5 reads Access 97 (Jet 3) databases only, 3.6 reads those,
// Access 2000-2003 (Jet 4) and Access 2007 and later (.accdb).
inline constexpr int kDao35 = 0;
inline constexpr int kDao36 = 1;

// "dao35" or "dao36", letter case ignored; nullopt for anything else.
std::optional<int> DaoVersionFromName(const std::string& name);

// DAO's field types, by their numbers.
enum DaoFieldType : int32_t {
  dbBoolean = 1,
  dbByte = 2,
  dbInteger = 3,
  dbLong = 4,
  dbCurrency = 5,
  dbSingle = 6,
  dbDouble = 7,
  dbDate = 8,
  dbBinary = 9,
  dbText = 10,
  dbLongBinary = 11,
  dbMemo = 12,
  dbGUID = 15,
  dbBigInt = 16,
  dbVarBinary = 17,
  dbChar = 18,
  dbNumeric = 19,
  dbDecimal = 20,
  dbFloat = 21,
  dbTime = 22,
  dbTimeStamp = 23,
};

// A field of a new table definition.
struct TDAOField {
  std::string Name;
  int32_t Type = dbText;  // a DaoFieldType
  int32_t Size = 0;       // Text: characters; Binary: bytes (0: 255 for both); else unused
  bool Required = false;
  bool AllowZeroLength = false;   // Text and Memo
  int Precision = 18, Scale = 0;  // Decimal and Numeric
  // Long only (DAO's dbAutoIncrField): an AutoNumber. Rows appended keep a number they
  // give, and the table's counter moves past the highest.
  bool AutoIncrement = false;
};

// The fields of a table definition, in the order they were appended.
class TDAOFields {
 public:
  void Append(TDAOField field) { fields_.push_back(std::move(field)); }
  int Count() const { return static_cast<int>(fields_.size()); }
  // REQUIRES: 0 <= i < Count(), else throws "Item not found in this collection.".
  TDAOField& Item(int i);
  const std::vector<TDAOField>& All() const { return fields_; }

 private:
  std::vector<TDAOField> fields_;
};

// An index of a table being defined over fields named as in TDAOTableDef::Fields: a
// primary key, a unique index, or (Unique false) one that allows duplicates.
struct TDAOIndex {
  std::string Name;
  std::vector<std::string> Fields;
  bool Primary = false;
  bool Unique = true;  // a primary key is unique whatever this says
};

// A table definition not yet appended to its database.
struct TDAOTableDef {
  std::string Name;
  TDAOFields Fields;
  std::vector<TDAOIndex> Indexes;
  // A field not yet appended to Fields.
  TDAOField CreateField(const std::string& name, int32_t type, int32_t size = 0) const {
    TDAOField field;
    field.Name = name;
    field.Type = type;
    field.Size = size;
    return field;
  }
};

// The Jet column a DAO field is stored as in a database of that version (sizes, names and
// precisions are for the engine to judge). Throws TrundleError "Invalid field data type."
// for a type the version does not hold (a 64-bit integer in Jet 3 and 4, a decimal in
// Jet 3) and for numbers DAO does not know.
jet::NewColumn JetColumnForDaoField(const TDAOField& field, bool jet3);

class TDAODatabase {
 public:
  TDAODatabase();
  ~TDAODatabase();
  TDAODatabase(const TDAODatabase&) = delete;
  TDAODatabase& operator=(const TDAODatabase&) = delete;

  // Applied by Open; changing them on an open connection has no effect until it closes.
  std::string DatabaseName;  // path of the database file
  std::string Password;      // checked only when the database has one
  int DAOVersion = kDao35;

  bool Connected() const { return jet_ != nullptr; }
  // The format's version as DAO's Database.Version gives it: "3.0" for Jet 3 (Access 97),
  // "4.0" for Jet 4 and later. REQUIRES: Connected().
  std::string Version() const;
  // Opens the file for reading. Throws TrundleError: the reader's message for a missing,
  // damaged or encrypted file or one that is no database; "Unrecognized database format
  // 'PATH'." for a database newer than DAO 3.5 reads; "Not a valid password." when the
  // database has a password and Password is another. No message holds the password.
  void Open();
  // Closing a closed database does nothing; an open batch of appended records is
  // dropped. Queries on it must be closed first.
  void Close();

  // The user tables (system tables left out, saved queries are no tables), in the
  // catalogue's order, replacing what `list` held. Connects for the time of the call when
  // not connected; a failure raises nothing and leaves the list as far as it got (empty
  // when the database cannot be opened).
  void GetTableNames(std::vector<std::string>& list);

  // Opens a user table (any letter case) for appending; the file is then held for
  // writing (other programs are refused it) until Close. REQUIRES: Connected(). Throws
  // TrundleError naming the file, the table and the reason when the table cannot take
  // rows: missing, an index on a Memo or OLE field, a sort order or column kind that is
  // not written, a damaged file, a file another program holds. Indexes and enforced
  // relationships are kept: Append refuses a row they refuse.
  void OpenAppend(const std::string& table);
  bool Appending() const { return writer_ != nullptr; }
  // The appending table's field names, in its column order. REQUIRES: Appending().
  std::vector<std::string> AppendFieldNames() const;
  // Appends one record, values[i] for field i (AutoNumber fields are numbered by the
  // table). Throws TrundleError "column NAME: CAUSE" for a value the field cannot take,
  // "index NAME already holds the key F = V ..." for a key a unique index or primary key
  // holds, "relationship NAME ..." for a foreign key without its parent; the open batch
  // then still holds the records before it (Rollback drops them).
  void Append(std::vector<Variant>& values);
  // Log lines about values stored changed or not used, each once.
  std::vector<std::string> TakeAppendNotes();
  // Ends appending: an open batch is dropped, the indexes of a table that was empty
  // when appending began are built from the committed records, and the file is released
  // (other programs may write it again, and its journal goes). Does not throw: a failure
  // to build the indexes (the table then keeps its records without them) is kept for
  // TakeEndAppendError.
  void EndAppend() noexcept;
  // The last EndAppend's failure, once; empty when there was none.
  std::string TakeEndAppendError();

  // A new, empty definition of a table called name; nothing is written before
  // TableDefs_Append.
  TDAOTableDef CreateTableDef(const std::string& name) const;
  // Creates the defined table in the file, in one journalled write: the whole table, or
  // (on any failure) nothing. REQUIRES: Connected(). Throws TrundleError with the
  // engine's message for a table that exists, no fields, a field name repeated or not
  // allowed, a type or size the database does not hold; naming the file for a failed
  // write. The connection reads the new catalogue afterwards.
  void TableDefs_Append(const TDAOTableDef& def);

  // Transactions group appended records: a batch opens with the first record after
  // BeginTrans and ends with CommitTrans, which writes it to the disk whatever the
  // options (DAO's, 1 being dbForceOSFlush), or Rollback, which drops it. Without an
  // appending table they do nothing. Rollback does not throw.
  void BeginTrans() {}
  void CommitTrans(int options = 0);
  void Rollback() noexcept;

  // The database's tables for SQL: the stored name of a user table, letter case ignored.
  // REQUIRES: Connected(). The resolver keeps the opened file alive after Close.
  std::shared_ptr<const TableResolver> Tables() const;
  // The open file, shared: a query holding it keeps it open. nullptr when not connected.
  std::shared_ptr<const jet::JetDatabase> Jet() const { return jet_; }

 private:
  std::shared_ptr<const jet::JetDatabase> jet_;
  // Declared before the writer, which writes through it.
  std::unique_ptr<jet::PageStore> store_;
  std::unique_ptr<jet::TableWriter> writer_;
  std::string end_error_;  // the last EndAppend's failure to build the indexes
};

// A dataset bound to one TDAODatabase, which must be connected when Open runs and must
// outlive the query. Read only.
class TDAOQuery {
 public:
  explicit TDAOQuery(TDAODatabase& database);
  ~TDAOQuery();
  TDAOQuery(const TDAOQuery&) = delete;
  TDAOQuery& operator=(const TDAOQuery&) = delete;

  std::string SQL;
  // Stepped while SQL runs and counts (SqlQuery): a true ends Open or RecordCount with
  // StopRequestedError. Set before Open.
  TTrundleTickEvent OnTick;

  // Runs SQL; the fields then list the result's columns and the current record is the
  // first (Eof() already true when there is none). Throws TrundleError with SQLite's
  // message or the reader's, which names the file and the table.
  void Open();
  void Close();
  bool Active() const;

  // Records of the open result: a table's live rows for a whole-table select, else
  // counted by a pass of its own that keeps no rows.
  int64_t RecordCount();
  const TFieldDefs& FieldDefs() const;
  int FieldCount() const { return static_cast<int>(FieldDefs().size()); }
  // REQUIRES: Active() and !Eof(); 0 <= i < FieldCount(), else throws "Range check error".
  const Variant& Value(int i) const;
  bool Eof() const;
  void Next();
  void First();

  // Log lines from the reader about values read imperfectly; each once.
  std::vector<std::string> TakeNotes();

 private:
  struct Impl;
  TDAODatabase& database_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace trundle
