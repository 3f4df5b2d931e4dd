// The relationships of Access databases as list_relationships gives them, against what
// mdb-export reads from the same files' MSysRelationships.
#include <gtest/gtest.h>

#include <filesystem>

#include "access_test_util.h"
#include "databases/access/access_relations.h"
#include "databases/kinds/database_kinds.h"
#include "engine/errors.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

using testing::AccessFixture;
using testing::CommandOutput;
using testing::ShellWord;

ConnectionFields Fixture(const std::string& name) {
  ConnectionFields c;
  c.database = AccessFixture(name);
  c.dao_version = "dao36";
  return c;
}

std::string Shown(const TRelationDef& r) {
  std::string out = r.Name + ": " + r.Table + "(";
  for (const std::string& f : r.Fields) out += f + (&f == &r.Fields.back() ? "" : ",");
  out += ") -> " + r.RefTable + "(";
  for (const std::string& f : r.RefFields) out += f + (&f == &r.RefFields.back() ? "" : ",");
  out += ")";
  if (r.CascadeUpdate) out += " update cascades";
  if (r.CascadeDelete) out += " delete cascades";
  return out;
}

// indexTestV2000.mdb, made by Access, holds four relationships (mdb-export reads them):
// two between its user tables, one cascading deletes and one updates, and two of the
// navigation pane's system tables, which are no user data.
TEST(AccessRelationsTest, ListsTheRelationshipsBetweenUserTablesOfAFileMadeByAccess) {
  const std::string file = AccessFixture("indexTestV2000.mdb");
  const std::string exported =
      CommandOutput("timeout 20 mdb-export " + ShellWord(file) + " MSysRelationships");
  ASSERT_NE(exported.find("\"Table2Table1\",4096,1,0,\"Table1\",\"otherfk1\",\"Table2\",\"id\""),
            std::string::npos)
      << exported;
  ASSERT_NE(exported.find("\"Table3Table1\",256,1,0,\"Table1\",\"otherfk2\",\"Table3\",\"id\""),
            std::string::npos)
      << exported;
  ASSERT_NE(exported.find("MSysNavPaneGroups"), std::string::npos) << exported;

  std::vector<std::string> listed;
  for (const TRelationDef& r : ListAccessRelationships(Fixture("indexTestV2000.mdb")))
    listed.push_back(Shown(r));
  EXPECT_EQ(listed, (std::vector<std::string>{
                        "Table2Table1: Table1(otherfk1) -> Table2(id) delete cascades",
                        "Table3Table1: Table1(otherfk2) -> Table3(id) update cascades"}));
}

// Files without relationships, Jet 3 and Jet 4, give none; a missing file is an error
// naming it, not an empty list.
TEST(AccessRelationsTest, NoRelationshipsAndNoFile) {
  for (const char* name : {"testV1997.mdb", "empty2000.mdb", "test2V2000.mdb"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(ListAccessRelationships(Fixture(name)).empty());
  }
  ConnectionFields missing = Fixture("no such file.mdb");
  try {
    ListAccessRelationships(missing);
    ADD_FAILURE() << "a missing file gave a list";
  } catch (const TrundleError& e) {
    EXPECT_NE(std::string(e.what()).find("no such file.mdb"), std::string::npos) << e.what();
  }
}

// The Access kind lists relationships and makes them: one it cannot make (a name the
// file holds already) is a line naming it and why, and the file is left as it was; a
// file that is not there is an error.
TEST(AccessRelationsTest, TheAccessKindListsAndMakesRelationships) {
  const KindDeclaration k = AccessKind();
  ASSERT_TRUE(k.list_relationships);
  const TRelationDefs listed = k.list_relationships(Fixture("indexTestV2000.mdb"));
  EXPECT_EQ(listed.size(), 2u);
  ASSERT_TRUE(k.add_relationships);
  ScratchFolder dir;
  ConnectionFields c = Fixture("indexTestV2000.mdb");
  std::filesystem::copy_file(c.database, dir / "copy.mdb");
  c.database = dir / "copy.mdb";
  const std::string before = ReadFile(c.database);
  const std::vector<std::string> lines = k.add_relationships(c, {listed[0]});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("Table2Table1"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("already"), std::string::npos) << lines[0];
  EXPECT_TRUE(ReadFile(c.database) == before);
  c.database += ".missing";
  EXPECT_THROW(k.add_relationships(c, listed), TrundleError);
}

}  // namespace
}  // namespace trundle
