#include "databases/postgres/pg_structure.h"

#include "engine/errors.h"

namespace trundle {
namespace {

std::string Text(const PgResult& r, int row, int column) {
  return PQgetisnull(r.get(), row, column) ? "" : PQgetvalue(r.get(), row, column);
}

std::string QuotedList(const PgConnection& db, const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + db.Quote(name);
  return out;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

}  // namespace

TIndexDefs PgIndexes(PgConnection& db, const PgTable& table) {
  const PgResult r = db.ExecParams(
      "select c.relname, i.indisprimary, i.indisunique, a.attname "
      "from pg_catalog.pg_index i join pg_catalog.pg_class c on c.oid = i.indexrelid "
      "cross join lateral unnest(i.indkey::int2[]) with ordinality as k(attnum, n) "
      "join pg_catalog.pg_attribute a on a.attrelid = i.indrelid and a.attnum = k.attnum "
      "where i.indrelid = $1::oid and i.indpred is null and i.indexprs is null "
      "and k.n <= i.indnkeyatts order by i.indisprimary desc, c.relname, k.n",
      {std::to_string(table.oid)}, "Could not read the indexes of " + table.name + " in");
  TIndexDefs indexes;
  for (int row = 0; row < PQntuples(r.get()); ++row) {
    const std::string name = Text(r, row, 0);
    if (indexes.empty() || indexes.back().Name != name) {
      TIndexDef index;
      index.Name = name;
      index.Primary = Text(r, row, 1) == "t";
      index.Unique = index.Primary || Text(r, row, 2) == "t";
      indexes.push_back(std::move(index));
    }
    indexes.back().Fields.push_back(Text(r, row, 3));
  }
  return indexes;
}

std::vector<std::string> PgCountedColumns(PgConnection& db, const PgTable& table) {
  const PgResult r = db.ExecParams(
      "select a.attname from pg_catalog.pg_attribute a where a.attrelid = $1::oid "
      "and a.attnum > 0 and not a.attisdropped and (a.attidentity in ('a', 'd') or "
      "pg_catalog.pg_get_serial_sequence(a.attrelid::regclass::text, a.attname) is not null)",
      {std::to_string(table.oid)}, "Could not read the fields of " + table.name + " in");
  std::vector<std::string> names;
  for (int row = 0; row < PQntuples(r.get()); ++row) names.push_back(Text(r, row, 0));
  return names;
}

TRelationDefs PgRelationships(PgConnection& db) {
  const PgResult r = db.Exec(
      "select con.oid, con.conname, t.relname, p.relname, con.confupdtype, con.confdeltype, "
      "ca.attname, pa.attname from pg_catalog.pg_constraint con "
      "join pg_catalog.pg_class t on t.oid = con.conrelid "
      "join pg_catalog.pg_class p on p.oid = con.confrelid "
      "cross join lateral unnest(con.conkey, con.confkey) with ordinality as k(a, pa, n) "
      "join pg_catalog.pg_attribute ca on ca.attrelid = con.conrelid and ca.attnum = k.a "
      "join pg_catalog.pg_attribute pa on pa.attrelid = con.confrelid and pa.attnum = k.pa "
      "where con.contype = 'f' and pg_catalog.pg_table_is_visible(con.conrelid) "
      "and pg_catalog.pg_table_is_visible(con.confrelid) order by t.relname, con.conname, k.n",
      "Could not read the relationships of");
  TRelationDefs relations;
  std::string last;
  for (int row = 0; row < PQntuples(r.get()); ++row) {
    if (relations.empty() || Text(r, row, 0) != last) {
      last = Text(r, row, 0);
      TRelationDef rel;
      rel.Name = Text(r, row, 1);
      rel.Table = Text(r, row, 2);
      rel.RefTable = Text(r, row, 3);
      rel.CascadeUpdate = Text(r, row, 4) == "c";
      rel.CascadeDelete = Text(r, row, 5) == "c";
      relations.push_back(std::move(rel));
    }
    relations.back().Fields.push_back(Text(r, row, 6));
    relations.back().RefFields.push_back(Text(r, row, 7));
  }
  return relations;
}

std::vector<std::string> AddPgRelationships(PgConnection& db, const TRelationDefs& relations) {
  std::vector<std::string> lines;
  const std::vector<PgTable> tables = db.Tables();
  for (const TRelationDef& rel : relations) {
    const std::string shown = "The relationship " + rel.Name + " (" + rel.Table + " (" +
                              Joined(rel.Fields) + ") to " + rel.RefTable + " (" +
                              Joined(rel.RefFields) + "))";
    const PgTable* child = PgConnection::Find(tables, rel.Table);
    const PgTable* parent = PgConnection::Find(tables, rel.RefTable);
    if (!child || !parent) {
      lines.push_back(shown + " was not made in " + db.location() + ": the table " +
                      (child ? rel.RefTable : rel.Table) + " is not in the database.");
      continue;
    }
    const std::string sql = "alter table " + db.Quote(*child) + " add constraint " +
                            db.Quote(rel.Name) + " foreign key (" + QuotedList(db, rel.Fields) +
                            ") references " + db.Quote(*parent) + " (" +
                            QuotedList(db, rel.RefFields) + ")" +
                            (rel.CascadeUpdate ? " on update cascade" : "") +
                            (rel.CascadeDelete ? " on delete cascade" : "");
    try {
      db.Exec(sql, shown + " was not made in");
    } catch (const TrundleError& e) {
      lines.push_back(e.what());
    }
  }
  return lines;
}

}  // namespace trundle
