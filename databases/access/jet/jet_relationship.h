// Enforced relationships added between tables of a Jet 4 database that hold records
// already, as Access keeps them:
//
//   AddRelationship(*store, *db, {"CustomersOrders", "Orders", {"Customer"},
//                                 "Customers", {"ID"}, false, true});  // one batch
//
// In the file: a new index over the referring table's key (a B-tree of its own, filled
// from the rows there) with a logical index of the foreign-key kind named after the
// relationship; a logical index of that kind in the referred-to table over its primary
// key or unique index; each naming the other (its table's definition page and its
// number) and carrying the cascade flags; and one row of MSysRelationships per pair of
// fields. The whole addition is one journalled batch: a refusal leaves the file as it was.
#pragma once

#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"

namespace trundle::jet {

class PageStore;

struct NewRelationship {
  std::string name;
  std::string table;  // the referring table, whose rows need a parent
  std::vector<std::string> fields;
  std::string ref_table;  // the referred-to table
  std::vector<std::string> ref_fields;
  bool cascade_update = false, cascade_delete = false;
};

// Adds the relationship and commits the store's batch. db: the database as read before.
// Throws TrundleError with the cause, and writes nothing, for: a Jet 3 database, a table
// or field that is not there, a relationship of a table with itself, a name taken or
// breaking the engine's rule, field lists of different or no length, a Memo or OLE
// field, referred-to fields that are no primary key or unique index (in that order), a
// field pair of different types, and a row of the referring table whose key is not in
// the referred-to table (its values shown). Throws TrundleError naming the file for a
// damaged definition or a failed write (the batch rolled back).
void AddRelationship(PageStore& store, const JetDatabase& db, const NewRelationship& rel);

}  // namespace trundle::jet
