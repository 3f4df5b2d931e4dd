// What the front ends know of a kind of source or destination: its names, the files it
// claims, the options it reads, what it can do and how to make its adaptor. Each kind
// declares itself once, in its own folder; front/kinds.cpp lists the declarations, and
// the command line's option checks and help, the kind taken from a file's name and the
// job's building all read them from there.
//
//   KindDeclaration SqliteKind() {
//     KindDeclaration k;
//     k.kind = dkSqlite;
//     k.name = "sqlite";
//     k.extensions = {".sqlite", ".sqlite3", ".db3"};
//     k.source_options = koTable | koSql | koDatabase;
//     ...
//     k.make = [] { return std::make_unique<TTrundleSqlite>(); };
//     return k;
//   }
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/trundle_unknown.h"

namespace trundle {

// The options an end of a kind reads (--source-table, --dest-encoding, ...), as bits.
enum KindOption : uint32_t {
  koTable = 1u << 0,        // --*-table
  koSql = 1u << 1,          // --source-sql
  koDatabase = 1u << 2,     // --*-database
  koUser = 1u << 3,         // --*-user
  koPasswordEnv = 1u << 4,  // --*-password-env
  koDao = 1u << 5,          // --*-dao
  koEncoding = 1u << 6,     // --*-encoding
};

// What a kind can do, as bits.
enum KindAbility : uint32_t {
  kaRead = 1u << 0,            // it can be a source
  kaWrite = 1u << 1,           // it can be a destination
  kaCreateTable = 1u << 2,     // a missing destination table is made from the source's fields
  kaCreateDatabase = 1u << 3,  // a missing database is made (on request or by itself)
  kaTransactions = 1u << 4,    // an open batch can be undone (RollsBackOpenBatch)
  kaHoldsTables = 1u << 5,     // its location is a database of tables named by --*-table
  kaOneFile = 1u << 6,         // its end is one file, the adaptor's TableName
  kaStandardOutput = 1u << 7,  // it can be written to standard output (-)
  kaReadBack = 1u << 8,        // what it wrote can be read again as a source
  kaCreateOnRequest = 1u << 9,  // with kaCreateTable: only when asked (--create-table)
};

// What it takes to reach a database, as the adaptors' fields hold it.
struct ConnectionFields {
  std::string database;     // Access, SQLite: the file's path; server: the data source
  std::string user;         // server only
  std::string password;     // never shown in a message
  std::string dao_version;  // Access only: "dao35" or "dao36" (anything else: dao35)
};

struct KindDeclaration {
  TDataKind kind = dkUnknown;
  std::string name;                     // the command line's: "csv", "dbase", ...
  std::vector<std::string> aliases;     // other names the command line takes ("odbc")
  std::string title;                    // the name a person reads: "Comma-delimited text"
  std::vector<std::string> extensions;  // lower case, with the dot: ".csv"
  // True when a location is this kind's by what it is rather than by its extension: an
  // ODBC connection string, a file whose first bytes say so. Asked before the extensions,
  // so that a kind can take a file another kind's extension would claim. May be empty.
  std::function<bool(const std::string& location)> recognises;
  // True when a location gives a password of its own, which would show in the process
  // list: the command line refuses it and asks for an environment variable. May be empty.
  std::function<bool(const std::string& location)> gives_password;
  uint32_t source_options = 0;  // KindOption bits
  uint32_t dest_options = 0;    // KindOption bits
  uint32_t abilities = 0;       // KindAbility bits
  std::function<std::unique_ptr<TTrundleUnknown>()> make;
  // The database's user tables, for --list-tables and the window's table lists; empty
  // for a kind that holds no tables. Throws TrundleError when the database cannot be read.
  std::function<std::vector<std::string>(const ConnectionFields&)> list_tables;
  // The relationships among the database's user tables; empty when the kind keeps none.
  // Throws TrundleError when the database cannot be read.
  std::function<TRelationDefs(const ConnectionFields&)> list_relationships;
  // Gives tables of the database the relationships among them, once their records are
  // in; the log lines it has to say (one per relationship it could not make, with why).
  // Empty for a kind that cannot hold relationships. Throws TrundleError when the
  // database cannot be opened.
  std::function<std::vector<std::string>(const ConnectionFields&, const TRelationDefs&)>
      add_relationships;

  bool Can(uint32_t ability) const { return (abilities & ability) == ability; }
  bool Reads(bool is_source, uint32_t option) const {
    return ((is_source ? source_options : dest_options) & option) != 0;
  }
};

}  // namespace trundle
