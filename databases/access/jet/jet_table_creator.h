// New tables in a Jet database (Jet 3 and Jet 4), made as Access makes a table that has
// fields only (no index, key, default or rule):
//
//   std::vector<NewColumn> columns = {{"Name", kText, 50}, {"Born", kDateTime}};
//   CreateTable(*store, *db, "People", columns);   // one committed batch
//
// In the file: the table definition page(s), the table's owned-pages and free-space usage
// maps, its row in MSysObjects (with that table's index entries) holding the columns'
// properties (Required, AllowZeroLength) in LvProp, and the permission rows in MSysACEs
// that Access gives a new table. The whole creation is one journalled batch: a failure
// leaves the database as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "databases/access/jet/jet_database.h"

namespace trundle::jet {

class PageStore;

struct NewColumn {
  std::string name;
  uint8_t type = kText;  // JetType
  int size = 0;          // Text: characters (1 to 255); Binary: bytes; others: ignored
  bool required = false;
  bool allow_zero_length = false;  // Text and Memo
  int precision = 18, scale = 0;   // Numeric
};

// The engine's rule for a field or table name: at most 64 characters, no leading space,
// none of . ! ` [ ] and no control character. Returns the engine's message for a name
// that breaks it ("'A.B' is not a valid name. ..."), empty for a good one.
std::string CheckObjectName(const std::string& name);

// Creates the table and commits the store's batch. db: the database as read before
// (its catalogue tells the table's place and what exists). Throws TrundleError with the
// engine's message, and writes nothing, for: a table of that name (letter case ignored),
// no columns, a column name repeated (letter case ignored) or breaking CheckObjectName, a
// type we do not create, a Text size outside 1 to 255. Throws TrundleError naming the
// file for a damaged catalogue or a failed write (the batch rolled back).
void CreateTable(PageStore& store, const JetDatabase& db, const std::string& name,
                 const std::vector<NewColumn>& columns);

}  // namespace trundle::jet
