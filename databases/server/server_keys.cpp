#include "databases/server/server_keys.h"

#include <sqlext.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "databases/server/odbc.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// True when the driver says it has the catalogue call `function`.
bool Has(TOracleSession& session, SQLUSMALLINT function) {
  SQLUSMALLINT supported = SQL_FALSE;
  const SQLRETURN rc = SQLGetFunctions(session.connection(), function, &supported);
  return SQL_SUCCEEDED(rc) && supported == SQL_TRUE;
}

// The text of a column of the statement's current row; empty for NULL.
std::string TextAt(const odbc::Handle& statement, SQLUSMALLINT column, const std::string& what) {
  std::string out;
  char text[1024];
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN rc =
        SQLGetData(statement.get(), column, SQL_C_CHAR, text, sizeof text, &length);
    if (rc == SQL_NO_DATA) break;
    odbc::Check(rc, statement, what);
    if (length == SQL_NULL_DATA) break;
    // A long name comes in pieces: each but the last fills the buffer.
    if (rc == SQL_SUCCESS_WITH_INFO && (length == SQL_NO_TOTAL || length >= SQLLEN(sizeof text))) {
      out.append(text, sizeof text - 1);
      continue;
    }
    out.append(text, size_t(length));
    break;
  }
  return out;
}

int64_t NumberAt(const odbc::Handle& statement, SQLUSMALLINT column, const std::string& what,
                 int64_t if_null) {
  SQLBIGINT value = 0;
  SQLLEN length = 0;
  odbc::Check(SQLGetData(statement.get(), column, SQL_C_SBIGINT, &value, sizeof value, &length),
              statement, what);
  return length == SQL_NULL_DATA ? if_null : int64_t(value);
}

SQLCHAR* Chars(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

// Ends the transaction a catalogue call may have opened: a failed one spoils it on some
// servers (PostgreSQL).
void EndCatalogueRead(TOracleSession& session) {
  SQLEndTran(SQL_HANDLE_DBC, session.connection(), SQL_ROLLBACK);
}

}  // namespace

bool FirstTimeToldOf(const std::string& what) {
  static std::mutex guard;
  static std::set<std::string> told;
  const std::lock_guard<std::mutex> lock(guard);
  return told.insert(what).second;
}

std::optional<TIndexDefs> ReadServerKeys(TOracleSession& session, const std::string& table) {
  if (!Has(session, SQL_API_SQLPRIMARYKEYS) || !Has(session, SQL_API_SQLSTATISTICS))
    return std::nullopt;
  const std::string what = "The keys of " + table + " cannot be read";
  std::string name = table;
  TIndexDefs out;

  // The primary key: column 4 the column, 5 its place in the key, 6 the key's name.
  {
    odbc::Handle statement(SQL_HANDLE_STMT, session.connection());
    odbc::Check(SQLPrimaryKeys(statement.get(), nullptr, 0, nullptr, 0, Chars(name),
                               SQLSMALLINT(name.size())),
                statement, what);
    std::vector<std::pair<int64_t, std::string>> columns;
    std::string key_name;
    for (SQLRETURN rc; SQL_SUCCEEDED(rc = SQLFetch(statement.get()));) {
      columns.emplace_back(NumberAt(statement, 5, what, 0), TextAt(statement, 4, what));
      if (key_name.empty()) key_name = TextAt(statement, 6, what);
    }
    if (!columns.empty()) {
      std::sort(columns.begin(), columns.end());
      TIndexDef key;
      key.Name = key_name.empty() ? "PrimaryKey" : key_name;
      key.Primary = true;
      for (auto& c : columns) key.Fields.push_back(std::move(c.second));
      out.push_back(std::move(key));
    }
  }

  // Unique indexes: column 4 NON_UNIQUE, 6 the index's name, 7 its type (0: the table's
  // statistics, no index), 8 the column's place, 9 the column (NULL for an expression).
  {
    odbc::Handle statement(SQL_HANDLE_STMT, session.connection());
    odbc::Check(SQLStatistics(statement.get(), nullptr, 0, nullptr, 0, Chars(name),
                              SQLSMALLINT(name.size()), SQL_INDEX_UNIQUE, SQL_QUICK),
                statement, what);
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::pair<int64_t, std::string>>> indexes;
    std::set<std::string> spoilt;  // an index over an expression: not carried
    for (SQLRETURN rc; SQL_SUCCEEDED(rc = SQLFetch(statement.get()));) {
      if (NumberAt(statement, 7, what, 0) == SQL_TABLE_STAT) continue;
      if (NumberAt(statement, 4, what, 1) != 0) continue;  // drivers that give them all
      const std::string index = TextAt(statement, 6, what);
      const std::string column = TextAt(statement, 9, what);
      if (index.empty()) continue;
      if (column.empty()) spoilt.insert(index);
      if (!indexes.count(index)) order.push_back(index);
      indexes[index].emplace_back(NumberAt(statement, 8, what, 0), column);
    }
    const auto same_columns = [](std::vector<std::string> a, std::vector<std::string> b) {
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
      return a == b;
    };
    TIndexDef* primary = !out.empty() ? &out.front() : nullptr;
    std::vector<std::string> primary_order;  // from the primary key's own index
    bool named_order = false;
    TIndexDefs unique;
    for (const std::string& index : order) {
      if (spoilt.count(index)) continue;
      auto& columns = indexes[index];
      std::sort(columns.begin(), columns.end());
      TIndexDef def;
      def.Name = index;
      def.Unique = true;
      for (auto& c : columns) def.Fields.push_back(std::move(c.second));
      // The index that holds the primary key, under its name or (SQLite's) one of its
      // own, tells the key's order: the SQLite driver numbers a key's columns in the
      // table's order, whatever the key's.
      if (primary && same_columns(primary->Fields, def.Fields)) {
        const bool named = index == primary->Name;
        if (primary_order.empty() || (named && !named_order)) {
          primary_order = def.Fields;
          named_order = named;
        }
        continue;
      }
      unique.push_back(std::move(def));
    }
    if (!primary_order.empty()) primary->Fields = primary_order;
    for (TIndexDef& def : unique) out.push_back(std::move(def));
  }
  EndCatalogueRead(session);
  return out;
}

std::optional<TRelationDefs> ReadServerForeignKeys(TOracleSession& session,
                                                   const std::vector<std::string>& tables) {
  if (!Has(session, SQL_API_SQLFOREIGNKEYS)) return std::nullopt;
  TRelationDefs out;
  for (const std::string& table : tables) {
    const std::string what = "The foreign keys of " + table + " cannot be read";
    std::string name = table;
    odbc::Handle statement(SQL_HANDLE_STMT, session.connection());
    odbc::Check(SQLForeignKeys(statement.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                               nullptr, 0, Chars(name), SQLSMALLINT(name.size())),
                statement, what);
    // Columns: 3 the referred table, 4 its column, 7 the referring table, 8 its column,
    // 9 the pair's place, 10 and 11 the update and delete rules, 12 the key's name.
    struct Pair {
      int64_t place;
      std::string field, ref_field;
    };
    struct Key {
      TRelationDef def;
      std::vector<Pair> pairs;
    };
    std::vector<Key> keys;
    for (SQLRETURN rc; SQL_SUCCEEDED(rc = SQLFetch(statement.get()));) {
      const std::string ref_table = TextAt(statement, 3, what);
      Pair pair{NumberAt(statement, 9, what, 1), TextAt(statement, 8, what),
                TextAt(statement, 4, what)};
      const std::string key_name = TextAt(statement, 12, what);
      // A key without a name (SQLite's) is told apart by its referred table and by its
      // pairs starting again at 1.
      Key* key = nullptr;
      if (!keys.empty()) {
        Key& last = keys.back();
        const bool same =
            key_name.empty()
                ? last.def.Name.empty() && last.def.RefTable == ref_table && pair.place > 1
                : last.def.Name == key_name && last.def.RefTable == ref_table;
        if (same) key = &last;
      }
      if (!key) {
        keys.emplace_back();
        key = &keys.back();
        key->def.Name = key_name;
        key->def.Table = TextAt(statement, 7, what);
        key->def.RefTable = ref_table;
        key->def.CascadeUpdate = NumberAt(statement, 10, what, -1) == SQL_CASCADE;
        key->def.CascadeDelete = NumberAt(statement, 11, what, -1) == SQL_CASCADE;
      }
      key->pairs.push_back(std::move(pair));
    }
    int unnamed = 0;
    for (Key& key : keys) {
      std::sort(key.pairs.begin(), key.pairs.end(),
                [](const Pair& a, const Pair& b) { return a.place < b.place; });
      bool whole = !key.def.Table.empty() && !key.def.RefTable.empty();
      for (const Pair& p : key.pairs) {
        whole = whole && !p.field.empty() && !p.ref_field.empty();
        key.def.Fields.push_back(p.field);
        key.def.RefFields.push_back(p.ref_field);
      }
      if (!whole) continue;
      if (key.def.Name.empty()) {
        key.def.Name = key.def.Table;
        key.def.Name.append("_").append(key.def.RefTable);
        if (unnamed++ > 0) key.def.Name.append("_").append(std::to_string(unnamed));
      }
      out.push_back(std::move(key.def));
    }
  }
  EndCatalogueRead(session);
  return out;
}

TRelationDefs ListServerRelationships(const ConnectionFields& connection) {
  TOracleSession session;
  session.LogonDatabase = connection.database;
  session.LogonUsername = connection.user;
  session.LogonPassword = connection.password;
  try {
    session.LogOn();
    const std::vector<std::string> tables = session.TableNames();
    std::optional<TRelationDefs> relations = ReadServerForeignKeys(session, tables);
    if (!relations)
      throw TrundleError("the foreign keys of " + session.DbmsName() +
                         " databases cannot be read through its ODBC driver (it has no "
                         "SQLForeignKeys)");
    // Only keys between tables of the list: one into a table of another schema or a view
    // has nowhere to go.
    TRelationDefs out;
    for (TRelationDef& r : *relations)
      if (std::find(tables.begin(), tables.end(), r.RefTable) != tables.end())
        out.push_back(std::move(r));
    return out;
  } catch (const TrundleError& e) {
    throw TrundleError(session.Scrub(e.what()));
  }
}

}  // namespace trundle
