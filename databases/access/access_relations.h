// The relationships of an Access database, as its catalogue keeps them: each row of
// MSysRelationships pairs one field of the referring table (szObject, szColumn) with one
// of the referred table (szReferencedObject, szReferencedColumn); the rows of one
// relationship share its name and number their pairs by icolumn.
#pragma once

#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/kind.h"

namespace trundle {

// MSysRelationships' grbit.
inline constexpr int64_t kRelationDontEnforce = 0x2;
inline constexpr int64_t kRelationUpdateCascade = 0x100;
inline constexpr int64_t kRelationDeleteCascade = 0x1000;

// The enforced relationships between user tables, in the catalogue's order, with their
// cascade flags. Left out: relationships Access does not enforce (a line in a diagram
// that any row may break: carried to a destination that enforces it, it could refuse
// records Access took) and those touching a system table. A relationship whose rows are
// incomplete (a pair missing or repeated) is left out as well, not carried half. A
// database without MSysRelationships has none. Throws TrundleError naming the file when
// the database cannot be opened or its catalogue read.
TRelationDefs ListAccessRelationships(const ConnectionFields& connection);

// Makes each relationship an enforced one of the database (jet_relationship.h), each in
// a batch of its own, once the tables' records are in; a line for each one not made,
// naming it and why (a Jet 3 file, a missing key, a record without its parent). Throws
// TrundleError when the database cannot be opened.
std::vector<std::string> AddAccessRelationships(const ConnectionFields& connection,
                                                const TRelationDefs& relations);

}  // namespace trundle
