#include "databases/sqlite/sqlite_structure.h"

#include <algorithm>
#include <map>

#include "databases/sql/table_names.h"
#include "databases/sqlite/sqlite_file.h"
#include "engine/ascii.h"
#include "engine/errors.h"

namespace trundle {
namespace {

using Row = std::vector<std::string>;  // a result row's columns as text, NULL as ""

// Every row of sql with its parameters bound as text. Throws TrundleError naming the file.
std::vector<Row> Query(sqlite3* db, const std::string& sql, const std::vector<std::string>& params,
                       const std::string& path) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
  const SqliteStmt stmt(raw);
  for (size_t i = 0; rc == SQLITE_OK && i < params.size(); ++i)
    rc = sqlite3_bind_text(stmt.get(), static_cast<int>(i + 1), params[i].c_str(), -1,
                           SQLITE_TRANSIENT);
  std::vector<Row> rows;
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) break;
    Row row;
    for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i));
      row.emplace_back(text ? text : "");
    }
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE)
    throw TrundleError(SqliteErrorText(db, rc, "Could not read the structure of", path));
  return rows;
}

void Exec(sqlite3* db, const std::string& sql, const std::string& path) {
  ExecSqlite(db, sql.c_str(), "Could not change the structure of", path);
}

// The fields of table's primary key, in key order.
std::vector<std::string> PrimaryKeyOf(sqlite3* db, const std::string& table,
                                      const std::string& path) {
  std::vector<std::pair<int, std::string>> keyed;
  for (Row& row : Query(db, "select pk, name from pragma_table_info(?1) where pk > 0", {table},
                        path))
    keyed.emplace_back(std::stoi(row[0]), std::move(row[1]));
  std::sort(keyed.begin(), keyed.end());
  std::vector<std::string> fields;
  for (auto& [place, name] : keyed) fields.push_back(std::move(name));
  return fields;
}

std::vector<std::string> ColumnsOf(sqlite3* db, const std::string& table,
                                   const std::string& path) {
  std::vector<std::string> names;
  for (Row& row : Query(db, "select name from pragma_table_info(?1)", {table}, path))
    names.push_back(std::move(row[0]));
  return names;
}

// The same names, in any order and letter case.
bool SameFieldSet(std::vector<std::string> a, std::vector<std::string> b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](std::vector<std::string>& names) {
    for (std::string& name : names) name = LowerAscii(name);
    std::sort(names.begin(), names.end());
  };
  lower(a);
  lower(b);
  return a == b;
}

std::string QuotedList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + QuoteSqlName(name);
  return out;
}

std::string Described(const TRelationDef& r) {
  std::string fields, ref_fields;
  for (const std::string& f : r.Fields) fields += (fields.empty() ? "" : ", ") + f;
  for (const std::string& f : r.RefFields) ref_fields += (ref_fields.empty() ? "" : ", ") + f;
  return "The relationship " + r.Name + " (" + r.Table + " (" + fields + ") to " + r.RefTable +
         " (" + ref_fields + "))";
}

// The table of tables named name, an exact match first, then in any letter case; empty
// when there is none.
std::string Found(const std::vector<std::string>& tables, const std::string& name) {
  for (const std::string& t : tables)
    if (t == name) return t;
  for (const std::string& t : tables)
    if (EqualsIgnoringAsciiCase(t, name)) return t;
  return "";
}

// Why relation cannot be made in db, or empty when it can; its tables' names are set to
// the database's own spelling.
std::string WhyNot(sqlite3* db, TRelationDef& r, const std::vector<std::string>& tables,
                   const std::string& path) {
  const std::string child = Found(tables, r.Table), parent = Found(tables, r.RefTable);
  if (child.empty()) return "the table " + r.Table + " is not in the database";
  if (parent.empty()) return "the table " + r.RefTable + " is not in the database";
  r.Table = child;
  r.RefTable = parent;
  if (r.Fields.empty() || r.Fields.size() != r.RefFields.size())
    return "it does not pair each of its fields with one field of " + parent;
  const auto missing = [&](const std::string& table, const std::vector<std::string>& fields) {
    const std::vector<std::string> columns = ColumnsOf(db, table, path);
    for (const std::string& f : fields)
      if (Found(columns, f).empty()) return "the table " + table + " has no field " + f;
    return std::string();
  };
  if (std::string why = missing(child, r.Fields); !why.empty()) return why;
  if (std::string why = missing(parent, r.RefFields); !why.empty()) return why;
  // SQLite refuses every change to a child whose parent fields are not a key of the parent.
  bool keyed = SameFieldSet(PrimaryKeyOf(db, parent, path), r.RefFields);
  for (const TIndexDef& index : SqliteIndexes(db, parent, path))
    keyed = keyed || (index.Unique && SameFieldSet(index.Fields, r.RefFields));
  if (!keyed) return "its fields of " + parent + " are not that table's primary key or a unique index";
  // A child record with every key field given must find its parent record.
  std::string given, matched;
  for (size_t i = 0; i < r.Fields.size(); ++i) {
    given += (i ? " and c." : "c.") + QuoteSqlName(r.Fields[i]) + " is not null";
    matched += (i ? " and p." : "p.") + QuoteSqlName(r.RefFields[i]) + " = c." +
               QuoteSqlName(r.Fields[i]);
  }
  const std::vector<Row> orphans =
      Query(db,
            "select count(*) from " + QuoteSqlName(child) + " c where " + given +
                " and not exists (select 1 from " + QuoteSqlName(parent) + " p where " + matched +
                ")",
            {}, path);
  const std::string count = orphans.empty() ? "0" : orphans[0][0];
  if (count != "0")
    return count + " records of " + child + " have no matching record in " + parent;
  return "";
}

// Makes table again with the foreign keys of relations added to its statement.
void Rebuild(sqlite3* db, const std::string& table, const std::vector<TRelationDef>& relations,
             const std::vector<std::string>& tables, const std::string& path) {
  const std::vector<Row> made =
      Query(db, "select sql from sqlite_schema where type = 'table' and name = ?1", {table}, path);
  const std::string body = made.empty() ? "" : SqliteTableBody(made[0][0]);
  const size_t close = body.rfind(')');
  if (body.empty() || close == std::string::npos)
    throw TrundleError("The statement that made " + table + " in " + path + " cannot be read");
  std::string constraints;
  for (const TRelationDef& r : relations)
    constraints += ", constraint " + QuoteSqlName(r.Name) + " foreign key (" +
                   QuotedList(r.Fields) + ") references " + QuoteSqlName(r.RefTable) + " (" +
                   QuotedList(r.RefFields) + ")" + (r.CascadeUpdate ? " on update cascade" : "") +
                   (r.CascadeDelete ? " on delete cascade" : "");
  std::string scratch = table + "_new";
  for (int n = 2; !Found(tables, scratch).empty(); ++n) scratch = table + "_new" + std::to_string(n);
  const std::vector<Row> dependents = Query(
      db, "select sql from sqlite_schema where tbl_name = ?1 and type in ('index', 'trigger') "
          "and sql is not null order by type, rowid",
      {table}, path);
  Exec(db, "create table " + QuoteSqlName(scratch) + " " + body.substr(0, close) + constraints +
               body.substr(close),
       path);
  Exec(db, "insert into " + QuoteSqlName(scratch) + " select * from " + QuoteSqlName(table), path);
  Exec(db, "drop table " + QuoteSqlName(table), path);
  Exec(db, "alter table " + QuoteSqlName(scratch) + " rename to " + QuoteSqlName(table), path);
  for (const Row& row : dependents) Exec(db, row[0], path);
  if (!Query(db, "select 1 from pragma_foreign_key_check(?1)", {table}, path).empty())
    throw TrundleError("records of " + table + " have no matching parent record");
}

}  // namespace

std::string SqliteTableBody(const std::string& create_sql) {
  char quote = 0;
  for (size_t i = 0; i < create_sql.size(); ++i) {
    const char c = create_sql[i];
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote closes and opens again: the same
    } else if (c == '"' || c == '\'' || c == '`') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == '(') {
      return create_sql.substr(i);
    }
  }
  return "";
}

TIndexDefs SqliteIndexes(sqlite3* db, const std::string& table, const std::string& path) {
  TIndexDefs indexes;
  for (const Row& listed :
       Query(db, "select name, \"unique\", origin, partial from pragma_index_list(?1)", {table},
             path)) {
    if (listed[2] == "pk" || listed[3] != "0") continue;
    TIndexDef index;
    index.Name = listed[0];
    index.Unique = listed[1] != "0";
    bool plain = true;
    for (Row& column :
         Query(db, "select cid, name from pragma_index_info(?1) order by seqno", {index.Name}, path)) {
      plain = plain && column[0] != "-2" && !column[1].empty();
      index.Fields.push_back(std::move(column[1]));
    }
    if (plain && !index.Fields.empty()) indexes.push_back(std::move(index));
  }
  // pragma_index_list gives the newest first: the order they were made reads better.
  std::reverse(indexes.begin(), indexes.end());
  return indexes;
}

TRelationDefs SqliteRelationships(const std::string& path) {
  const SqliteDb db = OpenSqliteForReading(path);
  TRelationDefs relations;
  for (const SqliteTable& table : SqliteTables(db.get(), path)) {
    if (table.view) continue;
    std::map<int, TRelationDef> by_id;
    for (const Row& row : Query(db.get(),
                                "select id, \"table\", \"from\", \"to\", on_update, on_delete "
                                "from pragma_foreign_key_list(?1) order by id, seq",
                                {table.name}, path)) {
      TRelationDef& r = by_id[std::stoi(row[0])];
      r.Table = table.name;
      r.RefTable = row[1];
      r.Fields.push_back(row[2]);
      r.RefFields.push_back(row[3]);
      r.CascadeUpdate = EqualsIgnoringAsciiCase(row[4], "cascade");
      r.CascadeDelete = EqualsIgnoringAsciiCase(row[5], "cascade");
    }
    for (auto& [id, r] : by_id) {
      // No parent fields named: the parent's primary key.
      if (std::all_of(r.RefFields.begin(), r.RefFields.end(),
                      [](const std::string& f) { return f.empty(); }))
        r.RefFields = PrimaryKeyOf(db.get(), r.RefTable, path);
      r.Name = r.Table;
      r.Name.append("_").append(r.RefTable);
      if (by_id.size() > 1) r.Name.append("_").append(std::to_string(id + 1));
      relations.push_back(std::move(r));
    }
  }
  return relations;
}

std::vector<std::string> AddSqliteRelationships(const std::string& path,
                                                const TRelationDefs& relations) {
  bool created = false;
  const SqliteDb db = OpenSqliteForWriting(path, created);
  std::vector<std::string> lines, tables;
  for (SqliteTable& t : SqliteTables(db.get(), path))
    if (!t.view) tables.push_back(std::move(t.name));
  std::map<std::string, std::vector<TRelationDef>> by_child;
  for (TRelationDef r : relations) {
    const std::string shown = Described(r);
    try {
      if (const std::string why = WhyNot(db.get(), r, tables, path); !why.empty()) {
        lines.push_back(shown + " was not made in " + path + ": " + why + ".");
        continue;
      }
    } catch (const TrundleError& e) {
      lines.push_back(shown + " was not made: " + e.what());
      continue;
    }
    by_child[r.Table].push_back(std::move(r));
  }
  // Enforcement stays off while tables are dropped and made again (it cannot change inside
  // a transaction); the old ALTER TABLE keeps the rename from rewriting other statements.
  Exec(db.get(), "pragma foreign_keys = off", path);
  Exec(db.get(), "pragma legacy_alter_table = on", path);
  for (const auto& [child, made] : by_child) {
    try {
      Exec(db.get(), "begin immediate", path);
      Rebuild(db.get(), child, made, tables, path);
      Exec(db.get(), "commit", path);
    } catch (const TrundleError& e) {
      sqlite3_exec(db.get(), "rollback", nullptr, nullptr, nullptr);
      for (const TRelationDef& r : made)
        lines.push_back(Described(r) + " was not made in " + path + ": " + e.what());
    }
  }
  return lines;
}

}  // namespace trundle
