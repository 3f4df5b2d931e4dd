// trundle-cli --map: fields renamed and left out on their way to each destination kind,
// and the maps that do not fit the source.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

#include "engine/ascii.h"
#include "tests/test_files.h"

namespace trundle {
namespace {

constexpr char kPeople[] = "Id,Name,Secret\n1,Ann,x1\n2,Bob,y2\n";

// Each destination kind, created by the run and then appended to, holds the renamed field
// and not the one left out; read back to text, its header names the new field.
TEST(CliMapTest, RenamedAndLeftOutFieldsReachEachDestination) {
  struct Case {
    const char* dest;
    std::vector<std::string> extra;
    std::vector<std::string> read_back;
  };
  for (const Case& c : {Case{"shop.sqlite", {"--dest-table", "People"}, {"shop.sqlite"}},
                        Case{"people.dbf", {}, {"people.dbf"}}}) {
    SCOPED_TRACE(c.dest);
    ScratchFolder dir;
    WriteFile(dir / "in.csv", kPeople);
    std::vector<std::string> args = {"in.csv", c.dest, "--map", "name=Full, secret=-"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    for (int run = 0; run < 2; ++run)
      ASSERT_EQ(RunCli(dir, args).status, 0) << ReadFile(dir / "stdout");
    std::vector<std::string> back = c.read_back;
    back.push_back("back.csv");
    ASSERT_EQ(RunCli(dir, back).status, 0) << ReadFile(dir / "stdout");
    const std::string text = UpperAscii(ReadFile(dir / "back.csv"));
    const std::string header = text.substr(0, text.find('\n'));
    EXPECT_NE(header.find("\"FULL\""), std::string::npos) << header;
    EXPECT_EQ(header.find("NAME"), std::string::npos) << header;
    EXPECT_EQ(header.find("SECRET"), std::string::npos) << header;
    EXPECT_EQ(text.find("X1"), std::string::npos) << text;
    // Both runs' records, the renamed values in their field.
    size_t bobs = 0;
    for (size_t at = 0; (at = text.find("\"2\",\"BOB\"", at)) != std::string::npos; ++at) ++bobs;
    EXPECT_EQ(bobs, 2u) << text;
  }
}

TEST(CliMapTest, AMapThatDoesNotFitIsAUsageErrorBeforeAnyRecord) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", kPeople);
  struct Case {
    const char* map;
    const char* says;
  };
  for (const Case& c :
       {Case{"nick=N", "the field nick, which the source does not have; its fields are: ID, "
                       "NAME, SECRET"},
        Case{"name=ID", "gives two fields the name ID: ID and NAME"},
        Case{"name", "--map takes SOURCE=DEST or SOURCE=- items separated by commas, not 'name'"},
        Case{"=x", "needs a source field and a new name"},
        Case{"name=a,NAME=b", "--map names the field NAME twice"}}) {
    SCOPED_TRACE(c.map);
    const CliRun run = RunCli(dir, {"in.csv", "out.dbf", "--map", c.map});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.dbf"));
  }
  // An existing destination is left as it was: the map is checked on the first record,
  // before it is written.
  ASSERT_EQ(RunCli(dir, {"in.csv", "out.csv"}).status, 0);
  const std::string before = ReadFile(dir / "out.csv");
  EXPECT_EQ(RunCli(dir, {"in.csv", "out.csv", "--map", "nick=N"}).status, 2);
  EXPECT_EQ(ReadFile(dir / "out.csv"), before);
}

// A map saved with the transfer runs as the same map given on the command line.
TEST(CliMapTest, ASavedTransferKeepsItsMap) {
  ScratchFolder dir;
  WriteFile(dir / "in.csv", kPeople);
  const std::vector<std::string> map = {"--map", "name=Full,secret=-"};
  std::vector<std::string> plain = {"in.csv", "plain.csv"};
  plain.insert(plain.end(), map.begin(), map.end());
  ASSERT_EQ(RunCli(dir, plain).status, 0) << ReadFile(dir / "stdout");
  std::vector<std::string> save = {"in.csv", "saved.csv", "--save-job", "job.json"};
  save.insert(save.end(), map.begin(), map.end());
  ASSERT_EQ(RunCli(dir, save).status, 0) << ReadFile(dir / "stdout");
  EXPECT_FALSE(std::filesystem::exists(dir / "saved.csv"));
  ASSERT_EQ(RunCli(dir, {"--job", "job.json"}).status, 0) << ReadFile(dir / "stdout");
  const std::string text = ReadFile(dir / "saved.csv");
  EXPECT_EQ(text, ReadFile(dir / "plain.csv"));
  EXPECT_NE(text.find("Full"), std::string::npos) << text;
  EXPECT_EQ(text.find("x1"), std::string::npos) << text;
}

}  // namespace
}  // namespace trundle
