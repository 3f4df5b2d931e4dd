// The fields a run will move and the table it will make, told before the run: checked
// against what a run then makes.
#include "front/field_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "front/register_adaptors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

JobDescription CsvTo(const std::string& csv, TDataKind kind, const std::string& file) {
  JobDescription d;
  d.source.kind = dkCsv;
  d.source.file = csv;
  d.destination.kind = kind;
  d.destination.file = file;
  return d;
}

// A dBase table's field list names each field as the file will store it (ten letters at
// most) with the width it gets; the run then makes exactly those fields.
TEST(FieldPlanTest, ADBaseFieldListIsWhatTheRunMakes) {
  RegisterAllAdaptors();
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "Id,Name,Secret\n1,Annabel,x\n22,Bo,y\n");
  JobDescription d = CsvTo(dir / "in.csv", dkDBase, dir / "out.dbf");
  d.field_map = {{"name", "customer_name"}, {"SECRET", ""}};
  const FieldPlan plan = PlanFields(d);
  ASSERT_EQ(plan.error, "");
  EXPECT_TRUE(plan.creates_table);
  ASSERT_EQ(plan.fields.size(), 3u);
  EXPECT_EQ(plan.fields[1].source, "NAME");
  EXPECT_EQ(plan.fields[1].destination, "customer_name");
  EXPECT_EQ(plan.fields[2].destination, "");  // left out, and so no type
  EXPECT_EQ(plan.fields[2].type, "");
  EXPECT_NE(plan.note.find("\nField customer_name stored as customer_n."), std::string::npos)
      << plan.note;

  TTrundle job;
  BuildJob(d, job);
  job.Execute();
  ASSERT_TRUE(std::filesystem::exists(dir / "out.dbf"));
  // Read back, the table's fields are the listed ones, widths included.
  JobDescription back;
  back.source.kind = dkDBase;
  back.source.file = dir / "out.dbf";
  back.source.sql = WholeTableSql(dkDBase, back.source.file);
  back.destination = d.destination;
  const FieldPlan made = PlanFields(back);
  ASSERT_EQ(made.error, "");
  ASSERT_EQ(made.fields.size(), 2u);
  std::string listed, shown;
  for (const PlannedField& f : made.fields) listed += f.source + "\n";
  for (size_t at = 0; at < plan.table_text.size(); at = plan.table_text.find('\n', at) + 1)
    shown += plan.table_text.substr(at, plan.table_text.find(' ', at) - at) + "\n";
  EXPECT_EQ(listed, shown) << plan.table_text;
  EXPECT_EQ(plan.fields[1].type, "String(7)");  // "Annabel"
  // The file being there now, the view says so and describes no table.
  const FieldPlan again = PlanFields(d);
  EXPECT_FALSE(again.creates_table);
  EXPECT_EQ(again.table_text, "");
}

// What cannot be planned says why, and the fields read are still listed.
TEST(FieldPlanTest, FaultsAreSaidAndTheFieldsStillListed) {
  RegisterAllAdaptors();
  ScratchFolder dir;
  WriteFile(dir / "in.csv", "a,b\n1,2\n");
  JobDescription d = CsvTo(dir / "in.csv", dkCsv, dir / "out.csv");
  d.field_map = {{"c", "x"}};
  FieldPlan plan = PlanFields(d);
  EXPECT_EQ(plan.fields.size(), 2u);
  EXPECT_EQ(plan.error,
            "The field map names the field c, which the source does not have; its fields are: A, B");
  d.field_map = {{"a", "B"}};
  EXPECT_EQ(PlanFields(d).error, "The field map gives two fields the name B: A and B");
  d.field_map.clear();
  plan = PlanFields(d);
  EXPECT_EQ(plan.error, "");
  EXPECT_EQ(plan.note, "A text file has no field types: each field is written as text under its name.");
  d.source.file = dir / "missing.csv";
  plan = PlanFields(d);
  EXPECT_TRUE(plan.fields.empty());
  EXPECT_NE(plan.error.find("missing.csv"), std::string::npos) << plan.error;
}

TEST(FieldPlanTest, RowsGiveOnlyTheChangesAsTheMap) {
  const std::vector<FieldRename> map =
      MapOfRows({{"A", "A", ""}, {"B", "b", ""}, {"C", "", ""}, {"D", "Dee", ""}});
  ASSERT_EQ(map.size(), 3u);
  EXPECT_EQ(map[0].source, "B");  // a change of letter case is a rename
  EXPECT_EQ(map[0].destination, "b");
  EXPECT_EQ(map[1].destination, "");
  EXPECT_EQ(map[2].destination, "Dee");
  EXPECT_EQ(FieldMapFault(map, {"A", "B", "C", "D"}), "");
  EXPECT_EQ(FieldMapFault({{"A", "d"}}, {"A", "D"}), "The field map gives two fields the name D: A and D");
}

}  // namespace
}  // namespace trundle
