#include "databases/access/access_relations.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "databases/access/dao.h"
#include "databases/access/jet/jet_database.h"
#include "databases/access/jet/jet_page_store.h"
#include "databases/access/jet/jet_relationship.h"
#include "engine/errors.h"

namespace trundle {
namespace {

// One row of MSysRelationships.
struct RelationRow {
  int64_t grbit = 0;
  int64_t icolumn = 0;  // the pair's place in the key
  int64_t ccolumn = 0;  // the key's number of pairs
  std::string table, field, ref_table, ref_field;
};

int64_t IntegerOf(const Variant& value) {
  return value.type() == VarType::kInteger ? value.integer() : -1;
}

std::string TextOf(const Variant& value) { return value.IsText() ? value.text() : std::string(); }

}  // namespace

TRelationDefs ListAccessRelationships(const ConnectionFields& connection) {
  TDAODatabase database;
  database.DatabaseName = connection.database;
  database.Password = connection.password;
  if (const std::optional<int> version = DaoVersionFromName(connection.dao_version))
    database.DAOVersion = *version;
  database.Open();
  const std::shared_ptr<const jet::JetDatabase> jet = database.Jet();
  const std::vector<std::string> all = jet->AllTables();
  if (std::find(all.begin(), all.end(), "MSysRelationships") == all.end()) return {};

  std::unique_ptr<TableFileReader> reader = jet->OpenAnyTable("MSysRelationships");
  std::map<std::string, int> at;
  for (size_t i = 0; i < reader->fields().size(); ++i) at[reader->fields()[i].Name] = int(i);
  for (const char* needed : {"szRelationship", "szObject", "szColumn", "szReferencedObject",
                             "szReferencedColumn", "icolumn", "ccolumn", "grbit"})
    if (!at.count(needed))
      throw TrundleError("The relationships of " + connection.database +
                         " cannot be read: MSysRelationships has no field " + needed);

  // Rows by relationship, in the order the names first appear.
  std::vector<std::string> order;
  std::map<std::string, std::vector<RelationRow>> rows;
  std::vector<Variant> row;
  while (reader->Next(row)) {
    const auto get = [&](const char* name) -> const Variant& { return row[size_t(at[name])]; };
    const std::string name = TextOf(get("szRelationship"));
    if (name.empty()) continue;
    RelationRow r;
    r.grbit = std::max<int64_t>(0, IntegerOf(get("grbit")));  // a Null: no flag
    r.icolumn = IntegerOf(get("icolumn"));
    r.ccolumn = IntegerOf(get("ccolumn"));
    r.table = TextOf(get("szObject"));
    r.field = TextOf(get("szColumn"));
    r.ref_table = TextOf(get("szReferencedObject"));
    r.ref_field = TextOf(get("szReferencedColumn"));
    if (!rows.count(name)) order.push_back(name);
    rows[name].push_back(std::move(r));
  }

  TRelationDefs out;
  for (const std::string& name : order) {
    std::vector<RelationRow>& pairs = rows[name];
    std::sort(pairs.begin(), pairs.end(),
              [](const RelationRow& a, const RelationRow& b) { return a.icolumn < b.icolumn; });
    const RelationRow& first = pairs.front();
    if (first.grbit & kRelationDontEnforce) continue;
    const std::optional<std::string> table = jet->FindTable(first.table);
    const std::optional<std::string> ref_table = jet->FindTable(first.ref_table);
    if (!table || !ref_table) continue;  // a system table, or one the catalogue lacks
    bool whole = first.ccolumn == int64_t(pairs.size());
    TRelationDef def;
    def.Name = name;
    def.Table = *table;
    def.RefTable = *ref_table;
    def.CascadeUpdate = (first.grbit & kRelationUpdateCascade) != 0;
    def.CascadeDelete = (first.grbit & kRelationDeleteCascade) != 0;
    for (size_t i = 0; i < pairs.size(); ++i) {
      const RelationRow& p = pairs[i];
      whole = whole && p.icolumn == int64_t(i) && p.table == first.table &&
              p.ref_table == first.ref_table && !p.field.empty() && !p.ref_field.empty();
      def.Fields.push_back(p.field);
      def.RefFields.push_back(p.ref_field);
    }
    if (whole) out.push_back(std::move(def));
  }
  return out;
}

std::vector<std::string> AddAccessRelationships(const ConnectionFields& connection,
                                                const TRelationDefs& relations) {
  {
    // Opened first, so that a file we cannot open (or whose password is wrong) is an error.
    TDAODatabase database;
    database.DatabaseName = connection.database;
    database.Password = connection.password;
    // The file's own format is what counts here: a run that named no DAO version wrote
    // a Jet 4 database.
    const std::optional<int> version = DaoVersionFromName(connection.dao_version);
    database.DAOVersion = version ? *version : kDao36;
    database.Open();
  }
  std::vector<std::string> lines;
  for (const TRelationDef& rel : relations) {
    std::string fields, ref_fields;
    for (const std::string& f : rel.Fields) fields += (fields.empty() ? "" : ", ") + f;
    for (const std::string& f : rel.RefFields) ref_fields += (ref_fields.empty() ? "" : ", ") + f;
    try {
      // Each relationship in a batch of its own, read afresh: one refused leaves the
      // others made.
      std::unique_ptr<jet::PageStore> store = jet::PageStore::Open(connection.database);
      const std::unique_ptr<jet::JetDatabase> jet = jet::JetDatabase::Open(connection.database);
      jet::AddRelationship(*store, *jet,
                           {rel.Name, rel.Table, rel.Fields, rel.RefTable, rel.RefFields,
                            rel.CascadeUpdate, rel.CascadeDelete});
    } catch (const TrundleError& e) {
      lines.push_back("The relationship " + rel.Name + " (" + rel.Table + " (" + fields +
                      ") to " + rel.RefTable + " (" + ref_fields + ")) was not made in " +
                      connection.database + ": " + e.what());
    }
  }
  return lines;
}

}  // namespace trundle
