#include "front/field_plan.h"

#include <exception>

#include "engine/ascii.h"
#include "engine/field_map.h"

namespace trundle {
namespace {

// Why there is no table text for a destination that is made but cannot describe itself.
std::string NoTableTextNote(TDataKind kind) {
  if (kind == dkCsv || kind == dkText || kind == dkHtml)
    return "A text file has no field types: each field is written as text under its name.";
  return std::string("The ") + KindTitle(kind) +
         " destination cannot show the table before the run; its fields get the names "
         "given here.";
}

void DescribeTable(TTrundle& job, const JobDescription& description, FieldPlan& plan) {
  TTrundleUnknown& source = job.Source();
  TNewTable table;
  bool told = false;
  if (description.field_map.empty()) {
    told = job.Destination().DescribeNewTable(source, table);
  } else {
    FieldRenamer renamer(description.field_map);
    MappedSource mapped(source, renamer);
    told = job.Destination().DescribeNewTable(mapped, table);
  }
  if (!told) {
    plan.note = NoTableTextNote(description.destination.kind);
    return;
  }
  plan.table_text = table.text;
  plan.note = "The destination does not exist yet; the run creates it thus.";
  for (const std::string& line : table.notes) plan.note += "\n" + line + ".";
  size_t kept = 0;
  for (PlannedField& field : plan.fields) {
    if (field.destination.empty()) continue;
    if (kept < table.types.size()) field.type = table.types[kept];
    ++kept;
  }
}

}  // namespace

std::vector<FieldRename> MapOfRows(const std::vector<PlannedField>& rows) {
  std::vector<FieldRename> map;
  for (const PlannedField& row : rows)
    if (row.destination != row.source) map.push_back({row.source, row.destination});
  return map;
}

std::string FieldMapFault(const std::vector<FieldRename>& map,
                          const std::vector<std::string>& names) {
  try {
    FieldRenamer renamer(map);
    TFieldDefs fields;
    for (const std::string& name : names) fields.push_back(TFieldDef{name});
    if (renamer.MapFields(fields).empty() && !names.empty())
      return "Every field is left out; keep at least one.";
  } catch (const FieldMapError& e) {
    return e.what();
  }
  return "";
}

bool SameSourceTable(const EndDescription& a, const EndDescription& b) {
  return a.kind == b.kind && a.file == b.file && a.database == b.database &&
         a.table == b.table && a.sql == b.sql;
}

FieldPlan PlanFields(const JobDescription& description) {
  FieldPlan plan;
  std::string last_line;
  try {
    TTrundle job;
    BuildJob(description, job);
    job.OnMessage = [&last_line](const std::string& line) { last_line = line; };
    TTrundleUnknown& source = job.Source();
    if (!source.OpenTable()) {
      plan.error = last_line.empty() ? "The source could not be opened." : last_line;
      return plan;
    }
    std::vector<std::string> names;
    for (const TFieldDef& field : source.SourceFieldDefs(nullptr)) names.push_back(field.Name);
    for (const std::string& name : names) {
      std::string destination = name;
      for (const FieldRename& rename : description.field_map)
        if (EqualsIgnoringAsciiCase(rename.source, name)) destination = rename.destination;
      plan.fields.push_back({name, destination, ""});
    }
    plan.error = FieldMapFault(description.field_map, names);
    if (!plan.error.empty()) return plan;
    if (description.destination.kind == dkUnknown) {
      plan.note = "Choose a destination to see the table it gets.";
      return plan;
    }
    plan.creates_table = !DestinationExists(description, true) ||
                         (description.if_exists == IfExists::kReplace &&
                          CanReplace(description.destination.kind));
    if (!plan.creates_table) {
      plan.note = "The destination table exists: each field goes to its field of the same "
                  "name (letter case ignored), of the type the table has.";
      return plan;
    }
    DescribeTable(job, description, plan);
  } catch (const std::exception& e) {
    plan.error = e.what();
  }
  return plan;
}

}  // namespace trundle
