// The fields of a transfer as the window's Fields view shows them before a run: each
// source field with the name it reaches the destination with (or that it is left out),
// its type and size in a table the run creates, and the statement or field list that
// creates it. The source is read through the adaptor a run opens, and the table is
// described by the destination's own DescribeNewTable, which its CreateTable shares.
//
//   JobDescription d = ...;            // d.field_map: the choices so far
//   const FieldPlan plan = PlanFields(d);
//   if (!plan.error.empty()) Show(plan.error);
//   for (const PlannedField& f : plan.fields) Row(f.source, f.destination, f.type);
#pragma once

#include <string>
#include <vector>

#include "front/job_description.h"

namespace trundle {

struct PlannedField {
  std::string source;       // the source field's name
  std::string destination;  // its name in the destination; empty: left out
  std::string type;         // its type and size in the table created; empty: not known
};

struct FieldPlan {
  std::vector<PlannedField> fields;  // in the source's order
  bool creates_table = false;        // the destination is not there: the run makes it
  // The CREATE TABLE statement, or the field list, of the table the run makes; empty when
  // none is made or the destination kind cannot tell before a run (note says which).
  std::string table_text;
  std::string note;  // for the user: what table_text is, or why there is none
  // Empty when the source was read and the map fits it; otherwise the sentence that
  // refuses it (the source's message, or the map's fault). Fields read are still listed.
  std::string error;
};

// Opens the source, lists its fields through description.field_map and, when the
// destination does not exist yet, describes the table a run would make. Creates and
// changes nothing; never throws.
FieldPlan PlanFields(const JobDescription& description);

// The map the view's rows give: a row kept under its source's own name (exactly) needs
// no entry; a row whose destination is empty is left out.
std::vector<FieldRename> MapOfRows(const std::vector<PlannedField>& rows);

// Empty when `map` fits the fields `names`; otherwise the sentence that refuses it: a name
// given to two fields (letter case ignored), a field the source lacks, or every field
// left out.
std::string FieldMapFault(const std::vector<FieldRename>& map,
                          const std::vector<std::string>& names);

// True when a map made for source `a` holds for `b`: the same kind, file, database,
// table and statement.
bool SameSourceTable(const EndDescription& a, const EndDescription& b);

}  // namespace trundle
